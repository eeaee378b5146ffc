// A grouped bar chart: one group of bars per sequence, one bar per method.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace corvane::tools::quality {

// values[g][k]: the value (0..1; NaN drawn as 0) of series k in group g.
cv::Mat GroupedBarChart(const std::vector<std::string>& groups,
                        const std::vector<std::string>& series,
                        const std::vector<std::vector<double>>& values, const std::string& title);

}  // namespace corvane::tools::quality
