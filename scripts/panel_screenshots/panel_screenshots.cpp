// Shows the control panel under a real X server and saves a picture of every page of its tab
// widgets, then of the profile editor with a sample profile.
//   panel_screenshots OUTPUT_FOLDER
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <string>

#include "panel_application.h"
#include "telvo_gui.h"

namespace {

using quendel::TelvoGui;

// Lets the window repaint and the X server receive the new picture.
void settle() {
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
}

QString fileNameFor(int number, const QString& title) {
    QString name = title.toLower();
    name.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
    name.remove(QRegularExpression(QStringLiteral("^-|-$")));
    return QStringLiteral("%1-%2.png").arg(number, 2, 10, QLatin1Char('0')).arg(name);
}

bool photograph(QWidget& window, const QString& path) {
    settle();
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "panel_screenshots: cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool photographEveryPage(TelvoGui& window, const QDir& folder) {
    bool saved = true;
    int number = 0;
    for (const char* name : {"tabWidget", "tabWidget_2", "tabWidget_3"}) {
        auto* tabs = window.findChild<QTabWidget*>(QLatin1String(name));
        const int startPage = tabs->currentIndex();
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            saved &=
                photograph(window, folder.filePath(fileNameFor(++number, tabs->tabText(page))));
        }
        tabs->setCurrentIndex(startPage);
    }
    return saved;
}

bool photographProfileEditor(TelvoGui& window, const QDir& folder) {
    QFile profile(folder.filePath(QStringLiteral("telvo_profile.xml")));
    if (!profile.open(QIODevice::WriteOnly)) {
        return false;
    }
    profile.write(
        "<?xml version=\"1.0\"?>\n"
        "<telvo_profile>\n"
        "  <!-- lights of the scene,\n"
        "       one element each -->\n"
        "  <light name=\"sun\" type='directional' power=\"3.5\"/>\n"
        "  <material name=\"floor\" reflection=\"0.2\"/>\n"
        "</telvo_profile>\n");
    profile.close();
    window.profileEditor().setScenePath(folder.filePath(QStringLiteral("scene.dae")));
    window.EditXMLProfileManually();
    const bool saved = photograph(
        window.profileEditor(), folder.filePath(fileNameFor(99, QStringLiteral("profile editor"))));
    window.profileEditor().hide();
    QFile::remove(profile.fileName());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    // Segments of its own, so that a running panel or renderer is left alone.
    const quendel::SegmentNames segments =
        quendel::SegmentNames::withSuffix(".screenshots." + std::to_string(getpid()));
    bool saved = false;
    const int status = quendel::runControlPanel(argc, argv, segments, [&](TelvoGui& window) {
        QTimer::singleShot(0, &window, [&] {
            saved = photographEveryPage(window, folder) && photographProfileEditor(window, folder);
            window.on_exitButton_pressed();
        });
    });
    for (const std::string& name : {segments.settings, segments.message, segments.image}) {
        quendel::SharedSegment::removeName(name);
    }
    return status == 0 && saved ? 0 : 1;
}
