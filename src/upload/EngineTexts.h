// Pieces of the engine's box texts and causes that both of its halves (the script's steps and
// the file's upload) write.
#pragma once

#include <cstdint>
#include <string>

#include "link/LinkInterfaces.h"

namespace pellwick {

// "\rLine Number: N", the last line of the script's error boxes.
inline std::string LineNumberText(std::int32_t number) {
    return "\rLine Number: " + std::to_string(number);
}

// A box text with the cause of the failure on a line of its own.
inline std::string WithCause(const std::string& text, const std::string& cause) {
    return cause.empty() ? text : text + "\r" + cause;
}

// How long the link waits for one answer, in seconds, as the operator reads it ("5.5").
inline std::string AnswerWaitText() {
    const int tenths = (AnswerWaitTicks * 55 + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

} // namespace pellwick
