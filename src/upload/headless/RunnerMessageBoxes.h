// Message boxes of the headless runner: each box is printed to standard error with its kind and
// text and answered without asking. OK where it is offered; Abort for Abort/Ignore (Ignore when
// the runner was asked to); Yes for the cancel question the runner itself raises on Ctrl-C.
// How the run ended is the run's own record, not something read from the boxes.
#pragma once

#include "serial/MessageBoxes.h"

#include <cstdio>
#include <functional>
#include <string>

namespace pellwick {

class RunnerMessageBoxes : public IMessageBoxes {
public:
    RunnerMessageBoxes(std::FILE* out, bool answerIgnore)
        : out_(out), answerIgnore_(answerIgnore) {}

    MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) override;

    // Called before each box is printed (the progress line is ended first).
    void SetBeforeShow(std::function<void()> hook) { beforeShow_ = std::move(hook); }
    // The cancel question is answered Yes while this is set (Ctrl-C), No otherwise.
    void SetConfirmCancel(bool yes) { confirmCancel_ = yes; }

private:
    std::FILE* out_;
    bool answerIgnore_;
    bool confirmCancel_ = false;
    std::function<void()> beforeShow_;
};

} // namespace pellwick
