#include "frame.h"

#include <iostream>

#include "frame_samples.h"

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

std::optional<Frame> loadFrame(const FramePaths& paths) {
    Frame frame;
    if (!readCamera(paths.camera(), frame.camera)) {
        return std::nullopt;
    }
    // Every file is checked in order first, so that the first bad one is the
    // one reported; then the pixels of all but the unused texture
    // coordinates are read side by side.
    cv::Size first;
    for (int layer = 0; layer < LayerCount; ++layer) {
        const std::string path = paths.layer(static_cast<Layer>(layer));
        cv::Size size;
        if (!readLayerSize(path, size) || !checkLayer(path, size, first)) {
            return std::nullopt;
        }
        first = layer == 0 ? size : first;
    }
    cv::parallel_for_(cv::Range(0, LayerCount), [&](const cv::Range& layers) {
        for (int layer = layers.start; layer < layers.end; ++layer) {
            if (layer != TexCoord) {
                frame.layers[layer] = read_float4(paths.layer(static_cast<Layer>(layer)));
            }
        }
    });
    for (int layer = 0; layer < LayerCount; ++layer) {
        // A file changed since it was checked.
        if (layer != TexCoord &&
            !checkLayer(paths.layer(static_cast<Layer>(layer)), frame.layers[layer].size(), first)) {
            return std::nullopt;
        }
    }
    if (!readSettings(paths.settings(), frame.settings)) {
        return std::nullopt;
    }
    if (!repairNonFiniteSamples(frame, std::cerr)) {
        return std::nullopt;
    }
    return frame;
}

}  // namespace filtering
