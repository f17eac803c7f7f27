// Modal message boxes as the program's logic sees them: a kind, a text and a set of buttons in,
// the button pressed out. Windows install a QMessageBox-backed implementation; tests and the
// headless runner install their own. Texts are single-byte; CR (13) separates lines.
#pragma once

#include <string>

namespace pellwick {

enum class MsgKind { Error, Warning, Information, Confirm };

// Buttons as a bit set; the result of Show is exactly one of them.
enum MsgButton : unsigned {
    MbNone = 0,
    MbOk = 1,
    MbCancel = 2,
    MbYes = 4,
    MbNo = 8,
    MbAbort = 16,
    MbIgnore = 32,
};

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) = 0;
};

// The captions the boxes carry, as the operator sees them.
inline const char* MsgKindCaption(MsgKind kind) {
    switch (kind) {
    case MsgKind::Error:
        return "Error";
    case MsgKind::Warning:
        return "Warning";
    case MsgKind::Information:
        return "Information";
    case MsgKind::Confirm:
        return "Confirm";
    }
    return "";
}

inline const char* MsgButtonCaption(MsgButton button) {
    switch (button) {
    case MbOk:
        return "OK";
    case MbCancel:
        return "Cancel";
    case MbYes:
        return "&Yes";
    case MbNo:
        return "&No";
    case MbAbort:
        return "&Abort";
    case MbIgnore:
        return "&Ignore";
    case MbNone:
        break;
    }
    return "";
}

} // namespace pellwick
