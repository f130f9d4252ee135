#include "frame_io/exr_frame.h"

#include <ImfChannelList.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>

#include <iostream>
#include <map>

#include "frame_io/camera_fit.h"
#include "frame_io/exr_library.h"
#include "frame_io/exr_pixels.h"
#include "frame_io/frame_samples.h"

namespace filtering {

namespace {

constexpr std::pair<Layer, PassRole> kLayerRoles[] = {{Primary, PassRole::Primary},
                                                      {Secondary, PassRole::Secondary},
                                                      {TexColor, PassRole::TexColor},
                                                      {Normals, PassRole::Normals},
                                                      {Positions, PassRole::Positions}};

bool refuse(const std::string& path, const std::string& why) {
    std::cerr << "filtering: " << path << ": " << why << std::endl;
    return false;
}

std::vector<std::string> channelNames(const Imf::Header& header) {
    std::vector<std::string> names;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
        names.emplace_back(it.name());
    }
    return names;
}

// The sizes and shape of the file, checked before any pixel is read.
bool checkHeader(const std::string& path, const Imf::Header& header, long long maxPixels,
                 cv::Size& size) {
    if (header.hasType() && Imf::isDeepData(header.type())) {
        return refuse(path, "is a deep file; only flat images can be denoised");
    }
    const Imath::Box2i& window = header.dataWindow();
    const long long width = static_cast<long long>(window.max.x) - window.min.x + 1;
    const long long height = static_cast<long long>(window.max.y) - window.min.y + 1;
    if (width <= 0 || height <= 0) {
        return refuse(path, "has an empty data window");
    }
    maxPixels = std::min(maxPixels, kMaxFramePixels);
    if (width > kMaxFrameSide || height > kMaxFrameSide || width * height > maxPixels) {
        return refuse(path, "its data window of " + std::to_string(width) + " x " +
                                std::to_string(height) + " is larger than the largest frame (" +
                                std::to_string(kMaxFrameSide) + " a side, " +
                                std::to_string(maxPixels) + " pixels)");
    }
    size = cv::Size(static_cast<int>(width), static_cast<int>(height));
    return true;
}

// Reads the channels of every found role into images in working order (the
// third component first, as `.imagef4` layers are loaded), and the depth and
// alpha into one-channel images.
class PassReader {
  public:
    PassReader(const Imf::Header& header, cv::Size size) : header_(header), size_(size) {}

    // One channel of the file into one channel of `image`, made beforehand.
    void add(const std::string& channel, cv::Mat& image, int imageChannel) {
        const auto first = targets_.find(channel);
        if (first != targets_.end()) {
            copies_.push_back({first->second, {&image, imageChannel}});
            return;
        }
        targets_[channel] = {&image, imageChannel};
    }

    void addImage(const PassChannels& pass, cv::Mat& image) {
        image.create(size_, CV_32FC(static_cast<int>(pass.channels.size())));
        const int count = static_cast<int>(pass.channels.size());
        for (int k = 0; k < count; ++k) {
            add(pass.channels[static_cast<size_t>(k)], image, count - 1 - k);
        }
    }

    // False, with what is wrong, for a channel stored at less than full
    // resolution.
    bool subsampled(std::string& channel) const {
        for (const auto& [name, target] : targets_) {
            const Imf::Channel* found = header_.channels().findChannel(name);
            if (found->xSampling != 1 || found->ySampling != 1) {
                channel = name;
                return true;
            }
        }
        return false;
    }

    void read(const std::string& path) {
        std::vector<ExrChannelTarget> targets;
        for (const auto& [name, target] : targets_) {
            targets.push_back({name, target.image, target.channel});
        }
        readExrChannels(path, targets);
        for (const auto& [from, to] : copies_) {
            cv::Mat plane;
            cv::extractChannel(*from.image, plane, from.channel);
            cv::insertChannel(plane, *to.image, to.channel);
        }
    }

  private:
    struct Target {
        cv::Mat* image;
        int channel;
    };
    const Imf::Header& header_;
    cv::Size size_;
    std::map<std::string, Target> targets_;
    std::vector<std::pair<Target, Target>> copies_;
};

// The vector pass (read as w, z, y, x: X, Y from the previous frame's place
// to this one, Z, W from the next frame's place, y up) as the offsets to
// the previous and next places, y down; empty when a value is not finite,
// since the motion only helps and a broken pass is better left unused.
cv::Mat motionFromVectors(const cv::Mat& vectors) {
    if (!cv::checkRange(vectors)) return cv::Mat();
    cv::Mat motion(vectors.size(), CV_32FC4);
    vectors.forEach<cv::Vec4f>([&motion](const cv::Vec4f& wzyx, const int* at) {
        motion.at<cv::Vec4f>(at[0], at[1]) = {wzyx[3], -wzyx[2], -wzyx[1], wzyx[0]};
    });
    return motion;
}

// rest = beauty - texture colour x (primary + secondary), channel by channel.
cv::Mat restFromBeauty(const cv::Mat& beauty, const Frame& frame) {
    cv::Mat rest(beauty.size(), CV_32FC3);
    for (int row = 0; row < rest.rows; ++row) {
        const float* b = beauty.ptr<float>(row);
        const float* t = frame[TexColor].ptr<float>(row);
        const float* p = frame[Primary].ptr<float>(row);
        const float* s = frame[Secondary].ptr<float>(row);
        float* r = rest.ptr<float>(row);
        for (int i = 0; i < rest.cols * 3; ++i) {
            r[i] = b[i] - t[i] * (p[i] + s[i]);
        }
    }
    return rest;
}

// The glossy layers are an extra that only sharpens the quality mode's
// result: a frame whose glossy passes hold any non-finite sample is denoised
// without them, its glossy light left in the rest layer.
void keepFiniteGlossy(const cv::Mat& indirect, Frame& frame) {
    frame.glossyLight += indirect;
    if (!cv::checkRange(frame.glossyLight) || !cv::checkRange(frame.glossyColor)) {
        frame.glossyLight.release();
        frame.glossyColor.release();
    }
}

// The depth as the positions layer: first component (x, the third working
// channel) the depth, the others 0, so that the distance to a camera at 0 is
// the depth itself. Background takes no part in the distance range.
void positionsFromDepth(const cv::Mat& depth, Frame& frame) {
    cv::Mat positions(depth.size(), CV_32FC3, cv::Scalar::all(0.0));
    cv::Mat background(depth.size(), CV_8U, cv::Scalar(0));
    bool anyBackground = false;
    for (int row = 0; row < depth.rows; ++row) {
        const float* d = depth.ptr<float>(row);
        auto* p = positions.ptr<cv::Vec3f>(row);
        uint8_t* far = background.ptr<uint8_t>(row);
        for (int col = 0; col < depth.cols; ++col) {
            const bool surface = std::isfinite(d[col]) && d[col] < kBackgroundDepth;
            p[col][2] = surface ? d[col] : kBackgroundDepth;
            far[col] = surface ? 0 : 255;
            anyBackground |= !surface;
        }
    }
    frame[Positions] = positions;
    frame.camera = CameraPosition{};
    if (anyBackground) frame.repaired[Positions] = background;
}

bool chooseDistances(const std::string& path, const ExrReadOptions& options, const cv::Mat& depth,
                     ExrFrame& loaded) {
    Frame& frame = loaded.frame;
    const bool havePositions = !frame[Positions].empty();
    if (havePositions && options.camera) {
        frame.camera = *options.camera;
        loaded.distances = DistanceSource::GivenCamera;
        return true;
    }
    if (const auto camera = headerCamera(loaded.header); havePositions && camera) {
        frame.camera = *camera;
        loaded.distances = DistanceSource::HeaderCamera;
        return true;
    }
    if (havePositions && !depth.empty()) {
        if (const auto camera = fitCamera(frame[Positions], depth)) {
            frame.camera = *camera;
            loaded.distances = DistanceSource::EstimatedCamera;
            std::cerr << "filtering: " << path << ": no camera position given; the one that fits "
                      << "its positions and depth is " << camera->x << "," << camera->y << ","
                      << camera->z << " (--camera X,Y,Z sets it)" << std::endl;
            return true;
        }
    }
    if (depth.empty()) {
        return refuse(path,
                      "the distance map needs the camera position (--camera X,Y,Z or the "
                      "file's worldToCamera attribute) beside the positions, or a depth pass; "
                      "the file has neither");
    }
    if (havePositions) {
        std::cerr << "filtering: " << path << ": no camera position given or found; the depth "
                  << "pass stands in for the distance to the camera" << std::endl;
    }
    positionsFromDepth(depth, frame);
    loaded.distances = DistanceSource::Depth;
    return true;
}

FilterSettings chooseSettings(const ExrReadOptions& options, const Imf::Header& header) {
    FilterSettings settings = kDefaultSettings;
    if (const auto* text = header.findTypedAttribute<Imf::StringAttribute>(kSettingsAttribute)) {
        parseSettings(text->value(), settings);
    }
    settings.rangeSigma = options.rangeSigma.value_or(settings.rangeSigma);
    settings.spatialSigma = options.spatialSigma.value_or(settings.spatialSigma);
    return settings;
}

std::optional<ExrFrame> readExrFrame(const std::string& path, const ExrReadOptions& options) {
    // A damaged header can declare attributes far longer than the file,
    // which the headers' reader below would allocate before it finds out.
    checkExrHeaders(path);
    Imf::MultiPartInputFile file(path.c_str());
    if (file.parts() > 1) {
        std::cerr << "filtering: " << path << ": has " << file.parts()
                  << " parts; the first is read" << std::endl;
    }
    ExrFrame loaded;
    loaded.header = file.header(0);
    cv::Size size;
    if (!checkHeader(path, loaded.header, options.maxPixels, size)) {
        return std::nullopt;
    }
    Imf::InputPart part(file, 0);
    if (!part.isComplete()) {
        refuse(path, "is cut short: some of its pixels are missing");
        return std::nullopt;
    }
    std::string error;
    const std::vector<std::string> channels = channelNames(loaded.header);
    const std::optional<PassLayout> passes = findPasses(channels, options.passes, error);
    if (!passes) {
        refuse(path, error);
        return std::nullopt;
    }
    loaded.passes = *passes;
    Frame& frame = loaded.frame;
    PassReader reader(loaded.header, size);
    for (const auto& [layer, role] : kLayerRoles) {
        if (const auto& pass = (*passes)[role]) {
            reader.addImage(*pass, frame[layer]);
            frame.names[layer] = path + ": " + pass->pass;
        }
    }
    cv::Mat depth, beauty;
    if (const auto& pass = (*passes)[PassRole::Depth]) reader.addImage(*pass, depth);
    const auto& rest = (*passes)[PassRole::Rest];
    const auto& beautyPass = (*passes)[PassRole::Beauty];
    if (rest) {
        reader.addImage(*rest, frame[Rest]);
        frame.names[Rest] = path + ": " + rest->pass;
    } else {
        reader.addImage(*beautyPass, beauty);
        const std::string beautyName = beautyPass->pass.empty() ? "R G B" : beautyPass->pass;
        frame.names[Rest] = path + ": " + beautyName + " less the diffuse light";
    }
    const auto& glossyDirect = (*passes)[PassRole::GlossyDirect];
    const auto& glossyIndirect = (*passes)[PassRole::GlossyIndirect];
    const auto& glossyColor = (*passes)[PassRole::GlossyColor];
    cv::Mat glossyIndirectLight;
    const bool glossy = glossyDirect && glossyIndirect && glossyColor;
    if (glossy) {
        reader.addImage(*glossyDirect, frame.glossyLight);
        reader.addImage(*glossyIndirect, glossyIndirectLight);
        reader.addImage(*glossyColor, frame.glossyColor);
    }
    cv::Mat vectors;
    if (const auto& motion = (*passes)[PassRole::Motion]) reader.addImage(*motion, vectors);
    if (beautyPass && !beautyPass->alpha.empty()) {
        loaded.alpha.create(size, CV_32F);
        reader.add(beautyPass->alpha, loaded.alpha, 0);
    }
    if (std::string channel; reader.subsampled(channel)) {
        refuse(path,
               "channel " + channel + " is subsampled; the passes must be at full resolution");
        return std::nullopt;
    }
    try {
        reader.read(path);
    } catch (const std::exception& failure) {
        refuse(path,
               std::string("its pixels cannot be read (cut short or damaged): ") + failure.what());
        return std::nullopt;
    }
    if (!rest) {
        frame[Rest] = restFromBeauty(beauty, frame);
    }
    if (glossy) {
        keepFiniteGlossy(glossyIndirectLight, frame);
    }
    if (!vectors.empty()) frame.motion = motionFromVectors(vectors);
    if (!chooseDistances(path, options, depth, loaded)) {
        return std::nullopt;
    }
    frame.settings = chooseSettings(options, loaded.header);
    if (!repairNonFiniteSamples(frame, std::cerr)) {
        return std::nullopt;
    }
    return loaded;
}

}  // namespace

std::optional<CameraPosition> headerCamera(const Imf::Header& header) {
    if (!Imf::hasWorldToCamera(header)) {
        return std::nullopt;
    }
    // Row vectors: a point times worldToCamera is in camera space, so the
    // camera sits where the inverse takes the origin.
    const Imath::M44d toCamera(Imf::worldToCamera(header));
    const Imath::M44d toWorld = toCamera.inverse();
    return CameraPosition{static_cast<float>(toWorld[3][0]), static_cast<float>(toWorld[3][1]),
                          static_cast<float>(toWorld[3][2])};
}

std::optional<ExrFrame> loadExrFrame(const std::string& path, const ExrReadOptions& options) {
    useExrThreads();
    try {
        return readExrFrame(path, options);
    } catch (const std::exception& failure) {
        refuse(path, std::string("is not a readable OpenEXR file: ") + failure.what());
        return std::nullopt;
    }
}

}  // namespace filtering
