#include "renderer_standin.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "boundary/segment_names.h"
#include "boundary/settings_record.h"
#include "boundary/shared_segment.h"

namespace quendel {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kLockTimeout{2000};

struct Document {
    SettingsRecordHeader header;
    std::string text;
};

bool openSegment(SharedSegment& segment, std::size_t size) {
    if (segment.attach() || segment.create(size)) return true;
    std::cerr << "telvo: cannot open segment " << segment.name() << '\n';
    return false;
}

// A document is new when the panel has written it and no reader has taken it yet.
std::optional<Document> takeNewDocument(const SharedSegment& settings) {
    SegmentLock lock(settings, kLockTimeout);
    const SettingsRecordHeader header = readSettingsHeader(settings.bytes());
    if (header.headerMarker != kRecordHeaderMarker || header.readFlag != 0) return std::nullopt;
    Document document{header, readSettingsText(settings.bytes(), settings.size())};
    markSettingsRead(settings.bytes());
    return document;
}

void requestSettings(const SharedSegment& settings) {
    SegmentLock lock(settings, kLockTimeout);
    writeRequestText(settings.bytes(), kExitNowRequest);
}

void printDocument(const Document& document) {
    std::cout << "document count=" << document.header.publishCount
              << " length=" << document.header.textLength << '\n'
              << document.text << "end of document\n"
              << std::flush;
}

void logStart(const StandinOptions& options) {
    std::ofstream log(options.logPath, std::ios::app);
    log << "started pid=" << getpid() << " scene=" << options.scene
        << " profile=" << options.profile << '\n';
}

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

int runRendererStandin(const StandinOptions& options) {
    logStart(options);
    const SegmentNames names = SegmentNames::withSuffix(options.segmentSuffix);
    SharedSegment settings(names.settings);
    SharedSegment message(names.message);
    SharedSegment image(names.image);
    if (!openSegment(settings, kSettingsSegmentSize) ||
        !openSegment(message, kMessageSegmentSize) || !openSegment(image, kImageSegmentSize)) {
        return 1;
    }

    const Clock::time_point start = Clock::now();
    bool awaitingAnswer = false;
    Clock::time_point requestedAt{};
    int received = 0;
    while (options.documentLimit == 0 || received < options.documentLimit) {
        if (const std::optional<Document> document = takeNewDocument(settings)) {
            ++received;
            printDocument(*document);
            if (awaitingAnswer) {
                std::cout << "exitnow answered after " << millisecondsSince(requestedAt) << " ms\n"
                          << std::flush;
                awaitingAnswer = false;
            } else if (options.requestExitNow && received == 1) {
                requestSettings(settings);
                requestedAt = Clock::now();
                awaitingAnswer = true;
            }
        }
        if (options.timeoutMilliseconds > 0 &&
            millisecondsSince(start) > options.timeoutMilliseconds) {
            std::cout << "timed out after " << received << " documents\n" << std::flush;
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options.pollMilliseconds));
    }
    return 0;
}

}  // namespace quendel
