// A frame's files taken from any bytes load the same through both loaders:
// loadPreparedFrame refuses exactly when loadFrame does, with the same
// messages, and otherwise holds the same images, masks, camera and
// settings, and filter inputs bit for bit equal to filterInputs(loadFrame).
//
// The input is split at kSeparator into the seven layers in their load
// order, camera.txt and settings.txt; a part the input does not reach is a
// missing file.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "default_mode/pipeline.h"
#include "default_mode/prepared_frame.h"
#include "frame_io/frame.h"

namespace {

using filtering::FramePaths;
using filtering::Layer;

constexpr std::string_view kSeparator = "\n@@\n";

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "frame_loaders_fuzz: %s\n", what);
        std::abort();
    }
}

// The loaders' messages, kept to compare; locked, as layers are read on
// OpenCV's threads.
class MessageLog : public std::streambuf {
  public:
    std::string take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(text_);
    }

  protected:
    int overflow(int c) override {
        if (c != traits_type::eof()) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_ += static_cast<char>(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(s, static_cast<size_t>(n));
        return n;
    }

  private:
    std::mutex mutex_;
    std::string text_;
};

// Standard error taken into a MessageLog for as long as this lives.
class CapturedErrors {
  public:
    CapturedErrors() : previous_(std::cerr.rdbuf(&log_)) {}
    ~CapturedErrors() { std::cerr.rdbuf(previous_); }
    std::string take() { return log_.take(); }

  private:
    MessageLog log_;
    std::streambuf* previous_;
};

// A frame folder on a memory-backed file system, removed at exit.
class FrameFolder {
  public:
    FrameFolder() {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/frame-loaders-fuzz-XXXXXX";
        root_ = mkdtemp(pattern.data());
        std::filesystem::create_directories(FramePaths(root_).inputFolder());
    }
    ~FrameFolder() { std::filesystem::remove_all(root_); }
    FramePaths paths() const { return FramePaths(root_); }

  private:
    std::string root_;
};

void writeFile(const std::string& path, std::string_view bytes) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(descriptor >= 0, "can't write a frame file");
    require(write(descriptor, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
            "short write of a frame file");
    close(descriptor);
}

bool sameFloats(const float* a, const float* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        // Bit for bit, except that any NaN matches any NaN.
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0 &&
            !(std::isnan(a[i]) && std::isnan(b[i]))) {
            return false;
        }
    }
    return true;
}

bool sameImage(const cv::Mat& a, const cv::Mat& b) {
    if (a.empty() || b.empty()) return a.empty() && b.empty();
    if (a.size() != b.size() || a.type() != b.type()) return false;
    const size_t rowValues = static_cast<size_t>(a.cols) * a.channels();
    for (int y = 0; y < a.rows; ++y) {
        const bool same = a.depth() == CV_32F
                              ? sameFloats(a.ptr<float>(y), b.ptr<float>(y), rowValues)
                              : std::memcmp(a.ptr(y), b.ptr(y), rowValues * a.elemSize1()) == 0;
        if (!same) return false;
    }
    return true;
}

bool sameTexture(const quendel::CpuTexture& a, const quendel::CpuTexture& b) {
    if (!a.hasSize(b.getWidth(), b.getHeight(), b.getChannelsCount())) return false;
    for (unsigned c = 0; c < a.getChannelsCount(); ++c) {
        if (!sameFloats(a.getChannel(c), b.getChannel(c), a.getPixelsCount())) return false;
    }
    return true;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FrameFolder folder;
    static CapturedErrors log;

    const FramePaths paths = folder.paths();
    std::vector<std::string> files;
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        files.push_back(paths.layer(static_cast<Layer>(layer)));
    }
    files.push_back(paths.camera());
    files.push_back(paths.settings());
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    bool more = size > 0;
    for (const std::string& file : files) {
        if (!more) {
            unlink(file.c_str());
            continue;
        }
        // memmem lets the fuzzer learn the separator.
        const void* found = memmem(rest.data(), rest.size(), kSeparator.data(), kSeparator.size());
        const size_t length = found ? static_cast<const char*>(found) - rest.data() : rest.size();
        writeFile(file, rest.substr(0, length));
        more = found != nullptr;
        rest.remove_prefix(found ? length + kSeparator.size() : rest.size());
    }

    log.take();
    const std::optional<filtering::Frame> frame = filtering::loadFrame(paths);
    const std::string frameMessages = log.take();
    const std::optional<filtering::PreparedFrame> prepared = filtering::loadPreparedFrame(paths);
    const std::string preparedMessages = log.take();

    require(frame.has_value() == prepared.has_value(), "one loader refused, the other did not");
    require(frameMessages == preparedMessages, "the loaders' messages differ");
    if (!frame) return 0;

    const filtering::Frame& loaded = prepared->frame;
    require(sameBits(loaded.camera.x, frame->camera.x) &&
                sameBits(loaded.camera.y, frame->camera.y) &&
                sameBits(loaded.camera.z, frame->camera.z),
            "cameras differ");
    require(sameBits(loaded.settings.rangeSigma, frame->settings.rangeSigma) &&
                sameBits(loaded.settings.spatialSigma, frame->settings.spatialSigma),
            "settings differ");
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        const bool kept =
            layer == filtering::Primary || layer == filtering::TexColor || layer == filtering::Rest;
        require(kept ? sameImage(loaded.layers[layer], frame->layers[layer])
                     : loaded.layers[layer].empty(),
                "layers differ");
        require(sameImage(loaded.repaired[layer], frame->repaired[layer]), "repair masks differ");
    }
    const filtering::FilterInputs expected = filtering::filterInputs(*frame);
    const filtering::FilterInputs& inputs = prepared->inputs;
    require(sameTexture(inputs.secondary, expected.secondary), "secondary light planes differ");
    require(sameTexture(inputs.normals, expected.normals), "normal planes differ");
    require(sameTexture(inputs.distances, expected.distances), "distance maps differ");
    require(sameTexture(inputs.texColor, expected.texColor), "texture colour planes differ");
    require(sameBits(inputs.sigmaS, expected.sigmaS) && sameBits(inputs.sigmaR, expected.sigmaR),
            "sigmas differ");
    return 0;
}
