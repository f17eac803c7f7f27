// The composition soak on its two clocks: virtual (virtual device ports in this process) and
// real (the programs' port owners on pseudo-terminals against pellwick-devsim).
#pragma once

#include "SoakLane.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pellwick::soak {

struct SoakOptions {
    int runs = 2000; // for each program
    std::uint64_t seed = 0;
    int sequence = -1; // only this sequence (a station: it and the next ones, one a board)
    int boards = 4;    // of the station
    bool progress = true;
};

// The lanes of one program's soak with what they share: one lane a board of the station, one
// for the other programs, each on a line of its own that makeLine(board, boards) makes. The
// lanes hold on to the pool and their lines, so none of it moves.
template <class LineType> struct SoakLanes {
    template <class MakeLine>
    SoakLanes(const SoakOptions& options, SoakProgram program, World& world, Totals& totals,
              MakeLine makeLine)
        : pool{options.runs, 0, options.sequence} {
        const int boards = program == SoakProgram::Station ? options.boards : 1;
        for (int b = 0; b < boards; ++b) {
            lines.push_back(makeLine(b, boards));
            lanes.push_back(MakeLane(program, world, *lines.back(), pool, totals, options.seed, b));
        }
    }

    Pool pool;
    std::vector<std::unique_ptr<LineType>> lines;
    // Last, so that the lanes end before the lines they run on.
    std::vector<std::unique_ptr<Lane>> lanes;
};

// Runs one program's soak; false when it could not go on (a set-up that failed, a port or run
// that could not be brought back). What it found is in totals.
bool SoakVirtual(const SoakOptions& options, SoakProgram program, Totals& totals);
bool SoakReal(const SoakOptions& options, SoakProgram program, Totals& totals);

// Told of an exception that reached the event loop (the real clock's runs).
extern std::function<void(const std::string&)> EventLoopException;

} // namespace pellwick::soak
