#include "quality_mode/firefly_suppression.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "frame_io/layer_files.h"
#include "quality_mode/light_planes.h"
#include "quality_mode/noise_estimate.h"

namespace filtering {

namespace {

constexpr int kWindow = 3;
// Three box passes come close to a Gaussian at a cost independent of reach.
constexpr int kBoxPasses = 3;

// Copies the layer into the planes of `kept` and lowers each pixel whose
// luminance exceeds its neighbourhood's median by more than `deviations`
// robust deviations (and more than `floor`) to that limit; what the pixels
// of each 2 x 2 block lost goes to the block's element of `taken` (half
// size). Both are written in full. True when a pixel was lowered.
bool lowerOutliers(const cv::Mat& light, const cv::Mat& brightness, float deviations, float floor,
                   quendel::CpuTexture& kept, cv::Mat& taken) {
    cv::Mat median, deviation;
    cv::medianBlur(brightness, median, kWindow);
    cv::absdiff(brightness, median, deviation);
    cv::medianBlur(deviation, deviation, kWindow);
    const std::array<float*, 3> planes = {kept.getChannel(0), kept.getChannel(1),
                                          kept.getChannel(2)};
    std::atomic<bool> lowered{false};
    cv::parallel_for_(cv::Range(0, taken.rows), [&](const cv::Range& blocks) {
        bool any = false;
        for (int block = blocks.start; block < blocks.end; ++block) {
            auto* take = taken.ptr<cv::Vec3f>(block);
            std::fill(take, take + taken.cols, cv::Vec3f());
            for (int row = 2 * block; row < std::min(2 * block + 2, light.rows); ++row) {
                const float* level = brightness.ptr<float>(row);
                const float* middle = median.ptr<float>(row);
                const float* scatter = deviation.ptr<float>(row);
                const auto* pixel = light.ptr<cv::Vec3f>(row);
                const size_t at = static_cast<size_t>(row) * static_cast<size_t>(light.cols);
                for (int column = 0; column < light.cols; ++column) {
                    const float limit =
                        middle[column] + std::max(scatter[column] * deviations, floor);
                    cv::Vec3f keep = pixel[column];
                    if (level[column] > limit) {
                        keep = pixel[column] * (limit / level[column]);
                        take[column / 2] += pixel[column] - keep;
                        any = true;
                    }
                    for (size_t c = 0; c < 3; ++c) {
                        planes[c][at + static_cast<size_t>(column)] = keep[static_cast<int>(c)];
                    }
                }
            }
        }
        if (any) {
            lowered.store(true, std::memory_order_relaxed);
        }
    });
    return lowered.load();
}

// Spreads light over a neighbourhood of deviation about `reach` pixels, on
// the blocks of a layer of `rows` x `cols` (see separateFireflies).
// Symmetric boxes with mirrored borders keep its sum. Where the layer's
// size is odd its border runs through the middle of the last blocks: there
// the blocks are spread together with their mirror image about that border,
// so those last blocks hold their pixels' light twice over and give each
// pixel the same share as any other block does.
void spreadAround(cv::Mat& blocks, float reach, int rows, int cols) {
    const int blockRows = blocks.rows, blockCols = blocks.cols;
    cv::Mat mirrored = blocks;
    if ((rows & 1) != 0) {
        mirrored.row(blockRows - 1) *= 2.0f;
        cv::Mat image;
        cv::flip(mirrored.rowRange(0, blockRows - 1), image, 0);
        cv::vconcat(mirrored, image, mirrored);
    }
    if ((cols & 1) != 0) {
        mirrored.col(blockCols - 1) *= 2.0f;
        cv::Mat image;
        cv::flip(mirrored.colRange(0, blockCols - 1), image, 1);
        cv::hconcat(mirrored, image, mirrored);
    }
    // n passes of a box of width w have the variance n (w^2 - 1) / 12.
    const double width = std::sqrt(12.0 * reach * reach / kBoxPasses + 1.0);
    const int halfWidth = std::max(1, static_cast<int>(std::lround((width - 1.0) / 2.0)));
    const cv::Size box(2 * halfWidth + 1, 2 * halfWidth + 1);
    for (int pass = 0; pass < kBoxPasses; ++pass) {
        cv::blur(mirrored, mirrored, box, cv::Point(-1, -1), cv::BORDER_REFLECT);
    }
    if (mirrored.data != blocks.data) {
        mirrored(cv::Rect(0, 0, blockCols, blockRows)).copyTo(blocks);
    }
}

}  // namespace

cv::Mat suppressFireflies(const cv::Mat& light, float spread, float floor, float reach) {
    const PlanarLight planar =
        planarLight(separateFireflies(light, luminance(light), spread, floor, reach));
    return interleavedScaled(planar.image, cv::Vec3f(1.0f, 1.0f, 1.0f));
}

SeparatedFireflies separateFireflies(const cv::Mat& light, const cv::Mat& brightness, float spread,
                                     float floor, float reach) {
    CV_Assert(light.type() == CV_32FC3 && brightness.type() == CV_32F &&
              brightness.size() == light.size());
    SeparatedFireflies parts;
    parts.kept = newTexture(light.size(), 3);
    // The spreading runs on 2 x 2 blocks: a quarter of the work, and the
    // filter that follows smooths the blocks' steps away.
    cv::Mat taken((light.rows + 1) / 2, (light.cols + 1) / 2, CV_32FC3);
    const auto deviations = kMadToDeviation * spread;
    if (lowerOutliers(light, brightness, deviations, floor, parts.kept, taken)) {
        spreadAround(taken, reach / 2, light.rows, light.cols);
        parts.spread = taken;
    }
    return parts;
}

}  // namespace filtering
