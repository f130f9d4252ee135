// The settings record as both sides see it: header fields, the count's restart rule, documents
// that do not fit, and the renderer's "exitnow" request.
#include "boundary/settings_record.h"

#include <QTest>
#include <vector>

using namespace quendel;

namespace {

std::vector<std::byte> segmentOf(std::size_t size, std::byte fill = std::byte{0x5A}) {
    return std::vector<std::byte>(size, fill);
}

}  // namespace

class SettingsRecordTest : public QObject {
    Q_OBJECT

  private slots:
    void headerFieldsAreLittleEndianAtTheirOffsets() {
        auto segment = segmentOf(64, std::byte{0});
        QVERIFY(writeSettingsRecord(segment, std::string(40, 'z')));
        QVERIFY(writeSettingsRecord(segment, "abc"));
        const unsigned char expected[16] = {3, 0, 0, 0, 0,    0,    0,    0,
                                            2, 0, 0, 0, 0xFA, 0xFA, 0xFA, 0xFA};
        for (std::size_t i = 0; i < 16; ++i) {
            QCOMPARE(static_cast<unsigned>(segment[i]), static_cast<unsigned>(expected[i]));
        }
        QCOMPARE(readSettingsText(segment, 100), std::string("abc"));
        // Everything after the text is cleared, including what an earlier, longer text left.
        for (std::size_t i = 16 + 3; i < segment.size(); ++i) QCOMPARE(segment[i], std::byte{0});
    }

    void leftoverReadFlagRestartsTheCount() {
        auto segment = segmentOf(64);
        QVERIFY(writeSettingsRecord(segment, "abc"));
        QCOMPARE(readSettingsHeader(segment).publishCount, 0);
    }

    void countGoesUpUntilAReaderSetsTheFlag() {
        auto segment = segmentOf(256, std::byte{0});
        QVERIFY(writeSettingsRecord(segment, "first"));
        QCOMPARE(readSettingsHeader(segment).publishCount, 1);
        QVERIFY(writeSettingsRecord(segment, "second"));
        QCOMPARE(readSettingsHeader(segment).publishCount, 2);
        markSettingsRead(segment);
        QCOMPARE(readSettingsHeader(segment).readFlag, 1);
        QVERIFY(writeSettingsRecord(segment, "third"));
        const SettingsRecordHeader header = readSettingsHeader(segment);
        QCOMPARE(header.publishCount, 0);
        QCOMPARE(header.readFlag, 0);
        QCOMPARE(header.textLength, 5);
        QCOMPARE(header.headerMarker, kRecordHeaderMarker);
        QVERIFY(writeSettingsRecord(segment, "fourth"));
        QCOMPARE(readSettingsHeader(segment).publishCount, 1);
    }

    void documentMustLeaveRoomForHeaderAndTerminator() {
        QVERIFY(settingsDocumentFits(32768, 32751));
        QVERIFY(!settingsDocumentFits(32768, 32752));
        QVERIFY(!settingsDocumentFits(0, 0));
        QVERIFY(!settingsDocumentFits(16, 0));

        auto segment = segmentOf(32, std::byte{0});
        QVERIFY(writeSettingsRecord(segment, "kept"));
        const auto before = segment;
        QVERIFY(!writeSettingsRecord(segment, std::string(16, 'x')));
        QVERIFY(segment == before);
        QVERIFY(writeSettingsRecord(segment, std::string(15, 'x')));
        QCOMPARE(segment.back(), std::byte{0});
    }

    void onlyAShortTextWithTheWordIsARequest() {
        auto segment = segmentOf(4096, std::byte{0});
        QVERIFY(writeSettingsRecord(segment, "<telvo_presets> exitnow"));
        QVERIFY(holdsExitNowRequest(segment));

        QVERIFY(writeRequestText(segment, "please exitnow"));
        QVERIFY(holdsExitNowRequest(segment));

        std::string longText(kRequestTextLimit, 'a');
        longText.replace(10, kExitNowRequest.size(), kExitNowRequest);
        QVERIFY(writeSettingsRecord(segment, longText));
        QVERIFY(!holdsExitNowRequest(segment));
        longText.pop_back();
        QVERIFY(writeSettingsRecord(segment, longText));
        QVERIFY(holdsExitNowRequest(segment));

        QVERIFY(writeSettingsRecord(segment, "exitno"));
        QVERIFY(!holdsExitNowRequest(segment));
    }

    void unterminatedTextStaysInsideTheSegment() {
        auto segment = segmentOf(24, std::byte{'e'});
        QCOMPARE(readSettingsText(segment, 1000), std::string(8, 'e'));
        QVERIFY(!holdsExitNowRequest(segment));
    }

    void messageAreaAndImageHeader() {
        auto message = segmentOf(1040);
        clearMessageArea(message);
        for (std::size_t i = 0; i < 1024; ++i) QCOMPARE(message[i], std::byte{0});
        for (std::size_t i = 1024; i < 1040; ++i) QCOMPARE(message[i], std::byte{0x5A});
        auto small = segmentOf(100);
        clearMessageArea(small);
        QVERIFY(small == segmentOf(100, std::byte{0}));

        auto image = segmentOf(64);
        writeImageHeader(image, 1024, 768);
        QCOMPARE(loadLittleEndian32(image, 0), 1024u);
        QCOMPARE(loadLittleEndian32(image, 4), 768u);
        QCOMPARE(loadLittleEndian32(image, 8), 1u);
        QCOMPARE(loadLittleEndian32(image, 12), 0u);
        QCOMPARE(image[16], std::byte{0x5A});
    }
};

QTEST_APPLESS_MAIN(SettingsRecordTest)
#include "settings_record_test.moc"
