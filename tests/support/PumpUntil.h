// WaitUntil for a condition that the GUI thread's own event loop makes true (the port's
// notifications are handled there): the waiting thread handles the events meanwhile.
#pragma once

#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QTest>

namespace pellwick::test {

inline bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = kWaitMs) {
    return WaitUntil(cond, timeoutMs, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(1);
    });
}

inline bool PumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    return PumpUntil(cond, static_cast<int>(timeout.count()));
}

// Keeps the event loop running for a while: for checks that something does NOT happen, and for
// a pause during which the port's notices must still be handled.
inline void PumpFor(int ms) {
    (void)PumpUntil([] { return false; }, ms);
}

inline void PumpFor(std::chrono::milliseconds duration) {
    PumpFor(static_cast<int>(duration.count()));
}

} // namespace pellwick::test
