#include "renderer_process.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "support/panel_test_support.h"
#include "telvo_gui.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

// Live processes of a name, found by pgrep rather than by the code under test. Exited processes
// that nobody reaped do not count.
QList<qint64> livePids(const QString& name) {
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"),
                {QStringLiteral("-x"), QStringLiteral("-r"), QStringLiteral("R,S,D,T,t"), name});
    pgrep.waitForFinished();
    QList<qint64> pids;
    for (const QByteArray& line : pgrep.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) {
            pids << line.toLongLong();
        }
    }
    return pids;
}

// The arguments a process was started with, program first, as the kernel keeps them.
QList<QByteArray> commandLineOf(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QList<QByteArray> arguments = file.readAll().split('\0');
    if (!arguments.isEmpty() && arguments.last().isEmpty()) {
        arguments.removeLast();
    }
    return arguments;
}

QString workingDirectoryOf(qint64 pid) {
    return QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid));
}

void killAll(const QString& name) {
    QProcess::execute(QStringLiteral("pkill"),
                      {QStringLiteral("-KILL"), QStringLiteral("-x"), name});
}

// Answers the file dialog: with the given file, or by cancelling it when the path is empty.
// Keeps the dialog's title and filters. A dialog that does not take the answer within about two
// seconds is cancelled, so that a fault fails the test instead of hanging it.
class FileDialogAnswer {
  public:
    explicit FileDialogAnswer(QString path) : m_path(std::move(path)) {
        QObject::connect(&m_poll, &QTimer::timeout, [this] { answer(); });
        m_poll.start(10);
    }
    QString title;
    QStringList filters;

  private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->done(QMessageBox::Ok);  // the dialog refused the answer
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            return;
        }
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        if (m_path.isEmpty() || ++m_tries > 200) {
            dialog->reject();
            return;
        }
        // Typed as a user would; selectFile leaves a focused name field alone.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(m_path);
        static_cast<QDialog*>(dialog)->accept();
    }

    QString m_path;
    QTimer m_poll;
    int m_tries = 0;
};

}  // namespace

class RendererProcessTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(m_bin.isValid());
        // A name of this test's own (at most 15 characters, the kernel's limit) so that ending
        // "every renderer" never touches a stand-in that another test runs.
        m_name = QStringLiteral("telvo-%1").arg(QCoreApplication::applicationPid());
        QVERIFY(QFile::link(QStringLiteral(TELVO_STANDIN_PATH), m_bin.filePath(m_name)));
        qputenv("PATH", m_bin.path().toLocal8Bit() + ':' + qgetenv("PATH"));
        // The stand-ins, started with this environment, meet the panel on segments of its own.
        qputenv("TELVO_SEGMENT_SUFFIX", QByteArray::fromStdString(m_segments.suffix()));
    }

    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        QVERIFY(QDir::setCurrent(m_folder->path()));
    }

    void cleanup() {
        m_panel.reset();
        killAll(m_name);
        QTRY_VERIFY(livePids(m_name).isEmpty());
        m_segments.removeAll();
        QDir::setCurrent(QDir::tempPath());
        m_folder.reset();
    }

    void programPrefersTheWorkingDirectory() {
        RendererLauncher launcher(QStringLiteral("renderer-here"));
        QCOMPARE(launcher.program(), QStringLiteral("renderer-here"));

        QFile local(QStringLiteral("renderer-here"));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.close();
        QCOMPARE(launcher.program(), QStringLiteral("renderer-here"));  // not executable

        QVERIFY(local.setPermissions(local.permissions() | QFile::ExeOwner));
        QCOMPARE(launcher.program(), QStringLiteral("./renderer-here"));
        QCOMPARE(RendererLauncher().executableName(), QStringLiteral("telvo"));
    }

    void endAllEndsEveryProcessOfTheNameAndNoOther() {
        const QString otherName = m_name + QStringLiteral("x");
        QVERIFY(QFile::link(QStringLiteral(TELVO_STANDIN_PATH), m_bin.filePath(otherName)));
        const RendererLauncher launcher(m_name);
        const RendererLauncher other(otherName);
        qint64 first = 0;
        qint64 second = 0;
        qint64 bystander = 0;
        QVERIFY(launcher.startDetached({QStringLiteral("a.dae"), QStringLiteral("a.xml")}, &first));
        QVERIFY(
            launcher.startDetached({QStringLiteral("b.dae"), QStringLiteral("b.xml")}, &second));
        QVERIFY(other.startDetached({}, &bystander));
        QTRY_COMPARE(livePids(m_name).size(), 2);
        QVERIFY(launcher.anyRunning());

        QVERIFY(launcher.endAll());
        QVERIFY(livePids(m_name).isEmpty());
        QVERIFY(!launcher.anyRunning());
        QCOMPARE(livePids(otherName), QList<qint64>{bystander});
        QVERIFY(launcher.endAll());  // nothing left to end

        killAll(otherName);
    }

    void endAllGivesUpOnARendererThatStaysAtTheDeadline() {
        const QString stubborn = m_name + QStringLiteral("s");
        QFile script(m_bin.filePath(stubborn));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ntrap '' TERM\nwhile :; do sleep 0.05; done\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        const RendererLauncher launcher(stubborn);
        QVERIFY(launcher.startDetached({}));
        QTRY_COMPARE(livePids(stubborn).size(), 1);

        QVERIFY(!launcher.endAll(300));
        QCOMPARE(livePids(stubborn).size(), 1);
        killAll(stubborn);
    }

    void firstRestartOnlyStartsAndTheSecondEndsFirst() {
        openPanel();
        // A renderer that was running before the panel: the first restart leaves it alone.
        qint64 earlier = 0;
        QVERIFY(RendererLauncher(m_name).startDetached({}, &earlier));
        QTRY_COMPARE(livePids(m_name).size(), 1);

        // The running stand-in acknowledges documents, which restarts the count; a key that
        // was not published yet shows that the restart publishes.
        m_panel->settings()["restartProbe"] = "1";
        QTest::mouseClick(child<QPushButton>("restartButton"), Qt::LeftButton);
        QCOMPARE(readPublishedRecord(m_segments.names()).values["restartProbe"], "1");
        QTRY_COMPARE(livePids(m_name).size(), 2);
        QList<qint64> pids = livePids(m_name);
        pids.removeOne(earlier);
        QCOMPARE(pids.size(), 1);
        const qint64 started = pids.first();
        QCOMPARE(commandLineOf(started), (QList<QByteArray>{m_bin.filePath(m_name).toLocal8Bit(),
                                                            "empty.dae", "empty.xml"}));
        QCOMPARE(workingDirectoryOf(started), QDir::currentPath());
        // The stand-in's own report of what it was given.
        QTRY_VERIFY(
            QByteArray::fromStdString(readFileText("telvo.log"))
                .contains(QStringLiteral("started pid=%1 scene=empty.dae profile=empty.xml\n")
                              .arg(started)
                              .toLatin1()));

        const std::vector<std::string> log = readFileLines("gui_log.txt");
        const auto exeLine = std::find(log.begin(), log.end(), "exeName = " + m_name.toStdString());
        QVERIFY(log.end() - exeLine >= 3);
        QCOMPARE(exeLine[1], "argv[0] = empty.dae");
        QCOMPARE(exeLine[2], "argv[1] = empty.xml");

        QTest::mouseClick(child<QPushButton>("restartButton"), Qt::LeftButton);
        QTRY_COMPARE(livePids(m_name).size(), 1);
        const qint64 restarted = livePids(m_name).first();
        QVERIFY(restarted != started && restarted != earlier);
        QCOMPARE(commandLineOf(restarted).mid(1), (QList<QByteArray>{"empty.dae", "empty.xml"}));
    }

    void chosenSceneIsStoredWithItsProfileAndPassedOnRestart() {
        openPanel();
        QVERIFY(QDir().mkpath(QStringLiteral("scènes/room")));
        const QString scene = QDir::current().filePath(QStringLiteral("scènes/room/hall.dae"));
        QFile sceneFile(scene);
        QVERIFY(sceneFile.open(QIODevice::WriteOnly));
        sceneFile.close();
        const QString profile =
            QDir::current().filePath(QStringLiteral("scènes/room/telvo_profile.xml"));

        const int countBefore = readPublishedRecord(m_segments.names()).header.publishCount;
        FileDialogAnswer answer(scene);
        child<QAction>("actionOpen_Scene")->trigger();
        QCOMPARE(answer.title, QStringLiteral("Open Scene File"));
        QCOMPARE(answer.filters,
                 (QStringList{QStringLiteral("Collada (*.dae)"),
                              QStringLiteral("Internal (*.vsgf)"), QStringLiteral("Other (*.*)")}));
        QCOMPARE(child<QLineEdit>("currScenePath")->text(), scene);
        QCOMPARE(m_panel->settings()["inSceneFile"], scene.toStdString());
        QCOMPARE(m_panel->settings()["inColladaProfile"], profile.toStdString());

        PublishedRecord published = readPublishedRecord(m_segments.names());
        QCOMPARE(published.header.publishCount, countBefore + 1);
        QCOMPARE(published.values["inSceneFile"], scene.toStdString());
        QCOMPARE(published.values["inColladaProfile"], profile.toStdString());

        // The renderer receives the paths byte for byte, accented folder included.
        m_panel->restartRenderer();
        QTRY_COMPARE(livePids(m_name).size(), 1);
        QCOMPARE(commandLineOf(livePids(m_name).first()).mid(1),
                 (QList<QByteArray>{scene.toUtf8(), profile.toUtf8()}));
    }

    void cancelledSceneDialogKeepsTheScene() {
        openPanel();
        QTest::keyClicks(child<QLineEdit>("currScenePath"), QStringLiteral("x"));
        const std::string scene = m_panel->settings()["inSceneFile"];
        const int countBefore = readPublishedRecord(m_segments.names()).header.publishCount;

        FileDialogAnswer answer{QString()};
        child<QAction>("actionOpen_Scene")->trigger();
        QCOMPARE(answer.title, QStringLiteral("Open Scene File"));
        QCOMPARE(m_panel->settings()["inSceneFile"], scene);
        QCOMPARE(child<QLineEdit>("currScenePath")->text().toStdString(), scene);
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, countBefore);
    }

    void typingAScenePathPublishesEveryCharacter() {
        openPanel();
        QLineEdit* path = child<QLineEdit>("currScenePath");
        path->clear();
        const int countBefore = readPublishedRecord(m_segments.names()).header.publishCount;
        QTest::keyClicks(path, QStringLiteral("/s/a.dae"));
        PublishedRecord published = readPublishedRecord(m_segments.names());
        QCOMPARE(published.header.publishCount, countBefore + 8);
        QCOMPARE(m_panel->settings()["inSceneFile"], std::string("/s/a.dae"));
        QCOMPARE(m_panel->settings()["inColladaProfile"], std::string("/s/telvo_profile.xml"));
        QCOMPARE(published.values["inColladaProfile"], "/s/telvo_profile.xml");
        QCOMPARE(m_panel->profileEditor().profilePath(), QStringLiteral("/s/telvo_profile.xml"));
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

    void openPanel() {
        m_panel = std::make_unique<TelvoGui>(nullptr, m_segments.names());
        m_panel->rendererLauncher().setExecutableName(m_name);
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    }

    QTemporaryDir m_bin;
    QString m_name;
    std::unique_ptr<QTemporaryDir> m_folder;
    ScopedSegmentNames m_segments{"renderer_process_test"};
    std::unique_ptr<TelvoGui> m_panel;
};

QTEST_MAIN(RendererProcessTest)
#include "renderer_process_test.moc"
