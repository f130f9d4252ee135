#pragma once

#include <QMainWindow>
#include <QString>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "boundary/segment_names.h"
#include "boundary/shared_segment.h"
#include "renderer_process.h"
#include "settings_table.h"
#include "xml_profile_editor.h"

class QAbstractSlider;
class QLineEdit;
class QProcess;

namespace Ui {
class TelvoGui;
}

namespace quendel {

class IGuiVariable;
class ListenerThread;

// The control panel's main window. Every control stands for one key of the settings table; a
// change writes the key and, as a rule, publishes the whole table as the settings document into
// the settings segment, where the renderer reads it.
class TelvoGui : public QMainWindow {
    Q_OBJECT

  public:
    // Opens (or creates) the three segments under `segments`, publishes the first document and
    // starts listening for the renderer's requests.
    explicit TelvoGui(QWidget* parent = nullptr, const SegmentNames& segments = SegmentNames{});
    ~TelvoGui() override;

    // The settings document for the current table, exactly as a publication writes it. Leaves
    // the reload flag alone.
    std::string composeSettingsDocument() const;

    Ui::TelvoGui& form() const { return *ui; }
    SettingsTable& settings() { return m_settings; }
    const SettingsTable& settings() const { return m_settings; }
    const SegmentNames& segmentNames() const { return m_segmentNames; }

    // Asks the renderer to reload its profile with the next publication (sent once).
    void setReloadProfile(bool reload) { m_reloadProfile = reload; }
    bool reloadProfile() const { return m_reloadProfile; }

    // Appends a line to "gui_log.txt" and flushes it. Safe from any thread.
    void log(const std::string& line);

    // The Exit action: ends the renderer object, closes the window and leaves the event loop
    // with status 0.
    void on_exitButton_pressed();

    // Ends every running renderer (not on the first call) and starts a new one, detached, with
    // the scene and the profile beside it.
    void restartRenderer();
    xmlprofileeditor& profileEditor() { return m_profileEditor; }
    // Tests give the renderer a name of their own.
    RendererLauncher& rendererLauncher() { return m_rendererLauncher; }

    // How long the panel waits for a segment's lock before taking it over.
    static constexpr std::chrono::milliseconds kLockTimeout{2000};

  public slots:
    // Writes the settings document into the settings segment. GUI thread only; the listener
    // thread queues its requests here.
    void publishSettings();
    // The scene file dialog of the File menu.
    void openNewScene();
    // Opens the profile editor on the scene's profile.
    void EditXMLProfileManually();

  private slots:
    // Check boxes and checkable buttons.
    void on_shadowsCheckBox_clicked(bool checked);
    void on_dofCheckBox_clicked(bool checked);
    void on_ptButton_toggled(bool checked);
    void on_icButton_toggled(bool checked);
    void on_ptDrawBlocks_toggled(bool checked);
    void on_ptDrawStatInfo_toggled(bool checked);
    void on_ptStupidMode_toggled(bool checked);
    void on_ptCaustics_toggled(bool checked);
    void on_ptOneSeed_toggled(bool checked);
    void on_ptPerWarp_toggled(bool checked);
    void on_ptRoulette_toggled(bool checked);
    void on_ptMIS_toggled(bool checked);
    void on_phMapsProgressive_toggled(bool checked);
    void on_phMapsProgressiveCaustic_toggled(bool checked);
    void on_drawPhotons_toggled(bool checked);
    void on_drawPhotons_2_toggled(bool checked);
    void on_enableDiffusePhotonTracing_toggled(bool checked);
    void on_enableCausticPhotonTracing_toggled(bool checked);
    void on_drawICRecordsBox_toggled(bool checked);
    void on_enableAmbientView_toggled(bool checked);
    void on_generateTelvoProfiles_toggled(bool checked);
    void on_voxelizeCheckBox_toggled(bool checked);
    void on_voxelizeCheckBox_2_toggled(bool checked);
    void on_rtInFullSize_toggled(bool checked);
    void on_layersForFilter_toggled(bool checked);
    void on_noRandomLightSampling_toggled(bool checked);
    void on_outputRedirect_toggled(bool checked);
    void on_pmDiffuseVisibilityTracing_toggled(bool checked);
    void on_pmCausticVisibilityTracing_toggled(bool checked);

    // Integer spins and combos written by index.
    void on_bounceNum_valueChanged(int value);
    void on_diffBounceNum_valueChanged(int value);
    void on_spinBox_valueChanged(int value);
    void on_gartherBounce_valueChanged(int value);
    void on_storeBounce_valueChanged(int value);
    void on_pmDiffuseFrequency_valueChanged(int value);
    void on_pmCausticFrequency_valueChanged(int value);
    void on_antiAliasing_currentIndexChanged(int index);
    void on_phDebugOctreeType_currentIndexChanged(int index);
    void on_ptFilterType_currentIndexChanged(int index);
    void on_rtMeasureRays_currentIndexChanged(int index);
    void on_rayReorder_currentIndexChanged(int index);
    void on_rayReorderPattern_currentIndexChanged(int index);
    void on_ptInitialSPP_currentIndexChanged(int index);

    // Combos written by item text, and real spins written by their shown text.
    void on_resolution_currentTextChanged(const QString& text);
    void on_rendererType_currentTextChanged(const QString& text);
    void on_antiAliasing_currentTextChanged(const QString& text);
    void on_tmshowImageType_currentTextChanged(const QString& text);
    void on_showLayer_currentTextChanged(const QString& text);
    void on_icFixedRaysAmount_currentTextChanged(const QString& text);
    void on_camType_currentTextChanged(const QString& text);
    void on_icWorldSpaceError_textChanged(const QString& text);
    void on_icScreenSpaceError4_textChanged(const QString& text);
    void on_icScreenSpaceError2_textChanged(const QString& text);
    void on_icScreenSpaceError1_textChanged(const QString& text);

    // Real spins.
    void on_ptErrorSpinBox_valueChanged(double value);
    void on_tmGamma_valueChanged(double value);
    void on_tmPhi_valueChanged(double value);
    void on_icErrorSpinBox_valueChanged(double value);

    // Sliders and the edits beside them.
    void on_minRaysPerPixel_valueChanged(int position);
    void on_minRaysPerPixelEdit_textEdited(const QString& text);
    void on_maxRaysPerPixel_valueChanged(int position);
    void on_maxRaysPerPixelEdit_textEdited(const QString& text);
    void on_maxDiffusePhotons_valueChanged(int position);
    void on_photonsDiffuseEdit_textEdited(const QString& text);
    void on_maxCausticPhotons_valueChanged(int position);
    void on_photonsCausticEdit_textEdited(const QString& text);
    void on_gartherRadiusSlider_valueChanged(int position);
    void on_gartherRadiusEdit_textEdited(const QString& text);
    void on_gartherRadiusCausticSlider_valueChanged(int position);
    void on_gartherRadiusCausticEdit_textEdited(const QString& text);
    void on_causticPowerSlider_valueChanged(int position);
    void on_causticPowerEdit_textEdited(const QString& text);
    void on_focalPlaneDist_valueChanged(int position);
    void on_focalPlaneDistEdit_textEdited(const QString& text);
    void on_lensRadius_valueChanged(int position);
    void on_lensRadiusEdit_textEdited(const QString& text);
    void on_camAspect_valueChanged(int position);
    void on_aspectEdit_textEdited(const QString& text);
    void on_tmWhitePointSlider_valueChanged(int position);
    void on_tmWhitePointEdit_textEdited(const QString& text);
    void on_tmStrengthSlider_valueChanged(int position);
    void on_tmStrengthEdit_textEdited(const QString& text);
    void on_flySpeed_valueChanged(int position);

    // Irradiance-cache evaluation, held buttons and the saved-image name.
    void on_icEvaluationAlgType_currentIndexChanged(int index);
    void on_saveImageNowButton_pressed();
    void on_saveImageNowButton_released();
    void on_tmButton_pressed();
    void on_tmButton_released();
    void on_savedImageName_textEdited(const QString& text);
    void on_pmDiffuseSinglePass_pressed();
    void on_pmDiffuseSinglePass_released();

    // Scene path, restart and presets.
    void on_currScenePath_textEdited(const QString& text);
    void on_restartButton_released();
    void on_savePresets_released();

  private:
    // Closing the window ends the panel the way the Exit action does.
    void closeEvent(QCloseEvent* event) override;

    void openSegments();
    void openOrCreate(SharedSegment& segment, std::size_t size, const char* failureLine);
    void clearMessageSegment();
    void writeImageSegmentHeader();
    void connectMenuActions();
    void registerGuiVariables();
    void setDirectStartupKeys();
    void addVariable(std::unique_ptr<IGuiVariable> variable);
    void takeScenePath(const QString& scenePath);
    void startListener();
    void stopListener();
    // Logs a lock that had to be taken over from a holder that did not let go.
    LockTakeOverNotice takeOverNotice();
    void logWithoutLineEnd(const std::string& text);

    // Moves the value in: assigning literals to table entries trips a false overlap warning.
    void setKey(const std::string& key, std::string value) { m_settings[key] = std::move(value); }
    void setFlag(const char* key, bool checked);
    void setAndPublish(const char* key, std::string value);
    // savedImageId from the counter, savedImageName from `name` and the counter.
    void nameSavedImage(const QString& name);
    // The slider-and-edit coupling: the slider slot writes `value` (and `shown` into the edit),
    // the edit slot stores `typed` and moves the slider to `position`.
    void takeSliderValue(const char* key, QLineEdit* edit, std::string value, std::string shown,
                         bool publish);
    void takeEditText(const char* key, QAbstractSlider* slider, std::string typed, int position,
                      bool publish);

    Ui::TelvoGui* ui;
    SettingsTable m_settings;
    std::unordered_map<std::string, std::unique_ptr<IGuiVariable>> m_guiVariables;
    bool m_reloadProfile = false;
    int m_savedImageId = 0;
    xmlprofileeditor m_profileEditor{nullptr,
                                     Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint};
    // Created at each restart; it never runs the renderer itself, which is started detached.
    QProcess* m_renderer = nullptr;
    RendererLauncher m_rendererLauncher;

    std::mutex m_logMutex;
    std::ofstream m_log;
    SegmentNames m_segmentNames;
    // Destroyed in reverse order: message, image, settings.
    SharedSegment m_sharedXMLData;
    SharedSegment m_sharedImage;
    SharedSegment m_sharedMessage;
    std::unique_ptr<ListenerThread> m_listener;
};

// Parses "WIDTHxHEIGHT"; without an "x" the whole text is the width and the height is 0.
void parseResolution(const std::string& text, int& width, int& height);

}  // namespace quendel
