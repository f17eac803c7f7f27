// The message boxes of one slot's run: answered at once without asking, as the headless runner
// answers them (OK; Abort where Abort/Ignore is offered; Yes to the cancel question only when
// the station cancels), so that no slot ever waits for a click or holds up another. What a box
// said goes to the slot's row instead.
#pragma once

#include "serial/MessageBoxes.h"

#include <functional>
#include <string>

namespace pellwick {

class SlotBoxes : public IMessageBoxes {
public:
    MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) override;

    // Told of every box with its text, lines joined with CR.
    void SetShown(std::function<void(MsgKind, const std::string&)> shown) {
        shown_ = std::move(shown);
    }
    void SetConfirmCancel(bool yes) { confirmCancel_ = yes; }

private:
    std::function<void(MsgKind, const std::string&)> shown_;
    bool confirmCancel_ = false;
};

} // namespace pellwick
