#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "quendel/backends.h"
#include "quendel/texture.h"

namespace quendel {

/// One extra source of the guide: its planes are shared with the texture
/// that was added; only the first `channels` of them take part.
struct SourceEntry {
    CpuTexture texture;
    int channels = 0;
    float weight = 1.0f;
};

/// Reaches the private steps of the guide builder from tests.
struct SourceVectorTestAccess;

/// One filtering job: the image to filter (`base`), the weighted sources
/// that steer the filter, the filter's two standard deviations and the
/// guide (`features`) built once from all of them. The guide holds the
/// base image's patch description reduced to six channels and divided by
/// `nlmScale`, then every source channel divided by its weight times
/// `sourceScale`; the base image itself is the first source.
/// A NaN or an infinity in the base image makes all six patch channels
/// non-finite at every pixel (they are centred on the image's means and
/// projected on axes found from all pixels); one in an added source stays
/// where it is, in its own channel. Not safe for concurrent use.
template <>
class SourceVector<CpuFiltering> {
  public:
    bool built = false;
    std::vector<SourceEntry> sources;
    CpuTexture base;
    CpuTexture features;
    float sigmaS = 0.0f;
    float sigmaR = 0.0f;
    float nlmScale = 1.0f;
    float sourceScale = 1.0f;

    /// `base` shares the planes of `texture`, which becomes the first
    /// source with weight 1 and all its channels.
    explicit SourceVector(CpuTexture texture) : base(texture) {
        const int count = static_cast<int>(texture.getChannelsCount());
        sources.push_back(SourceEntry{std::move(texture), count, 1.0f});
    }

    /// Adds a source sharing the planes of `texture`. A negative `channels`
    /// takes all of its channels; otherwise at most that many, counted from
    /// the first. Sources must have the size of the base image.
    void addSource(CpuTexture texture, float weight, int channels = -1) {
        const int available = static_cast<int>(texture.getChannelsCount());
        const int count =
            channels <= -1 ? available : (channels < available ? channels : available);
        sources.push_back(SourceEntry{std::move(texture), count, weight});
    }

    /// Builds `features` on the first call; later calls change nothing.
    /// The sources' own planes are never written.
    void build() {
        if (built) {
            return;
        }
        features = toNonLocalMeansSpace(base, 1, 6);
        if (std::fabs(nlmScale - 1.0f) > 0.0001f) {
            multiplyTexture(features, nlmScale);
        }
        for (const SourceEntry& entry : sources) {
            appendDividedCopies(entry, entry.weight * sourceScale, features);
        }
        built = true;
    }

    /// Builds `features` with the values that `build` gives, and empties
    /// `sources`. A source plane that nothing else shares becomes the
    /// guide's own plane, divided in place, instead of being copied: the
    /// guide then needs no memory for those channels. Planes still shared
    /// (those of `base`, or of a texture the caller kept) are copied as by
    /// `build`. Does nothing once built.
    void buildTakingSources() {
        if (built) {
            return;
        }
        features = toScaledNonLocalMeansSpace(base, 1, 6, nlmScale);
        std::vector<SourceEntry> taken;
        taken.swap(sources);
        for (SourceEntry& entry : taken) {
            const float divisor = entry.weight * sourceScale;
            appendDividedPlanes(std::move(entry), divisor, features);
        }
        built = true;
    }

  private:
    friend struct SourceVectorTestAccess;

    /// The patch description of `source`: each pixel's (2 radius + 1)^2
    /// Gaussian-weighted, mean-free patch in all channels, projected on the
    /// `dimensions` principal axes of smallest variance first (all axes
    /// when `dimensions` is out of range). Samples outside the image are
    /// read from the first column and row. A radius below 1 counts as 1.
    static CpuTexture toNonLocalMeansSpace(const CpuTexture& source, int radius, int dimensions);

    /// `toNonLocalMeansSpace` followed by `multiplyTexture` with `divisor`
    /// (skipped when within 0.0001 of 1), the division made as the values
    /// are stored: the same values, one pass fewer.
    static CpuTexture toScaledNonLocalMeansSpace(const CpuTexture& source, int radius,
                                                 int dimensions, float divisor);

    /// Divides every value of every plane by `factor`, in place.
    static void multiplyTexture(CpuTexture& texture, float factor);

    /// Appends to `target` a private copy of each of the entry's first
    /// `channels` planes, every value divided by `divisor` unless that is
    /// within 0.0001 of 1.
    static void appendDividedCopies(const SourceEntry& entry, float divisor, CpuTexture& target);

    /// As `appendDividedCopies`, but takes the entry: each of its planes
    /// that the entry alone holds is divided in place and appended itself.
    static void appendDividedPlanes(SourceEntry&& entry, float divisor, CpuTexture& target);
};

}  // namespace quendel
