#include "Pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace corvane::tools {

namespace {

const cv::Scalar kWhite(255, 255, 255), kBlack(0, 0, 0), kGrey(150, 150, 150);

void Caption(cv::Mat& image, const std::string& text, cv::Point at, double scale,
             const cv::Scalar& colour = kBlack, int thickness = 1) {
    cv::putText(image, text, at, cv::FONT_HERSHEY_SIMPLEX, scale, colour, thickness, cv::LINE_AA);
}

cv::Mat AsBgr(const cv::Mat& image, const cv::Size& size, int interpolation) {
    cv::Mat bgr;
    if (image.empty()) {
        bgr = cv::Mat(size, CV_8UC3, kGrey);
        Caption(bgr, "n/a", cv::Point(size.width / 2 - 20, size.height / 2), 0.7);
        return bgr;
    }
    if (image.channels() == 1)
        cv::cvtColor(image, bgr, cv::COLOR_GRAY2BGR);
    else
        bgr = image;
    if (bgr.size() != size) {
        cv::Mat scaled;
        cv::resize(bgr, scaled, size, 0, 0, interpolation);
        bgr = scaled;
    }
    return bgr;
}

}  // namespace

cv::Mat ContactSheet(const std::vector<SheetRow>& rows, const std::string& title) {
    if (rows.empty()) return cv::Mat();
    const cv::Size frame = rows.front().input.size();
    const int gap = 10;
    // Small frames are enlarged by a whole factor so that the sheet is at
    // least about 900 pixels wide.
    const int scale = std::max(1, static_cast<int>(std::ceil(900.0 / (3.0 * frame.width + 4 * gap))));
    const cv::Size cell(frame.width * scale, frame.height * scale);
    const int header = 64, captionHeight = 24;
    const int width = 3 * cell.width + 4 * gap;
    const int rowHeight = captionHeight + cell.height + gap;
    cv::Mat sheet(header + static_cast<int>(rows.size()) * rowHeight, width, CV_8UC3, kWhite);
    // The title, made smaller until it fits.
    double titleScale = 0.8;
    int baseline = 0;
    while (titleScale > 0.3 &&
           cv::getTextSize(title, cv::FONT_HERSHEY_SIMPLEX, titleScale, 2, &baseline).width >
               width - 2 * gap)
        titleScale -= 0.05;
    Caption(sheet, title, cv::Point(gap, 28), titleScale, kBlack, 2);
    const char* const columns[] = {"input", "foreground probability", "mask"};
    for (int k = 0; k < 3; ++k)
        Caption(sheet, columns[k], cv::Point(gap + k * (cell.width + gap), header - 10), 0.55,
                kBlack, 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int top = header + static_cast<int>(i) * rowHeight;
        Caption(sheet, "frame " + std::to_string(rows[i].frameNumber),
                cv::Point(gap, top + captionHeight - 7), 0.5, cv::Scalar(80, 80, 80));
        const cv::Mat cells[] = {AsBgr(rows[i].input, cell, cv::INTER_LINEAR),
                                 AsBgr(rows[i].probability, cell, cv::INTER_NEAREST),
                                 AsBgr(rows[i].mask, cell, cv::INTER_NEAREST)};
        for (int k = 0; k < 3; ++k) {
            const int left = gap + k * (cell.width + gap);
            cells[k].copyTo(sheet(cv::Rect(left, top + captionHeight, cell.width, cell.height)));
        }
    }
    return sheet;
}

cv::Mat BarChart(const std::vector<Bar>& bars, const std::string& title) {
    const int barWidth = 90, gap = 40, left = 70, right = 30, top = 70, plot = 360, bottom = 70;
    const int n = static_cast<int>(bars.size());
    const int width = std::max(420, left + right + n * barWidth + (n + 1) * gap);
    cv::Mat chart(top + plot + bottom, width, CV_8UC3, kWhite);
    Caption(chart, title, cv::Point(16, 36), 0.65, kBlack, 2);
    const int base = top + plot;
    for (int tick = 0; tick <= 10; tick += 2) {
        const int y = base - plot * tick / 10;
        cv::line(chart, cv::Point(left, y), cv::Point(width - right, y), cv::Scalar(225, 225, 225));
        char text[8];
        std::snprintf(text, sizeof text, "%.1f", tick / 10.0);
        Caption(chart, text, cv::Point(left - 42, y + 5), 0.5);
    }
    cv::line(chart, cv::Point(left, base), cv::Point(width - right, base), kBlack, 2);
    cv::line(chart, cv::Point(left, top), cv::Point(left, base), kBlack, 1);
    const cv::Scalar colours[] = {cv::Scalar(180, 110, 30), cv::Scalar(60, 140, 230),
                                  cv::Scalar(80, 170, 90), cv::Scalar(160, 90, 170),
                                  cv::Scalar(60, 60, 200)};
    for (int i = 0; i < n; ++i) {
        const double value = std::isfinite(bars[i].value) ? std::clamp(bars[i].value, 0.0, 1.0) : 0.0;
        const int x = left + gap + i * (barWidth + gap);
        const int h = static_cast<int>(std::lround(value * plot));
        cv::rectangle(chart, cv::Rect(x, base - h, barWidth, h), colours[i % 5], cv::FILLED);
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", bars[i].value);
        Caption(chart, text, cv::Point(x + 12, base - h - 8), 0.6, kBlack, 2);
        Caption(chart, bars[i].label.substr(0, 12), cv::Point(x + 4, base + 28), 0.55);
    }
    Caption(chart, "F-measure", cv::Point(16, top - 10), 0.5);
    return chart;
}

bool WriteImage(const std::string& path, const cv::Mat& image, std::string* error,
                FileCalls& calls) {
    // Encoded in memory, then written through a checked write: OpenCV's own
    // writer reports success when the failure only shows at the close.
    const std::size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
    std::vector<unsigned char> bytes;
    bool encoded = false;
    try {
        encoded = !extension.empty() && cv::imencode(extension, image, bytes);
    } catch (const cv::Exception&) {
        encoded = false;
    }
    if (!encoded) {
        *error = "cannot write \"" + path + "\": the image cannot be encoded as " +
                 (extension.empty() ? std::string("(no extension)") : extension);
        return false;
    }
    return WriteFileChecked(path, bytes.data(), bytes.size(), error, calls);
}

}  // namespace corvane::tools
