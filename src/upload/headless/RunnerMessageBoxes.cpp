#include "upload/headless/RunnerMessageBoxes.h"

namespace pellwick {

namespace {
bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}
} // namespace

void RunnerMessageBoxes::Note(RunOutcome outcome) {
    // Later reports never make an outcome look better than an earlier one.
    if (static_cast<int>(outcome) > static_cast<int>(outcome_)) {
        outcome_ = outcome;
    }
}

MsgButton RunnerMessageBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    if (beforeShow_) {
        beforeShow_();
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

    if (answer == MbIgnore) {
        ignored_ = true;
    }
    if (StartsWith(text, "Error Opening Selected Comm Port")) {
        Note(RunOutcome::PortError);
        return answer;
    }
    if (!counting_) {
        return answer;
    }
    if (StartsWith(text, "Script file \"")) {
        Note(RunOutcome::ScriptUnreadable);
    } else if (StartsWith(text, "Upload error encountered") ||
               StartsWith(text, "Communication test failed")) {
        Note(RunOutcome::UploadError);
    } else if (kind == MsgKind::Error && (buttons & MbAbort) && answer == MbAbort) {
        Note(RunOutcome::ScriptError);
    } else if (kind == MsgKind::Error && !StartsWith(text, "Script file error") &&
               !StartsWith(text, "Script error encountered") &&
               !StartsWith(text, "Error Accessing Comm Port")) {
        // Any other error report ends the run (a link failure, a failed memory request).
        Note(RunOutcome::UploadError);
    }
    return answer;
}

} // namespace pellwick
