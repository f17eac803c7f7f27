// A stack of its own for the script steps of one slot of a station. A station runs many boards
// on one GUI thread, and a step of a run may wait: the pause between an upload's header and its
// data, the wait for the device's answer, output room for a string. On the slot's stack such a
// wait suspends the step and hands the thread back to the event loop, which resumes the step
// once the wait is over; so one board's waits never hold up the others, and the run's own code
// stays as it is.
//
// GUI thread only: a fiber is made, run, resumed and destroyed there, and never holds a lock
// across a wait (the waits come from the engine and the link between their locks).
#pragma once

#include <QTimer>
#include <functional>
#include <string>
#include <ucontext.h>

namespace pellwick {

class SlotFiber {
public:
    SlotFiber();
    // Finishes a step that is still waiting (see Finish).
    ~SlotFiber();
    SlotFiber(const SlotFiber&) = delete;
    SlotFiber& operator=(const SlotFiber&) = delete;

    // Runs step on this stack until it ends or waits. While an earlier step is still waiting,
    // step runs at once on the caller's stack instead (the engine defers such a tick).
    void Run(const std::function<void()>& step);
    // A step has started here and not yet ended.
    bool Busy() const { return busy_; }

    // The waits of a step. On this fiber's stack they suspend it: Sleep until the time has
    // passed, Pause until the event loop has gone round once (about a millisecond). Anywhere
    // else, and while finishing, they block as a lone run would: a sleep, or one round of the
    // event loop for Pause when processEvents is true and a 1 ms sleep otherwise.
    void Sleep(int milliseconds);
    void Pause(bool processEvents);

    // Runs a waiting step to its end (the program ends): the wait it is in ends at once, and
    // the waits after it block.
    void Finish();
    // What the last step threw, when it threw; empty otherwise. Taken by the call.
    std::string TakeFailure();

private:
    static void Entry();
    void SwitchIn();
    void Suspend();
    bool OnOwnStack() const;

    void* stack_ = nullptr;
    std::size_t stackSize_ = 0;
    std::size_t mappedSize_ = 0;
    ucontext_t fiberContext_{};
    ucontext_t callerContext_{};
    std::function<void()> step_;
    bool busy_ = false;
    bool finishing_ = false;
    std::string failure_;
    QTimer resume_;
    // The caller's stack as the address sanitizer is told of it; unused without it.
    const void* callerBottom_ = nullptr;
    std::size_t callerSize_ = 0;
};

} // namespace pellwick
