#include "default_mode/pipeline.h"

#include <cmath>
#include <limits>
#include <utility>

#include "frame_io/fresh_image.h"
#include "quendel/source_vector.h"
#include "quendel/tdr_filter.h"

namespace filtering {

namespace {

constexpr float kLowestSigma = 0.00001f;
constexpr float kHighestSigma = 10.0f;
constexpr float kPatchFeatureScale = 10.0f;
constexpr float kSourceScale = 1.0f;
constexpr float kNormalsWeight = 0.5f;
constexpr float kDistanceWeight = 0.4f;
constexpr float kTexColorWeight = 1.0f;

}  // namespace

float clampSigma(float value) {
    if (!(value > kLowestSigma)) {
        return kLowestSigma;
    }
    return value >= kHighestSigma ? kHighestSigma : value;
}

cv::Mat normalizedDistances(const cv::Mat& positions, const CameraPosition& camera,
                            const cv::Mat& untrusted) {
    cv::Mat distances(positions.rows, positions.cols, CV_32F);
    normalizedDistancesInto(positions, camera, untrusted, distances);
    return distances;
}

void normalizedDistancesInto(const cv::Mat& positions, const CameraPosition& camera,
                             const cv::Mat& untrusted, cv::Mat& distances) {
    CV_Assert(distances.type() == CV_32F && distances.size() == positions.size());
    float largest = std::numeric_limits<float>::min();
    float smallest = std::numeric_limits<float>::max();
    for (int row = 0; row < positions.rows; ++row) {
        const auto* position = positions.ptr<cv::Vec3f>(row);
        const uint8_t* skip = untrusted.empty() ? nullptr : untrusted.ptr<uint8_t>(row);
        float* distance = distances.ptr<float>(row);
        for (int column = 0; column < positions.cols; ++column) {
            const float d = distanceToCamera(position[column][0], position[column][1],
                                             position[column][2], camera);
            distance[column] = d;
            if (skip == nullptr || skip[column] == 0) {
                largest = std::max(largest, d);
                smallest = std::min(smallest, d);
            }
        }
    }
    rescaleDistances(distances, smallest, largest, untrusted);
}

void rescaleDistances(cv::Mat& distances, float nearest, float farthest, const cv::Mat& untrusted) {
    const float range = farthest - nearest;
    if (!(range > 0.0f)) {
        // Every point equally far: nothing to tell apart, and 0/0 otherwise.
        distances.setTo(0.0f);
        return;
    }
    distances.forEach<float>([&](float& value, const int*) { value = (value - nearest) / range; });
    if (!untrusted.empty()) {
        // A repaired point can lie nearer or farther than every measured one.
        distances.setTo(0.0f, (distances < 0.0f) & untrusted);
        distances.setTo(1.0f, (distances > 1.0f) & untrusted);
    }
}

void remapNormals(quendel::CpuTexture& normals) {
    const size_t width = normals.getWidth();
    const cv::Range rows(0, static_cast<int>(normals.getHeight()));
    for (unsigned c = 0; c < normals.getChannelsCount(); ++c) {
        float* plane = normals.getChannel(c);
        cv::parallel_for_(rows, [&](const cv::Range& part) {
            for (size_t j = part.start * width; j < part.end * width; ++j) {
                plane[j] = remappedNormal(plane[j]);
            }
        });
    }
}

cv::Mat FilteredLight::view() const {
    return cv::Mat(rows, cols, CV_32FC3, const_cast<float*>(matrix.getData()));
}

namespace {

// A private single-channel plane of the frame's size, seen as an image.
quendel::CpuTexture singlePlane(const cv::Mat& like, cv::Mat& view) {
    quendel::CpuTexture texture = newTexture(like.size(), 1);
    view = cv::Mat(like.rows, like.cols, CV_32F, texture.getChannel(0));
    return texture;
}

}  // namespace

FilterInputs filterInputs(const Frame& frame) {
    FilterInputs inputs;
    inputs.secondary = toTexture(frame[Secondary]);
    inputs.texColor = toTexture(frame[TexColor]);
    inputs.normals = toTexture(frame[Normals]);
    remapNormals(inputs.normals);
    cv::Mat distances;
    inputs.distances = singlePlane(frame[Positions], distances);
    normalizedDistancesInto(frame[Positions], frame.camera, frame.repaired[Positions], distances);
    inputs.sigmaS = clampSigma(frame.settings.spatialSigma);
    inputs.sigmaR = clampSigma(frame.settings.rangeSigma);
    return inputs;
}

FilteredLight filterSecondary(FilterInputs inputs, int64_t& ticks) {
    const int rows = static_cast<int>(inputs.secondary.getHeight());
    const int cols = static_cast<int>(inputs.secondary.getWidth());
    quendel::SourceVector<quendel::CpuFiltering> sources(std::move(inputs.secondary));
    sources.sigmaS = inputs.sigmaS;
    sources.sigmaR = inputs.sigmaR;
    sources.nlmScale = kPatchFeatureScale;
    sources.sourceScale = kSourceScale;
    sources.addSource(std::move(inputs.normals), kNormalsWeight, -1);
    sources.addSource(std::move(inputs.distances), kDistanceWeight, 1);
    sources.addSource(std::move(inputs.texColor), kTexColorWeight, -1);

    const int64_t buildStart = cv::getTickCount();
    // Planes that the source vector alone holds become the guide's own.
    sources.buildTakingSources();
    const int64_t buildEnd = cv::getTickCount();

    const int64_t filterStart = cv::getTickCount();
    // The guide holds its own copy of the light, and nothing reads the base
    // image after this: the filter works on it in place.
    quendel::CpuTexture image = std::move(sources.base);
    {
        quendel::TDRFilter<quendel::CpuFiltering> filter;
        const quendel::CpuTexture guide = std::move(sources.features);
        filter.process(image, guide, sources.sigmaS, sources.sigmaR);
    }
    // The guide and the filter's scratch are gone: the matrix takes memory
    // the system has just been given back rather than memory never used.
    quendel::CpuMatrix pixels(image);
    const int64_t filterEnd = cv::getTickCount();

    ticks = (buildEnd - buildStart) + (filterEnd - filterStart);
    return FilteredLight(std::move(pixels), rows, cols);
}

cv::Mat recombine(const cv::Mat& primary, const cv::Mat& filtered, const cv::Mat& texColor,
                  const cv::Mat& rest) {
    CV_Assert(primary.type() == CV_32FC3 && filtered.type() == CV_32FC3 &&
              texColor.type() == CV_32FC3 && rest.type() == CV_32FC3);
    CV_Assert(filtered.size() == primary.size() && texColor.size() == primary.size() &&
              rest.size() == primary.size());
    cv::Mat frame = freshImage(primary.rows, primary.cols, CV_32FC3);
    const int values = primary.cols * 3;
    cv::parallel_for_(cv::Range(0, primary.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const float* p = primary.ptr<float>(row);
            const float* f = filtered.ptr<float>(row);
            const float* t = texColor.ptr<float>(row);
            const float* r = rest.ptr<float>(row);
            float* out = frame.ptr<float>(row);
            for (int i = 0; i < values; ++i) {
                const float light = p[i] + f[i];
                const float reflected = t[i] * light;
                out[i] = r[i] + reflected;
            }
        }
    });
    return frame;
}

DenoisedFrame denoise(Frame frame) {
    FilterInputs inputs = filterInputs(frame);
    for (Layer spent : {Secondary, Positions, Normals, TexCoord}) {
        frame[spent].release();
    }
    int64_t ticks = 0;
    const FilteredLight filtered = filterSecondary(std::move(inputs), ticks);
    DenoisedFrame result;
    result.image = recombine(frame[Primary], filtered.view(), frame[TexColor], frame[Rest]);
    result.seconds = static_cast<double>(ticks) / cv::getTickFrequency();
    return result;
}

}  // namespace filtering
