#include "frame.h"

#include <iostream>

#include "frame_samples.h"

namespace filtering {

namespace {

bool checkLayer(const std::string& path, const cv::Mat& layer, const cv::Mat& first) {
    if (layer.empty()) {
        std::cerr << "filtering: layer " << path << " is empty or unreadable" << std::endl;
        return false;
    }
    if (!first.empty() && layer.size() != first.size()) {
        std::cerr << "filtering: layer " << path << " is " << layer.cols << " x " << layer.rows
                  << ", the other layers are " << first.cols << " x " << first.rows << std::endl;
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
        frame.layers[layer] = read_float4(path);
        if (!checkLayer(path, frame.layers[layer], frame.layers[0])) {
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
