// The composition soak on its two clocks: virtual (virtual device ports in this process) and
// real (the programs' port owners on pseudo-terminals against pellwick-devsim).
#pragma once

#include "SoakLane.h"

#include <cstdint>
#include <functional>
#include <string>

namespace pellwick::soak {

struct SoakOptions {
    int runs = 2000; // for each program
    std::uint64_t seed = 0;
    int sequence = -1; // only this sequence (a station: it and the next ones, one a board)
    int boards = 4;    // of the station
    bool progress = true;
};

// Runs one program's soak; false when it could not go on (a set-up that failed, a port or run
// that could not be brought back). What it found is in totals.
bool SoakVirtual(const SoakOptions& options, SoakProgram program, Totals& totals);
bool SoakReal(const SoakOptions& options, SoakProgram program, Totals& totals);

// Told of an exception that reached the event loop (the real clock's runs).
extern std::function<void(const std::string&)> EventLoopException;

} // namespace pellwick::soak
