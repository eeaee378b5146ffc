#include "QualityChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

namespace corvane::tools::quality {

namespace {
void Text(cv::Mat& image, const std::string& text, cv::Point at, double scale, int thickness = 1) {
    cv::putText(image, text, at, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(0, 0, 0), thickness,
                cv::LINE_AA);
}
}  // namespace

cv::Mat GroupedBarChart(const std::vector<std::string>& groups,
                        const std::vector<std::string>& series,
                        const std::vector<std::vector<double>>& values, const std::string& title) {
    const int bar = 34, innerGap = 4, groupGap = 34, left = 70, right = 30, top = 100, plot = 360,
              bottom = 90;
    const int perGroup = static_cast<int>(series.size()) * (bar + innerGap);
    const int n = static_cast<int>(groups.size());
    const int width = std::max(520, left + right + n * perGroup + (n + 1) * groupGap);
    cv::Mat chart(top + plot + bottom, width, CV_8UC3, cv::Scalar(255, 255, 255));
    Text(chart, title, cv::Point(16, 32), 0.65, 2);
    const cv::Scalar colours[] = {cv::Scalar(180, 110, 30), cv::Scalar(60, 140, 230),
                                  cv::Scalar(80, 170, 90),  cv::Scalar(160, 90, 170),
                                  cv::Scalar(60, 60, 200),  cv::Scalar(120, 120, 120)};
    // Legend.
    for (std::size_t k = 0; k < series.size(); ++k) {
        const int x = 16 + static_cast<int>(k) * 150;
        cv::rectangle(chart, cv::Rect(x, 50, 18, 18), colours[k % 6], cv::FILLED);
        Text(chart, series[k].substr(0, 14), cv::Point(x + 24, 65), 0.5);
    }
    const int base = top + plot;
    for (int tick = 0; tick <= 10; tick += 2) {
        const int y = base - plot * tick / 10;
        cv::line(chart, cv::Point(left, y), cv::Point(width - right, y), cv::Scalar(225, 225, 225));
        char text[8];
        std::snprintf(text, sizeof text, "%.1f", tick / 10.0);
        Text(chart, text, cv::Point(left - 42, y + 5), 0.5);
    }
    cv::line(chart, cv::Point(left, base), cv::Point(width - right, base), cv::Scalar(0, 0, 0), 2);
    cv::line(chart, cv::Point(left, top), cv::Point(left, base), cv::Scalar(0, 0, 0), 1);
    for (int g = 0; g < n; ++g) {
        const int x0 = left + groupGap + g * (perGroup + groupGap);
        for (std::size_t k = 0; k < series.size(); ++k) {
            const double v = g < static_cast<int>(values.size()) && k < values[g].size()
                                 ? values[g][k]
                                 : 0.0;
            const double shown = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
            const int x = x0 + static_cast<int>(k) * (bar + innerGap);
            const int h = static_cast<int>(std::lround(shown * plot));
            cv::rectangle(chart, cv::Rect(x, base - h, bar, h), colours[k % 6], cv::FILLED);
            char text[16];
            std::snprintf(text, sizeof text, "%.2f", v);
            Text(chart, text, cv::Point(x, base - h - 6), 0.4);
        }
        Text(chart, groups[g].substr(0, 16), cv::Point(x0, base + 24), 0.45);
    }
    Text(chart, "F-measure", cv::Point(16, top - 10), 0.5);
    return chart;
}

}  // namespace corvane::tools::quality
