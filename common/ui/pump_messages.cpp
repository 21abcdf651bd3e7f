// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui/pump_messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace halvex {
namespace {

// Notes a quit request reaching the application object while it is installed.
class QuitWatch : public QObject {
public:
    explicit QuitWatch(QCoreApplication* application) : application_(application) {
        application_->installEventFilter(this);
    }
    ~QuitWatch() override { application_->removeEventFilter(this); }
    bool Seen() const { return seen_; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == application_ && event->type() == QEvent::Quit) seen_ = true;
        return false;
    }

private:
    QCoreApplication* application_;
    bool seen_ = false;
};

}  // namespace

bool PumpMessages() {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return false;
    QuitWatch watch(application);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return watch.Seen();
}

}  // namespace halvex
