#include "frame_io/layer_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "frame_io/fresh_image.h"
#include "frame_io/output_file.h"

namespace filtering {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Descriptor {
    int value;
    ~Descriptor() { ::close(value); }
};

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

enum class LayerCheck { Bad, Empty, Pixels };

/// Checks an open layer file's header against its length; a message names
/// the file when it is malformed.
LayerCheck checkLayerFile(const std::string& path, int descriptor, cv::Size& size) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        rejectLayer(path, std::string("can't read: ") + std::strerror(errno));
        return LayerCheck::Bad;
    }
    const uint64_t fileSize = static_cast<uint64_t>(status.st_size);
    unsigned char header[8];
    if (fileSize < sizeof header || ::pread(descriptor, header, sizeof header, 0) != 8) {
        rejectLayer(path, "file shorter than its 8-byte header");
        return LayerCheck::Bad;
    }
    const int32_t width = littleEndianInt32(header);
    const int32_t height = littleEndianInt32(header + 4);
    const std::string shape = std::to_string(width) + " x " + std::to_string(height);
    if (width < 0 || height < 0) {
        rejectLayer(path, "negative size " + shape + " in header");
        return LayerCheck::Bad;
    }
    if ((width == 0) != (height == 0)) {
        rejectLayer(path, "size " + shape + " has one side zero");
        return LayerCheck::Bad;
    }
    if (width == 0) {
        size = cv::Size();
        return LayerCheck::Empty;
    }
    // Compared by pixel count: width x height x 16 bytes can overflow 64 bits.
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if ((fileSize - sizeof header) / 16u < pixels) {
        rejectLayer(path, "file shorter than its " + shape + " header promises");
        return LayerCheck::Bad;
    }
    size = cv::Size(width, height);
    return LayerCheck::Pixels;
}

constexpr size_t kReadBlockBytes = 1 << 20;

/// Reads `bytes` at `offset`, across short reads; false at an early end.
bool readFully(int descriptor, unsigned char* target, size_t bytes, off_t offset) {
    while (bytes > 0) {
        const ssize_t got = ::pread(descriptor, target, bytes, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        target += got;
        bytes -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

int openLayer(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        std::cerr << "read_float4: can't open file " << path << std::endl;
    }
    return descriptor;
}

/// Hands every row of an open layer file already checked to hold `size` to
/// `take`, a block of rows at a time on OpenCV's threads; false, with a
/// message, when the file is cut short meanwhile.
bool readCheckedRows(const std::string& path, int descriptor, cv::Size size,
                     const LayerRowReader& take) {
    const int width = size.width, height = size.height;
    const size_t rowFloats = static_cast<size_t>(width) * 4u;
    const size_t rowBytes = rowFloats * sizeof(float);
    const int blockRows =
        static_cast<int>(std::clamp<size_t>(kReadBlockBytes / rowBytes, 1, height));
    // Read, not mapped: a file cut short while it is read gives a short read
    // and a message, where a mapping would give SIGBUS.
    std::atomic<bool> complete{true};
    const auto readRows = [&](const cv::Range& rows) {
        // Sized by the rows at hand and left unset, as pread fills it: a
        // small file costs what it holds, not a cleared block.
        const size_t blockFloats =
            static_cast<size_t>(std::min(blockRows, rows.end - rows.start)) * rowFloats;
        const auto block = std::make_unique_for_overwrite<float[]>(blockFloats);
        for (int first = rows.start; first < rows.end && complete; first += blockRows) {
            const int count = std::min(blockRows, rows.end - first);
            // Bottom row first in the file: rows [first, first + count) of the
            // image are file rows height - first - count to height - first - 1.
            const size_t bytes = static_cast<size_t>(count) * rowBytes;
            const off_t offset =
                static_cast<off_t>(8 + static_cast<size_t>(height - first - count) * rowBytes);
            if (!readFully(descriptor, reinterpret_cast<unsigned char*>(block.get()), bytes,
                           offset)) {
                complete = false;
                return;
            }
            for (int row = first; row < first + count; ++row) {
                take(row, block.get() + static_cast<size_t>(first + count - 1 - row) * rowFloats);
            }
        }
    };
    // A file of one block is read on this thread: handing it to the pool
    // costs more than reading it.
    if (blockRows == height) {
        readRows(cv::Range(0, height));
    } else {
        cv::parallel_for_(cv::Range(0, height), readRows);
    }
    if (!complete) {
        rejectLayer(path, "file cut short while it was read");
        return false;
    }
    return true;
}

}  // namespace

bool readLayerSize(const std::string& path, cv::Size& size) {
    const int descriptor = openLayer(path);
    if (descriptor < 0) {
        return false;
    }
    const Descriptor closer{descriptor};
    return checkLayerFile(path, descriptor, size) != LayerCheck::Bad;
}

bool readLayerRows(const std::string& path, cv::Size expected, const LayerRowReader& take) {
    const int descriptor = openLayer(path);
    if (descriptor < 0) {
        return false;
    }
    const Descriptor closer{descriptor};
    cv::Size size;
    if (checkLayerFile(path, descriptor, size) != LayerCheck::Pixels) {
        return false;
    }
    if (size != expected) {
        rejectLayer(path, "changed size while the frame was read");
        return false;
    }
    return readCheckedRows(path, descriptor, size, take);
}

cv::Mat read_float4(const std::string& path) {
    // One opening for the check and the pixels.
    const int descriptor = openLayer(path);
    if (descriptor < 0) {
        return cv::Mat();
    }
    const Descriptor closer{descriptor};
    cv::Size size;
    if (checkLayerFile(path, descriptor, size) != LayerCheck::Pixels) {
        return cv::Mat();
    }
    cv::Mat image = freshImage(size.height, size.width, CV_32FC3);
    const bool read = readCheckedRows(path, descriptor, size, [&](int row, const float* rgba) {
        float* target = image.ptr<float>(row);
        for (int x = 0; x < size.width; ++x) {
            // Red, green, blue, alpha in the file; blue, green, red here.
            target[3 * x] = rgba[4 * x + 2];
            target[3 * x + 1] = rgba[4 * x + 1];
            target[3 * x + 2] = rgba[4 * x];
        }
    });
    return read ? image : cv::Mat();
}

bool save_float4(const std::string& path, const cv::Mat& image) {
    if (image.depth() != CV_32F || (image.channels() != 3 && image.channels() != 4)) {
        std::cerr << "save_float4: " << path << ": expects a 3- or 4-channel float image"
                  << std::endl;
        return false;
    }
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
    // Rows go out in a few large writes rather than one call each; the
    // buffer outlives the stream.
    std::vector<char> buffer(1 << 20);
    File file(fdopen(descriptor, "wb"));
    if (!file) {
        ::close(descriptor);
        std::remove(temporary.c_str());
        std::cerr << "save_float4: can't open file " << path << std::endl;
        return false;
    }
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    unsigned char header[8];
    putLittleEndianInt32(header, image.cols);
    putLittleEndianInt32(header + 4, image.rows);
    bool written = std::fwrite(header, 1, sizeof header, file.get()) == sizeof header;
    // Bottom row first, channels back to red, green, blue, and alpha 1 for
    // a three-channel image; one row at a time, the image left as it is.
    std::vector<float> rgba(static_cast<size_t>(image.cols) * 4);
    const int channels = image.channels();
    for (int row = image.rows - 1; row >= 0 && written; --row) {
        const float* source = image.ptr<float>(row);
        for (int x = 0; x < image.cols; ++x) {
            const float* pixel = source + static_cast<size_t>(x) * channels;
            float* target = &rgba[4 * static_cast<size_t>(x)];
            target[0] = pixel[2];
            target[1] = pixel[1];
            target[2] = pixel[0];
            target[3] = channels == 4 ? pixel[3] : 1.0f;
        }
        written = std::fwrite(rgba.data(), sizeof(float), rgba.size(), file.get()) == rgba.size();
    }
    written = written && std::fflush(file.get()) == 0 && fsync(fileno(file.get())) == 0;
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

namespace {

// Floats as text that reads back to the same bits.
std::string numbers(std::initializer_list<float> values) {
    std::string text;
    char buffer[32];
    for (float value : values) {
        std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
        if (!text.empty()) text += ' ';
        text += buffer;
    }
    return text + "\n";
}

bool writeText(const std::string& path, const std::string& text) {
    ReplacingFile file(path);
    std::string error = "can't open it";
    bool written = file.isOpen();
    if (written) {
        File stream(fdopen(file.release(), "w"));
        written = stream && std::fputs(text.c_str(), stream.get()) >= 0;
        written = (stream && std::fclose(stream.release()) == 0) && written;
    }
    if (!written || !file.commit(error)) {
        std::cerr << "can't write " << path << ": " << error << std::endl;
        return false;
    }
    return true;
}

}  // namespace

bool writeCamera(const std::string& path, const CameraPosition& camera) {
    return writeText(path, numbers({camera.x, camera.y, camera.z}));
}

bool writeSettings(const std::string& path, const FilterSettings& settings) {
    // The first four numbers are not read.
    return writeText(path, numbers({0, 0, 0, 0, settings.rangeSigma, settings.spatialSigma}));
}

bool parseSettings(const std::string& text, FilterSettings& settings) {
    // The same number syntax as the file's reader has always taken.
    float numbers[6];
    const char* at = text.c_str();
    for (float& number : numbers) {
        int used = 0;
        if (std::sscanf(at, "%f%n", &number, &used) != 1) {
            return false;
        }
        at += used;
    }
    settings.rangeSigma = numbers[4];
    settings.spatialSigma = numbers[5];
    return true;
}

bool readSettings(const std::string& path, FilterSettings& settings) {
    File file(std::fopen(path.c_str(), "r"));
    if (!file) {
        std::cerr << "can't open settings file " << path << std::endl;
        return false;
    }
    std::string text;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
        text.append(chunk, got);
    }
    if (!parseSettings(text, settings)) {
        std::cerr << "settings file " << path << " holds fewer than six numbers" << std::endl;
        return false;
    }
    return true;
}

quendel::CpuTexture::PlaneHandle newPlane(size_t values) {
    return std::make_shared<quendel::CpuTexture::Plane>(quendel::UnsetValues(),
                                                        quendel::UnsetValues(values));
}

quendel::CpuTexture newTexture(cv::Size size, unsigned channels) {
    quendel::CpuTexture texture(nullptr, static_cast<unsigned>(size.width),
                                static_cast<unsigned>(size.height), 0, true);
    for (unsigned c = 0; c < channels; ++c) {
        texture.appendPlane(newPlane(static_cast<size_t>(size.area())));
    }
    return texture;
}

quendel::CpuTexture toTexture(const cv::Mat& image) {
    CV_Assert(image.depth() == CV_32F && image.isContinuous());
    return quendel::CpuTexture(reinterpret_cast<const float*>(image.data),
                               static_cast<unsigned>(image.cols), static_cast<unsigned>(image.rows),
                               static_cast<unsigned>(image.channels()), true);
}

}  // namespace filtering
