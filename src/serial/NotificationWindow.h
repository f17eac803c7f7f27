// Where the dispatcher's notifications go. A "notification window" is no window but an object of
// the GUI thread (a QObject implementing INotificationWindow, such as the port's VxComWindow or the
// terminal's TerminalFeed); the dispatch worker hands it a notification and waits until the GUI
// thread has handled it, or until the time limit runs out, after which the notification is
// abandoned: it is skipped and never runs later on stale state.
#pragma once

#include "serial/TVaxoEvent.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace pellwick {

// One notification in flight between the dispatch worker and the GUI thread.
class DeliveryToken {
public:
    // settled, when given, is set once the notification has been handled or abandoned, so that
    // the sender can wait for that and for other descriptors in one poll().
    explicit DeliveryToken(std::shared_ptr<TVaxoEvent> settled = nullptr)
        : settledSignal_(std::move(settled)) {}
    // GUI side: claims the notification before handling it. False when the sender has given
    // up on it (the handler must then not run).
    bool Begin();
    // GUI side: the handler has finished.
    void Finish();
    // Sender side: waits for Finish up to timeoutMs. On time-out the notification is abandoned,
    // unless the GUI thread has already begun it, in which case the wait goes on until it ends.
    // True when the handler ran to its end.
    bool WaitDone(int timeoutMs);
    // Sender side, from any thread: abandon a notification that has not begun. False while its
    // handler runs; true when the handler will never run or has already ended.
    bool Abandon();
    // Handled or abandoned: WaitDone would return at once.
    bool Settled() const { return settled_.load(std::memory_order_acquire); }

private:
    void Settle();

    enum class State { Pending, Running, Done, Abandoned };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Pending;
    // Set with Done or Abandoned, so that Settled need not take the mutex.
    std::atomic<bool> settled_{false};
    const std::shared_ptr<TVaxoEvent> settledSignal_;
};

class INotificationWindow {
public:
    virtual ~INotificationWindow() = default;
    // Queues the notification for the GUI thread; the window calls token->Begin() before and
    // token->Finish() after handling it. Called from the dispatch worker.
    virtual void PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                                  std::shared_ptr<DeliveryToken> token) = 0;
};

} // namespace pellwick
