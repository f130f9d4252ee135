#include "boundary/settings_record.h"

#include <algorithm>
#include <cstring>

namespace quendel {

namespace {

constexpr std::size_t kTextLengthOffset = 0;
constexpr std::size_t kReadFlagOffset = 4;
constexpr std::size_t kPublishCountOffset = 8;
constexpr std::size_t kMarkerOffset = 12;
constexpr std::size_t kMessageAreaCleared = 1024;

std::int32_t loadInt32(std::span<const std::byte> bytes, std::size_t offset) {
    return static_cast<std::int32_t>(loadLittleEndian32(bytes, offset));
}

void storeInt32(std::span<std::byte> bytes, std::size_t offset, std::int32_t value) {
    storeLittleEndian32(bytes, offset, static_cast<std::uint32_t>(value));
}

std::size_t textZoneSize(std::span<const std::byte> segment) {
    return segment.size() > kRecordHeaderSize ? segment.size() - kRecordHeaderSize : 0;
}

}  // namespace

std::uint32_t loadLittleEndian32(std::span<const std::byte> bytes, std::size_t offset) {
    if (offset + 4 > bytes.size()) return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

void storeLittleEndian32(std::span<std::byte> bytes, std::size_t offset, std::uint32_t value) {
    if (offset + 4 > bytes.size()) return;
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
    }
}

bool settingsDocumentFits(std::size_t segmentSize, std::size_t documentLength) {
    return segmentSize >= kRecordHeaderSize + 1 &&
           documentLength <= segmentSize - kRecordHeaderSize - 1;
}

bool writeSettingsRecord(std::span<std::byte> segment, std::string_view document) {
    if (!settingsDocumentFits(segment.size(), document.size())) return false;
    // The count's rule depends on the header as the reader left it, so read it before clearing.
    const SettingsRecordHeader previous = readSettingsHeader(segment);
    const std::int32_t count = previous.readFlag != 0 ? 0 : previous.publishCount + 1;

    std::fill(segment.begin(), segment.end(), std::byte{0});
    std::memcpy(segment.data() + kRecordHeaderSize, document.data(), document.size());
    storeInt32(segment, kTextLengthOffset, static_cast<std::int32_t>(document.size()));
    storeInt32(segment, kReadFlagOffset, 0);
    storeInt32(segment, kPublishCountOffset, count);
    storeLittleEndian32(segment, kMarkerOffset, kRecordHeaderMarker);
    return true;
}

SettingsRecordHeader readSettingsHeader(std::span<const std::byte> segment) {
    SettingsRecordHeader header;
    header.textLength = loadInt32(segment, kTextLengthOffset);
    header.readFlag = loadInt32(segment, kReadFlagOffset);
    header.publishCount = loadInt32(segment, kPublishCountOffset);
    header.headerMarker = loadLittleEndian32(segment, kMarkerOffset);
    return header;
}

std::string readSettingsText(std::span<const std::byte> segment, std::size_t limit) {
    const std::size_t available = std::min(limit, textZoneSize(segment));
    const char* text = reinterpret_cast<const char*>(segment.data()) + kRecordHeaderSize;
    return std::string(text, strnlen(text, available));
}

void markSettingsRead(std::span<std::byte> segment) {
    storeInt32(segment, kReadFlagOffset, 1);
}

bool writeRequestText(std::span<std::byte> segment, std::string_view text) {
    if (!settingsDocumentFits(segment.size(), text.size())) return false;
    std::byte* zone = segment.data() + kRecordHeaderSize;
    std::memcpy(zone, text.data(), text.size());
    zone[text.size()] = std::byte{0};
    return true;
}

bool holdsExitNowRequest(std::span<const std::byte> segment) {
    // A text cut at the limit is too long to be a request, whatever it contains.
    const std::string text = readSettingsText(segment, kRequestTextLimit);
    return text.size() < kRequestTextLimit && text.find(kExitNowRequest) != std::string::npos;
}

void clearMessageArea(std::span<std::byte> segment) {
    const std::size_t count = std::min(kMessageAreaCleared, segment.size());
    std::fill(segment.begin(), segment.begin() + static_cast<std::ptrdiff_t>(count), std::byte{0});
}

void writeImageHeader(std::span<std::byte> segment, std::int32_t width, std::int32_t height) {
    storeInt32(segment, 0, width);
    storeInt32(segment, 4, height);
    storeInt32(segment, 8, 1);
    storeInt32(segment, 12, 0);
}

}  // namespace quendel
