#pragma once

// OpenEXR frames written for the tests with the OpenEXR library itself.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfTiledOutputFile.h>
#include <half.h>

#include <functional>
#include <string>
#include <vector>

struct ExrChannel {
    std::string name;
    // The value at pixel (x, y) of the data window, counted from its corner.
    std::function<float(int x, int y)> value;
};

struct ExrFixture {
    int width = 8, height = 6;
    Imath::V2i dataOffset{0, 0};                   // the data window's corner
    Imath::Box2i displayWindow{{0, 0}, {-1, -1}};  // empty: the data window
    Imf::PixelType type = Imf::FLOAT;
    bool tiled = false;
    Imf::Compression compression = Imf::ZIP_COMPRESSION;
    std::vector<ExrChannel> channels;
    std::function<void(Imf::Header&)> decorate;

    Imath::Box2i dataWindow() const {
        return {dataOffset, dataOffset + Imath::V2i(width - 1, height - 1)};
    }

    void write(const std::string& path) const {
        const Imath::Box2i data = dataWindow();
        const Imath::Box2i display = displayWindow.isEmpty() ? data : displayWindow;
        Imf::Header header(display, data);
        header.compression() = compression;
        if (decorate) decorate(header);
        const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
        std::vector<std::vector<float>> floats(channels.size(), std::vector<float>(pixels));
        std::vector<std::vector<half>> halves(channels.size(), std::vector<half>(pixels));
        Imf::FrameBuffer buffer;
        const size_t bytes = type == Imf::HALF ? sizeof(half) : sizeof(float);
        for (size_t c = 0; c < channels.size(); ++c) {
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width) +
                                      static_cast<size_t>(x);
                    floats[c][at] = channels[c].value(x, y);
                    halves[c][at] = floats[c][at];
                }
            }
            header.channels().insert(channels[c].name, Imf::Channel(type));
            void* base = type == Imf::HALF ? static_cast<void*>(halves[c].data())
                                           : static_cast<void*>(floats[c].data());
            buffer.insert(channels[c].name,
                          Imf::Slice::Make(type, base, data, bytes, bytes * width));
        }
        if (tiled) {
            header.setTileDescription(Imf::TileDescription(4, 4, Imf::ONE_LEVEL));
            Imf::TiledOutputFile file(path.c_str(), header);
            file.setFrameBuffer(buffer);
            file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
        } else {
            Imf::OutputFile file(path.c_str(), header);
            file.setFrameBuffer(buffer);
            file.writePixels(height);
        }
    }
};

// A pass of three channels NAME.R, NAME.G, NAME.B (or X, Y, Z).
inline void addPass(ExrFixture& fixture, const std::string& name,
                    std::function<float(int x, int y, int component)> value,
                    const char* components = "RGB") {
    for (int k = 0; k < 3; ++k) {
        const std::string channel =
            name.empty() ? std::string(1, components[k]) : name + "." + components[k];
        fixture.channels.push_back({channel, [value, k](int x, int y) { return value(x, y, k); }});
    }
}
