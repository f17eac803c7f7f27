// Message boxes for tests and benchmarks: every box shown is recorded (kind, text, buttons) and
// answered from a queue. What a box gets once the queue is empty is the test's choice: a test
// that scripts every box fails on one more, a test about something else presses its first
// button as an operator in a hurry would.
#pragma once

#include "serial/MessageBoxes.h"

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pellwick::test {

struct BoxCall {
    MsgKind Kind;
    std::string Text;
    unsigned Buttons;
    friend bool operator==(const BoxCall&, const BoxCall&) = default;
};
void PrintTo(const BoxCall& box, std::ostream* out);
using Boxes = std::vector<BoxCall>;

// What a box gets when no answer is queued.
enum class Unscripted {
    FailTest,         // the test fails (no further box was expected); the box gets MbNone
    PressFirstButton, // its first button in the order OK, Cancel, Yes, No, Abort, Ignore
};

class ScriptedBoxes : public IMessageBoxes {
public:
    explicit ScriptedBoxes(Unscripted unscripted) : unscripted_(unscripted) {}

    MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) override;

    std::deque<MsgButton> Answers;
    Boxes Shown;
    std::function<void(const BoxCall&)> OnShow; // runs while the box is "open"

private:
    Unscripted unscripted_;
};

} // namespace pellwick::test
