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
    for (int layer = 0; layer < LayerCount; ++layer) {
        const std::string path = paths.layer(static_cast<Layer>(layer));
        cv::Size size;
        if (layer == TexCoord) {
            // Not used: checked, not read.
            size = readLayerSize(path, size) ? size : cv::Size();
        } else {
            frame.layers[layer] = read_float4(path);
            size = frame.layers[layer].size();
        }
        if (!checkLayer(path, size, frame.layers[0].size())) {
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
