#include "support/panel_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "boundary/shared_segment.h"

namespace quendel::testing {

namespace {

constexpr std::chrono::milliseconds kTestLockTimeout{2000};

}  // namespace

ScopedSegmentNames::ScopedSegmentNames(const std::string& tag)
    : m_suffix("." + tag + "." + std::to_string(getpid())),
      m_names(SegmentNames::withSuffix(m_suffix)) {
    removeAll();
}

ScopedSegmentNames::~ScopedSegmentNames() {
    removeAll();
}

void ScopedSegmentNames::removeAll() const {
    SharedSegment::removeName(m_names.settings);
    SharedSegment::removeName(m_names.message);
    SharedSegment::removeName(m_names.image);
}

PublishedRecord readPublishedRecord(const SegmentNames& names) {
    PublishedRecord record;
    SharedSegment segment(names.settings);
    if (!segment.attach()) return record;
    SegmentLock lock(segment, kTestLockTimeout);
    record.header = readSettingsHeader(segment.bytes());
    const std::string text = readSettingsText(segment.bytes(), segment.size());
    const auto length = static_cast<std::size_t>(std::max(record.header.textLength, 0));
    record.document = text.substr(0, length);
    record.lines = splitLines(record.document);
    record.values = parseDocumentValues(record.document);
    return record;
}

void acknowledgePublishedRecord(const SegmentNames& names) {
    SharedSegment segment(names.settings);
    if (!segment.attach()) return;
    SegmentLock lock(segment, kTestLockTimeout);
    markSettingsRead(segment.bytes());
}

void writeRendererRequest(const SegmentNames& names, const std::string& text) {
    SharedSegment segment(names.settings);
    if (!segment.attach()) return;
    SegmentLock lock(segment, kTestLockTimeout);
    writeRequestText(segment.bytes(), text);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::map<std::string, std::string> parseDocumentValues(const std::string& document) {
    std::map<std::string, std::string> values;
    for (const std::string& line : splitLines(document)) {
        if (line.size() < 2 || line[0] != '<' || line[1] == '?' || line[1] == '/') continue;
        const std::size_t tagEnd = line.find('>');
        if (tagEnd == std::string::npos) continue;
        const std::string key = line.substr(1, tagEnd - 1);
        const std::string closing = "</" + key + ">";
        if (line.size() < tagEnd + 1 + closing.size() ||
            line.compare(line.size() - closing.size(), closing.size(), closing) != 0) {
            continue;
        }
        std::string value = line.substr(tagEnd + 1, line.size() - closing.size() - tagEnd - 1);
        // One blank after the opening tag, one before the closing tag (none for the reload flag).
        if (!value.empty() && value.front() == ' ') value.erase(0, 1);
        if (!value.empty() && value.back() == ' ') value.pop_back();
        values[key] = value;
    }
    return values;
}

std::vector<std::string> readFileLines(const std::string& path) {
    return splitLines(readFileText(path));
}

std::string readFileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace quendel::testing
