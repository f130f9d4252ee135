#include "working_frame.h"

namespace sample_frame {

cv::Mat toWorkingImage(const Image& image, int width, int height) {
    cv::Mat working(height, width, CV_32FC3);
    for (int row = 0; row < height; ++row) {
        auto* out = working.ptr<cv::Vec3f>(row);
        for (int column = 0; column < width; ++column) {
            const Vector3& value = image[static_cast<size_t>(row) * width + column];
            out[column] = cv::Vec3f(value.z, value.y, value.x);
        }
    }
    return working;
}

filtering::Frame toFrame(const FrameLayers& layers, const Vector3& camera,
                         const filtering::FilterSettings& settings) {
    filtering::Frame frame;
    frame.camera = {camera.x, camera.y, camera.z};
    frame.settings = settings;
    const std::pair<filtering::Layer, const Image*> sources[] = {
        {filtering::Primary, &layers.primary},     {filtering::Secondary, &layers.secondary},
        {filtering::TexColor, &layers.texColor},   {filtering::Normals, &layers.normals},
        {filtering::Positions, &layers.positions}, {filtering::TexCoord, &layers.texCoords},
        {filtering::Rest, &layers.rest},
    };
    for (const auto& [layer, image] : sources) {
        frame[layer] = toWorkingImage(*image, layers.width, layers.height);
    }
    return frame;
}

}  // namespace sample_frame
