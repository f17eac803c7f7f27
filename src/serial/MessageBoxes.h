// Modal message boxes as the program's logic sees them: a kind, a text and a set of buttons in,
// the button pressed out. Windows install a QMessageBox-backed implementation; tests and the
// headless runner install their own. Texts are single-byte; CR (13) separates lines.
#pragma once

#include "serial/NameTable.h"

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
inline constexpr NameTable<MsgKind> MsgKindCaptions[] = {{MsgKind::Error, "Error"},
                                                         {MsgKind::Warning, "Warning"},
                                                         {MsgKind::Information, "Information"},
                                                         {MsgKind::Confirm, "Confirm"}};
inline constexpr NameTable<MsgButton> MsgButtonCaptions[] = {
    {MbOk, "OK"},  {MbCancel, "Cancel"}, {MbYes, "&Yes"},
    {MbNo, "&No"}, {MbAbort, "&Abort"},  {MbIgnore, "&Ignore"}};

inline const char* MsgKindCaption(MsgKind kind) {
    return NameIn(MsgKindCaptions, kind, "");
}

inline const char* MsgButtonCaption(MsgButton button) {
    return NameIn(MsgButtonCaptions, button, "");
}

} // namespace pellwick
