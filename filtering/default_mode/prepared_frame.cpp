#include "default_mode/prepared_frame.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "frame_io/fresh_image.h"
#include "quality_mode/light_planes.h"

namespace filtering {

namespace {

float unchanged(float value) {
    return value;
}

// Reads a three-channel layer into the planes of `texture` (working order:
// blue, green, red), each value through `convert`, and, unless `image` is
// null, into that image as read_float4 would; counts the non-finite values
// read into `nonFinite`.
template <typename Convert>
bool readIntoPlanes(const std::string& path, cv::Size size, quendel::CpuTexture& texture,
                    Convert convert, std::atomic<size_t>& nonFinite, cv::Mat* image = nullptr) {
    if (image != nullptr) {
        *image = freshImage(size.height, size.width, CV_32FC3);
    }
    const std::array<float*, 3> planes = {texture.getChannel(0), texture.getChannel(1),
                                          texture.getChannel(2)};
    return readLayerRows(path, size, [&](int row, const float* rgba) {
        float* pixels = image != nullptr ? image->ptr<float>(row) : nullptr;
        const size_t at = static_cast<size_t>(row) * static_cast<size_t>(size.width);
        size_t bad = 0;
        for (int x = 0; x < size.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const float value = rgba[4 * x + 2 - c];
                bad += std::isfinite(value) ? 0 : 1;
                planes[static_cast<size_t>(c)][at + static_cast<size_t>(x)] = convert(value);
                if (pixels != nullptr) {
                    pixels[3 * x + c] = value;
                }
            }
        }
        nonFinite += bad;
    });
}

// Reads the positions into the distance map's plane as distances to the
// camera, and the nearest and farthest of each row.
bool readDistances(const std::string& path, cv::Size size, const CameraPosition& camera,
                   float* distances, std::vector<float>& nearest, std::vector<float>& farthest,
                   std::atomic<size_t>& nonFinite) {
    return readLayerRows(path, size, [&](int row, const float* rgba) {
        float* distance = distances + static_cast<size_t>(row) * static_cast<size_t>(size.width);
        float largest = std::numeric_limits<float>::min();
        float smallest = std::numeric_limits<float>::max();
        size_t bad = 0;
        for (int x = 0; x < size.width; ++x) {
            const float* xyz = rgba + 4 * x;
            bad += std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]) ? 0 : 3;
            const float d = distanceToCamera(xyz[2], xyz[1], xyz[0], camera);
            distance[x] = d;
            largest = std::max(largest, d);
            smallest = std::min(smallest, d);
        }
        nearest[static_cast<size_t>(row)] = smallest;
        farthest[static_cast<size_t>(row)] = largest;
        nonFinite += bad;
    });
}

// The long way: the whole frame as images, then the inputs made from it.
std::optional<PreparedFrame> loadWhole(const FramePaths& paths) {
    std::optional<Frame> frame = loadFrame(paths);
    if (!frame) {
        return std::nullopt;
    }
    PreparedFrame prepared;
    prepared.inputs = filterInputs(*frame);
    for (Layer spent : {Secondary, Positions, Normals, TexCoord}) {
        (*frame)[spent].release();
    }
    prepared.frame = std::move(*frame);
    return prepared;
}

}  // namespace

std::optional<PreparedFrame> loadPreparedFrame(const FramePaths& paths) {
    PreparedFrame prepared;
    Frame& frame = prepared.frame;
    const std::optional<cv::Size> size = checkFrameFiles(paths, frame);
    if (!size) {
        return std::nullopt;
    }
    FilterInputs& inputs = prepared.inputs;
    inputs.secondary = newTexture(*size, 3);
    inputs.normals = newTexture(*size, 3);
    inputs.distances = newTexture(*size, 1);
    std::vector<float> nearest(static_cast<size_t>(size->height));
    std::vector<float> farthest(nearest.size());
    inputs.texColor = newTexture(*size, 3);
    std::atomic<size_t> nonFinite{0}, nonFiniteColours{0};
    std::array<bool, LayerCount> read{};
    read[TexCoord] = true;
    constexpr Layer kRead[] = {Primary, Secondary, TexColor, Normals, Positions, Rest};
    cv::parallel_for_(cv::Range(0, static_cast<int>(std::size(kRead))), [&](const cv::Range& jobs) {
        for (int job = jobs.start; job < jobs.end; ++job) {
            const Layer layer = kRead[job];
            const std::string path = paths.layer(layer);
            switch (layer) {
                case Secondary:
                    read[layer] =
                        readIntoPlanes(path, *size, inputs.secondary, unchanged, nonFinite);
                    break;
                case Normals:
                    read[layer] =
                        readIntoPlanes(path, *size, inputs.normals, remappedNormal, nonFinite);
                    break;
                case TexColor:
                    read[layer] = readIntoPlanes(path, *size, inputs.texColor, unchanged,
                                                 nonFiniteColours, &frame.layers[layer]);
                    break;
                case Positions:
                    read[layer] =
                        readDistances(path, *size, frame.camera, inputs.distances.getChannel(0),
                                      nearest, farthest, nonFinite);
                    break;
                default:
                    frame.layers[layer] = read_float4(path);
                    read[layer] = frame.layers[layer].size() == *size;
            }
        }
    });
    const bool whole = std::all_of(read.begin(), read.end(), [](bool done) { return done; });
    if (whole && nonFinite > 0) {
        // Bad samples are repaired in the layers as loaded, before anything
        // is made from them.
        return loadWhole(paths);
    }
    if (!completeFrame(paths, read, frame)) {
        return std::nullopt;
    }
    cv::Mat distances(size->height, size->width, CV_32F, inputs.distances.getChannel(0));
    rescaleDistances(distances, *std::min_element(nearest.begin(), nearest.end()),
                     *std::max_element(farthest.begin(), farthest.end()), cv::Mat());
    if (nonFiniteColours > 0) {
        // The planes are made again from the repaired colours.
        inputs.texColor = toTexture(frame[TexColor]);
    }
    inputs.sigmaS = clampSigma(frame.settings.spatialSigma);
    inputs.sigmaR = clampSigma(frame.settings.rangeSigma);
    return prepared;
}

DenoisedFrame denoise(PreparedFrame prepared) {
    int64_t ticks = 0;
    const FilteredLight filtered = filterSecondary(std::move(prepared.inputs), ticks);
    const Frame& frame = prepared.frame;
    DenoisedFrame result;
    result.image = recombine(frame[Primary], filtered.view(), frame[TexColor], frame[Rest]);
    result.seconds = static_cast<double>(ticks) / cv::getTickFrequency();
    return result;
}

}  // namespace filtering
