#include "frame_io/exr_output.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfOutputFile.h>
#include <half.h>

#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "frame_io/exr_library.h"
#include "frame_io/output_file.h"

namespace filtering {

namespace {

constexpr const char* kOutputChannels[] = {"R", "G", "B", "A"};

bool isOutputChannel(const std::string& name) {
    for (const char* channel : kOutputChannels) {
        if (name == channel) return true;
    }
    return false;
}

Imf::Header outputHeader(const cv::Mat& image, const Imf::Header* source) {
    if (source == nullptr) {
        Imf::Header header(image.cols, image.rows);
        header.compression() = Imf::ZIP_COMPRESSION;
        return header;
    }
    // Every attribute but those of the storage, which the output settles
    // itself: written as scanlines whatever the source was. (Built up rather
    // than erased from a copy, which this library's erase would leak.)
    Imf::Header header(source->displayWindow(), source->dataWindow());
    for (auto it = source->begin(); it != source->end(); ++it) {
        const std::string_view name = it.name();
        if (name != "channels" && name != "tiles" && name != "type" && name != "chunkCount") {
            header.insert(it.name(), it.attribute());
        }
    }
    if (header.lineOrder() == Imf::RANDOM_Y) header.lineOrder() = Imf::INCREASING_Y;
    return header;
}

// Storage for the pixels of one output channel that is not a view of the image.
struct ChannelStore {
    std::vector<char> bytes;
};

size_t sampleBytes(Imf::PixelType type) {
    return type == Imf::HALF ? sizeof(half) : sizeof(float);
}

// Copies the source's other channels into `stores`, read as they are stored.
void addKeptPasses(const std::string& sourcePath, Imf::Header& header, Imf::FrameBuffer& buffer,
                   std::vector<ChannelStore>& stores) {
    Imf::MultiPartInputFile file(sourcePath.c_str());
    Imf::InputPart part(file, 0);
    const Imath::Box2i& window = part.header().dataWindow();
    const long long width = window.max.x - window.min.x + 1;
    const long long height = window.max.y - window.min.y + 1;
    Imf::FrameBuffer reading;
    const Imf::ChannelList& channels = part.header().channels();
    for (auto it = channels.begin(); it != channels.end(); ++it) {
        if (isOutputChannel(it.name())) continue;
        const Imf::Channel& channel = it.channel();
        const size_t bytes = sampleBytes(channel.type);
        const size_t columns = static_cast<size_t>(width / channel.xSampling);
        const size_t rows = static_cast<size_t>(height / channel.ySampling);
        stores.push_back({std::vector<char>(columns * rows * bytes)});
        const Imf::Slice slice =
            Imf::Slice::Make(channel.type, stores.back().bytes.data(), window, bytes,
                             columns * bytes, channel.xSampling, channel.ySampling);
        reading.insert(it.name(), slice);
        buffer.insert(it.name(), slice);
        header.channels().insert(it.name(), channel);
    }
    part.setFrameBuffer(reading);
    part.readPixels(window.min.y, window.max.y);
}

void writeImage(const std::string& target, const cv::Mat& image, const cv::Mat& alpha,
                const Imf::Header* source, const std::string& sourcePath,
                const ExrWriteOptions& options) {
    Imf::Header header = outputHeader(image, source);
    const Imath::Box2i window = header.dataWindow();
    if (window.max.x - window.min.x + 1 != image.cols ||
        window.max.y - window.min.y + 1 != image.rows) {
        throw std::invalid_argument("the image does not cover the header's data window");
    }
    const Imf::PixelType type = options.half ? Imf::HALF : Imf::FLOAT;
    const size_t pixels = image.total();
    // Planes of R, G, B, A in the stored type.
    std::vector<ChannelStore> stores(4);
    for (int c = 0; c < 4; ++c) {
        ChannelStore& store = stores[static_cast<size_t>(c)];
        store.bytes.resize(pixels * sampleBytes(type));
        for (int row = 0; row < image.rows; ++row) {
            const float* from = image.ptr<float>(row);
            const float* alphaRow = alpha.empty() ? nullptr : alpha.ptr<float>(row);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(image.cols);
            for (int x = 0; x < image.cols; ++x) {
                const float value =
                    c < 3 ? from[3 * x + 2 - c] : (alphaRow != nullptr ? alphaRow[x] : 1.0f);
                if (options.half) {
                    reinterpret_cast<half*>(store.bytes.data())[at + static_cast<size_t>(x)] =
                        value;
                } else {
                    reinterpret_cast<float*>(store.bytes.data())[at + static_cast<size_t>(x)] =
                        value;
                }
            }
        }
    }
    Imf::FrameBuffer buffer;
    const size_t bytes = sampleBytes(type);
    for (int c = 0; c < 4; ++c) {
        header.channels().insert(kOutputChannels[c], Imf::Channel(type));
        buffer.insert(kOutputChannels[c],
                      Imf::Slice::Make(type, stores[static_cast<size_t>(c)].bytes.data(), window,
                                       bytes, static_cast<size_t>(image.cols) * bytes));
    }
    if (options.keepPasses && source != nullptr) {
        addKeptPasses(sourcePath, header, buffer, stores);
    }
    Imf::OutputFile file(target.c_str(), header);
    file.setFrameBuffer(buffer);
    file.writePixels(image.rows);
}

}  // namespace

bool writeExrImage(const std::string& path, const cv::Mat& image, const cv::Mat& alpha,
                   const Imf::Header* source, const std::string& sourcePath,
                   const ExrWriteOptions& options) {
    CV_Assert(image.type() == CV_32FC3 && (alpha.empty() || alpha.size() == image.size()));
    useExrThreads();
    ReplacingFile file(path);
    if (!file.isOpen()) {
        std::cerr << "filtering: can't open file " << path << std::endl;
        return false;
    }
    try {
        writeImage(file.temporaryPath(), image, alpha, source, sourcePath, options);
    } catch (const std::exception& failure) {
        std::cerr << "filtering: can't write file " << path << ": " << failure.what() << std::endl;
        return false;
    }
    std::string error;
    if (!file.commit(error)) {
        std::cerr << "filtering: can't write file " << path << ": " << error << std::endl;
        return false;
    }
    return true;
}

bool namesExrFile(const std::string& path) {
    constexpr std::string_view ending = ".exr";
    return path.size() >= ending.size() &&
           std::equal(ending.rbegin(), ending.rend(), path.rbegin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

}  // namespace filtering
