// Quality on synthetic frames: a sample scene's exact geometry and texture
// colour (paths through pixel centres), smooth analytic light (a noise-free
// primary from one direction, a secondary that varies slowly over space),
// and the secondary multiplied by lognormal noise of mean 1, heavy-tailed as
// path tracing's, averaged over a few samples. The light has no edges of
// its own, so a plain filter guided by the texture colour does well here.
// PSNR against the noise-free frame of the noisy frame, of OpenCV's dtFilter
// at its best sigmas, and of `filtering --quality` with and without
// widening the filter for light without edges.
//
//     synthetic_quality [--scene room|yard|gallery] [--width N] [--seed S]
//                       [--noise SIGMA,SAMPLES]
//
// Without --noise, three levels: 0.9,1 1.3,2 1.8,4.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "frame_renderer.h"
#include "image_stats.h"
#include "plain_filter_peer.h"
#include "quality_mode/quality_pipeline.h"
#include "scene_catalog.h"
#include "working_frame.h"

namespace {

struct Options {
    std::string scene = "room";
    int width = 256;
    uint64_t seed = 3;
    std::vector<std::pair<float, int>> noise;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: synthetic_quality [--scene room|yard|gallery] [--width N] [--seed S] "
                 "[--noise SIGMA,SAMPLES]\n");
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--scene" && sample_frame::sceneNamed(argv[i + 1])) {
            options.scene = argv[i + 1];
        } else if (option == "--width") {
            options.width = std::atoi(argv[i + 1]);
        } else if (option == "--seed") {
            options.seed = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--noise") {
            float sigma = 0.0f;
            int samples = 0;
            if (std::sscanf(argv[i + 1], "%f,%d", &sigma, &samples) != 2 || !(sigma > 0.0f) ||
                samples < 1) {
                usage();
            }
            options.noise.emplace_back(sigma, samples);
        } else {
            usage();
        }
    }
    if (argc % 2 == 0 || options.width < 16) usage();
    if (options.noise.empty()) options.noise = {{0.9f, 1}, {1.3f, 2}, {1.8f, 4}};
    return options;
}

struct SyntheticFrame {
    filtering::Frame frame;
    cv::Mat clean;
};

// Light over the scene's exact surfaces: a primary from one direction by
// the cosine law, and a secondary varying slowly with position and facing.
SyntheticFrame synthesize(const filtering::Frame& geometry, float noiseSigma, int samples,
                          uint64_t seed) {
    SyntheticFrame made{geometry, cv::Mat()};
    filtering::Frame& frame = made.frame;
    for (cv::Mat& layer : frame.layers) layer = layer.clone();
    cv::Mat cleanSecondary(frame[filtering::Primary].size(), CV_32FC3);
    cv::RNG random(seed);
    const cv::Vec3f toLight(0.3f, 0.8f, 0.5f);
    for (int y = 0; y < cleanSecondary.rows; ++y) {
        for (int x = 0; x < cleanSecondary.cols; ++x) {
            const cv::Vec3f& n = frame[filtering::Normals].at<cv::Vec3f>(y, x);
            const cv::Vec3f& p = frame[filtering::Positions].at<cv::Vec3f>(y, x);
            const float facing = std::max(0.0f, n.dot(toLight));
            frame[filtering::Primary].at<cv::Vec3f>(y, x) =
                cv::Vec3f(0.4f, 0.35f, 0.3f) * facing + cv::Vec3f::all(0.05f);
            const float level = std::max(
                0.02f, 0.25f + 0.12f * std::sin(0.7f * p[0] + 0.3f * p[2]) * std::cos(0.5f * p[1]) +
                           0.05f * n[1]);
            const cv::Vec3f secondary = cv::Vec3f(0.9f, 1.0f, 1.1f) * level;
            float factor = 0.0f;
            for (int s = 0; s < samples; ++s) {
                factor += std::exp(static_cast<float>(random.gaussian(noiseSigma)) -
                                   0.5f * noiseSigma * noiseSigma);
            }
            cleanSecondary.at<cv::Vec3f>(y, x) = secondary;
            frame[filtering::Secondary].at<cv::Vec3f>(y, x) =
                secondary * (factor / static_cast<float>(samples));
        }
    }
    frame[filtering::Rest].setTo(cv::Scalar::all(0));
    made.clean = frame[filtering::TexColor].mul(frame[filtering::Primary] + cleanSecondary);
    return made;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const sample_frame::Scene scene = *sample_frame::sceneNamed(options.scene);
    const int height = options.width * 3 / 4;
    const sample_frame::FrameLayers layers =
        sample_frame::renderLayers(scene, {options.width, height, 1, options.seed, 0, false});
    const filtering::Frame geometry = sample_frame::toFrame(layers, scene.camera.position,
                                                            filtering::FilterSettings{0.25f, 6.0f});
    std::printf(
        "%s, %d x %d, synthetic light; PSNR in dB\n\n"
        "| lognormal sigma, samples | noisy | dtFilter, best | --quality | without widening | "
        "--quality - dtFilter |\n|---|---:|---:|---:|---:|---:|\n",
        options.scene.c_str(), options.width, height);
    for (const auto& [sigma, samples] : options.noise) {
        const SyntheticFrame made = synthesize(geometry, sigma, samples, options.seed);
        const filtering::Frame& frame = made.frame;
        const cv::Mat noisy =
            filtering::recombine(frame[filtering::Primary], frame[filtering::Secondary],
                                 frame[filtering::TexColor], frame[filtering::Rest]);
        filtering::QualityParameters fixed;
        fixed.widenSmoothLight = false;
        const double quality = imagef4::psnr(filtering::denoiseForQuality(frame).image, made.clean);
        const double unwidened =
            imagef4::psnr(filtering::denoiseForQuality(frame, fixed).image, made.clean);
        std::printf("| %.1f, %d | %.2f | ", static_cast<double>(sigma), samples,
                    imagef4::psnr(noisy, made.clean));
#ifdef QUENDEL_HAVE_XIMGPROC
        const bench::PeerScore peer = bench::bestPlainFilter(frame, made.clean, 3, false);
        std::printf("%.2f (sigmaColor %g, sigmaSpatial %g) | %.2f | %.2f | %+.2f |\n", peer.psnr,
                    static_cast<double>(peer.range), static_cast<double>(peer.spatial), quality,
                    unwidened, quality - peer.psnr);
#else
        std::printf("(no ximgproc) | %.2f | %.2f | |\n", quality, unwidened);
#endif
        std::fflush(stdout);
    }
    return 0;
}
