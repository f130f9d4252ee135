#include "frame_io/frame.h"

#include <iostream>

#include "frame_io/frame_samples.h"

namespace filtering {

namespace {

bool checkLayer(const std::string& path, cv::Size size, cv::Size first) {
    if (size.empty()) {
        std::cerr << "filtering: layer " << path << " is empty or unreadable" << std::endl;
        return false;
    }
    if (!first.empty() && size != first) {
        std::cerr << "filtering: layer " << path << " is " << size.width << " x " << size.height
                  << ", the other layers are " << first.width << " x " << first.height << std::endl;
        return false;
    }
    return true;
}

}  // namespace

std::optional<cv::Size> checkFrameFiles(const FramePaths& paths, Frame& frame) {
    if (!readCamera(paths.camera(), frame.camera)) {
        return std::nullopt;
    }
    // Every file is checked in order first, so that the first bad one is the
    // one reported.
    cv::Size first;
    for (int layer = 0; layer < LayerCount; ++layer) {
        const std::string path = paths.layer(static_cast<Layer>(layer));
        cv::Size size;
        if (!readLayerSize(path, size) || !checkLayer(path, size, first)) {
            return std::nullopt;
        }
        first = layer == 0 ? size : first;
    }
    return first;
}

bool completeFrame(const FramePaths& paths, const std::array<bool, LayerCount>& read,
                   Frame& frame) {
    for (int layer = 0; layer < LayerCount; ++layer) {
        // A file changed since it was checked.
        if (!read[layer]) {
            checkLayer(paths.layer(static_cast<Layer>(layer)), cv::Size(), cv::Size());
            return false;
        }
    }
    return readSettings(paths.settings(), frame.settings) &&
           repairNonFiniteSamples(frame, std::cerr);
}

std::optional<Frame> loadFrame(const FramePaths& paths) {
    Frame frame;
    const std::optional<cv::Size> size = checkFrameFiles(paths, frame);
    if (!size) {
        return std::nullopt;
    }
    // The pixels of all but the unused texture coordinates, side by side.
    cv::parallel_for_(cv::Range(0, LayerCount), [&](const cv::Range& layers) {
        for (int layer = layers.start; layer < layers.end; ++layer) {
            if (layer != TexCoord) {
                frame.layers[layer] = read_float4(paths.layer(static_cast<Layer>(layer)));
            }
        }
    });
    std::array<bool, LayerCount> read{};
    for (int layer = 0; layer < LayerCount; ++layer) {
        read[layer] = layer == TexCoord || frame.layers[layer].size() == *size;
    }
    if (!completeFrame(paths, read, frame)) {
        return std::nullopt;
    }
    return frame;
}

}  // namespace filtering
