// Start-up, publication and shutdown of the window against real shared segments: the first
// document, the record header, the message and image segments, the overflow rule, the listener's
// answer to "exitnow", a lock left behind by a dead renderer, and the log.
#include <QTest>
#include <set>

#include "boundary/shared_segment.h"
#include "support/panel_test_support.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

const std::map<std::string, std::string>& startupValues() {
    static const std::map<std::string, std::string> values{
        {"shadows", "1"},
        {"path_tracing", "0"},
        {"drawBlocks", "0"},
        {"drawRaysStatInfo", "0"},
        {"icDrawRecords", "0"},
        {"ptOneSeed", "0"},
        {"ptCoherent", "0"},
        {"ptEnableRoulette", "1"},
        {"progressivePhotonMap", "0"},
        {"drawPhotons", "0"},
        {"drawCausticPhotons", "0"},
        {"computeIrradianceCache", "0"},
        {"enableDiffusePhotonTracing", "0"},
        {"enableCausticPhotonTracing", "0"},
        {"enableAmbientView", "0"},
        {"generateTelvoProfiles", "1"},
        {"ptStupidMode", "0"},
        {"ptCaustics", "0"},
        {"debugOutput", "0"},
        {"rtFullSizeMode", "0"},
        {"layersForFilter", "0"},
        {"ptMIS", "1"},
        {"norandomlight", "0"},
        {"outputRedirect", "0"},
        {"pmDiffuseVisibilityTracing", "1"},
        {"pmCausticVisibilityTracing", "1"},
        {"resolution", "1024x768"},
        {"renderer_type", "GPU Render"},
        {"anti_aliasing", "AA: 1x"},
        {"showImageType", "Show simple image"},
        {"showLayerType", "combined"},
        {"icFixedRays", "1024"},
        {"ptFilterType", "box"},
        {"phDebugOctreeType", "mr-octree"},
        {"rtMeasureRaysIndex", "primary"},
        {"rayReorderType", "none"},
        {"rayReorderPattern", "2,4,6,8, ..."},
        {"ptInitialSPP", "1"},
        {"camType", "UVN"},
        {"maxRaysPerPixel", "1024"},
        {"minRaysPerPixel", "16"},
        {"maxDiffusePhotons", "1e+06"},
        {"maxCausticPhotons", "500000"},
        {"initialGartherRadius", "0.01"},
        {"initialGartherRadiusCaustic", "0.001"},
        {"causticPower", "1.0"},
        {"camAspect", "90.0"},
        {"trace_depth", "4"},
        {"diff_trace_depth", "2"},
        {"icMaxPassesNum", "16"},
        {"skipFirstBounce", "1"},
        {"gatherBounce", "1"},
        {"pmDiffuseFrequency", "1"},
        {"pmCausticFrequency", "4"},
        {"pt_error", "5"},
        {"tmGamma", "2.2"},
        {"tmPhi", "16"},
        {"icError", "0.1"},
        {"icWSError", "40"},
        {"icSSError4", "16"},
        {"icSSError2", "4"},
        {"icSSError1", "1"},
        {"anti_aliasing_index", "0"},
        {"save_image", "0"},
        {"toneMapNow", "0"},
        {"tmWhitePoint", "2.5"},
        {"tmStrength", "0.25"},
        {"camFlySpeed", "1.0"},
        {"pmDiffuseSinglePass", "0"},
        {"savedImageId", "0"},
        {"savedImageName", "telvo_0"},
        {"icEvalAlg", "fixed"},
        {"inSceneFile", "empty.dae"},
        {"inColladaProfile", "empty.xml"},
        {"reloadTelvoProfile", "0"},
    };
    return values;
}

std::vector<std::byte> segmentBytes(const std::string& name) {
    SharedSegment segment(name);
    if (!segment.attach()) return {};
    return {segment.bytes().begin(), segment.bytes().end()};
}
}  // namespace

class PanelStartupTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { m_segments.removeAll(); }

    void firstDocumentHoldsTheStartupTable() {
        TelvoGui window(nullptr, m_segments.names());
        const PublishedRecord record = readPublishedRecord(m_segments.names());
        QCOMPARE(record.values, startupValues());
        QCOMPARE(record.header.publishCount, 1);
        QCOMPARE(record.header.readFlag, 0);
        QCOMPARE(record.header.headerMarker, kRecordHeaderMarker);
        QCOMPARE(record.header.textLength, static_cast<std::int32_t>(record.document.size()));
        QCOMPARE(record.document, window.composeSettingsDocument());
        QCOMPARE(record.lines.front(), std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QCOMPARE(record.lines[1], std::string("<telvo_presets>"));
        QCOMPARE(record.lines[record.lines.size() - 2],
                 std::string("<reloadTelvoProfile> 0</reloadTelvoProfile>"));
        QCOMPARE(record.lines.back(), std::string("</telvo_presets>"));
        // The keys no control has touched yet are not sent.
        for (const char* absent : {"enableDOF", "dofLensRadius", "voxelizeScene"}) {
            QVERIFY(record.values.count(absent) == 0);
        }
        QVERIFY(!window.form().icErrorSpinBox->isEnabled());
        QVERIFY(window.form().icFixedRaysAmount->isEnabled());
    }

    void segmentsAreCreatedAtTheirSizesAndPrepared() {
        TelvoGui window(nullptr, m_segments.names());
        QCOMPARE(segmentBytes(m_segments.names().settings).size(), kSettingsSegmentSize);
        const auto message = segmentBytes(m_segments.names().message);
        QCOMPARE(message.size(), kMessageSegmentSize);
        const auto image = segmentBytes(m_segments.names().image);
        QCOMPARE(image.size(), kImageSegmentSize);
        QCOMPARE(loadLittleEndian32(image, 0), 1024u);
        QCOMPARE(loadLittleEndian32(image, 4), 768u);
        QCOMPARE(loadLittleEndian32(image, 8), 1u);
        QCOMPARE(loadLittleEndian32(image, 12), 0u);
    }

    void existingSegmentsAreUsedAtTheirOwnSize() {
        SharedSegment settings(m_segments.names().settings);
        SharedSegment message(m_segments.names().message);
        SharedSegment image(m_segments.names().image);
        QVERIFY(settings.create(8192));
        QVERIFY(message.create(2048));
        QVERIFY(image.create(64));
        std::fill(message.bytes().begin(), message.bytes().end(), std::byte{0x77});
        std::fill(image.bytes().begin(), image.bytes().end(), std::byte{0x77});

        TelvoGui window(nullptr, m_segments.names());
        QCOMPARE(settings.size(), std::size_t(8192));
        QCOMPARE(readSettingsHeader(settings.bytes()).publishCount, 1);
        for (std::size_t i = 0; i < message.size(); ++i) {
            QCOMPARE(message.bytes()[i], i < 1024 ? std::byte{0} : std::byte{0x77});
        }
        QCOMPARE(loadLittleEndian32(image.bytes(), 0), 1024u);
        QCOMPARE(loadLittleEndian32(image.bytes(), 12), 0u);
        QCOMPARE(image.bytes()[16], std::byte{0x77});
    }

    void countRestartsAfterTheReaderTookADocument() {
        TelvoGui window(nullptr, m_segments.names());
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, 1);
        window.publishSettings();
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, 2);
        acknowledgePublishedRecord(m_segments.names());
        window.publishSettings();
        const PublishedRecord record = readPublishedRecord(m_segments.names());
        QCOMPARE(record.header.publishCount, 0);
        QCOMPARE(record.header.readFlag, 0);
    }

    void reloadFlagIsSentOnce() {
        TelvoGui window(nullptr, m_segments.names());
        window.setReloadProfile(true);
        QVERIFY(window.composeSettingsDocument().find("<reloadTelvoProfile> 1</") !=
                std::string::npos);
        window.publishSettings();
        QCOMPARE(readPublishedRecord(m_segments.names()).values.at("reloadTelvoProfile"),
                 std::string("1"));
        window.publishSettings();
        QCOMPARE(readPublishedRecord(m_segments.names()).values.at("reloadTelvoProfile"),
                 std::string("0"));
    }

    void documentThatDoesNotFitIsNotPublished() {
        SharedSegment settings(m_segments.names().settings);
        QVERIFY(settings.create(1024));
        QVERIFY(writeSettingsRecord(settings.bytes(), "previous"));
        const std::vector<std::byte> before(settings.bytes().begin(), settings.bytes().end());

        {
            TelvoGui window(nullptr, m_segments.names());
            window.setReloadProfile(true);
            window.publishSettings();
            // The flag went with the attempt even though nothing was written.
            QVERIFY(!window.reloadProfile());
            QVERIFY(std::equal(before.begin(), before.end(), settings.bytes().begin()));
        }
        const std::string log = readFileText("gui_log.txt");
        QVERIFY(log.find("Out of m_sharedXMLData.size() when writing xml"
                         "Out of m_sharedXMLData.size() when writing xml") != std::string::npos);
    }

    void keyValuesAreWrittenUnescaped() {
        TelvoGui window(nullptr, m_segments.names());
        window.settings()["inSceneFile"] = "/scenes/a&b/<room>.dae";
        window.settings()["enableDOF"] = "";
        window.publishSettings();
        const PublishedRecord record = readPublishedRecord(m_segments.names());
        const std::set<std::string> lines(record.lines.begin(), record.lines.end());
        QVERIFY(lines.count("<inSceneFile> /scenes/a&b/<room>.dae </inSceneFile>") == 1);
        QVERIFY(lines.count("<enableDOF>  </enableDOF>") == 1);
    }

    void listenerAnswersAShortExitNowRequest() {
        TelvoGui window(nullptr, m_segments.names());
        acknowledgePublishedRecord(m_segments.names());
        writeRendererRequest(m_segments.names(), "renderer says exitnow");
        QTRY_VERIFY_WITH_TIMEOUT(
            readPublishedRecord(m_segments.names()).values.count("resolution") == 1, 1000);
        const PublishedRecord record = readPublishedRecord(m_segments.names());
        QCOMPARE(record.header.publishCount, 0);
        QCOMPARE(record.values, startupValues());

        // One answer per request, however long the panel takes to make it.
        QTest::qWait(3 * 200);
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, 0);
    }

    void listenerIgnoresTheWordInsideALongText() {
        TelvoGui window(nullptr, m_segments.names());
        std::string longText(1200, 'a');
        longText.replace(5, 7, "exitnow");
        writeRendererRequest(m_segments.names(), longText);
        QTest::qWait(3 * 200);
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, 1);
        SharedSegment settings(m_segments.names().settings);
        QVERIFY(settings.attach());
        QCOMPARE(readSettingsText(settings.bytes(), 2000), longText);
    }

    void deadHolderOfTheLockDoesNotFreezeThePanel() {
        TelvoGui window(nullptr, m_segments.names());
        SharedSegment holder(m_segments.names().settings);
        QVERIFY(holder.attach());
        QCOMPARE(holder.lock(std::chrono::milliseconds(100)), SharedSegment::LockResult::Acquired);
        // The holder never unlocks, as if it had died holding the lock.
        window.publishSettings();
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, 2);
        QVERIFY(readFileText("gui_log.txt").find("taken over") != std::string::npos);
        // The lock works normally afterwards.
        QCOMPARE(holder.lock(std::chrono::milliseconds(100)), SharedSegment::LockResult::Acquired);
        holder.unlock();
    }

    void logIsTruncatedAtStartAndEndsWithTheDestructor() {
        { TelvoGui first(nullptr, m_segments.names()); }
        {
            TelvoGui second(nullptr, m_segments.names());
            const auto lines = readFileLines("gui_log.txt");
            QCOMPARE(lines, std::vector<std::string>{"create telvo ui"});
        }
        QCOMPARE(readFileLines("gui_log.txt"),
                 (std::vector<std::string>{"create telvo ui", "delete telvo ui"}));
    }

    void parseResolutionSplitsAtTheFirstX() {
        int width = -1;
        int height = -1;
        parseResolution("1920x1200", width, height);
        QCOMPARE(std::make_pair(width, height), std::make_pair(1920, 1200));
        parseResolution("640", width, height);
        QCOMPARE(std::make_pair(width, height), std::make_pair(640, 0));
        parseResolution("", width, height);
        QCOMPARE(std::make_pair(width, height), std::make_pair(0, 0));
        parseResolution("2x3x4", width, height);
        QCOMPARE(std::make_pair(width, height), std::make_pair(2, 3));
    }

  private:
    ScopedSegmentNames m_segments{"startup"};
};

QTEST_MAIN(PanelStartupTest)
#include "panel_startup_test.moc"
