#pragma once

#include <array>
#include <cstddef>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace imagef4 {

/// Size and per-channel value ranges of a float image; NaNs are counted and
/// left out of the ranges and means.
struct ImageSummary {
    int width = 0, height = 0, channels = 0;
    std::array<float, 4> low{}, high{};
    std::array<double, 4> mean{};
    size_t nanCount = 0;
    size_t infiniteCount = 0;
};

ImageSummary summarize(const cv::Mat& image);

/// One line: "W x H, c0 [low, high] mean m, ..., N NaN".
std::string describe(const ImageSummary& summary);

/// Peak signal-to-noise ratio in decibels of `image` against `reference`,
/// both linear working images, measured on their tone-mapped display values
/// (exposure, clamp to [0, 1], sRGB) with peak 1. Infinite for equal images.
double psnr(const cv::Mat& image, const cv::Mat& reference, float exposure = 1.0f);

/// How a denoised shot compares with its reference shot, frame by frame, on
/// tone-mapped display values as psnr measures them. Frames come in order.
class ShotComparison {
  public:
    /// The next frame and its reference; throws std::invalid_argument when
    /// its size or type differs from the reference's or the frames before.
    void add(const cv::Mat& frame, const cv::Mat& reference, float exposure = 1.0f);

    int frames() const { return frames_; }

    /// Root mean square, over every value of every pair of consecutive
    /// frames, of the frame's change less the reference's change: 0 when the
    /// shot changes exactly as its reference does, however far off each
    /// frame is. Throws std::logic_error with fewer than two frames.
    double flicker() const;

    /// The mean of the frames' PSNRs (infinite when one frame equals its
    /// reference). Throws std::logic_error with no frames.
    double meanPsnr() const;

  private:
    cv::Mat previousFrame_, previousReference_;  // display values
    double changeSquares_ = 0.0;
    double changeValues_ = 0.0;
    double psnrSum_ = 0.0;
    int frames_ = 0;
};

/// A whole shot at once: frames[i] against references[i].
ShotComparison compareShots(const std::vector<cv::Mat>& frames,
                            const std::vector<cv::Mat>& references, float exposure = 1.0f);

}  // namespace imagef4
