// Best-of-N wall-clock timing for the development drivers.
#pragma once

#include <algorithm>
#include <chrono>

namespace quarvel::tools {

// The fastest of `runs` calls of f, in milliseconds.
template <class F>
double best_ms(int runs, F&& f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

}  // namespace quarvel::tools
