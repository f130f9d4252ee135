#include "layer_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <opencv2/imgproc.hpp>

namespace filtering {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

cv::Mat rejectLayer(const std::string& path, const std::string& problem) {
    std::cerr << "read_float4: " << path << ": " << problem << std::endl;
    return cv::Mat();
}

int32_t littleEndianInt32(const unsigned char* bytes) {
    return static_cast<int32_t>(
        static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
        static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

void putLittleEndianInt32(unsigned char* bytes, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

long remainingBytes(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long end = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    return end - here;
}

}  // namespace

cv::Mat read_float4(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::cerr << "read_float4: can't open file " << path << std::endl;
        return cv::Mat();
    }
    unsigned char header[8];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) {
        return rejectLayer(path, "file shorter than its 8-byte header");
    }
    const int32_t width = littleEndianInt32(header);
    const int32_t height = littleEndianInt32(header + 4);
    if (width < 0 || height < 0) {
        return rejectLayer(path, "negative size " + std::to_string(width) + " x " +
                                     std::to_string(height) + " in header");
    }
    if ((width == 0) != (height == 0)) {
        return rejectLayer(path, "size " + std::to_string(width) + " x " + std::to_string(height) +
                                     " has one side zero");
    }
    if (width == 0) {
        return cv::Mat();
    }
    // Compared by pixel count: width x height x 16 bytes can overflow 64 bits.
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const long available = remainingBytes(file.get());
    if (available < 0 || static_cast<uint64_t>(available) / 16u < pixels) {
        return rejectLayer(path, "file shorter than its " + std::to_string(width) + " x " +
                                     std::to_string(height) + " header promises");
    }
    cv::Mat rgba(height, width, CV_32FC4);
    const size_t bytes = static_cast<size_t>(pixels) * 16u;
    if (std::fread(rgba.data, 1, bytes, file.get()) != bytes) {
        return rejectLayer(path, std::string("read failed: ") + std::strerror(errno));
    }
    file.reset();
    cv::Mat bgr;
    cv::cvtColor(rgba, bgr, cv::COLOR_RGBA2BGR);
    cv::flip(bgr, bgr, 0);
    return bgr;
}

bool save_float4(const std::string& path, const cv::Mat& image) {
    if (image.depth() != CV_32F || (image.channels() != 3 && image.channels() != 4)) {
        std::cerr << "save_float4: " << path << ": expects a 3- or 4-channel float image"
                  << std::endl;
        return false;
    }
    cv::Mat copy;
    image.copyTo(copy);
    std::string temporary = path + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        std::cerr << "save_float4: can't open file " << path << std::endl;
        return false;
    }
    // mkstemp makes the file private; give it the mode a plain fopen would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    File file(fdopen(descriptor, "wb"));
    if (!file) {
        ::close(descriptor);
        std::remove(temporary.c_str());
        std::cerr << "save_float4: can't open file " << path << std::endl;
        return false;
    }
    cv::flip(copy, copy, 0);
    cv::cvtColor(copy, copy, copy.channels() == 3 ? cv::COLOR_BGR2RGBA : cv::COLOR_BGRA2RGBA);
    unsigned char header[8];
    putLittleEndianInt32(header, copy.cols);
    putLittleEndianInt32(header + 4, copy.rows);
    const size_t bytes = copy.total() * copy.elemSize();
    bool written = std::fwrite(header, 1, sizeof header, file.get()) == sizeof header &&
                   std::fwrite(copy.data, 1, bytes, file.get()) == bytes &&
                   std::fflush(file.get()) == 0 && fsync(fileno(file.get())) == 0;
    written = (std::fclose(file.release()) == 0) && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        std::cerr << "save_float4: can't write file " << path << ": " << reason << std::endl;
        return false;
    }
    return true;
}

bool readCamera(const std::string& path, CameraPosition& camera) {
    File file(std::fopen(path.c_str(), "r"));
    if (!file) {
        std::cerr << "can't open camera file " << path << std::endl;
        return false;
    }
    camera = CameraPosition{};
    if (std::fscanf(file.get(), "%f %f %f", &camera.x, &camera.y, &camera.z) < 0) {
        // An empty file leaves the position at the origin, as missing numbers do.
    }
    return true;
}

bool readSettings(const std::string& path, FilterSettings& settings) {
    File file(std::fopen(path.c_str(), "r"));
    if (!file) {
        std::cerr << "can't open settings file " << path << std::endl;
        return false;
    }
    float ignored = 0.0f;
    for (int i = 0; i < 4; ++i) {
        if (std::fscanf(file.get(), "%f", &ignored) != 1) {
            std::cerr << "settings file " << path << " holds fewer than six numbers" << std::endl;
            return false;
        }
    }
    FilterSettings read;
    if (std::fscanf(file.get(), "%f %f", &read.rangeSigma, &read.spatialSigma) != 2) {
        std::cerr << "settings file " << path << " holds fewer than six numbers" << std::endl;
        return false;
    }
    settings = read;
    return true;
}

quendel::CpuTexture toTexture(const cv::Mat& image) {
    CV_Assert(image.depth() == CV_32F && image.isContinuous());
    return quendel::CpuTexture(reinterpret_cast<const float*>(image.data),
                               static_cast<unsigned>(image.cols), static_cast<unsigned>(image.rows),
                               static_cast<unsigned>(image.channels()), true);
}

}  // namespace filtering
