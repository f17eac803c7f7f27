// Figures the benchmarks print.
#pragma once

#include <vector>

namespace pellwick::bench {

// The CPU time this process has used so far, user and system, in seconds.
double CpuSeconds();

// The middle value of a non-empty list of runs (the upper one of two for an even count).
double Median(std::vector<double> values);

} // namespace pellwick::bench
