// Looks at `.imagef4` files: summaries, PNG and OpenEXR copies, PSNR, a shot's flicker.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "frame_conversion.h"
#include "frame_io/exr_output.h"
#include "frame_io/layer_files.h"
#include "frame_io/preview.h"
#include "image_export.h"
#include "image_stats.h"
#include "program/frame_pattern.h"

namespace {

const char* const kUsage =
    "usage: imagef4_tool summary FILE...            one line per file: size, channel ranges, NaNs\n"
    "       imagef4_tool png FILE OUT.png [EXPOSURE] tone-mapped (exposure, clamp, sRGB) 8-bit "
    "PNG\n"
    "       imagef4_tool exr FILE OUT.exr            linear OpenEXR\n"
    "       imagef4_tool psnr FILE REFERENCE [EXPOSURE]  PSNR in dB on tone-mapped values\n"
    "       imagef4_tool side-by-side OUT.png FILE...    tone-mapped images left to right\n"
    "       imagef4_tool flicker PATTERN REFERENCE_PATTERN FIRST LAST\n"
    "                                 RMS of frame-to-frame change less the reference's, on\n"
    "                                 tone-mapped values, and the mean PSNR; a run of # in each\n"
    "                                 pattern is the frame number "
    "(shot/f####/filter/output.imagef4)\n"
    "       imagef4_tool layers-to-exr ROOT FRAME.exr    a frame's seven layers as one multilayer "
    "EXR\n"
    "       imagef4_tool exr-to-layers FRAME.exr ROOT [--camera X,Y,Z]\n"
    "                                                    a multilayer EXR frame as seven layers\n"
    "Each FILE may be an .imagef4 file or an OpenEXR file (its R G B or Combined pass).\n";

bool load(const std::string& path, cv::Mat& image) {
    image =
        filtering::namesExrFile(path) ? imagef4::readExrBeauty(path) : filtering::read_float4(path);
    if (image.empty()) {
        std::cerr << "imagef4_tool: " << path << " holds no image" << std::endl;
        return false;
    }
    return true;
}

float exposureArgument(const std::vector<std::string>& arguments, size_t index) {
    return arguments.size() > index ? std::stof(arguments[index]) : 1.0f;
}

// Frames FIRST to LAST of a shot against its reference shot, one frame at a time.
int flicker(const std::vector<std::string>& arguments) {
    const std::string& pattern = arguments[1];
    const std::string& referencePattern = arguments[2];
    const int first = std::stoi(arguments[3]), last = std::stoi(arguments[4]);
    if (filtering::hashRuns(pattern) != 1 || filtering::hashRuns(referencePattern) != 1 ||
        last <= first) {
        std::cerr << "imagef4_tool: flicker needs one run of # in each pattern and LAST > FIRST\n";
        return 2;
    }
    imagef4::ShotComparison comparison;
    cv::Mat frame, reference;
    cv::Size previousSize;
    for (int number = first; number <= last; ++number) {
        const std::string path = filtering::frameName(pattern, number);
        const std::string referencePath = filtering::frameName(referencePattern, number);
        if (!load(path, frame) || !load(referencePath, reference)) {
            return 1;
        }
        if (frame.size() != reference.size() ||
            (comparison.frames() > 0 && frame.size() != previousSize)) {
            std::cerr << "imagef4_tool: " << path << " differs in size from " << referencePath
                      << " or the frame before" << std::endl;
            return 1;
        }
        previousSize = frame.size();
        comparison.add(frame, reference);
    }
    std::printf("flicker %.6f over %d frame pairs\nmean PSNR %.2f dB over %d frames\n",
                comparison.flicker(), comparison.frames() - 1, comparison.meanPsnr(),
                comparison.frames());
    return 0;
}

int run(const std::vector<std::string>& arguments) {
    const std::string& command = arguments[0];
    cv::Mat image, other;
    if (command == "summary" && arguments.size() >= 2) {
        int status = 0;
        for (size_t i = 1; i < arguments.size(); ++i) {
            if (!load(arguments[i], image)) {
                status = 1;
                continue;
            }
            // Working images hold blue first; list the channels as the file does.
            cv::cvtColor(image, image, cv::COLOR_BGR2RGB);
            std::cout << arguments[i] << ": " << imagef4::describe(imagef4::summarize(image))
                      << "\n";
        }
        return status;
    }
    if (command == "png" && (arguments.size() == 3 || arguments.size() == 4)) {
        return load(arguments[1], image) &&
                       filtering::writePreview(arguments[2], image, exposureArgument(arguments, 3))
                   ? 0
                   : 1;
    }
    if (command == "exr" && arguments.size() == 3) {
        return load(arguments[1], image) && imagef4::writeExr(arguments[2], image) ? 0 : 1;
    }
    if (command == "psnr" && (arguments.size() == 3 || arguments.size() == 4)) {
        if (!load(arguments[1], image) || !load(arguments[2], other)) {
            return 1;
        }
        if (image.size() != other.size()) {
            std::cerr << "imagef4_tool: " << arguments[1] << " and " << arguments[2]
                      << " differ in size" << std::endl;
            return 1;
        }
        std::printf("%.2f\n", imagef4::psnr(image, other, exposureArgument(arguments, 3)));
        return 0;
    }
    if (command == "flicker" && arguments.size() == 5) {
        return flicker(arguments);
    }
    if (command == "layers-to-exr" && arguments.size() == 3) {
        return imagef4::convertLayersToExr(arguments[1], arguments[2]) ? 0 : 1;
    }
    if (command == "exr-to-layers" && (arguments.size() == 3 || arguments.size() == 5)) {
        filtering::ExrReadOptions options;
        if (arguments.size() == 5) {
            filtering::CameraPosition camera;
            if (arguments[3] != "--camera" || std::sscanf(arguments[4].c_str(), "%f,%f,%f",
                                                          &camera.x, &camera.y, &camera.z) != 3) {
                std::cerr << kUsage;
                return 2;
            }
            options.camera = camera;
        }
        return imagef4::convertExrToLayers(arguments[1], arguments[2], options) ? 0 : 1;
    }
    if (command == "side-by-side" && arguments.size() >= 3) {
        std::vector<cv::Mat> images;
        for (size_t i = 2; i < arguments.size(); ++i) {
            if (!load(arguments[i], image)) {
                return 1;
            }
            images.push_back(image);
        }
        return imagef4::writeSideBySide(arguments[1], images) ? 0 : 1;
    }
    std::cerr << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    try {
        return run({argv + 1, argv + argc});
    } catch (const std::exception& error) {
        std::cerr << "imagef4_tool: " << error.what() << std::endl;
        return 2;
    }
}
