// The error number of the engine error a call raises, for tests that check which one it is.
#pragma once

#include "serial/errors/EVaxoException.h"

#include <functional>

namespace pellwick::test {

// 0 when fn raises no engine error.
inline int ErrorNumberOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const EVaxoException& e) {
        return e.ErrorNumber();
    }
    return 0;
}

} // namespace pellwick::test
