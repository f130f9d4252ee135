// Quality on frames of any renderer: for each pair of a noisy multilayer
// OpenEXR frame and its converged reference, the PSNR (on tone-mapped
// values, as imagef4_tool measures it) of the noisy beauty, of `filtering`
// at the file's sigmas, of `filtering --quality`, and of the plain peer:
// OpenCV's dtFilter (DTF_RF, 4 iterations) of the secondary or of all the
// diffuse light, guided by the texture colour, at its best sigmas.
//
//     real_frame_quality NOISY.exr REFERENCE.exr [NOISY.exr REFERENCE.exr ...]
#include <cstdio>
#include <filesystem>
#include <string>

#include "default_mode/pipeline.h"
#include "frame_conversion.h"
#include "image_stats.h"
#include "plain_filter_peer.h"
#include "quality_mode/quality_pipeline.h"

namespace {

double meanOfChannels(const cv::Mat& image) {
    const cv::Scalar mean = cv::mean(image);
    return mean[0] + mean[1] + mean[2];
}

bool printRow(const std::string& noisyPath, const std::string& referencePath) {
    const std::optional<filtering::ExrFrame> loaded =
        filtering::loadExrFrame(noisyPath, filtering::ExrReadOptions());
    const cv::Mat noisy = imagef4::readExrBeauty(noisyPath);
    const cv::Mat reference = imagef4::readExrBeauty(referencePath);
    if (!loaded || noisy.empty() || reference.empty() || noisy.size() != reference.size()) {
        std::fprintf(stderr, "real_frame_quality: cannot compare %s with %s\n", noisyPath.c_str(),
                     referencePath.c_str());
        return false;
    }
    const filtering::Frame& frame = loaded->frame;
    const cv::Mat quality = filtering::denoiseForQuality(frame).image;
    const double qualityPsnr = imagef4::psnr(quality, reference);
    std::printf("| %s | %.2f | %.2f | %.2f | ", std::filesystem::path(noisyPath).filename().c_str(),
                imagef4::psnr(noisy, reference),
                imagef4::psnr(filtering::denoise(frame).image, reference), qualityPsnr);
#ifdef QUENDEL_HAVE_XIMGPROC
    const bench::PeerScore peer = bench::bestPlainFilter(frame, reference, 4, true);
    std::printf("%.2f (%s, sigmaColor %g, sigmaSpatial %g) | %+.2f | ", peer.psnr,
                peer.allDiffuse ? "all diffuse" : "secondary", static_cast<double>(peer.range),
                static_cast<double>(peer.spatial), qualityPsnr - peer.psnr);
#else
    std::printf("(no ximgproc) | | ");
#endif
    std::printf("%.4f |\n", meanOfChannels(quality) / meanOfChannels(noisy));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: real_frame_quality NOISY.exr REFERENCE.exr [...]\n");
        return 2;
    }
    std::printf(
        "| frame | noisy | filtering | --quality | dtFilter, best | --quality - dtFilter | "
        "--quality mean / noisy mean |\n|---|---|---|---|---|---|---|\n");
    bool allCompared = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        allCompared = printRow(argv[i], argv[i + 1]) && allCompared;
    }
    return allCompared ? 0 : 1;
}
