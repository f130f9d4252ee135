#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "support/panel_test_support.h"
#include "telvo_gui.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSet<QByteArray> entryLinesOf(const SettingsTable& settings) {
    QSet<QByteArray> lines;
    for (const auto& [key, value] : settings) {
        lines.insert(QByteArray::fromStdString("<" + key + "> " + value + " </" + key + ">"));
    }
    return lines;
}

}  // namespace

class PresetsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        QVERIFY(QDir::setCurrent(m_folder->path()));
        m_panel = std::make_unique<TelvoGui>(nullptr, m_segments.names());
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    }

    void cleanup() {
        m_panel.reset();
        m_segments.removeAll();
        QDir::setCurrent(QDir::tempPath());
        m_folder.reset();
    }

    void savePresetsWritesTheWholeTable() {
        QTest::mouseClick(child<QPushButton>("savePresets"), Qt::LeftButton);
        const QByteArray file = readFile(QStringLiteral("presets.xml"));
        QList<QByteArray> lines = file.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());  // the file ends with a line end
        QCOMPARE(lines.takeFirst(), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QCOMPARE(lines.takeFirst(), QByteArray("<telvo_presets>"));
        QCOMPARE(lines.takeLast(), QByteArray("</telvo_presets>"));
        QCOMPARE(lines.takeLast(), QByteArray("<reloadTelvoProfile> 0</reloadTelvoProfile>"));
        QCOMPARE(QSet<QByteArray>(lines.begin(), lines.end()), entryLinesOf(m_panel->settings()));
        QCOMPARE(lines.size(), qsizetype(m_panel->settings().size()));
        QCOMPARE(file, QByteArray::fromStdString(m_panel->composeSettingsDocument()));
    }

    void savingAgainReplacesTheFile() {
        QFile stale(QStringLiteral("presets.xml"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(64 * 1024, 'x'));
        stale.close();
        child<QPushButton>("savePresets")->click();
        const QByteArray first = readFile(QStringLiteral("presets.xml"));
        QVERIFY(!first.contains('x' + QByteArray(8, 'x')));
        QVERIFY(first.contains("<shadows> 1 </shadows>"));
        // A key that was never set stays out of the file until its control changes.
        QVERIFY(!first.contains("<enableDOF>"));

        child<QAbstractButton>("shadowsCheckBox")->click();
        child<QAbstractButton>("dofCheckBox")->click();
        child<QPushButton>("savePresets")->click();
        const QByteArray second = readFile(QStringLiteral("presets.xml"));
        QCOMPARE(second, QByteArray::fromStdString(m_panel->composeSettingsDocument()));
        QVERIFY(second.contains("<shadows> 0 </shadows>"));
        QVERIFY(second.contains("<enableDOF> 1 </enableDOF>"));
        QVERIFY(!second.contains("<shadows> 1 </shadows>"));
    }

    void savingLeavesTheReloadFlagAlone() {
        m_panel->setReloadProfile(true);
        child<QPushButton>("savePresets")->click();
        QVERIFY(readFile(QStringLiteral("presets.xml"))
                    .contains("<reloadTelvoProfile> 1</reloadTelvoProfile>"));
        QVERIFY(m_panel->reloadProfile());
    }

    void profileSaveIsNotSeenInPresetsAfterItsPublication() {
        QFile profile(QStringLiteral("telvo_profile.xml"));
        QVERIFY(profile.open(QIODevice::WriteOnly));
        profile.write("<lights/>\n");
        profile.close();
        child<QLineEdit>("currScenePath")->clear();
        QTest::keyClicks(child<QLineEdit>("currScenePath"), QStringLiteral("room.dae"));
        m_panel->EditXMLProfileManually();
        m_panel->profileEditor().on_saveProfileButton_released();
        child<QPushButton>("savePresets")->click();
        QVERIFY(readFile(QStringLiteral("presets.xml"))
                    .contains("<reloadTelvoProfile> 0</reloadTelvoProfile>"));
    }

    void unopenableFileIsLoggedAndTheOldOneKept() {
        // A folder in the file's place cannot be opened for writing, whoever runs the test.
        QVERIFY(QDir().mkdir(QStringLiteral("presets.xml")));
        child<QPushButton>("savePresets")->click();
        const std::vector<std::string> log = readFileLines("gui_log.txt");
        QVERIFY(!log.empty());
        QCOMPARE(log.back(), "can't open presets.xml");
        QVERIFY(QFileInfo(QStringLiteral("presets.xml")).isDir());
    }

  private:
    // A widget or action of the panel's form, by object name.
    template <typename Child>
    Child* child(const char* name) const {
        Child* found = m_panel->findChild<Child*>(QLatin1String(name));
        if (found == nullptr) {
            qFatal("no %s in the form", name);
        }
        return found;
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    ScopedSegmentNames m_segments{"presets_test"};
    std::unique_ptr<TelvoGui> m_panel;
};

QTEST_MAIN(PresetsTest)
#include "presets_test.moc"
