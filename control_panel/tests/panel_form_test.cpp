// The window as the form builds it: every control with its kind, range, step, start value,
// enabled state and tips, the pages in order, and the File menu.
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>

#include "support/panel_test_support.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"

using namespace quendel;

namespace {

struct ControlRow {
    const char* name;
    const char* kind;
    std::vector<std::pair<const char*, QVariant>> properties;
};

const QString kRadiusTip = "Photons max garther radius (set in [0,1] interval of scene scale)";
const QString kRestartTip =
    "restart server with current gui settings (need to reload scene or change resolution)";
const QString kDiffusePhotonsTip = "Display diffuse photons (hotkey = 'Shift+N')";
const QString kFinalGatherTip = "Enable diffuse photon tracing and Final Garthering (Shift+G)";
const QString kIcErrorTip = "allowable world space interpolation error";

QVariant slider(int minimum, int maximum, int step, int page, int value) {
    return QVariantList{minimum, maximum, step, page, value};
}

std::vector<ControlRow> controlTable() {
    return {
        // Path Tracing
        {"minRaysPerPixel",
         "QSlider",
         {{"range", slider(16, 4096, 32, 32, 16)},
          {"statusTip", "Bottom boundary for amount of samples per"}}},
        {"minRaysPerPixelEdit", "QLineEdit", {{"text", "16"}}},
        {"maxRaysPerPixel",
         "QSlider",
         {{"range", slider(64, 16384, 64, 64, 1024)},
          {"statusTip", "Top boundary for amount of samples per"}}},
        {"maxRaysPerPixelEdit", "QLineEdit", {{"text", "1024"}}},
        {"ptErrorSpinBox",
         "QDoubleSpinBox",
         {{"minimum", 0.0},
          {"maximum", 10.0},
          {"singleStep", 0.5},
          {"value", 5.0},
          {"statusTip", "Admissible relative error in pixels for path tracing"}}},
        {"ptDrawBlocks",
         "QCheckBox",
         {{"text", "Draw Blocks"},
          {"checked", false},
          {"statusTip", "display active tiles (hotkey = 'N')"}}},
        {"ptStupidMode", "QCheckBox", {{"text", "Stupid Mode"}, {"checked", false}}},
        {"ptCaustics", "QCheckBox", {{"text", "Caustics (PT)"}, {"checked", false}}},
        {"ptOneSeed",
         "QCheckBox",
         {{"text", "QMC"}, {"checked", false}, {"statusTip", "faster for final rendering"}}},
        {"ptPerWarp",
         "QCheckBox",
         {{"text", "Coherent"}, {"checked", false}, {"statusTip", "faster for final rendering"}}},
        {"ptRoulette",
         "QCheckBox",
         {{"text", "RR"}, {"checked", true}, {"statusTip", "per warp russian roulette"}}},
        {"ptInitialSPP",
         "QComboBox",
         {{"items", QStringList{"1", "2", "4", "16", "32", "64", "128", "256"}},
          {"currentIndex", 0}}},
        {"ptMIS", "QCheckBox", {{"text", "MIS"}, {"checked", true}}},
        // Irradiance Cache
        {"drawICRecordsBox",
         "QCheckBox",
         {{"text", "Draw records"},
          {"checked", false},
          {"toolTip", "display points where irradiance cache records located"},
          {"statusTip", "hotkey = 'Shift+B'"}}},
        {"icErrorSpinBox",
         "QDoubleSpinBox",
         {{"minimum", 0.0},
          {"maximum", 25.0},
          {"singleStep", 0.5},
          {"value", 10.0},
          {"enabled", false},
          {"statusTip", "allowable relative error when evaluate ic record"}}},
        {"icEvaluationAlgType",
         "QComboBox",
         {{"items", QStringList{"progressive", "fixed rays"}}, {"currentIndex", 1}}},
        {"icFixedRaysAmount",
         "QComboBox",
         {{"items", QStringList{"1024", "4096", "16384", "65536"}},
          {"currentIndex", 0},
          {"enabled", true},
          {"statusTip", "fixed rays final garther rays for all ic records"}}},
        {"spinBox",
         "QSpinBox",
         {{"minimum", 10},
          {"maximum", 40},
          {"value", 16},
          {"statusTip", "maximum pass number for ic construction"}}},
        {"icWorldSpaceError",
         "QDoubleSpinBox",
         {{"minimum", 0.0},
          {"maximum", 100.0},
          {"singleStep", 1.0},
          {"value", 40.0},
          {"statusTip", kIcErrorTip}}},
        {"icScreenSpaceError4",
         "QDoubleSpinBox",
         {{"minimum", 0.0},
          {"maximum", 100.0},
          {"singleStep", 1.0},
          {"value", 16.0},
          {"statusTip", kIcErrorTip}}},
        {"icScreenSpaceError2",
         "QDoubleSpinBox",
         {{"minimum", 0.0},
          {"maximum", 10.0},
          {"singleStep", 0.5},
          {"value", 4.0},
          {"statusTip", kIcErrorTip}}},
        {"icScreenSpaceError1",
         "QDoubleSpinBox",
         {{"minimum", 0.0},
          {"maximum", 10.0},
          {"singleStep", 0.25},
          {"value", 1.0},
          {"statusTip", kIcErrorTip}}},
        // SPPM (Diffuse)
        {"maxDiffusePhotons", "QSlider", {{"range", slider(10, 2000, 100, 10, 1000)}}},
        {"photonsDiffuseEdit", "QLineEdit", {{"text", "1000"}}},
        {"phMapsProgressive",
         "QCheckBox",
         {{"text", "Progressive"},
          {"checked", false},
          {"statusTip", "Progressive Photon Mapping"}}},
        {"gartherBounce",
         "QSpinBox",
         {{"minimum", 0},
          {"maximum", 1},
          {"value", 1},
          {"statusTip", "Use FG or direct photon map visualisation"}}},
        {"storeBounce",
         "QSpinBox",
         {{"minimum", 0},
          {"maximum", 1},
          {"value", 1},
          {"statusTip", "Skip first bounce when storing photons?"}}},
        {"enableDiffusePhotonTracing",
         "QCheckBox",
         {{"text", "Enable"}, {"checked", false}, {"statusTip", kFinalGatherTip}}},
        {"gartherRadiusSlider",
         "QSlider",
         {{"range", slider(1, 500, 1, 10, 100)}, {"statusTip", kRadiusTip}}},
        {"gartherRadiusEdit", "QLineEdit", {{"text", "0.01"}, {"statusTip", kRadiusTip}}},
        {"drawPhotons",
         "QCheckBox",
         {{"text", "Draw"}, {"checked", false}, {"statusTip", kDiffusePhotonsTip}}},
        {"pmDiffuseFrequency", "QSpinBox", {{"minimum", 1}, {"maximum", 16}, {"value", 1}}},
        {"pmDiffuseVisibilityTracing",
         "QCheckBox",
         {{"text", "Visibility Tracing"}, {"checked", true}, {"statusTip", kDiffusePhotonsTip}}},
        {"pmDiffuseSinglePass",
         "QPushButton",
         {{"text", "Single Pass"},
          {"checkable", true},
          {"toolTip", "run path tracing"},
          {"statusTip", "hotkey = 'P'"}}},
        // SPPM (Caustic)
        {"enableCausticPhotonTracing", "QCheckBox", {{"text", "Enable"}, {"checked", false}}},
        {"maxCausticPhotons",
         "QSlider",
         {{"range", slider(10, 2000, 100, 10, 500)},
          {"statusTip", "max photons per caustic pass"}}},
        {"photonsCausticEdit", "QLineEdit", {{"text", "500"}}},
        {"drawPhotons_2",
         "QCheckBox",
         {{"text", "Draw"},
          {"checked", false},
          {"statusTip", "Display caustic photons (hotkey = 'Shift+M')"}}},
        {"phMapsProgressiveCaustic",
         "QCheckBox",
         {{"text", "Progressive"}, {"checked", true}, {"statusTip", "Progressive Photon Mapping"}}},
        {"gartherRadiusCausticSlider",
         "QSlider",
         {{"range", slider(1, 100, 1, 2, 10)}, {"statusTip", kRadiusTip}}},
        {"gartherRadiusCausticEdit", "QLineEdit", {{"text", "0.001"}, {"statusTip", kRadiusTip}}},
        {"causticPowerSlider",
         "QSlider",
         {{"range", slider(1, 200, 1, 2, 10)}, {"statusTip", kRadiusTip}}},
        {"causticPowerEdit", "QLineEdit", {{"text", "1"}, {"statusTip", kRadiusTip}}},
        {"pmCausticFrequency", "QSpinBox", {{"minimum", 1}, {"maximum", 16}, {"value", 4}}},
        {"pmCausticVisibilityTracing",
         "QCheckBox",
         {{"text", "Visibility Tracing"},
          {"checked", true},
          {"enabled", false},
          {"statusTip", kDiffusePhotonsTip}}},
        // Camera
        {"dofCheckBox",
         "QCheckBox",
         {{"text", "Enable DOF"},
          {"checked", false},
          {"statusTip", "Enable/Disable DOF (hotkey = 'Shift+D')"}}},
        {"focalPlaneDist",
         "QSlider",
         {{"range", slider(1, 100, 1, 10, 8)},
          {"statusTip", "distance to the focal plane (in world space)"}}},
        {"focalPlaneDistEdit", "QLineEdit", {{"text", "8.0"}}},
        {"lensRadius",
         "QSlider",
         {{"range", slider(1, 100, 1, 10, 5)},
          {"statusTip", "the greater radius we set, the stronger DOF we obtain"}}},
        {"lensRadiusEdit", "QLineEdit", {{"text", "0.05"}}},
        {"camAspect",
         "QSlider",
         {{"range", slider(45, 180, 1, 10, 90)}, {"statusTip", "fish eye effect"}}},
        {"aspectEdit", "QLineEdit", {{"text", "90"}}},
        {"flySpeed",
         "QSlider",
         {{"range", slider(1, 200, 1, 10, 50)},
          {"statusTip", "if camera moves too fast or too slow"}}},
        {"camType",
         "QComboBox",
         {{"items", QStringList{"UVN", "Euler"}},
          {"currentIndex", 0},
          {"statusTip", "select UVN when export camera from max; use Euler otherwise"}}},
        // Tone Mapping
        {"tmWhitePointSlider", "QSlider", {{"range", slider(10, 200, 5, 5, 25)}}},
        {"tmWhitePointEdit", "QLineEdit", {{"text", "2.5"}}},
        {"tmStrengthSlider", "QSlider", {{"range", slider(1, 100, 1, 10, 5)}}},
        {"tmStrengthEdit", "QLineEdit", {{"text", "0.25"}}},
        {"checkBox_4",
         "QCheckBox",
         {{"text", "Bloom"}, {"checked", false}, {"statusTip", "Bloom is not yet implemented"}}},
        {"tmGamma",
         "QDoubleSpinBox",
         {{"minimum", 0.0}, {"maximum", 3.0}, {"singleStep", 0.1}, {"value", 2.2}}},
        {"tmPhi",
         "QDoubleSpinBox",
         {{"minimum", 0.0}, {"maximum", 50.0}, {"singleStep", 0.5}, {"value", 16.0}}},
        {"tmButton",
         "QPushButton",
         {{"text", "Tone Map Again"},
          {"checkable", false},
          {"toolTip", "run tone mapping"},
          {"statusTip", "hotkey = 'Shift + T'"}}},
        {"savedImageName", "QLineEdit", {{"text", "telvo"}}},
        {"tmshowImageType",
         "QComboBox",
         {{"items", QStringList{"Show simple image", "Show tone mapped image"}},
          {"currentIndex", 0}}},
        // Debug
        {"enableAmbientView",
         "QCheckBox",
         {{"text", "Ambient view"}, {"checked", false}, {"statusTip", kFinalGatherTip}}},
        {"generateTelvoProfiles",
         "QCheckBox",
         {{"text", "Generate Telvo  Profile"},
          {"checked", true},
          {"statusTip", "Generate telvo profile if no one exists in the scene folder"}}},
        {"voxelizeCheckBox", "QCheckBox", {{"text", "VoxelizeScene"}, {"checked", false}}},
        {"voxelizeCheckBox_2", "QCheckBox", {{"text", "Enable Debug Output"}, {"checked", false}}},
        {"phDebugOctreeType",
         "QComboBox",
         {{"items", QStringList{"sr-octree", "mr-octree"}}, {"currentIndex", 1}}},
        {"ptFilterType",
         "QComboBox",
         {{"items", QStringList{"box", "bilinear"}}, {"currentIndex", 0}}},
        {"layersForFilter", "QCheckBox", {{"text", "SaveLayersForFilter"}, {"checked", false}}},
        {"showLayer",
         "QComboBox",
         {{"items", QStringList{"combined", "diffuse", "other"}},
          {"currentIndex", 0},
          {"statusTip", "select renderer here, then press restart"}}},
        {"outputRedirect", "QCheckBox", {{"text", "Redirect output to files"}, {"checked", false}}},
        // Ray Tracing
        {"bounceNum",
         "QSpinBox",
         {{"minimum", 0},
          {"maximum", 20},
          {"value", 4},
          {"statusTip",
           "path tracing depth (no diffuse reflection); (hotkeys = '1', '2', '3', '4', '5' "
           "...) "}}},
        {"diffBounceNum",
         "QSpinBox",
         {{"minimum", 0},
          {"maximum", 4},
          {"value", 2},
          {"statusTip", "diffuse path tracing depth (hotkey = 'c' to swich between 2 and 0)"}}},
        {"shadowsCheckBox",
         "QCheckBox",
         {{"text", "Shadows"},
          {"checked", true},
          {"statusTip", "Enable/disable shadows (hotkey = 'Z')"}}},
        {"antiAliasing",
         "QComboBox",
         {{"items", QStringList{"AA: 1x", "AA: 4x", "AA: 16x", "AA: 64x"}},
          {"currentIndex", 0},
          {"statusTip", "super sampling, preview only (hotkeys = 'g', 'h', 'j', 'k')"}}},
        {"ptDrawStatInfo",
         "QCheckBox",
         {{"text", "Statistics"},
          {"checked", false},
          {"statusTip", "display ray tracing statistics (hotkey = 'M')"}}},
        {"rayReorder",
         "QComboBox",
         {{"items", QStringList{"none", "compaction", "sorting"}},
          {"currentIndex", 0},
          {"statusTip", "enables ray compaction or ray sorting"}}},
        {"rayReorderPattern",
         "QComboBox",
         {{"items", QStringList{"1,2,3,4, ...", "2,4,6,8, ...", "1,3,5,7, ...", "2", "1"}},
          {"currentIndex", 1},
          {"statusTip", "bounces on which reorder enabled"}}},
        {"rtMeasureRays",
         "QComboBox",
         {{"items",
           QStringList{"primary", "secondary", "tertiary", "shadow(1)", "shadow(2)", "shadow(3)"}},
          {"currentIndex", 0}}},
        {"rtInFullSize", "QCheckBox", {{"text", "Full Size Ray Buffer"}, {"checked", false}}},
        // Control
        {"saveImageNowButton",
         "QPushButton",
         {{"text", "Save Image Now"},
          {"statusTip",
           "Immediate save displayed image; File name can be set in 'Tone MappingTab' (hotkey = "
           "'Shift+S')"}}},
        {"ptButton",
         "QPushButton",
         {{"text", "Path Tracing"},
          {"checkable", true},
          {"checked", false},
          {"toolTip", "run path tracing"},
          {"statusTip", "hotkey = 'P'"}}},
        {"icButton",
         "QPushButton",
         {{"text", "Irradiance Cache"},
          {"checkable", true},
          {"checked", false},
          {"statusTip", "hotkey = 'I'"}}},
        {"restartButton", "QPushButton", {{"text", "Restart"}, {"statusTip", kRestartTip}}},
        {"resolution",
         "QComboBox",
         {{"items", QStringList{"512x512", "640x480", "1024x768", "1024x1024", "1280x1024",
                                "1920x1200", "2560x1600"}},
          {"currentIndex", 2}}},
        {"rendererType",
         "QComboBox",
         {{"items", QStringList{"GPU Render", "OpenGL 1", "Exporter"}},
          {"currentIndex", 0},
          {"statusTip", "select renderer here, then press restart"}}},
        {"savePresets", "QPushButton", {{"text", "Save Presets"}, {"statusTip", kRestartTip}}},
        {"noRandomLightSampling",
         "QCheckBox",
         {{"text", "N. R. L. S."},
          {"checked", false},
          {"statusTip", "No Random Light Sampling (sample always all area lights)"}}},
        // Outside the pages
        {"currScenePath",
         "QLineEdit",
         {{"text", "some_collada_file.dae"},
          {"statusTip",
           "The path to the scene file  that will be loaded when 'restart' button is pushed (you "
           "may change path with file->open scene)"}}},
    };
}

QVariant actualProperty(QWidget* widget, const char* name) {
    if (QByteArray(name) == "range") {
        return QVariantList{widget->property("minimum"), widget->property("maximum"),
                            widget->property("singleStep"), widget->property("pageStep"),
                            widget->property("value")};
    }
    if (QByteArray(name) == "items") {
        auto* combo = qobject_cast<QComboBox*>(widget);
        QStringList items;
        for (int i = 0; combo != nullptr && i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }
    return widget->property(name);
}

QStringList tabTexts(QTabWidget* tabs, QStringList* pageNames) {
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i) {
        texts << tabs->tabText(i);
        *pageNames << tabs->widget(i)->objectName();
    }
    return texts;
}

}  // namespace

class PanelFormTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { m_window = std::make_unique<TelvoGui>(nullptr, m_segments.names()); }
    void cleanup() { m_window.reset(); }

    void everyControlHasItsKindRangeAndStartState() {
        for (const ControlRow& row : controlTable()) {
            auto* widget = m_window->findChild<QWidget*>(row.name);
            QVERIFY2(widget != nullptr, row.name);
            QVERIFY2(QByteArray(widget->metaObject()->className()) == row.kind, row.name);
            for (const auto& [property, expected] : row.properties) {
                const QVariant actual = actualProperty(widget, property);
                const bool same = expected.typeId() == QMetaType::Double
                                      ? qFuzzyCompare(actual.toDouble(), expected.toDouble())
                                      : actual == expected;
                QVERIFY2(
                    same,
                    qPrintable(QString("%1.%2 is %3").arg(row.name, property, actual.toString())));
            }
        }
        // Tool tips are empty unless given.
        QVERIFY(m_window->findChild<QWidget*>("ptMIS")->toolTip().isEmpty());
        QVERIFY(
            m_window->findChild<QWidget*>("icButton")->toolTip().contains("build irradiance cace"));
    }

    void windowPagesAndMenu() {
        QCOMPARE(m_window->windowTitle(), QString("Telvo Control Panel"));
        QCOMPARE(m_window->size(), QSize(363, 684));
        QVERIFY(m_window->findChild<QToolBar*>("mainToolBar") != nullptr);
        QVERIFY(m_window->findChild<QStatusBar*>("statusBar") != nullptr);

        Ui::TelvoGui& form = m_window->form();
        QStringList pages;
        QCOMPARE(
            tabTexts(form.tabWidget, &pages),
            QStringList({"Path Tracing", "Irradiance Cache", "SPPM (Diffuse)", "SPPM (Caustic)"}));
        QCOMPARE(tabTexts(form.tabWidget_2, &pages),
                 QStringList({"Camera", "Tone Mapping", "Relighting", "Debug"}));
        QCOMPARE(tabTexts(form.tabWidget_3, &pages), QStringList({"Ray Tracing", "Control"}));
        QCOMPARE(pages, QStringList({"tab", "tab_2", "tab_4", "tab_6", "tab_5", "tab_9", "tab_12",
                                     "tab_3", "tab_7", "tab_8"}));
        QCOMPARE(form.tabWidget->currentIndex(), 0);
        QCOMPARE(form.tabWidget_2->currentIndex(), 0);
        QCOMPARE(form.tabWidget_3->currentIndex(), 1);
        QCOMPARE(form.tabWidget->statusTip(),
                 QString("(Shift+P to trace photons and Shift+G to enable FG)"));

        auto* menu = m_window->findChild<QMenu*>("menuFile");
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->title(), QString("File"));
        QStringList actions;
        for (QAction* action : menu->actions()) {
            actions << (action->isSeparator() ? QString("-") : action->objectName());
        }
        QCOMPARE(actions, QStringList({"actionOpen_Scene", "actionSave_Image",
                                       "actionEdit_Telvo_Profile", "-", "actionExit"}));
        QCOMPARE(form.actionOpen_Scene->text(), QString("Open Scene"));
        QCOMPARE(form.actionSave_Image->statusTip(),
                 QString("Temporary same as \"Save Image Now\"."));
        QCOMPARE(form.actionEdit_Telvo_Profile->statusTip(),
                 QString("Edit custom telvo lights and materials"));
        QCOMPARE(form.actionExit->text(), QString("Exit"));
    }

  private:
    testing::ScopedSegmentNames m_segments{"form"};
    std::unique_ptr<TelvoGui> m_window;
};

QTEST_MAIN(PanelFormTest)
#include "panel_form_test.moc"
