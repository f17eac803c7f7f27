#include "upload/headless/RunnerMessageBoxes.h"

#include "upload/run/AutomaticAnswer.h"

namespace pellwick {

namespace {
// The caption as printed: "&" marks a window's keyboard accelerator, which a printed line has
// not ("&&" stands for "&" itself).
std::string PrintedCaption(const std::string& caption) {
    std::string printed;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size()) {
            ++i; // the marked letter, or the second "&" of "&&"
        }
        printed += caption[i];
    }
    return printed;
}
} // namespace

MsgButton RunnerMessageBoxes::Show(MsgKind kind, const std::string& text, unsigned buttons) {
    if (beforeShow_) {
        beforeShow_();
    }
    std::string shown;
    for (char c : text) {
        shown += c == '\r' ? std::string("\n    ") : std::string(1, c);
    }
    const MsgButton answer = AutomaticAnswer(buttons, answerIgnore_, confirmCancel_);
    std::fprintf(out_, "[%s] %s\n    -> %s\n", MsgKindCaption(kind), shown.c_str(),
                 PrintedCaption(MsgButtonCaption(answer)).c_str());
    std::fflush(out_);
    return answer;
}

} // namespace pellwick
