#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "host_filters/h_filter.h"
#include "quendel/matrix.h"
#include "quendel/source_vector.h"
#include "quendel/texture.h"

namespace quendel::test {

// A source vector whose guide is given rather than built.
inline SourceVector<CpuFiltering> sourceWithGuide(const CpuTexture& image, const CpuTexture& guide,
                                                  float sigmaS, float sigmaR) {
    SourceVector<CpuFiltering> source(image);
    source.features = guide;
    source.built = true;
    source.sigmaS = sigmaS;
    source.sigmaR = sigmaR;
    return source;
}

// The adaptive-manifold filter written plainly, node by node, single
// threaded, with every texture at its full size and channel count: sums
// start at zero on every call and child planes are zero outside the child's
// cluster. Each node's splat and weights go through `smooth` (image, guide,
// sigmaS, range deviation), the back end's TDR smoothing.
class PlainManifoldFilter {
  public:
    using Smoothing = std::function<void(CpuTexture&, const CpuTexture&, float, float)>;

    explicit PlainManifoldFilter(Smoothing smoothing) : smooth(std::move(smoothing)) {}

    CpuTexture run(SourceVector<CpuFiltering>& source, int depthLimit) {
        maxDepth = depthLimit;
        source.build();
        base = source.base;
        features = source.features;
        sigmaS = source.sigmaS;
        sigmaR = source.sigmaR;
        width = base.getWidth();
        height = base.getHeight();
        const unsigned channels = base.getChannelsCount();
        manifold = features.clone(0xffffffffu);
        numeratorSum = CpuTexture(nullptr, width, height, channels, true);
        denominatorSum = CpuTexture(nullptr, width, height, channels, true);
        List all;
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                all.emplace_back(static_cast<int>(x), static_cast<int>(y));
            }
        }
        horizontalHPass(manifold, sigmaS);
        verticalHPass(manifold, sigmaS);
        node(all, 0);
        CpuTexture output(nullptr, width, height, channels, true);
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned p = 0; p < width * height; ++p) {
                output.getChannel(c)[p] =
                    numeratorSum.getChannel(c)[p] / denominatorSum.getChannel(c)[p];
            }
        }
        return output;
    }

  private:
    using List = std::vector<std::pair<int, int>>;

    void node(const List& list, int depth) {
        const unsigned pixels = width * height;
        const unsigned channels = base.getChannelsCount();
        const unsigned guideChannels = features.getChannelsCount();
        const float g = sigmaR / std::sqrt(2.0f);
        std::vector<float> weights(pixels);
        for (unsigned p = 0; p < pixels; ++p) {
            float d = 0.0f;
            for (unsigned c = 0; c < guideChannels; ++c) {
                const float diff = features.getChannel(c)[p] - manifold.getChannel(c)[p];
                d += diff * diff;
            }
            const float s = -2.0f * g * g;
            weights[p] = std::exp(d * s);
        }
        CpuTexture splat(nullptr, width, height, channels, true);
        CpuTexture blurredWeights(nullptr, width, height, channels, true);
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned p = 0; p < pixels; ++p) {
                splat.getChannel(c)[p] = base.getChannel(c)[p] * weights[p];
                blurredWeights.getChannel(c)[p] = weights[p];
            }
        }
        smooth(splat, features, sigmaS, g);
        smooth(blurredWeights, features, sigmaS, g);
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned p = 0; p < pixels; ++p) {
                numeratorSum.getChannel(c)[p] += weights[p] * splat.getChannel(c)[p];
                denominatorSum.getChannel(c)[p] += weights[p] * blurredWeights.getChannel(c)[p];
            }
        }
        if (depth > maxDepth) {
            return;
        }
        const std::vector<float> v = mainDirection();
        const CpuMatrix residual = CpuMatrix(features).minus(CpuMatrix(manifold));
        List first, second;
        for (const auto& [x, y] : list) {
            const unsigned p = static_cast<unsigned>(y) * width + static_cast<unsigned>(x);
            float dot = 0.0f;
            for (unsigned i = 0; i < guideChannels; ++i) {
                dot += residual.getData()[p * guideChannels + i] * v[i];
            }
            (dot < 0.0f ? first : second).emplace_back(x, y);
        }
        childManifold(first, weights);
        node(first, depth + 1);
        childManifold(second, weights);
        node(second, depth + 1);
    }

    std::vector<float> mainDirection() const {
        const unsigned pixels = width * height;
        const unsigned components = features.getChannelsCount();
        const CpuMatrix residual = CpuMatrix(features).minus(CpuMatrix(manifold));
        const float* r = residual.getData();
        std::vector<float> v(components);
        for (float& value : v) {
            value = static_cast<float>(std::rand() % 1000000) / 100000.0f;
        }
        for (int round = 0; round < 4; ++round) {
            std::vector<float> t(pixels, 0.0f);
            for (unsigned p = 0; p < pixels; ++p) {
                for (unsigned i = 0; i < components; ++i) {
                    t[p] += r[p * components + i] * v[i];
                }
            }
            for (unsigned j = 0; j < components; ++j) {
                v[j] = 0.0f;
                for (unsigned p = 0; p < pixels; ++p) {
                    v[j] += t[p] * r[p * components + j];
                }
            }
            float n = 0.0f;
            for (float value : v) {
                n += value * value;
            }
            n = std::sqrt(n);
            if (n != 0.0f) {
                for (float& value : v) {
                    value /= n;
                }
            }
        }
        return v;
    }

    void childManifold(const List& list, const std::vector<float>& weights) {
        const unsigned guideChannels = features.getChannelsCount();
        const unsigned pixels = width * height;
        CpuTexture numerator(nullptr, width, height, guideChannels, true);
        CpuTexture denominator(nullptr, width, height, guideChannels, true);
        for (const auto& [x, y] : list) {
            const unsigned p = static_cast<unsigned>(y) * width + static_cast<unsigned>(x);
            for (unsigned c = 0; c < guideChannels; ++c) {
                const float m = 1.0f - weights[p];
                numerator.getChannel(c)[p] = m * features.getChannel(c)[p];
                denominator.getChannel(c)[p] = m;
            }
        }
        const float df = std::min(sigmaS * 0.25f, sigmaR * 256.0f);
        const int k = static_cast<int>(std::floor(std::log(df) / std::log(2.0f)));
        float power = 1.0f;
        for (int i = 0; i < std::abs(k); ++i) {
            power *= 2.0f;
        }
        power = k < 0 ? 1.0f / power : power;
        const float e = sigmaS / power >= 1.0f ? sigmaS / power : 1.0f;
        if (e <= 1.0f) {
            for (CpuTexture* t : {&numerator, &denominator}) {
                horizontalHPass(*t, sigmaS);
                verticalHPass(*t, sigmaS);
            }
        } else {
            const unsigned smallWidth =
                std::max(1u, static_cast<unsigned>(static_cast<float>(width) / e));
            const unsigned smallHeight =
                std::max(1u, static_cast<unsigned>(static_cast<float>(height) / e));
            CpuTexture smallNumerator(nullptr, smallWidth, smallHeight, guideChannels, true);
            CpuTexture smallDenominator(nullptr, smallWidth, smallHeight, guideChannels, true);
            numerator.bilinearScaleTo(smallNumerator);
            denominator.bilinearScaleTo(smallDenominator);
            for (CpuTexture* t : {&smallNumerator, &smallDenominator}) {
                horizontalHPass(*t, sigmaS / e);
                verticalHPass(*t, sigmaS / e);
            }
            smallNumerator.bilinearScaleTo(numerator);
            smallDenominator.bilinearScaleTo(denominator);
        }
        for (unsigned c = 0; c < guideChannels; ++c) {
            for (unsigned p = 0; p < pixels; ++p) {
                const float d = denominator.getChannel(c)[p];
                manifold.getChannel(c)[p] =
                    numerator.getChannel(c)[p] / (d > 0.000001f ? d : 0.000001f);
            }
        }
    }

    Smoothing smooth;
    int maxDepth = 0;
    unsigned width = 0, height = 0;
    float sigmaS = 0.0f, sigmaR = 0.0f;
    CpuTexture base, features, manifold, numeratorSum, denominatorSum;
};

}  // namespace quendel::test
