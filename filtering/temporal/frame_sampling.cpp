#include "temporal/frame_sampling.h"

namespace filtering {

bool hasAntiAliasedFeatures(const Frame& frame) {
    const cv::Mat& normals = frame[Normals];
    if (normals.empty()) return false;
    int mixed = 0;
    for (int y = 0; y < normals.rows; ++y) {
        const cv::Vec3f* row = normals.ptr<cv::Vec3f>(y);
        for (int x = 0; x < normals.cols; ++x) {
            const float length = row[x].dot(row[x]);
            mixed += length > kLeastSurfaceNormal && length < 0.98f ? 1 : 0;
        }
    }
    // Edges are lines: their pixels grow with the frame's side, not its area.
    return 4 * mixed >= normals.cols + normals.rows;
}

}  // namespace filtering
