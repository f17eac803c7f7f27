#include "station/SlotBoxes.h"

#include "upload/headless/RunnerMessageBoxes.h"

namespace pellwick {

MsgButton SlotBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    if (kind == MsgKind::Error) {
        lastError_ = text;
    }
    if (shown_) {
        shown_(kind, text);
    }
    return AutomaticAnswer(buttons, false, confirmCancel_);
}

} // namespace pellwick
