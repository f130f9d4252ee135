// The settings segment under load from two processes: thousands of publications checked, under
// the lock, by a reader in another process, and a reader that is killed while holding the lock.
//
// The test program is also the peer: "--reader SUFFIX LAST" checks every record it can lock
// until it has acknowledged the publication numbered LAST; "--die-holding-lock SUFFIX" takes the
// settings lock and is killed while it holds it.
#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <csignal>
#include <iostream>
#include <string_view>
#include <thread>

#include "boundary/shared_segment.h"
#include "support/panel_test_support.h"
#include "telvo_gui.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPeerLockTimeout{2000};
constexpr std::string_view kDocumentOpening =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<telvo_presets>\n";
constexpr std::string_view kDocumentClosing =
    "<reloadTelvoProfile> 0</reloadTelvoProfile>\n</telvo_presets>\n";
constexpr long kLongestPadding = 4000;

// Each publication carries its number and a padding whose length and letter follow from it, so
// a record stitched from two publications cannot pass for either.
std::string paddingFor(long serial) {
    return std::string(static_cast<std::size_t>(serial * 7919 % (kLongestPadding + 1)),
                       static_cast<char>('a' + serial % 26));
}

void publishNumbered(TelvoGui& window, long serial) {
    window.settings()["stressSerial"] = std::to_string(serial);
    window.settings()["stressPadding"] = paddingFor(serial);
    window.publishSettings();
}

struct RecordView {
    SettingsRecordHeader header;
    long serial = -1;
};

// What is wrong with the record, or an empty text when it is a whole publication.
std::string flawIn(std::span<const std::byte> segment, RecordView& view) {
    view.header = readSettingsHeader(segment);
    if (view.header.headerMarker != kRecordHeaderMarker) return "header marker missing";
    const std::string text = readSettingsText(segment, segment.size());
    if (view.header.textLength <= 0 ||
        static_cast<std::size_t>(view.header.textLength) != text.size()) {
        return "length field " + std::to_string(view.header.textLength) + " for a text of " +
               std::to_string(text.size()) + " bytes";
    }
    // A longer earlier document must not show through behind the terminator.
    const std::size_t end =
        std::min(segment.size(), kRecordHeaderSize + text.size() + kLongestPadding + 4096);
    for (std::size_t i = kRecordHeaderSize + text.size(); i < end; ++i) {
        if (segment[i] != std::byte{0}) return "byte left behind at offset " + std::to_string(i);
    }
    if (!text.starts_with(kDocumentOpening) || !text.ends_with(kDocumentClosing)) {
        return "document not opened or closed as composed";
    }
    const std::vector<std::string> lines = splitLines(text);
    const std::map<std::string, std::string> values = parseDocumentValues(text);
    // Declaration, root and closing root are the only lines that are not one element each.
    if (values.size() + 3 != lines.size()) return "a line that is not one whole element";
    const auto serial = values.find("stressSerial");
    const auto padding = values.find("stressPadding");
    if (serial == values.end() || padding == values.end()) return "numbered keys missing";
    view.serial = std::stol(serial->second);
    if (padding->second != paddingFor(view.serial)) return "padding of another publication";
    return {};
}

int runReader(const std::string& suffix, long last) {
    SharedSegment segment(SegmentNames::withSuffix(suffix).settings);
    if (!segment.attach()) {
        std::cout << "reader: no settings segment" << std::endl;
        return 1;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(90);
    long reads = 0;
    long documents = 0;
    long newest = -1;
    long acknowledged = -1;
    while (acknowledged != last) {
        RecordView view;
        std::string flaw;
        bool taken = false;
        {
            SegmentLock lock(segment, kPeerLockTimeout);
            if (lock.result() != SharedSegment::LockResult::Acquired) {
                flaw = "lock not acquired";
            } else {
                flaw = flawIn(segment.bytes(), view);
            }
            // The count says how many publications went by since the last acknowledgement.
            if (flaw.empty() && view.header.readFlag == 0) {
                if (view.serial == acknowledged) {
                    flaw = "an acknowledged document came back as new";
                } else if (acknowledged >= 0 &&
                           view.header.publishCount != view.serial - acknowledged - 1) {
                    flaw = "count " + std::to_string(view.header.publishCount) + " after " +
                           std::to_string(view.serial - acknowledged) + " publications";
                } else {
                    markSettingsRead(segment.bytes());
                    taken = true;
                }
            }
        }
        ++reads;
        if (flaw.empty() && view.serial < newest) flaw = "an older document came back";
        if (!flaw.empty()) {
            std::cout << "reader: torn record at read " << reads << ": " << flaw << std::endl;
            return 3;
        }
        newest = view.serial;
        if (taken) {
            ++documents;
            acknowledged = view.serial;
        }
        if (Clock::now() > deadline) {
            std::cout << "reader: timed out at document " << acknowledged << std::endl;
            return 2;
        }
        std::this_thread::yield();
    }
    std::cout << "reads " << reads << " documents " << documents << std::endl;
    return 0;
}

int dieHoldingTheLock(const std::string& suffix) {
    SharedSegment segment(SegmentNames::withSuffix(suffix).settings);
    if (!segment.attach()) return 1;
    if (segment.lock(kPeerLockTimeout) != SharedSegment::LockResult::Acquired) return 1;
    std::cout << "holding" << std::endl;
    std::raise(SIGKILL);
    return 1;
}

bool readFlagSet(const SharedSegment& segment) {
    SegmentLock lock(segment, kPeerLockTimeout);
    return readSettingsHeader(segment.bytes()).readFlag != 0;
}

}  // namespace

class BoundaryStressTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.kill();
            m_peer.waitForFinished(2000);
        }
        m_segments.removeAll();
    }

    void readerInAnotherProcessNeverSeesATornDocument() {
        constexpr long kLockStep = 2000;
        constexpr long kLast = 5000;
        TelvoGui window(nullptr, m_segments.names());
        SharedSegment segment(m_segments.names().settings);
        QVERIFY(segment.attach());
        publishNumbered(window, 0);
        startPeer({"--reader", suffix(), QString::number(kLast)});

        // Lock-step first, so that every one of these publications is checked...
        long serial = 1;
        for (; serial <= kLockStep; ++serial) {
            publishNumbered(window, serial);
            if (!waitForAcknowledgement(segment)) QFAIL(qPrintable(peerOutput()));
        }
        // ...then free-running, so that the reader meets the writer at every point of a write.
        for (; serial <= kLast; ++serial) publishNumbered(window, serial);

        QVERIFY(m_peer.waitForFinished(90000));
        const QString output = peerOutput();
        QVERIFY2(m_peer.exitStatus() == QProcess::NormalExit && m_peer.exitCode() == 0,
                 qPrintable(output));
        const QRegularExpressionMatch figures =
            QRegularExpression("reads (\\d+) documents (\\d+)").match(output);
        QVERIFY2(figures.hasMatch(), qPrintable(output));
        QVERIFY(figures.captured(2).toLong() >= kLockStep + 1);
        qInfo("publications %ld, %s", kLast + 1, qPrintable(figures.captured(0)));
    }

    void readerKilledHoldingTheLockDoesNotFreezeThePanel() {
        TelvoGui window(nullptr, m_segments.names());
        startPeer({"--die-holding-lock", suffix()});
        QVERIFY(m_peer.waitForFinished(10000));
        QCOMPARE(m_peer.exitStatus(), QProcess::CrashExit);
        QCOMPARE(peerOutput(), QString("holding\n"));

        publishNumbered(window, 1);
        QCOMPARE(readPublishedRecord(m_segments.names()).values.at("stressSerial"),
                 std::string("1"));
        QVERIFY(readFileText("gui_log.txt").find("taken over") != std::string::npos);

        // The semaphore is back at one, not above: a second taker gets in only by taking over
        // at its own deadline. A waiter that began waiting while the dead reader held the lock
        // takes it over at that deadline, whoever holds it by then, so let such deadlines pass.
        QTest::qWait(static_cast<int>(TelvoGui::kLockTimeout.count()) + 500);
        SharedSegment probe(m_segments.names().settings);
        QVERIFY(probe.attach());
        const std::chrono::milliseconds brief{100};
        QCOMPARE(probe.lock(brief), SharedSegment::LockResult::Acquired);
        QCOMPARE(probe.lock(brief), SharedSegment::LockResult::TakenOver);
        probe.unlock();
        QCOMPARE(probe.lock(kPeerLockTimeout), SharedSegment::LockResult::Acquired);
        probe.unlock();

        // And a reader in another process goes on taking whole documents.
        startPeer({"--reader", suffix(), "20"});
        for (long serial = 2; serial <= 20; ++serial) {
            publishNumbered(window, serial);
            if (!waitForAcknowledgement(probe)) QFAIL(qPrintable(peerOutput()));
        }
        QVERIFY(m_peer.waitForFinished(10000));
        QVERIFY2(m_peer.exitCode() == 0, qPrintable(peerOutput()));
    }

  private:
    QString suffix() const { return QString::fromStdString(m_segments.suffix()); }

    void startPeer(const QStringList& arguments) {
        m_peer.setProgram(QCoreApplication::applicationFilePath());
        m_peer.setArguments(arguments);
        m_peer.setProcessChannelMode(QProcess::MergedChannels);
        m_peerOutput.clear();
        m_peer.start();
        QVERIFY(m_peer.waitForStarted(5000));
    }

    // Everything the peer wrote; a peer that is still running gets a moment to finish first.
    // Only for failures and finished peers: it waits.
    QString peerOutput() {
        m_peer.waitForFinished(1000);
        m_peerOutput += QString::fromUtf8(m_peer.readAll());
        return m_peerOutput;
    }

    // A peer that gave up is noticed by the deadline alone: without an event loop the process
    // object would not learn of its end here.
    static bool waitForAcknowledgement(const SharedSegment& segment) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (!readFlagSet(segment)) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        return true;
    }

    ScopedSegmentNames m_segments{"stress"};
    QProcess m_peer;
    QString m_peerOutput;
};

int main(int argc, char** argv) {
    const std::string_view mode = argc >= 3 ? argv[1] : "";
    if (mode == "--reader" && argc >= 4) return runReader(argv[2], std::stol(argv[3]));
    if (mode == "--die-holding-lock") return dieHoldingTheLock(argv[2]);
    QApplication application(argc, argv);
    BoundaryStressTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "boundary_stress_test.moc"
