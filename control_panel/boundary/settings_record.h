#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quendel {

// Layout of the settings segment: a 16-byte header of little-endian fields, then the document
// text, zero-terminated. Every function here expects the caller to hold the segment's lock.
inline constexpr std::size_t kRecordHeaderSize = 16;
inline constexpr std::uint32_t kRecordHeaderMarker = 0xFAFAFAFA;
// A renderer asks for the settings again by putting a short text containing this word at the
// start of the text zone; a settings document is always longer than kRequestTextLimit.
inline constexpr std::string_view kExitNowRequest = "exitnow";
inline constexpr std::size_t kRequestTextLimit = 1000;

struct SettingsRecordHeader {
    std::int32_t textLength = 0;
    std::int32_t readFlag = 0;
    std::int32_t publishCount = 0;
    std::uint32_t headerMarker = 0;
};

// Whether a document of `documentLength` bytes, its header and a terminating zero fit.
bool settingsDocumentFits(std::size_t segmentSize, std::size_t documentLength);

// Replaces the record with `document`: the whole segment is cleared first, the publication count
// goes up by one, or restarts at 0 when a reader has set the read flag since the last time.
// Returns false and leaves the segment untouched when the document does not fit.
bool writeSettingsRecord(std::span<std::byte> segment, std::string_view document);

SettingsRecordHeader readSettingsHeader(std::span<const std::byte> segment);

// The zero-terminated text at the start of the text zone, at most `limit` bytes; a text without
// a terminator inside the limit (or inside the segment) comes back cut at that point.
std::string readSettingsText(std::span<const std::byte> segment, std::size_t limit);

// Set by a reader once it has taken a document.
void markSettingsRead(std::span<std::byte> segment);

// Puts a request text into the text zone, the way a renderer does. False when it does not fit.
bool writeRequestText(std::span<std::byte> segment, std::string_view text);

// True when the text zone holds a short text (under kRequestTextLimit bytes) with the word
// kExitNowRequest in it.
bool holdsExitNowRequest(std::span<const std::byte> segment);

// The message area: its first 1024 bytes (or fewer in a smaller segment) are cleared.
void clearMessageArea(std::span<std::byte> segment);

// The image segment's header: width, height, 1, 0.
void writeImageHeader(std::span<std::byte> segment, std::int32_t width, std::int32_t height);

std::uint32_t loadLittleEndian32(std::span<const std::byte> bytes, std::size_t offset);
void storeLittleEndian32(std::span<std::byte> bytes, std::size_t offset, std::uint32_t value);

}  // namespace quendel
