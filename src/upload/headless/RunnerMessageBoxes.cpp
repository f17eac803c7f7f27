#include "upload/headless/RunnerMessageBoxes.h"

namespace pellwick {

MsgButton RunnerMessageBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    if (beforeShow_) {
        beforeShow_();
    }
    if (kind == MsgKind::Error) {
        lastError_ = text;
    }
    std::string shown;
    for (char c : text) {
        shown += c == '\r' ? std::string("\n    ") : std::string(1, c);
    }
    MsgButton answer = MbOk;
    if (buttons & MbAbort) {
        answer = answerIgnore_ ? MbIgnore : MbAbort;
    } else if (buttons & MbYes) {
        answer = confirmCancel_ ? MbYes : MbNo;
    } else if (buttons & MbOk) {
        answer = MbOk;
    } else if (buttons & MbCancel) {
        answer = MbCancel;
    }
    std::fprintf(out_, "[%s] %s\n    -> %s\n", MsgKindCaption(kind), shown.c_str(),
                 MsgButtonCaption(answer));
    std::fflush(out_);
    return answer;
}

} // namespace pellwick
