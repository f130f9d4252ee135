#include "frame_io/png_file.h"

#include <png.h>

#include <cstdio>
#include <iostream>

#include "frame_io/output_file.h"

namespace filtering {

bool writePng(const std::string& path, const cv::Mat& bgr) {
    if (bgr.type() != CV_8UC3 || bgr.empty()) {
        std::cerr << "png: " << path << ": expects a non-empty 8-bit three-channel image"
                  << std::endl;
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(bgr.cols);
    image.height = static_cast<png_uint_32>(bgr.rows);
    image.format = PNG_FORMAT_BGR;
    ReplacingFile file(path);
    std::FILE* stream = file.isOpen() ? fdopen(file.release(), "wb") : nullptr;
    bool written = stream != nullptr &&
                   png_image_write_to_stdio(&image, stream, 0, bgr.data,
                                            static_cast<png_int_32>(bgr.step[0]), nullptr) != 0;
    written = (stream != nullptr && std::fclose(stream) == 0) && written;
    std::string error = image.warning_or_error != 0 ? image.message : "can't open it";
    if (!written || !file.commit(error)) {
        std::cerr << "png: can't write " << path << ": " << error << std::endl;
        return false;
    }
    return true;
}

}  // namespace filtering
