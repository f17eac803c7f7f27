#include "support/ScriptedBoxes.h"

#include <gtest/gtest.h>

namespace pellwick::test {

void PrintTo(const BoxCall& box, std::ostream* out) {
    *out << "{" << MsgKindCaption(box.Kind) << ", \"" << box.Text << "\", buttons " << box.Buttons
         << "}";
}

MsgButton ScriptedBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    Shown.push_back({kind, text, buttons});
    if (OnShow) {
        OnShow(Shown.back());
    }
    if (!Answers.empty()) {
        const MsgButton answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    if (unscripted_ == Unscripted::FailTest) {
        ADD_FAILURE() << "unexpected message box: " << text;
        return MbNone;
    }
    for (const MsgButton button : {MbOk, MbCancel, MbYes, MbNo, MbAbort, MbIgnore}) {
        if ((buttons & button) != 0) {
            return button;
        }
    }
    ADD_FAILURE() << "a message box without buttons: " << text;
    return MbNone;
}

} // namespace pellwick::test
