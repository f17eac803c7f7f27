#include "upload/run/AutomaticAnswer.h"

namespace pellwick {

MsgButton AutomaticAnswer(unsigned buttons, bool answerIgnore, bool confirmCancel) {
    if (buttons & MbAbort) {
        return answerIgnore ? MbIgnore : MbAbort;
    }
    if (buttons & MbYes) {
        return confirmCancel ? MbYes : MbNo;
    }
    if (buttons & MbOk) {
        return MbOk;
    }
    return (buttons & MbCancel) ? MbCancel : MbOk;
}

} // namespace pellwick
