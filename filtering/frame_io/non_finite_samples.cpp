#include "frame_io/non_finite_samples.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace filtering {

namespace {

bool isFinite(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7f800000u) != 0x7f800000u;
}

struct BadValue {
    int row, column, channel;
};

/// Sums and counts of the finite values of one channel over aligned blocks
/// of 2^level pixels a side, made only when some bad value has no finite
/// neighbour.
class BlockMeans {
  public:
    BlockMeans(const cv::Mat& image, int channel) {
        Level base{image.rows, image.cols, {}, {}};
        base.sums.resize(static_cast<size_t>(image.rows) * image.cols);
        base.counts.resize(base.sums.size());
        const int channels = image.channels();
        for (int y = 0; y < image.rows; ++y) {
            const float* row = image.ptr<float>(y);
            for (int x = 0; x < image.cols; ++x) {
                const float value = row[x * channels + channel];
                if (isFinite(value)) {
                    base.sums[base.at(y, x)] = value;
                    base.counts[base.at(y, x)] = 1;
                }
            }
        }
        levels_.push_back(std::move(base));
        while (levels_.back().rows > 1 || levels_.back().cols > 1) {
            levels_.push_back(halved(levels_.back()));
        }
    }

    /// The mean of the smallest block around (row, column) with a finite
    /// value; 0 when the channel has none.
    float meanAround(int row, int column) const {
        for (size_t level = 1; level < levels_.size(); ++level) {
            const Level& blocks = levels_[level];
            const size_t index = blocks.at(row >> level, column >> level);
            if (blocks.counts[index] > 0) {
                return static_cast<float>(blocks.sums[index] / blocks.counts[index]);
            }
        }
        return 0.0f;
    }

  private:
    struct Level {
        int rows, cols;
        std::vector<double> sums;
        std::vector<int64_t> counts;
        size_t at(int y, int x) const { return static_cast<size_t>(y) * cols + x; }
    };

    static Level halved(const Level& fine) {
        Level coarse{(fine.rows + 1) / 2, (fine.cols + 1) / 2, {}, {}};
        coarse.sums.assign(static_cast<size_t>(coarse.rows) * coarse.cols, 0.0);
        coarse.counts.assign(coarse.sums.size(), 0);
        for (int y = 0; y < fine.rows; ++y) {
            for (int x = 0; x < fine.cols; ++x) {
                coarse.sums[coarse.at(y / 2, x / 2)] += fine.sums[fine.at(y, x)];
                coarse.counts[coarse.at(y / 2, x / 2)] += fine.counts[fine.at(y, x)];
            }
        }
        return coarse;
    }

    std::vector<Level> levels_;
};

std::vector<BadValue> findNonFinite(const cv::Mat& image) {
    std::vector<BadValue> bad;
    const int channels = image.channels();
    for (int y = 0; y < image.rows; ++y) {
        const float* row = image.ptr<float>(y);
        for (int i = 0; i < image.cols * channels; ++i) {
            if (!isFinite(row[i])) {
                bad.push_back({y, i / channels, i % channels});
            }
        }
    }
    return bad;
}

/// Mean of the finite neighbours of one value; false when it has none.
bool neighbourMean(const cv::Mat& image, const BadValue& value, float& mean) {
    const int channels = image.channels();
    double sum = 0.0;
    int count = 0;
    for (int y = std::max(value.row - 1, 0); y <= std::min(value.row + 1, image.rows - 1); ++y) {
        const float* row = image.ptr<float>(y);
        for (int x = std::max(value.column - 1, 0); x <= std::min(value.column + 1, image.cols - 1);
             ++x) {
            const float neighbour = row[x * channels + value.channel];
            if (isFinite(neighbour)) {
                sum += neighbour;
                ++count;
            }
        }
    }
    if (count == 0) {
        return false;
    }
    mean = static_cast<float>(sum / count);
    return true;
}

}  // namespace

size_t countNonFinite(const cv::Mat& image) {
    CV_Assert(image.depth() == CV_32F);
    size_t count = 0;
    const int values = image.cols * image.channels();
    for (int y = 0; y < image.rows; ++y) {
        const float* row = image.ptr<float>(y);
        for (int i = 0; i < values; ++i) {
            count += isFinite(row[i]) ? 0 : 1;
        }
    }
    return count;
}

cv::Mat replaceNonFinite(cv::Mat& image) {
    CV_Assert(image.depth() == CV_32F);
    const std::vector<BadValue> bad = findNonFinite(image);
    if (bad.empty()) {
        return cv::Mat();
    }
    // Every replacement is worked out from the original values before any
    // is written, so the order of the bad values does not matter.
    std::vector<float> replacements(bad.size());
    std::vector<std::unique_ptr<BlockMeans>> blocks(image.channels());
    for (size_t i = 0; i < bad.size(); ++i) {
        if (!neighbourMean(image, bad[i], replacements[i])) {
            auto& channelBlocks = blocks[bad[i].channel];
            if (!channelBlocks) {
                channelBlocks = std::make_unique<BlockMeans>(image, bad[i].channel);
            }
            replacements[i] = channelBlocks->meanAround(bad[i].row, bad[i].column);
        }
    }
    cv::Mat mask(image.rows, image.cols, CV_8U, cv::Scalar(0));
    const int channels = image.channels();
    for (size_t i = 0; i < bad.size(); ++i) {
        image.ptr<float>(bad[i].row)[bad[i].column * channels + bad[i].channel] = replacements[i];
        mask.at<uint8_t>(bad[i].row, bad[i].column) = 255;
    }
    return mask;
}

}  // namespace filtering
