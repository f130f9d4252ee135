#pragma once

#include <map>
#include <string>
#include <vector>

#include "boundary/segment_names.h"
#include "boundary/settings_record.h"

namespace quendel::testing {

// Segment names no other test program (or a real panel) uses; the names are removed again when
// the object goes away.
class ScopedSegmentNames {
  public:
    explicit ScopedSegmentNames(const std::string& tag);
    ~ScopedSegmentNames();
    ScopedSegmentNames(const ScopedSegmentNames&) = delete;
    ScopedSegmentNames& operator=(const ScopedSegmentNames&) = delete;

    const SegmentNames& names() const { return m_names; }
    const std::string& suffix() const { return m_suffix; }
    void removeAll() const;

  private:
    std::string m_suffix;
    SegmentNames m_names;
};

// The settings record as a renderer sees it.
struct PublishedRecord {
    SettingsRecordHeader header;
    std::string document;                       // textLength bytes from the text zone
    std::map<std::string, std::string> values;  // "<key> value </key>" lines, value unpadded
    std::vector<std::string> lines;
};

// Attaches to the settings segment, takes its lock and reads the record. An empty record
// (document empty, header zero) when the segment does not exist.
PublishedRecord readPublishedRecord(const SegmentNames& names);

// Sets the read flag, the way a renderer acknowledges a document.
void acknowledgePublishedRecord(const SegmentNames& names);

// Puts a request text into the settings segment's text zone, as a renderer does.
void writeRendererRequest(const SegmentNames& names, const std::string& text);

std::map<std::string, std::string> parseDocumentValues(const std::string& document);
std::vector<std::string> splitLines(const std::string& text);

// The lines of a text file, without line ends; empty when it cannot be read.
std::vector<std::string> readFileLines(const std::string& path);
std::string readFileText(const std::string& path);

}  // namespace quendel::testing
