// Message boxes of the headless runner: each box is printed to standard error with its kind and
// text and answered without asking. OK where it is offered; Abort for Abort/Ignore (Ignore when
// the runner was asked to); Yes for the cancel question the runner itself raises on Ctrl-C.
// The boxes also tell the runner how the run ended.
#pragma once

#include "serial/MessageBoxes.h"

#include <cstdio>
#include <functional>
#include <string>

namespace pellwick {

enum class RunOutcome { Clean, ScriptError, UploadError, PortError, ScriptUnreadable };

class RunnerMessageBoxes : public IMessageBoxes {
public:
    RunnerMessageBoxes(std::FILE* out, bool answerIgnore)
        : out_(out), answerIgnore_(answerIgnore) {}

    MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) override;

    // Called before each box is printed (the progress line is ended first).
    void SetBeforeShow(std::function<void()> hook) { beforeShow_ = std::move(hook); }
    // The cancel question is answered Yes while this is set (Ctrl-C), No otherwise.
    void SetConfirmCancel(bool yes) { confirmCancel_ = yes; }
    // The worst outcome the boxes have told of since the run started.
    RunOutcome Outcome() const { return outcome_; }
    // From here on error reports count towards the outcome; before it (start-up: the working
    // folder, loader.ini) they are printed only, since they end nothing.
    void StartCounting() { counting_ = true; }
    // An Abort/Ignore box was answered Ignore: the run went past an error.
    bool IgnoredAnError() const { return ignored_; }

private:
    void Note(RunOutcome outcome);

    std::FILE* out_;
    bool answerIgnore_;
    bool confirmCancel_ = false;
    bool counting_ = false;
    bool ignored_ = false;
    std::function<void()> beforeShow_;
    RunOutcome outcome_ = RunOutcome::Clean;
};

} // namespace pellwick
