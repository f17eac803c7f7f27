#include "app/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>
#include <vector>

namespace pellwick {

namespace {

QMessageBox::Icon IconOf(MsgKind kind) {
    switch (kind) {
    case MsgKind::Error:
        return QMessageBox::Critical;
    case MsgKind::Warning:
        return QMessageBox::Warning;
    case MsgKind::Information:
        return QMessageBox::Information;
    case MsgKind::Confirm:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::ButtonRole RoleOf(MsgButton button) {
    switch (button) {
    case MbOk:
    case MbYes:
        return QMessageBox::AcceptRole;
    case MbCancel:
    case MbAbort:
        return QMessageBox::RejectRole;
    case MbNo:
        return QMessageBox::NoRole;
    case MbIgnore:
        return QMessageBox::ActionRole;
    case MbNone:
        break;
    }
    return QMessageBox::ActionRole;
}

} // namespace

QString QtMessageBoxes::DisplayText(const std::string& text) {
    QString shown;
    shown.reserve(static_cast<qsizetype>(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            shown += QLatin1Char('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            shown += QLatin1Char(c);
        }
    }
    return shown;
}

MsgButton QtMessageBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    QWidget* parent = parent_ != nullptr ? parent_ : QApplication::activeWindow();
    QMessageBox box(IconOf(kind), QString::fromLatin1(MsgKindCaption(kind)), DisplayText(text),
                    QMessageBox::NoButton, parent);
    if (buttons == MbNone) {
        buttons = MbOk;
    }
    std::vector<std::pair<QAbstractButton*, MsgButton>> added;
    for (const MsgButton b : {MbOk, MbYes, MbNo, MbAbort, MbIgnore, MbCancel}) {
        if ((buttons & b) != 0) {
            QPushButton* pushButton =
                box.addButton(QString::fromLatin1(MsgButtonCaption(b)), RoleOf(b));
            added.emplace_back(pushButton, b);
        }
    }
    box.setDefaultButton(static_cast<QPushButton*>(added.front().first));
    // Escape picks Cancel, else No, else the only button; a box without them cannot be escaped.
    for (const MsgButton escape : {MbCancel, MbNo, MbOk}) {
        if ((buttons & escape) != 0 && (escape != MbOk || added.size() == 1)) {
            for (const auto& [button, value] : added) {
                if (value == escape) {
                    box.setEscapeButton(button);
                }
            }
            break;
        }
    }
    box.exec();
    for (const auto& [button, value] : added) {
        if (box.clickedButton() == button) {
            return value;
        }
    }
    // Closed without a button (window manager): the escape choice, else the first button.
    for (const MsgButton fallback : {MbCancel, MbNo}) {
        if ((buttons & fallback) != 0) {
            return fallback;
        }
    }
    return added.front().second;
}

} // namespace pellwick
