// Order statistics over measured durations.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

// Nearest-rank percentile (0 < p <= 100) of `values`; 0 for an empty list.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}
