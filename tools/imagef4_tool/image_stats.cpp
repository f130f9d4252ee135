#include "image_stats.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "frame_io/preview.h"

namespace imagef4 {

ImageSummary summarize(const cv::Mat& image) {
    CV_Assert(image.depth() == CV_32F && image.channels() <= 4);
    ImageSummary summary;
    summary.width = image.cols;
    summary.height = image.rows;
    summary.channels = image.channels();
    summary.low.fill(std::numeric_limits<float>::infinity());
    summary.high.fill(-std::numeric_limits<float>::infinity());
    std::array<size_t, 4> finite{};
    for (int row = 0; row < image.rows; ++row) {
        const float* values = image.ptr<float>(row);
        for (int i = 0; i < image.cols * summary.channels; ++i) {
            const float value = values[i];
            const int channel = i % summary.channels;
            if (std::isnan(value)) {
                ++summary.nanCount;
                continue;
            }
            if (std::isinf(value)) {
                ++summary.infiniteCount;
            } else {
                summary.mean[channel] += value;
                ++finite[channel];
            }
            summary.low[channel] = std::min(summary.low[channel], value);
            summary.high[channel] = std::max(summary.high[channel], value);
        }
    }
    for (int channel = 0; channel < summary.channels; ++channel) {
        summary.mean[channel] = finite[channel] ? summary.mean[channel] / finite[channel] : 0.0;
    }
    return summary;
}

std::string describe(const ImageSummary& summary) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%d x %d", summary.width, summary.height);
    std::string line = buffer;
    for (int channel = 0; channel < summary.channels; ++channel) {
        std::snprintf(buffer, sizeof buffer, ", c%d [%g, %g] mean %g", channel,
                      static_cast<double>(summary.low[channel]),
                      static_cast<double>(summary.high[channel]), summary.mean[channel]);
        line += buffer;
    }
    std::snprintf(buffer, sizeof buffer, ", %zu NaN, %zu infinite", summary.nanCount,
                  summary.infiniteCount);
    return line + buffer;
}

double psnr(const cv::Mat& image, const cv::Mat& reference, float exposure) {
    if (image.size() != reference.size() || image.type() != reference.type()) {
        throw std::invalid_argument("psnr: images differ in size or type");
    }
    const cv::Mat a = filtering::toneMapped(image, exposure);
    const cv::Mat b = filtering::toneMapped(reference, exposure);
    double squares = 0.0;
    for (int row = 0; row < a.rows; ++row) {
        const float* x = a.ptr<float>(row);
        const float* y = b.ptr<float>(row);
        for (int i = 0; i < a.cols * a.channels(); ++i) {
            const double difference = static_cast<double>(x[i]) - y[i];
            squares += difference * difference;
        }
    }
    const double meanSquare = squares / static_cast<double>(a.total() * a.channels());
    return meanSquare == 0.0 ? std::numeric_limits<double>::infinity()
                             : 10.0 * std::log10(1.0 / meanSquare);
}

}  // namespace imagef4
