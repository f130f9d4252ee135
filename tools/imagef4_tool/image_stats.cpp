#include "image_stats.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "frame_io/preview.h"

namespace imagef4 {

namespace {

void requireSameShape(const cv::Mat& a, const cv::Mat& b, const std::string& what) {
    if (a.size() != b.size() || a.type() != b.type()) {
        throw std::invalid_argument(what + ": images differ in size or type");
    }
}

double psnrOfDisplay(const cv::Mat& a, const cv::Mat& b) {
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

}  // namespace

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
    requireSameShape(image, reference, "psnr");
    return psnrOfDisplay(filtering::toneMapped(image, exposure),
                         filtering::toneMapped(reference, exposure));
}

void ShotComparison::add(const cv::Mat& frame, const cv::Mat& reference, float exposure) {
    requireSameShape(frame, reference, "flicker");
    if (frames_ > 0) {
        requireSameShape(frame, previousFrame_, "flicker");
    }
    const cv::Mat display = filtering::toneMapped(frame, exposure);
    const cv::Mat referenceDisplay = filtering::toneMapped(reference, exposure);
    if (frames_ > 0) {
        // The frame's change less the reference's change, value by value.
        const cv::Mat excess = (display - previousFrame_) - (referenceDisplay - previousReference_);
        changeSquares_ += excess.dot(excess);
        changeValues_ += static_cast<double>(excess.total() * excess.channels());
    }
    psnrSum_ += psnrOfDisplay(display, referenceDisplay);
    previousFrame_ = display;
    previousReference_ = referenceDisplay;
    ++frames_;
}

double ShotComparison::flicker() const {
    if (frames_ < 2) {
        throw std::logic_error("flicker needs two frames or more");
    }
    return std::sqrt(changeSquares_ / changeValues_);
}

double ShotComparison::meanPsnr() const {
    if (frames_ < 1) {
        throw std::logic_error("a mean PSNR needs a frame");
    }
    return psnrSum_ / frames_;
}

ShotComparison compareShots(const std::vector<cv::Mat>& frames,
                            const std::vector<cv::Mat>& references, float exposure) {
    if (frames.size() != references.size()) {
        throw std::invalid_argument("flicker: as many references as frames are needed");
    }
    ShotComparison comparison;
    for (size_t i = 0; i < frames.size(); ++i) {
        comparison.add(frames[i], references[i], exposure);
    }
    return comparison;
}

}  // namespace imagef4
