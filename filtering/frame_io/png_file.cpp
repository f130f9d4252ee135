#include "frame_io/png_file.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <vector>

namespace filtering {

namespace {

void appendBigEndian(std::vector<unsigned char>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<unsigned char>(value >> shift));
    }
}

/// Length, type, data and the CRC of type and data.
void appendChunk(std::vector<unsigned char>& file, const char (&type)[5],
                 const std::vector<unsigned char>& data) {
    appendBigEndian(file, static_cast<uint32_t>(data.size()));
    const size_t typeStart = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    const uLong crc =
        crc32(0L, file.data() + typeStart, static_cast<uInt>(file.size() - typeStart));
    appendBigEndian(file, static_cast<uint32_t>(crc));
}

/// Every row behind a filter byte of 0 (none), in red, green, blue order.
std::vector<unsigned char> scanlines(const cv::Mat& bgr) {
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(bgr.rows) * (1 + 3 * static_cast<size_t>(bgr.cols)));
    for (int y = 0; y < bgr.rows; ++y) {
        raw.push_back(0);
        const auto* pixel = bgr.ptr<cv::Vec3b>(y);
        for (int x = 0; x < bgr.cols; ++x) {
            raw.insert(raw.end(), {pixel[x][2], pixel[x][1], pixel[x][0]});
        }
    }
    return raw;
}

bool compressed(const std::vector<unsigned char>& raw, std::vector<unsigned char>& packed) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    packed.resize(size);
    if (compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) {
        return false;
    }
    packed.resize(size);
    return true;
}

}  // namespace

bool writePng(const std::string& path, const cv::Mat& bgr) {
    if (bgr.type() != CV_8UC3 || bgr.empty()) {
        std::cerr << "png: " << path << ": expects a non-empty 8-bit three-channel image"
                  << std::endl;
        return false;
    }
    std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    appendBigEndian(header, static_cast<uint32_t>(bgr.cols));
    appendBigEndian(header, static_cast<uint32_t>(bgr.rows));
    // 8 bits a sample, colour type 2 (RGB), deflate, adaptive filters, no interlace.
    header.insert(header.end(), {8, 2, 0, 0, 0});
    appendChunk(file, "IHDR", header);
    std::vector<unsigned char> data;
    if (!compressed(scanlines(bgr), data)) {
        std::cerr << "png: " << path << ": compression failed" << std::endl;
        return false;
    }
    appendChunk(file, "IDAT", data);
    appendChunk(file, "IEND", {});
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::cerr << "png: can't write " << path << std::endl;
        return false;
    }
    return true;
}

}  // namespace filtering
