// The non-finite repair on small images made from any bytes: afterwards
// every value is finite, finite values are untouched, each replacement lies
// between the smallest and largest finite value of its channel (0 when the
// channel has none), and the mask marks exactly the pixels that changed.
// repairNonFiniteSamples does so for every layer the pipeline uses, leaves
// the texture coordinates alone, writes one line per repaired layer and
// fails exactly when a light or texture-colour layer has no finite value.
//
// Byte 0: rows - 1 (low four bits), columns - 1 (high four bits). Byte 1:
// channels - 1 (low two bits), a view into a larger image (bit 2), a whole
// frame (bit 3). Byte 2, for a frame: the layers it holds (a bit each).
// Then one code byte per value (see nextValue); values past the end are 0.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "frame_io/frame_samples.h"
#include "frame_io/non_finite_samples.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "non_finite_repair_fuzz: %s\n", what);
        std::abort();
    }
}

float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Finite values the views' margins hold: a repair that reads past its view
// would take one into a mean and leave its channel's range.
constexpr float kMargin = 1e30f;

class Values {
  public:
    Values(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // NaNs of several payloads and both signs, infinities, any bit pattern,
    // the extremes of the float range, or a small finite value.
    float nextValue() {
        const uint8_t code = byte();
        if (code < 0x20) return fromBits(0x7fc00000u | (code & 0x0fu) << 4 | (code & 0x10u) << 27);
        if (code < 0x28) return fromBits(0x7f800001u | (code & 0x7u) << 19);  // signalling
        if (code < 0x30) return code & 1 ? -INFINITY : INFINITY;
        if (code < 0x38) {
            uint32_t bits = 0;
            for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(byte()) << (8 * i);
            return fromBits(bits);
        }
        if (code < 0x40) {
            constexpr float kExtremes[] = {FLT_MAX,      -FLT_MAX,      FLT_MIN, -FLT_MIN,
                                           FLT_TRUE_MIN, -FLT_TRUE_MIN, 0.0f,    -0.0f};
            return kExtremes[code & 7];
        }
        return static_cast<float>(static_cast<int>(code) - 0xa0) * 0.25f;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

cv::Mat makeImage(Values& values, int rows, int cols, int channels) {
    cv::Mat image(rows, cols, CV_32FC(channels));
    for (int y = 0; y < rows; ++y) {
        float* row = image.ptr<float>(y);
        for (int i = 0; i < cols * channels; ++i) row[i] = values.nextValue();
    }
    return image;
}

// Checks a repaired image against its original and the mask given for it.
void checkRepair(const cv::Mat& before, const cv::Mat& after, const cv::Mat& mask) {
    const int channels = before.channels();
    std::vector<float> lowest(channels, INFINITY), highest(channels, -INFINITY);
    bool anyBad = false;
    for (int y = 0; y < before.rows; ++y) {
        const float* row = before.ptr<float>(y);
        for (int i = 0; i < before.cols * channels; ++i) {
            if (std::isfinite(row[i])) {
                lowest[i % channels] = std::min(lowest[i % channels], row[i]);
                highest[i % channels] = std::max(highest[i % channels], row[i]);
            } else {
                anyBad = true;
            }
        }
    }
    require(mask.empty() == !anyBad, "mask given exactly when a value was bad");
    if (anyBad) {
        require(mask.type() == CV_8U && mask.size() == before.size(), "mask of the image's size");
    }
    for (int y = 0; y < before.rows; ++y) {
        const float* original = before.ptr<float>(y);
        const float* repaired = after.ptr<float>(y);
        for (int x = 0; x < before.cols; ++x) {
            bool pixelBad = false;
            for (int c = 0; c < channels; ++c) {
                const float was = original[x * channels + c];
                const float is = repaired[x * channels + c];
                if (std::isfinite(was)) {
                    require(sameBits(was, is), "a finite value changed");
                    continue;
                }
                pixelBad = true;
                require(std::isfinite(is), "a value is still non-finite");
                if (lowest[c] <= highest[c]) {
                    require(is >= lowest[c] && is <= highest[c], "replacement outside its channel");
                } else {
                    require(is == 0.0f, "a channel without finite values not set to 0");
                }
            }
            if (anyBad) {
                require(mask.at<uint8_t>(y, x) == (pixelBad ? 255 : 0), "mask marks another pixel");
            }
        }
    }
}

void fuzzImage(Values& values, int rows, int cols, int channels, bool view) {
    // A view: the image's rows sit inside a wider, taller one.
    const int margin = view ? 1 : 0;
    cv::Mat whole(rows + 2 * margin, cols + 2 * margin, CV_32FC(channels),
                  cv::Scalar::all(kMargin));
    cv::Mat image = whole(cv::Rect(margin, margin, cols, rows));
    makeImage(values, rows, cols, channels).copyTo(image);
    const cv::Mat wholeBefore = whole.clone();
    const cv::Mat before = image.clone();
    const cv::Mat mask = filtering::replaceNonFinite(image);
    checkRepair(before, image, mask);
    // Outside the view nothing changes.
    cv::Mat expected = wholeBefore.clone();
    image.copyTo(expected(cv::Rect(margin, margin, cols, rows)));
    require(std::memcmp(expected.data, whole.data, whole.total() * whole.elemSize()) == 0,
            "values outside the view changed");
}

void fuzzFrame(Values& values, int rows, int cols, uint8_t layers) {
    using filtering::Layer;
    filtering::Frame frame;
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        if (layers & (1u << layer)) frame.layers[layer] = makeImage(values, rows, cols, 3);
    }
    filtering::Frame before;
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        before.layers[layer] = frame.layers[layer].clone();
    }
    std::ostringstream messages;
    const bool usable = filtering::repairNonFiniteSamples(frame, messages);

    bool expectUsable = true;
    size_t repairedLayers = 0;
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        const cv::Mat& was = before.layers[layer];
        const cv::Mat& is = frame.layers[layer];
        if (layer == filtering::TexCoord || was.empty()) {
            require(is.empty() == was.empty() &&
                        (was.empty() ||
                         std::memcmp(was.data, is.data, was.total() * was.elemSize()) == 0),
                    "a layer the pipeline does not use changed");
            require(frame.repaired[layer].empty(), "a layer the pipeline does not use has a mask");
            continue;
        }
        const size_t bad = filtering::countNonFinite(was);
        repairedLayers += bad > 0 ? 1 : 0;
        const bool steersOnly = layer == filtering::Normals || layer == filtering::Positions;
        if (bad == was.total() * was.channels() && !steersOnly) expectUsable = false;
        checkRepair(was, is, frame.repaired[layer]);
    }
    require(usable == expectUsable, "usable though a light or colour layer had no finite value");
    const std::string text = messages.str();
    require(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) == repairedLayers,
            "not one message line per repaired layer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Values values(data, size);
    const uint8_t shape = values.byte();
    const uint8_t kind = values.byte();
    const int rows = 1 + (shape & 0x0f);
    const int cols = 1 + (shape >> 4);
    if (kind & 0x08) {
        fuzzFrame(values, rows, cols, values.byte());
    } else {
        fuzzImage(values, rows, cols, 1 + (kind & 0x03), (kind & 0x04) != 0);
    }
    return 0;
}
