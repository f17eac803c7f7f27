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

} // namespace pellwick::test
