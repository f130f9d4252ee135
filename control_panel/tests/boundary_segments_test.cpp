// Segments the panel did not make: smaller than the sizes it would give them, or closed to it by
// their permissions. The panel must stay inside what it finds and go on without what it cannot
// open.
//
// The test program is also the panel for the permission cases: "--panel-without-access SUFFIX"
// runs one window as an unprivileged user (when started as root) and publishes once.
#include <fcntl.h>
#include <grp.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <string_view>

#include "boundary/shared_segment.h"
#include "support/panel_test_support.h"
#include "telvo_gui.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

constexpr std::byte kOutside{0xA5};
constexpr uid_t kUnprivileged = 65534;

// A mapping of a segment rounded up to whole pages. Bytes past the segment's end inside its last
// page keep whatever anyone writes there, so a write past the end stays visible here.
class PageView {
  public:
    PageView(const std::string& name, std::size_t size)
        : m_size(size), m_mapped((size + pageSize() - 1) / pageSize() * pageSize()) {
        const int descriptor = shm_open(name.c_str(), O_RDWR, 0);
        if (descriptor < 0) return;
        void* address = mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
        ::close(descriptor);
        if (address != MAP_FAILED) m_bytes = static_cast<std::byte*>(address);
    }
    ~PageView() {
        if (m_bytes != nullptr) munmap(m_bytes, m_mapped);
    }
    PageView(const PageView&) = delete;
    PageView& operator=(const PageView&) = delete;

    bool isOpen() const { return m_bytes != nullptr; }
    std::span<std::byte> all() const { return {m_bytes, m_mapped}; }
    std::span<std::byte> inside() const { return {m_bytes, m_size}; }
    std::span<std::byte> outside() const { return {m_bytes + m_size, m_mapped - m_size}; }

  private:
    static std::size_t pageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

    std::size_t m_size;
    std::size_t m_mapped;
    std::byte* m_bytes = nullptr;
};

bool untouched(std::span<const std::byte> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == kOutside; });
}

bool allZero(std::span<const std::byte> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; });
}

// Makes a segment of `size` bytes and fills it, and the rest of its last page, with kOutside.
bool makeFilledSegment(const std::string& name, std::size_t size) {
    SharedSegment segment(name);
    if (!segment.create(size) || segment.size() != size) return false;
    PageView view(name, size);
    if (!view.isOpen()) return false;
    std::fill(view.all().begin(), view.all().end(), kOutside);
    return true;
}

bool dropPrivileges() {
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setgid(kUnprivileged) == 0 && setuid(kUnprivileged) == 0;
}

int runPanelWithoutAccess(int argc, char** argv) {
    if (!dropPrivileges()) return 1;
    QApplication application(argc, argv);
    TelvoGui window(nullptr, SegmentNames::withSuffix(argv[2]));
    window.publishSettings();
    return 0;
}

}  // namespace

class BoundarySegmentsTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { m_segments.removeAll(); }

    void smallerSegmentsAreUsedWithoutWritingPastTheirEnd() {
        // None of the sizes is a whole number of pages, and each is below what the panel writes
        // into a segment of its own making: the message area, the image header, the record.
        const std::size_t settingsSize = 6000;
        const std::size_t messageSize = 600;
        const std::size_t imageSize = 10;
        const SegmentNames& names = m_segments.names();
        QVERIFY(makeFilledSegment(names.settings, settingsSize));
        QVERIFY(makeFilledSegment(names.message, messageSize));
        QVERIFY(makeFilledSegment(names.image, imageSize));
        PageView settings(names.settings, settingsSize);
        PageView message(names.message, messageSize);
        PageView image(names.image, imageSize);

        {
            TelvoGui window(nullptr, names);
            // A document that ends exactly at the segment's last byte, then one byte more.
            const std::size_t room = settingsSize - kRecordHeaderSize - 1;
            const std::size_t length = window.composeSettingsDocument().size();
            QVERIFY(length < room);
            window.settings()["fill"] =
                std::string(room - length - std::string("<fill>  </fill>\n").size(), 'f');
            window.publishSettings();
            const SettingsRecordHeader header = readSettingsHeader(settings.inside());
            QCOMPARE(static_cast<std::size_t>(header.textLength), room);
            QCOMPARE(readSettingsText(settings.inside(), settingsSize).size(), room);
            QCOMPARE(settings.inside().back(), std::byte{0});

            const std::vector<std::byte> before(settings.inside().begin(), settings.inside().end());
            window.settings()["fill"] += 'f';
            window.publishSettings();
            QVERIFY(std::equal(before.begin(), before.end(), settings.inside().begin()));
        }
        QVERIFY(untouched(settings.outside()));

        QVERIFY(allZero(message.inside()));
        QVERIFY(untouched(message.outside()));

        QCOMPARE(loadLittleEndian32(image.inside(), 0), 1024u);
        QCOMPARE(loadLittleEndian32(image.inside(), 4), 768u);
        QVERIFY(untouched(image.all().subspan(8)));

        QVERIFY(
            readFileText("gui_log.txt").find("Out of m_sharedXMLData.size() when writing xml") !=
            std::string::npos);
    }

    void segmentClosedByItsPermissionsIsLoggedNotFatal_data() {
        QTest::addColumn<bool>("closeTheLock");
        QTest::newRow("segment") << false;
        QTest::newRow("lock") << true;
    }

    void segmentClosedByItsPermissionsIsLoggedNotFatal() {
        QFETCH(bool, closeTheLock);
        const SegmentNames& names = m_segments.names();
        const std::size_t size = 4096;
        if (closeTheLock) {
            QVERIFY(makeFilledSegment(names.settings, size));
            // Open to everyone, so that only the lock stands in the way.
            const int descriptor = shm_open(names.settings.c_str(), O_RDWR, 0);
            QVERIFY(descriptor >= 0);
            QCOMPARE(fchmod(descriptor, 0666), 0);
            ::close(descriptor);
            sem_unlink(SharedSegment::lockName(names.settings).c_str());
            sem_t* lock =
                sem_open(SharedSegment::lockName(names.settings).c_str(), O_CREAT | O_EXCL, 0, 1u);
            QVERIFY(lock != SEM_FAILED);
            sem_close(lock);
        } else {
            const int descriptor = shm_open(names.settings.c_str(), O_RDWR | O_CREAT | O_EXCL, 0);
            QVERIFY(descriptor >= 0);
            QCOMPARE(ftruncate(descriptor, static_cast<off_t>(size)), 0);
            ::close(descriptor);
            PageView view(names.settings, size);
            QVERIFY(view.isOpen());
            std::fill(view.all().begin(), view.all().end(), kOutside);
        }

        QTemporaryDir workdir;
        QVERIFY(QFile::setPermissions(workdir.path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::WriteOther |
                                          QFileDevice::ExeOther));
        QProcess panel;
        panel.setProgram(QCoreApplication::applicationFilePath());
        panel.setArguments({"--panel-without-access", QString::fromStdString(m_segments.suffix())});
        panel.setWorkingDirectory(workdir.path());
        panel.setProcessChannelMode(QProcess::MergedChannels);
        panel.start();
        QVERIFY(panel.waitForFinished(30000));
        const QString output = QString::fromUtf8(panel.readAll());
        QVERIFY2(panel.exitStatus() == QProcess::NormalExit && panel.exitCode() == 0,
                 qPrintable(output));

        const std::vector<std::string> log =
            readFileLines(workdir.filePath("gui_log.txt").toStdString());
        QVERIFY2(log.size() == 3, qPrintable(QString::fromStdString(readFileText(
                                      workdir.filePath("gui_log.txt").toStdString()))));
        QCOMPARE(log[0], std::string("create telvo ui"));
        QCOMPARE(log[1], std::string("can't create shared memory 'TelvoGuiShmem'"));
        // Both publications (start-up and ours) end with the overflow message, without line ends.
        QCOMPARE(log[2], std::string("Out of m_sharedXMLData.size() when writing xml"
                                     "Out of m_sharedXMLData.size() when writing xml"
                                     "delete telvo ui"));

        PageView settings(names.settings, size);
        QVERIFY(settings.isOpen());
        QVERIFY(untouched(settings.all()));
        // The other two segments were made and prepared all the same.
        SharedSegment image(names.image);
        QVERIFY(image.attach());
        QCOMPARE(loadLittleEndian32(image.bytes(), 0), 1024u);
    }

  private:
    ScopedSegmentNames m_segments{"segments"};
};

int main(int argc, char** argv) {
    if (argc >= 3 && std::string_view(argv[1]) == "--panel-without-access") {
        return runPanelWithoutAccess(argc, argv);
    }
    QApplication application(argc, argv);
    BoundarySegmentsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "boundary_segments_test.moc"
