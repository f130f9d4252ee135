#include "panel_application.h"

#include <QAction>
#include <QApplication>
#include <QStyleFactory>

#include "telvo_gui.h"
#include "termination_signals.h"
#include "ui_telvogui.h"

namespace quendel {

int runControlPanel(int& argc, char** argv, const SegmentNames& segments,
                    const std::function<void(TelvoGui&)>& beforeLoop) {
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    int status = 0;
    {
        TelvoGui window(nullptr, segments);
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested,
                         window.form().actionExit, &QAction::trigger);
        window.show();
        if (beforeLoop) beforeLoop(window);
        status = QApplication::exec();
    }
    return status;
}

}  // namespace quendel
