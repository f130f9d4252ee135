#include "frame_files.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "working_frame.h"

namespace sample_frame {

bool writeImage(const std::string& path, const Image& image, int width, int height) {
    return filtering::save_float4(path, toWorkingImage(image, width, height));
}

std::string noisyFramePath(const std::string& root) {
    return filtering::FramePaths(root).root + "filter/noisy.imagef4";
}

std::string referenceFramePath(const std::string& root) {
    return filtering::FramePaths(root).root + "filter/reference.imagef4";
}

std::string shotFrameRoot(const std::string& root, int frame) {
    char folder[16];
    std::snprintf(folder, sizeof folder, "f%04d", frame);
    return filtering::FramePaths(root).root + folder;
}

bool writeFrame(const std::string& root, const FrameLayers& layers, const Vector3& camera,
                const filtering::FilterSettings& settings) {
    using filtering::Layer;
    const filtering::FramePaths paths(root);
    std::error_code error;
    std::filesystem::create_directories(paths.inputFolder(), error);
    if (error) {
        std::cerr << "sample_frame: can't make " << paths.inputFolder() << ": " << error.message()
                  << std::endl;
        return false;
    }
    const filtering::Frame frame = toFrame(layers, camera, {});
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        if (!filtering::save_float4(paths.layer(static_cast<Layer>(layer)), frame.layers[layer])) {
            return false;
        }
    }
    return filtering::writeCamera(paths.camera(), {camera.x, camera.y, camera.z}) &&
           filtering::writeSettings(paths.settings(), settings) &&
           writeImage(noisyFramePath(root), layers.combined(), layers.width, layers.height);
}

}  // namespace sample_frame
