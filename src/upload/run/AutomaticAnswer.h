// How a run that nobody watches answers its message boxes: the runner and every station slot
// answer the same way, so that a board fails or passes alike on either.
#pragma once

#include "serial/MessageBoxes.h"

namespace pellwick {

// The answer given without asking: OK where it is offered; Abort for Abort/Ignore (Ignore
// when answerIgnore); Yes or No to the cancel question as confirmCancel says.
MsgButton AutomaticAnswer(unsigned buttons, bool answerIgnore, bool confirmCancel);

} // namespace pellwick
