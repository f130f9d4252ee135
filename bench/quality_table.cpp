// Quality of the filtering program on sample frames of a test scene (the
// room unless asked otherwise) at 1, 4 and 16 paths per pixel, through the
// pixel centres or jittered over the pixels: PSNR against a converged
// reference of the noisy frame, of our result, and of the same recombination
// with OpenCV's recursive domain-transform filter of the secondary light
// guided by the texture colour. Both filters are shown at the best sigmas of
// a grid; the quality mode (`filtering --quality`) chooses its own strength.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "default_mode/pipeline.h"
#include "frame_files.h"
#include "frame_renderer.h"
#include "image_stats.h"
#include "plain_filter_peer.h"
#include "quality_mode/quality_pipeline.h"
#include "scene_catalog.h"
#include "working_frame.h"

namespace {

struct Options {
    int size = 256;
    int referenceSamples = 1024;
    uint64_t seed = 1;
    std::string scene = "room";
    bool jitter = false;
    filtering::FilterSettings defaults = sample_frame::kSampleSettings;
};

struct Scored {
    double psnr = -1;
    float spatial = 0, range = 0;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: quality_table [--size N] [--reference-spp N] [--seed S] [--scene %s] "
                 "[--jitter]\n",
                 sample_frame::kSceneNames);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--jitter") {
            options.jitter = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage();
        }
        const char* value = argv[++i];
        if (option == "--size") {
            options.size = std::atoi(value);
        } else if (option == "--reference-spp") {
            options.referenceSamples = std::atoi(value);
        } else if (option == "--seed") {
            options.seed = std::strtoull(value, nullptr, 10);
        } else if (option == "--scene" && sample_frame::sceneNamed(value)) {
            options.scene = value;
        } else {
            usage();
        }
    }
    return options;
}

double meanOfChannels(const cv::Mat& image) {
    const cv::Scalar mean = cv::mean(image);
    return mean[0] + mean[1] + mean[2];
}

double ourPsnr(filtering::Frame frame, filtering::FilterSettings settings,
               const cv::Mat& reference) {
    frame.settings = settings;
    return imagef4::psnr(filtering::denoise(frame).image, reference);
}

Scored bestOfOurs(const filtering::Frame& frame, const cv::Mat& reference) {
    Scored best;
    for (float spatial : {2.5f, 5.0f, 10.0f}) {
        for (float range : {0.25f, 0.5f, 1.0f, 2.0f, 4.0f, 10.0f}) {
            const double psnr = ourPsnr(frame, {range, spatial}, reference);
            if (psnr > best.psnr) {
                best = {psnr, spatial, range};
            }
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const sample_frame::Scene scene = *sample_frame::sceneNamed(options.scene);
    const sample_frame::RenderRequest referenceRequest{
        options.size, options.size, options.referenceSamples, options.seed, 0, options.jitter};
    const cv::Mat reference = sample_frame::toWorkingImage(
        sample_frame::renderReference(scene, referenceRequest), options.size, options.size);
    std::printf(
        "%s, %s: %d x %d frames, reference %d paths per pixel; PSNR in dB on tone-mapped "
        "values\n\n",
        options.scene.c_str(), options.jitter ? "jittered paths" : "paths through pixel centres",
        options.size, options.size, options.referenceSamples);
    std::printf(
        "| paths per pixel | noisy | ours (sigmaR %g, sigmaS %g) | ours, best sigmas | "
        "dtFilter DTF_RF, best sigmas | ours --quality | --quality mean / noisy mean |\n"
        "|---|---|---|---|---|---|---|\n",
        static_cast<double>(options.defaults.rangeSigma),
        static_cast<double>(options.defaults.spatialSigma));
    for (int samples : {1, 4, 16}) {
        const sample_frame::FrameLayers layers = sample_frame::renderLayers(
            scene, {options.size, options.size, samples, options.seed + 1, 0, options.jitter});
        const filtering::Frame frame =
            sample_frame::toFrame(layers, scene.camera.position, options.defaults);
        const cv::Mat noisy =
            sample_frame::toWorkingImage(layers.combined(), layers.width, layers.height);
        const Scored ours = bestOfOurs(frame, reference);
        std::printf("| %d | %.2f | %.2f | %.2f (sigmaR %g, sigmaS %g) | ", samples,
                    imagef4::psnr(noisy, reference), ourPsnr(frame, options.defaults, reference),
                    ours.psnr, static_cast<double>(ours.range), static_cast<double>(ours.spatial));
#ifdef QUENDEL_HAVE_XIMGPROC
        const bench::PeerScore peer = bench::bestPlainFilter(frame, reference, 3, false);
        std::printf("%.2f (sigmaColor %g, sigmaSpatial %g) | ", peer.psnr,
                    static_cast<double>(peer.range), static_cast<double>(peer.spatial));
#else
        std::printf("(no ximgproc) | ");
#endif
        const cv::Mat quality = filtering::denoiseForQuality(frame).image;
        std::printf("%.2f | %.4f |\n", imagef4::psnr(quality, reference),
                    meanOfChannels(quality) / meanOfChannels(noisy));
        std::fflush(stdout);
    }
    return 0;
}
