// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui/qt_message_box.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include <utility>
#include <vector>

namespace halvex {
namespace {

// Keeps a box open until one of its buttons is pressed: Escape and the close box do nothing.
class AnswerRequired : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape) return true;
        }
        return false;
    }
};

using ButtonAnswer = std::pair<QMessageBox::StandardButton, MessageAnswer>;

std::vector<ButtonAnswer> ButtonsOf(MessageButtons buttons) {
    using B = QMessageBox;
    using A = MessageAnswer;
    switch (buttons) {
        case MessageButtons::Ok: return {{B::Ok, A::Ok}};
        case MessageButtons::OkCancel: return {{B::Ok, A::Ok}, {B::Cancel, A::Cancel}};
        case MessageButtons::YesNo: return {{B::Yes, A::Yes}, {B::No, A::No}};
        case MessageButtons::RetryCancel: return {{B::Retry, A::Retry}, {B::Cancel, A::Cancel}};
        case MessageButtons::AbortRetryIgnore: break;
    }
    return {{B::Abort, A::Abort}, {B::Retry, A::Retry}, {B::Ignore, A::Ignore}};
}

// The answer when the box went away without a button (the application quitting).
MessageAnswer AnswerWithoutButton(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok: return MessageAnswer::Ok;
        case MessageButtons::OkCancel:
        case MessageButtons::RetryCancel: return MessageAnswer::Cancel;
        case MessageButtons::YesNo: return MessageAnswer::No;
        case MessageButtons::AbortRetryIgnore: break;
    }
    return MessageAnswer::Abort;
}

}  // namespace

MessageAnswer ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                             MessageButtons buttons) {
    QMessageBox box(owner);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    const auto answers = ButtonsOf(buttons);
    bool first = true;
    for (const auto& [button, answer] : answers) {
        QPushButton* added = box.addButton(button);
        if (first) box.setDefaultButton(added);
        first = false;
    }
    AnswerRequired answerRequired;
    if (buttons == MessageButtons::AbortRetryIgnore) box.installEventFilter(&answerRequired);
    // A box owned by a window that is disabled for the time of a long operation still takes input.
    box.setEnabled(true);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& [button, answer] : answers) {
        if (clicked && clicked == box.button(button)) return answer;
    }
    return AnswerWithoutButton(buttons);
}

}  // namespace halvex
