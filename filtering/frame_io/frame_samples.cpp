#include "frame_io/frame_samples.h"

#include "frame_io/non_finite_samples.h"

namespace filtering {

namespace {

constexpr Layer kUsedLayers[] = {Primary, Secondary, TexColor, Normals, Positions, Rest};

/// Layers that only steer the guide; the frame can be made without them.
bool onlySteersTheGuide(Layer layer) {
    return layer == Normals || layer == Positions;
}

const char* guideFeatureName(Layer layer) {
    return layer == Normals ? "the normals" : "the distance to the camera";
}

}  // namespace

bool repairNonFiniteSamples(Frame& frame, std::ostream& messages) {
    bool usable = true;
    for (Layer layer : kUsedLayers) {
        cv::Mat& image = frame[layer];
        if (image.empty()) {
            // Not held as an image: the loader read it into another form.
            continue;
        }
        const size_t bad = countNonFinite(image);
        if (bad == 0) {
            continue;
        }
        const std::string& name = frame.names[layer];
        messages << "filtering: " << (name.empty() ? kLayerFileNames[layer] : name) << ": ";
        if (bad == image.total() * image.channels()) {
            messages << "all " << bad << " values are non-finite; ";
            if (onlySteersTheGuide(layer)) {
                messages << "the guide goes without " << guideFeatureName(layer) << "\n";
            } else {
                messages << "no frame can be made\n";
                usable = false;
            }
        } else {
            messages << bad << " non-finite values replaced by the mean of their neighbours\n";
        }
        frame.repaired[layer] = replaceNonFinite(image);
    }
    messages.flush();
    return usable;
}

}  // namespace filtering
