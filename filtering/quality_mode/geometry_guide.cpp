#include "quality_mode/geometry_guide.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quality_mode/light_planes.h"
#include "quality_mode/median.h"

namespace filtering {

SurfaceGeometry surfaceGeometry(const cv::Mat& normals, const cv::Mat& positions,
                                const CameraPosition& camera, const cv::Mat& surfaces) {
    SurfaceGeometry geometry;
    geometry.normals = normals;
    geometry.positions = positions;
    geometry.planeOffsets.create(positions.rows, positions.cols, CV_32F);
    // Every fourth pixel's distance is plenty for a median, which does not
    // depend on the order the rows' shares come in.
    constexpr int kStripes = 16;
    std::vector<std::vector<float>> stripeDistances(kStripes);
    const cv::Vec3f eye(camera.z, camera.y, camera.x);
    cv::parallel_for_(cv::Range(0, kStripes), [&](const cv::Range& stripes) {
        for (int stripe = stripes.start; stripe < stripes.end; ++stripe) {
            std::vector<float>& distances = stripeDistances[stripe];
            const int first = positions.rows * stripe / kStripes;
            const int last = positions.rows * (stripe + 1) / kStripes;
            distances.reserve(static_cast<size_t>(last - first) * positions.cols / 4 + 1);
            for (int row = first; row < last; ++row) {
                const auto* position = positions.ptr<cv::Vec3f>(row);
                const auto* normal = normals.ptr<cv::Vec3f>(row);
                const uchar* surface = surfaces.ptr<uchar>(row);
                float* offset = geometry.planeOffsets.ptr<float>(row);
                for (int column = 0; column < positions.cols; ++column) {
                    const cv::Vec3f relative = position[column] - eye;
                    offset[column] = normal[column].dot(relative);
                    if ((column & 3) == 0 && surface[column] != 0) {
                        distances.push_back(std::sqrt(relative.dot(relative)));
                    }
                }
            }
        }
    });
    std::vector<float> distances;
    for (const std::vector<float>& stripe : stripeDistances) {
        distances.insert(distances.end(), stripe.begin(), stripe.end());
    }
    const float median = medianInPlace(distances);
    if (median > 0.0f && std::isfinite(median)) {
        geometry.medianDistance = median;
    }
    return geometry;
}

void appendGuideChannels(quendel::CpuTexture& guide, const cv::Mat& image, float deviation) {
    CV_Assert(image.depth() == CV_32F);
    const int channels = image.channels();
    const float scale = 1.0f / deviation;
    std::vector<float*> planes;
    for (int c = 0; c < channels; ++c) {
        guide.appendPlane(newPlane(image.total()));
        planes.push_back(guide.getChannel(guide.getChannelsCount() - 1));
    }
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const float* values = image.ptr<float>(row);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(image.cols);
            for (int c = 0; c < channels; ++c) {
                float* out = planes[static_cast<size_t>(c)] + at;
                for (int column = 0; column < image.cols; ++column) {
                    out[column] = values[column * channels + c] * scale;
                }
            }
        }
    });
}

}  // namespace filtering
