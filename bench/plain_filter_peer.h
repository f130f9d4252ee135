#pragma once

// The plain peer of the quality tables: OpenCV's recursive domain-transform
// filter of the diffuse light, guided by the texture colour, at the best
// sigmas of a grid with the reference in hand.
#ifdef QUENDEL_HAVE_XIMGPROC
#include <opencv2/ximgproc/edge_filter.hpp>

#include "default_mode/pipeline.h"
#include "image_stats.h"

namespace bench {

struct PeerScore {
    double psnr = -1;
    float spatial = 0, range = 0;
    bool allDiffuse = false;  // the filter took primary + secondary, not the secondary alone
};

/// The best PSNR of the frame recombined with dtFilter (DTF_RF, `iterations`)
/// of its secondary light alone and, when `tryAllDiffuse`, of all its
/// diffuse light.
inline PeerScore bestPlainFilter(const filtering::Frame& frame, const cv::Mat& reference,
                                 int iterations, bool tryAllDiffuse) {
    using filtering::Primary, filtering::Secondary, filtering::TexColor, filtering::Rest;
    PeerScore best;
    const cv::Mat zero = cv::Mat::zeros(frame[Primary].size(), frame[Primary].type());
    const cv::Mat allDiffuse = frame[Primary] + frame[Secondary];
    cv::Mat filtered;
    for (bool all : {false, true}) {
        if (all && !tryAllDiffuse) {
            continue;
        }
        for (float spatial : {2.5f, 5.0f, 10.0f, 20.0f, 40.0f}) {
            for (float range : {0.05f, 0.1f, 0.2f, 0.5f, 1.0f, 2.0f}) {
                cv::ximgproc::dtFilter(frame[TexColor], all ? allDiffuse : frame[Secondary],
                                       filtered, spatial, range, cv::ximgproc::DTF_RF, iterations);
                const cv::Mat image = filtering::recombine(all ? zero : frame[Primary], filtered,
                                                           frame[TexColor], frame[Rest]);
                const double psnr = imagef4::psnr(image, reference);
                if (psnr > best.psnr) {
                    best = {psnr, spatial, range, all};
                }
            }
        }
    }
    return best;
}

}  // namespace bench
#endif
