// Renders a sample frame of a test scene, or a shot of frames, into the
// files the filter reads.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "frame_files.h"
#include "frame_renderer.h"
#include "scene_catalog.h"
#include "scene_motion.h"
#include "terminal_progress.h"

using namespace sample_frame;

namespace {

struct Options {
    RenderRequest request;
    int referenceSamples = 0;
    filtering::FilterSettings settings = kSampleSettings;
    std::string root = "[TELVO]";
    std::string scene = "room";
    int frames = 1;
    Motion motion = Motion::Dolly;
};

const char* const kUsage =
    "usage: sample_frame [--size WxH] [--spp N] [--seed S] [--threads N]\n"
    "                    [--reference-spp N] [--range-sigma R] [--spatial-sigma S] [--root DIR]\n"
    "                    [--scene room|gallery|yard] [--frames N] [--motion dolly|static]\n"
    "                    [--jitter]\n"
    "Renders the test room (or the gallery, a hall lit mostly indirectly, or the yard, open\n"
    "under a sky and the sun) into DIR/filter/ as the renderer saves a frame for filtering:\n"
    "seven layers in input_bin/, camera.txt, settings.txt, and the combined frame noisy.imagef4.\n"
    "With --reference-spp N > 0 it also renders reference.imagef4 with N paths per pixel.\n"
    "With --jitter every path starts from its own random point of its pixel and every layer,\n"
    "the reference too, is the average over the pixel's paths; otherwise all go through its\n"
    "centre.\n"
    "With --frames N > 1 it renders a shot: frames 1 to N, each into DIR/f0001/ and on, the\n"
    "ball rolling and the camera moving (dolly) or still (static), each frame with its own "
    "noise.\n";

bool parseOption(const std::string& option, const std::string& value, Options& options) {
    if (option == "--size") {
        const auto x = value.find('x');
        options.request.width = std::stoi(value.substr(0, x));
        options.request.height =
            x == std::string::npos ? options.request.width : std::stoi(value.substr(x + 1));
    } else if (option == "--spp") {
        options.request.samplesPerPixel = std::stoi(value);
    } else if (option == "--seed") {
        options.request.seed = std::stoull(value);
    } else if (option == "--threads") {
        options.request.threads = std::stoi(value);
    } else if (option == "--reference-spp") {
        options.referenceSamples = std::stoi(value);
    } else if (option == "--range-sigma") {
        options.settings.rangeSigma = std::stof(value);
    } else if (option == "--spatial-sigma") {
        options.settings.spatialSigma = std::stof(value);
    } else if (option == "--root") {
        options.root = value;
    } else if (option == "--scene" && sceneNamed(value)) {
        options.scene = value;
    } else if (option == "--frames") {
        options.frames = std::stoi(value);
    } else if (option == "--motion" && parseMotion(value)) {
        options.motion = *parseMotion(value);
    } else {
        return false;
    }
    return true;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (option == "--jitter") {
            options.request.jitter = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "sample_frame: option " << option << " needs a value\n";
            return false;
        }
        const std::string value = argv[++i];
        try {
            if (!parseOption(option, value, options)) {
                std::cerr << "sample_frame: unknown option " << option << "\n" << kUsage;
                return false;
            }
        } catch (const std::exception&) {
            std::cerr << "sample_frame: bad value " << value << " for " << option << "\n";
            return false;
        }
    }
    const RenderRequest& request = options.request;
    if (request.width < 1 || request.height < 1 || request.samplesPerPixel < 1 ||
        options.referenceSamples < 0 || options.frames < 1) {
        std::cerr << "sample_frame: size, samples and frames must be positive\n";
        return false;
    }
    return true;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Renders one frame, and its reference when asked, under `root`.
bool renderFrame(const Scene& scene, const RenderRequest& request, const Options& options,
                 const std::string& root) {
    auto start = std::chrono::steady_clock::now();
    const FrameLayers layers = [&] {
        TerminalProgress progress("sample_frame: rendering the frame", request.height);
        return renderLayers(scene, request, 0, [&progress] { progress.rowDone(); });
    }();
    if (!writeFrame(root, layers, scene.camera.position, options.settings)) {
        return false;
    }
    std::printf("sample_frame: %d x %d, %d paths per pixel%s, %.2f s -> %s\n", request.width,
                request.height, request.samplesPerPixel, request.jitter ? ", jittered" : "",
                secondsSince(start), noisyFramePath(root).c_str());
    if (options.referenceSamples > 0) {
        RenderRequest referenceRequest = request;
        referenceRequest.samplesPerPixel = options.referenceSamples;
        start = std::chrono::steady_clock::now();
        const Image reference = [&] {
            TerminalProgress progress("sample_frame: rendering the reference", request.height);
            return renderReference(scene, referenceRequest, [&progress] { progress.rowDone(); });
        }();
        if (!writeImage(referenceFramePath(root), reference, request.width, request.height)) {
            return false;
        }
        std::printf("sample_frame: reference, %d paths per pixel, %.2f s -> %s\n",
                    options.referenceSamples, secondsSince(start),
                    referenceFramePath(root).c_str());
    }
    return true;
}

/// Frames 1 to N, each from its own place in the shot and its own seed.
bool renderShot(const Scene& still, const Options& options) {
    for (int frame = 1; frame <= options.frames; ++frame) {
        RenderRequest request = options.request;
        request.seed = frameSeed(options.request.seed, frame);
        if (!renderFrame(sceneAtFrame(still, frame, options.motion), request, options,
                         shotFrameRoot(options.root, frame))) {
            return false;
        }
        std::fflush(stdout);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        return 2;
    }
    const Scene scene = *sceneNamed(options.scene);
    const bool written = options.frames == 1
                             ? renderFrame(scene, options.request, options, options.root)
                             : renderShot(scene, options);
    return written ? 0 : 1;
}
