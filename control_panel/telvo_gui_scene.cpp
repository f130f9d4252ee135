// The window's scene, renderer, presets and profile slots.

#include <QFileDialog>
#include <QPointer>
#include <QProcess>

#include "presets_file.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"

namespace quendel {

namespace {

// The save callback is a plain function; it reaches the window that opened the editor here.
QPointer<TelvoGui> profileEditorOwner;

void onProfileSaved() {
    if (profileEditorOwner.isNull()) {
        return;
    }
    profileEditorOwner->setReloadProfile(true);
    profileEditorOwner->publishSettings();
}

}  // namespace

void TelvoGui::restartRenderer() {
    if (m_renderer != nullptr) {
        m_renderer->kill();
        m_rendererLauncher.endAll();
    }
    delete m_renderer;
    m_renderer = new QProcess(this);

    // Both keys were written from UTF-8 text.
    const std::string& scene = m_settings["inSceneFile"];
    const std::string& profile = m_settings["inColladaProfile"];
    const QStringList arguments{QString::fromStdString(scene), QString::fromStdString(profile)};

    const QString program = m_rendererLauncher.program();
    log("exeName = " + program.toStdString());
    log("argv[0] = " + scene);
    log("argv[1] = " + profile);
    m_rendererLauncher.startDetached(arguments);
}

void TelvoGui::openNewScene() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open Scene File"), QString(),
                                     tr("Collada (*.dae);; Internal (*.vsgf);; Other (*.*)"));
    // A cancelled dialog keeps the scene that was chosen before.
    if (path.isEmpty()) {
        return;
    }
    ui->currScenePath->setText(path);
    takeScenePath(path);
}

void TelvoGui::on_currScenePath_textEdited(const QString& text) {
    takeScenePath(text);
}

void TelvoGui::takeScenePath(const QString& scenePath) {
    m_settings["inSceneFile"] = scenePath.toUtf8().toStdString();
    m_profileEditor.setScenePath(scenePath);
    m_settings["inColladaProfile"] = m_profileEditor.profilePath().toUtf8().toStdString();
    publishSettings();
}

void TelvoGui::on_restartButton_released() {
    publishSettings();
    restartRenderer();
}

void TelvoGui::on_savePresets_released() {
    if (!writePresetsFile(QString::fromLatin1(kPresetsFileName), composeSettingsDocument())) {
        log("can't open presets.xml");
    }
}

void TelvoGui::EditXMLProfileManually() {
    profileEditorOwner = this;
    m_profileEditor.setSaveCallback(&onProfileSaved);
    m_profileEditor.loadProfile();
    m_profileEditor.show();
    m_reloadProfile = false;
}

}  // namespace quendel
