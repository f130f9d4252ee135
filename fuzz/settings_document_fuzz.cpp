// Any settings table composes into a document of exactly the length its entries add up to,
// framed by the declaration, the root and the reload flag; a table of plain keys and one-line
// values reads back entry for entry the way a renderer splits the lines; and the record written
// into the settings segment reports that length, or is refused without touching the segment.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "boundary/settings_record.h"
#include "settings_document.h"

namespace {

constexpr std::string_view kOpening =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<telvo_presets>\n";
constexpr std::string_view kClosingRoot = "</telvo_presets>\n";

void require(bool condition) {
    if (!condition) std::abort();
}

std::string_view reloadLine(bool reload) {
    return reload ? "<reloadTelvoProfile> 1</reloadTelvoProfile>\n"
                  : "<reloadTelvoProfile> 0</reloadTelvoProfile>\n";
}

// "<key> value </key>" and its line end around every entry.
std::size_t composedLength(const quendel::SettingsTable& table, bool reload) {
    std::size_t length = kOpening.size() + reloadLine(reload).size() + kClosingRoot.size();
    for (const auto& [key, value] : table) length += 2 * key.size() + value.size() + 8;
    return length;
}

bool isPlain(const std::string& key, const std::string& value) {
    return !key.empty() && key.find_first_of(">\n") == std::string::npos &&
           value.find('\n') == std::string::npos;
}

// Splits the entry lines the way a line-oriented reader does: key up to the first '>', value
// between the blank after it and the blank before the closing tag.
quendel::SettingsTable readEntries(std::string_view document, std::size_t entryCount) {
    quendel::SettingsTable entries;
    std::istringstream lines{std::string(document.substr(kOpening.size()))};
    std::string line;
    for (std::size_t i = 0; i < entryCount && std::getline(lines, line); ++i) {
        const std::size_t tagEnd = line.find('>');
        require(line.front() == '<' && tagEnd != std::string::npos);
        const std::string key = line.substr(1, tagEnd - 1);
        const std::string closing = " </" + key + ">";
        require(line.size() >= tagEnd + 2 + closing.size() && line[tagEnd + 1] == ' ' &&
                line.ends_with(closing));
        entries[key] = line.substr(tagEnd + 2, line.size() - tagEnd - 2 - closing.size());
    }
    return entries;
}

void checkRecord(const std::string& document, std::size_t segmentSize) {
    std::vector<std::byte> segment(segmentSize, std::byte{0x5A});
    const std::vector<std::byte> before = segment;
    const bool written = quendel::writeSettingsRecord(segment, document);
    require(written == quendel::settingsDocumentFits(segmentSize, document.size()));
    if (!written) {
        require(segment == before);
        return;
    }
    const quendel::SettingsRecordHeader header = quendel::readSettingsHeader(segment);
    require(header.headerMarker == quendel::kRecordHeaderMarker);
    require(static_cast<std::size_t>(header.textLength) == document.size());
    require(segment[quendel::kRecordHeaderSize + document.size()] == std::byte{0});
    if (document.find('\0') == std::string::npos) {
        require(quendel::readSettingsText(segment, segmentSize) == document);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool reload = input.ConsumeBool();
    const std::size_t segmentSize = input.ConsumeIntegralInRange<std::size_t>(0, 8192);
    quendel::SettingsTable table;
    bool allPlain = true;
    while (input.remaining_bytes() > 0) {
        std::string key = input.ConsumeRandomLengthString(64);
        std::string value = input.ConsumeRandomLengthString(512);
        allPlain = allPlain && isPlain(key, value);
        table[std::move(key)] = std::move(value);
    }

    const std::string document = quendel::composeSettingsDocument(table, reload);
    require(document.size() == composedLength(table, reload));
    require(document.starts_with(kOpening));
    const std::string closing = std::string(reloadLine(reload)) + std::string(kClosingRoot);
    require(document.ends_with(closing));
    if (allPlain) require(readEntries(document, table.size()) == table);
    checkRecord(document, segmentSize);
    return 0;
}
