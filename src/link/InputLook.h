// The outcome of one look of a wait for input that its caller drives, a look at a time.
#pragma once

#include <cstdint>

namespace pellwick {

enum class InputLook : std::uint8_t {
    Waiting, // nothing has ended it yet; more may come
    Done,    // it has what it waited for (the prompt of an answer)
    Gone,    // the line has gone (hung up, port closed) or the exchange failed: nothing will come
};

} // namespace pellwick
