#include "quendel/texture.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "foundations/team_for_work.h"

namespace quendel {

namespace {

constexpr size_t kDeinterleaveBlock = 4096;

}  // namespace

CpuTexture::CpuTexture(const float* data, unsigned width_, unsigned height_, unsigned channelCount,
                       bool interleaved)
    : width(width_), height(height_) {
    const size_t pixels = static_cast<size_t>(width) * height;
    channels.reserve(channelCount);
    for (unsigned c = 0; c < channelCount; ++c) {
        // Planes filled from `data` below are not zero-filled first.
        channels.push_back(data == nullptr
                               ? std::make_shared<Plane>(pixels, 0.0f)
                               : std::make_shared<Plane>(UnsetValues(), UnsetValues(pixels)));
    }
    if (data == nullptr || channelCount == 0) {
        return;
    }
    if (!interleaved) {
        for (unsigned c = 0; c < channelCount && pixels > 0; ++c) {
            std::memcpy(channels[c]->data(), data + c * pixels, pixels * sizeof(float));
        }
        return;
    }
    // Block by block, so that every plane's pass over a block reads source
    // lines that the first pass brought into the cache.
    const int team = teamForWork(pixels * channelCount);
    const auto blocks =
        static_cast<std::ptrdiff_t>((pixels + kDeinterleaveBlock - 1) / kDeinterleaveBlock);
#pragma omp parallel for num_threads(team) schedule(static)
    for (std::ptrdiff_t block = 0; block < blocks; ++block) {
        const size_t begin = static_cast<size_t>(block) * kDeinterleaveBlock;
        const size_t end = std::min(pixels, begin + kDeinterleaveBlock);
        for (unsigned c = 0; c < channelCount; ++c) {
            float* plane = channels[c]->data();
            const float* source = data + c;
            for (size_t j = begin; j < end; ++j) {
                plane[j] = source[j * channelCount];
            }
        }
    }
}

CpuTexture::CpuTexture(const CpuTexture& other) = default;

CpuTexture& CpuTexture::operator=(const CpuTexture& other) {
    if (this != &other) {
        width = other.width;
        height = other.height;
        channels = other.channels;
    }
    return *this;
}

CpuTexture::CpuTexture(CpuTexture&& other) noexcept
    : width(other.width), height(other.height), channels(std::move(other.channels)) {
    other.width = 0;
    other.height = 0;
    other.channels.clear();
}

CpuTexture& CpuTexture::operator=(CpuTexture&& other) noexcept {
    if (this != &other) {
        width = other.width;
        height = other.height;
        channels = std::move(other.channels);
        other.width = 0;
        other.height = 0;
        other.channels.clear();
    }
    return *this;
}

CpuTexture CpuTexture::clone(unsigned mask) const {
    CpuTexture result(*this);
    const unsigned count = std::min<unsigned>(getChannelsCount(), 32);
    for (unsigned i = 0; i < count; ++i, mask >>= 1) {
        if (mask & 1u) {
            result.channels[i] = std::make_shared<Plane>(*channels[i]);
        }
    }
    return result;
}

bool CpuTexture::bilinearScaleTo(CpuTexture& target) const {
    const unsigned ws = width, hs = height;
    const unsigned wd = target.width, hd = target.height;
    if (ws == 0 || hs == 0) {
        return true;
    }
    const float sx = static_cast<float>(wd) / static_cast<float>(ws);
    const float sy = static_cast<float>(hd) / static_cast<float>(hs);
    const unsigned count = std::min(getChannelsCount(), target.getChannelsCount());
    for (unsigned c = 0; c < count; ++c) {
        const float* s = getChannel(c);
        float* d = target.getChannel(c);
        for (unsigned y = 0; y < hd; ++y) {
            const float fy = static_cast<float>(y) / sy;
            const unsigned y0 = std::min(static_cast<unsigned>(fy), hs - 1);
            const unsigned y1 = std::min(y0 + 1, hs - 1);
            const float ty = fy - static_cast<float>(y0);
            const float* row0 = s + static_cast<size_t>(y0) * ws;
            const float* row1 = s + static_cast<size_t>(y1) * ws;
            float* out = d + static_cast<size_t>(y) * wd;
            for (unsigned x = 0; x < wd; ++x) {
                const float fx = static_cast<float>(x) / sx;
                const unsigned x0 = std::min(static_cast<unsigned>(fx), ws - 1);
                const unsigned x1 = std::min(x0 + 1, ws - 1);
                const float tx = fx - static_cast<float>(x0);
                const float left = row0[x0] + ty * (row1[x0] - row0[x0]);
                const float right = row0[x1] + ty * (row1[x1] - row0[x1]);
                out[x] = left + tx * (right - left);
            }
        }
    }
    return true;
}

}  // namespace quendel
