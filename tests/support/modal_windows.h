// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Window tests: acting on a modal window (a dialog or message box) that the code under test
// opens and waits on. Header only, so that the support library stays free of Qt.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace halvex::test {

// Calls act once with the next modal window other than except, from the event loop of
// whatever waits for it. Gives up after about ten seconds.
inline void WhenModalAppears(std::function<void(QWidget*)> act, QWidget* except = nullptr) {
    auto* timer = new QTimer;
    auto ticks = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, ticks, act = std::move(act), except] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((!modal || modal == except) && ++*ticks < 1000) return;
        timer->stop();
        timer->deleteLater();
        if (modal && modal != except) act(modal);
    });
    timer->start();
}

// Presses one button of the next message box.
inline void AnswerNextMessageBox(QMessageBox::StandardButton button, QWidget* except = nullptr) {
    WhenModalAppears(
        [button](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                if (QAbstractButton* pressed = box->button(button)) pressed->click();
            }
        },
        except);
}

}  // namespace halvex::test
