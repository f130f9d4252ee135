#include "frame_conversion.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "default_mode/pipeline.h"
#include "frame_io/exr_library.h"
#include "frame_io/exr_pixels.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "frame_io/output_file.h"

using namespace filtering;

namespace imagef4 {

namespace {

struct NamedLayer {
    std::string_view pass;
    Layer layer;
    std::array<const char*, 3> components;
};

constexpr NamedLayer kNamedLayers[] = {
    {CommonPassNames::primary, Primary, {"R", "G", "B"}},
    {CommonPassNames::secondary, Secondary, {"R", "G", "B"}},
    {CommonPassNames::texColor, TexColor, {"R", "G", "B"}},
    {CommonPassNames::normals, Normals, {"X", "Y", "Z"}},
    {CommonPassNames::positions, Positions, {"X", "Y", "Z"}},
    {CommonPassNames::texCoord, TexCoord, {"R", "G", "B"}},
    {CommonPassNames::rest, Rest, {"R", "G", "B"}},
};

std::optional<std::string> readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "imagef4_tool: can't read " << path << std::endl;
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Component k of a working image (third component first) as a slice.
Imf::Slice componentSlice(const cv::Mat& image, int component) {
    const int channels = image.channels();
    return Imf::Slice(Imf::FLOAT,
                      const_cast<char*>(reinterpret_cast<const char*>(image.data)) +
                          (channels - 1 - component) * sizeof(float),
                      image.elemSize(), image.step[0]);
}

// The channels PREFIX + R, G, B into a working image (blue first).
void readRgb(const std::string& exrPath, const std::string& prefix, cv::Mat& image) {
    readExrChannels(
        exrPath, {{prefix + "R", &image, 2}, {prefix + "G", &image, 1}, {prefix + "B", &image, 0}});
}

cv::Mat texCoordsOf(const std::string& exrPath, cv::Size size) {
    cv::Mat texCoords(size, CV_32FC3, cv::Scalar::all(0.0));
    const std::string prefix = std::string(CommonPassNames::texCoord) + ".";
    if (Imf::InputFile(exrPath.c_str()).header().channels().findChannel(prefix + "R") != nullptr) {
        readRgb(exrPath, prefix, texCoords);
    }
    return texCoords;
}

// The channel names of a beauty pass in the file: bare, or the first Combined.
std::optional<std::string> beautyPrefix(const Imf::ChannelList& channels) {
    if (channels.findChannel("R") && channels.findChannel("G") && channels.findChannel("B")) {
        return "";
    }
    for (auto it = channels.begin(); it != channels.end(); ++it) {
        const std::string name = it.name();
        constexpr std::string_view combined = "Combined.R";
        if (name.size() >= combined.size() &&
            name.compare(name.size() - combined.size(), combined.size(), combined) == 0) {
            return name.substr(0, name.size() - 1);
        }
    }
    return std::nullopt;
}

}  // namespace

cv::Mat readExrBeauty(const std::string& exrPath) {
    try {
        Imf::InputFile file(exrPath.c_str());
        const auto prefix = beautyPrefix(file.header().channels());
        if (!prefix) {
            std::cerr << "imagef4_tool: " << exrPath << " has no R G B or Combined channels"
                      << std::endl;
            return cv::Mat();
        }
        const Imath::Box2i& window = file.header().dataWindow();
        cv::Mat image(window.max.y - window.min.y + 1, window.max.x - window.min.x + 1, CV_32FC3);
        readRgb(exrPath, *prefix, image);
        return image;
    } catch (const std::exception& failure) {
        std::cerr << "imagef4_tool: " << exrPath << ": " << failure.what() << std::endl;
        return cv::Mat();
    }
}

bool convertLayersToExr(const std::string& root, const std::string& exrPath,
                        Imf::Compression compression) {
    const FramePaths paths(root);
    Frame frame;
    for (int layer = 0; layer < LayerCount; ++layer) {
        frame.layers[layer] = read_float4(paths.layer(static_cast<Layer>(layer)));
        if (frame.layers[layer].empty() || frame.layers[layer].size() != frame.layers[0].size()) {
            std::cerr << "imagef4_tool: " << paths.layer(static_cast<Layer>(layer))
                      << " is unreadable or of another size" << std::endl;
            return false;
        }
    }
    const std::optional<std::string> settings = readText(paths.settings());
    if (!settings || !readCamera(paths.camera(), frame.camera)) {
        return false;
    }
    useExrThreads();
    const cv::Size size = frame[Primary].size();
    Imf::Header header(size.width, size.height);
    header.compression() = compression;
    Imath::M44f toCamera;
    toCamera.setTranslation(Imath::V3f(-frame.camera.x, -frame.camera.y, -frame.camera.z));
    Imf::addWorldToCamera(header, toCamera);
    header.insert(kSettingsAttribute, Imf::StringAttribute(*settings));
    // The noisy frame, as the renderer would have combined it.
    const cv::Mat beauty =
        recombine(frame[Primary], frame[Secondary], frame[TexColor], frame[Rest]);
    const cv::Mat alpha(size, CV_32F, cv::Scalar(1.0));
    Imf::FrameBuffer buffer;
    for (const NamedLayer& named : kNamedLayers) {
        for (int k = 0; k < 3; ++k) {
            const std::string channel = std::string(named.pass) + "." + named.components[k];
            header.channels().insert(channel, Imf::Channel(Imf::FLOAT));
            buffer.insert(channel, componentSlice(frame[named.layer], k));
        }
    }
    const char* beautyChannels[] = {"R", "G", "B", "A"};
    for (int k = 0; k < 4; ++k) {
        header.channels().insert(beautyChannels[k], Imf::Channel(Imf::FLOAT));
        buffer.insert(beautyChannels[k],
                      k < 3 ? componentSlice(beauty, k) : componentSlice(alpha, 0));
    }
    ReplacingFile file(exrPath);
    std::string error = "can't open it";
    bool written = file.isOpen();
    try {
        if (written) {
            Imf::OutputFile output(file.temporaryPath().c_str(), header);
            output.setFrameBuffer(buffer);
            output.writePixels(size.height);
        }
    } catch (const std::exception& failure) {
        error = failure.what();
        written = false;
    }
    if (!written || !file.commit(error)) {
        std::cerr << "imagef4_tool: can't write " << exrPath << ": " << error << std::endl;
        return false;
    }
    return true;
}

bool convertExrToLayers(const std::string& exrPath, const std::string& root,
                        const ExrReadOptions& options) {
    std::optional<ExrFrame> loaded = loadExrFrame(exrPath, options);
    if (!loaded) {
        return false;
    }
    Frame& frame = loaded->frame;
    try {
        frame[TexCoord] = texCoordsOf(exrPath, frame[Primary].size());
    } catch (const std::exception& failure) {
        std::cerr << "imagef4_tool: " << exrPath << ": " << failure.what() << std::endl;
        return false;
    }
    const FramePaths paths(root);
    std::error_code made;
    std::filesystem::create_directories(paths.inputFolder(), made);
    for (int layer = 0; layer < LayerCount; ++layer) {
        if (!save_float4(paths.layer(static_cast<Layer>(layer)), frame.layers[layer])) {
            return false;
        }
    }
    return writeCamera(paths.camera(), frame.camera) &&
           writeSettings(paths.settings(), frame.settings);
}

}  // namespace imagef4
