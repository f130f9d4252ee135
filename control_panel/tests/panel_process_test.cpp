// The panel as a process of its own, with the renderer stand-in as the peer: the first document
// crosses, an "exitnow" request is answered, a second start attaches to the segments left
// behind, and the Exit action, SIGTERM and SIGINT all end the panel in order.
//
// The test program is also the panel: started with --panel SUFFIX it runs the control panel on
// segments named with SUFFIX and triggers the Exit action when "exit" arrives on standard input.
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string_view>

#include "boundary/shared_segment.h"
#include "panel_application.h"
#include "support/panel_test_support.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

int runPanelProcess(char** argv) {
    const SegmentNames names = SegmentNames::withSuffix(argv[2]);
    int panelArgc = 1;
    return runControlPanel(panelArgc, argv, names, [](TelvoGui& window) {
        auto* input = new QSocketNotifier(fileno(stdin), QSocketNotifier::Read, &window);
        QObject::connect(input, &QSocketNotifier::activated, &window, [&window, input] {
            char line[64] = {};
            if (std::fgets(line, sizeof line, stdin) == nullptr) {
                input->setEnabled(false);
                return;
            }
            if (std::string_view(line).starts_with("exit")) window.form().actionExit->trigger();
        });
        std::cout << "ready" << std::endl;
    });
}

// Reads lines until one equals `wanted`.
bool waitForLine(QProcess& process, const QByteArray& wanted, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        while (process.canReadLine()) {
            if (process.readLine().trimmed() == wanted) return true;
        }
        process.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
    }
    return false;
}

}  // namespace

class PanelProcessTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        for (QProcess* process : {&m_panel, &m_standin}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(2000);
            }
        }
        m_segments.removeAll();
    }

    void standinReceivesDocumentsAndTheExitActionEndsThePanel() {
#ifndef TELVO_STANDIN_PATH
        QSKIP("the renderer stand-in is not built");
#else
        QTemporaryDir workdir;
        startPanel(workdir.path());

        m_standin.setProgram(TELVO_STANDIN_PATH);
        m_standin.setArguments({"--suffix", QString::fromStdString(m_segments.suffix()),
                                "--request-exitnow", "--documents", "2", "--timeout-ms", "5000",
                                "--log", workdir.filePath("telvo.log")});
        m_standin.start();
        QVERIFY(m_standin.waitForFinished(10000));
        const QString output = QString::fromUtf8(m_standin.readAllStandardOutput());
        QCOMPARE(m_standin.exitCode(), 0);

        // The first document as the panel published it at start-up, then the answer.
        QVERIFY2(output.startsWith("document count=1 length="), qPrintable(output));
        const QStringList documents = output.split("end of document\n");
        QCOMPARE(documents.size(), 3);
        for (int i = 0; i < 2; ++i) {
            const std::string text = documents[i].section('\n', 1).toStdString();
            QCOMPARE(parseDocumentValues(text).at("resolution"), std::string("1024x768"));
            QCOMPARE(parseDocumentValues(text).at("maxDiffusePhotons"), std::string("1e+06"));
        }
        // The stand-in acknowledged the first document, so the answer restarts the count.
        QVERIFY(documents[1].startsWith("document count=0 "));
        const QRegularExpressionMatch answer =
            QRegularExpression("exitnow answered after (\\d+) ms").match(documents[2]);
        QVERIFY2(answer.hasMatch(), qPrintable(documents[2]));
        QVERIFY2(answer.captured(1).toInt() < 1000, qPrintable(answer.captured(0)));

        m_panel.write("exit\n");
        QVERIFY(m_panel.waitForFinished(1000));
        QCOMPARE(m_panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_panel.exitCode(), 0);
        const auto log = readFileLines(workdir.filePath("gui_log.txt").toStdString());
        QCOMPARE(log.front(), std::string("create telvo ui"));
        QCOMPARE(log.back(), std::string("delete telvo ui"));
#endif
    }

    void secondStartAttachesAndPreparesTheSegmentsAgain() {
        QTemporaryDir workdir;
        startPanel(workdir.path());
        m_panel.write("exit\n");
        QVERIFY(m_panel.waitForFinished(1000));

        // What a renderer might have left in the segments meanwhile.
        SharedSegment message(m_segments.names().message);
        SharedSegment image(m_segments.names().image);
        QVERIFY(message.attach());
        QVERIFY(image.attach());
        std::fill(message.bytes().begin(), message.bytes().end(), std::byte{0x33});
        writeImageHeader(image.bytes(), 7, 9);

        startPanel(workdir.path());
        for (std::size_t i = 0; i < message.size(); ++i) {
            QCOMPARE(message.bytes()[i], i < 1024 ? std::byte{0} : std::byte{0x33});
        }
        QCOMPARE(loadLittleEndian32(image.bytes(), 0), 1024u);
        QCOMPARE(loadLittleEndian32(image.bytes(), 4), 768u);
        // The same settings record: the second panel's first publication counts on.
        QCOMPARE(readPublishedRecord(m_segments.names()).header.publishCount, 2);
        QCOMPARE(readFileLines(workdir.filePath("gui_log.txt").toStdString()),
                 std::vector<std::string>{"create telvo ui"});

        m_panel.terminate();
        QVERIFY(m_panel.waitForFinished(1000));
        QCOMPARE(m_panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_panel.exitCode(), 0);
        QCOMPARE(readFileLines(workdir.filePath("gui_log.txt").toStdString()).back(),
                 std::string("delete telvo ui"));
    }

    void interruptEndsThePanelLikeExit() {
        QTemporaryDir workdir;
        startPanel(workdir.path());
        ::kill(static_cast<pid_t>(m_panel.processId()), SIGINT);
        QVERIFY(m_panel.waitForFinished(1000));
        QCOMPARE(m_panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_panel.exitCode(), 0);
        QCOMPARE(readFileLines(workdir.filePath("gui_log.txt").toStdString()),
                 (std::vector<std::string>{"create telvo ui", "delete telvo ui"}));
    }

  private:
    void startPanel(const QString& workdir) {
        m_panel.setProgram(QCoreApplication::applicationFilePath());
        m_panel.setArguments({"--panel", QString::fromStdString(m_segments.suffix())});
        m_panel.setWorkingDirectory(workdir);
        m_panel.setProcessChannelMode(QProcess::SeparateChannels);
        m_panel.start();
        QVERIFY(m_panel.waitForStarted(5000));
        QVERIFY2(waitForLine(m_panel, "ready", 10000), "the panel did not come up");
    }

    ScopedSegmentNames m_segments{"process"};
    QProcess m_panel;
    QProcess m_standin;
};

int main(int argc, char** argv) {
    if (argc >= 3 && std::string_view(argv[1]) == "--panel") return runPanelProcess(argv);
    QApplication application(argc, argv);
    PanelProcessTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "panel_process_test.moc"
