// Timing helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <ctime>
#include <vector>

namespace corvane::bench {

// CPU seconds of the calling thread, for timing side by side on a shared
// machine (time spent waiting for a core is not counted).
inline double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The upper of the two middle values (the middle one for an odd count); 0
// for none.
inline double UpperMedian(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace corvane::bench
