#include "station/SlotBoxes.h"

#include "upload/run/AutomaticAnswer.h"

namespace pellwick {

MsgButton SlotBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    if (shown_) {
        shown_(kind, text);
    }
    return AutomaticAnswer(buttons, false, confirmCancel_);
}

} // namespace pellwick
