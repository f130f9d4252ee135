// Filling the settings table at start-up from the form's widgets.
#include <utility>

#include "gui_variables.h"
#include "qt_text.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"
#include "value_forms.h"

namespace quendel {

void TelvoGui::addVariable(std::unique_ptr<IGuiVariable> variable) {
    const std::string key = variable->name();
    m_guiVariables[key] = std::move(variable);
}

void TelvoGui::registerGuiVariables() {
    const std::pair<const char*, QAbstractButton*> checkBoxes[] = {
        {"shadows", ui->shadowsCheckBox},
        {"path_tracing", ui->ptButton},
        {"drawBlocks", ui->ptDrawBlocks},
        {"drawRaysStatInfo", ui->ptDrawStatInfo},
        {"icDrawRecords", ui->drawICRecordsBox},
        {"ptOneSeed", ui->ptOneSeed},
        {"ptCoherent", ui->ptPerWarp},
        {"ptEnableRoulette", ui->ptRoulette},
        {"progressivePhotonMap", ui->phMapsProgressive},
        {"drawPhotons", ui->drawPhotons},
        {"drawCausticPhotons", ui->drawPhotons_2},
        {"computeIrradianceCache", ui->icButton},
        {"enableDiffusePhotonTracing", ui->enableDiffusePhotonTracing},
        {"enableCausticPhotonTracing", ui->enableCausticPhotonTracing},
        {"enableAmbientView", ui->enableAmbientView},
        {"generateTelvoProfiles", ui->generateTelvoProfiles},
        {"ptStupidMode", ui->ptStupidMode},
        {"ptCaustics", ui->ptCaustics},
        {"debugOutput", ui->voxelizeCheckBox_2},
        {"rtFullSizeMode", ui->rtInFullSize},
        {"layersForFilter", ui->layersForFilter},
        {"ptMIS", ui->ptMIS},
        {"norandomlight", ui->noRandomLightSampling},
        {"outputRedirect", ui->outputRedirect},
        {"pmDiffuseVisibilityTracing", ui->pmDiffuseVisibilityTracing},
        {"pmCausticVisibilityTracing", ui->pmCausticVisibilityTracing},
    };
    for (const auto& [key, button] : checkBoxes) {
        addVariable(std::make_unique<CheckBoxVariable>(button, key, &m_settings));
    }

    const std::pair<const char*, QComboBox*> combos[] = {
        {"resolution", ui->resolution},
        {"renderer_type", ui->rendererType},
        {"anti_aliasing", ui->antiAliasing},
        {"showImageType", ui->tmshowImageType},
        {"showLayerType", ui->showLayer},
        {"icFixedRays", ui->icFixedRaysAmount},
        {"ptFilterType", ui->ptFilterType},
        {"phDebugOctreeType", ui->phDebugOctreeType},
        {"rtMeasureRaysIndex", ui->rtMeasureRays},
        {"rayReorderType", ui->rayReorder},
        {"rayReorderPattern", ui->rayReorderPattern},
        {"ptInitialSPP", ui->ptInitialSPP},
        {"camType", ui->camType},
    };
    for (const auto& [key, combo] : combos) {
        addVariable(std::make_unique<ComboBoxVariable>(combo, key, &m_settings));
    }

    struct SliderBinding {
        const char* key;
        QAbstractSlider* slider;
        QLineEdit* edit;
        float scale;
    };
    const SliderBinding sliders[] = {
        {"maxRaysPerPixel", ui->maxRaysPerPixel, ui->maxRaysPerPixelEdit, 1.0f},
        {"minRaysPerPixel", ui->minRaysPerPixel, ui->minRaysPerPixelEdit, 1.0f},
        {"maxDiffusePhotons", ui->maxDiffusePhotons, ui->photonsDiffuseEdit, 1000.0f},
        {"maxCausticPhotons", ui->maxCausticPhotons, ui->photonsCausticEdit, 1000.0f},
        {"initialGartherRadius", ui->gartherRadiusSlider, ui->gartherRadiusEdit, 1000.0f},
        {"initialGartherRadiusCaustic", ui->gartherRadiusCausticSlider,
         ui->gartherRadiusCausticEdit, 10000.0f},
        {"causticPower", ui->causticPowerSlider, ui->causticPowerEdit, 10.0f},
        {"camAspect", ui->camAspect, ui->aspectEdit, 1.0f},
    };
    for (const SliderBinding& binding : sliders) {
        addVariable(std::make_unique<SliderWithEditVariable>(
            binding.slider, binding.edit, binding.key, &m_settings, binding.scale));
    }

    const std::pair<const char*, QSpinBox*> intSpins[] = {
        {"trace_depth", ui->bounceNum},
        {"diff_trace_depth", ui->diffBounceNum},
        {"icMaxPassesNum", ui->spinBox},
        {"skipFirstBounce", ui->storeBounce},
        {"gatherBounce", ui->gartherBounce},
        {"pmDiffuseFrequency", ui->pmDiffuseFrequency},
        {"pmCausticFrequency", ui->pmCausticFrequency},
    };
    for (const auto& [key, spin] : intSpins) {
        addVariable(std::make_unique<SpinBoxIntVariable>(spin, key, &m_settings));
    }

    const std::tuple<const char*, QDoubleSpinBox*, float> realSpins[] = {
        {"pt_error", ui->ptErrorSpinBox, 1.0f},
        {"tmGamma", ui->tmGamma, 1.0f},
        {"tmPhi", ui->tmPhi, 1.0f},
        {"icError", ui->icErrorSpinBox, 0.01f},
        {"icWSError", ui->icWorldSpaceError, 1.0f},
        {"icSSError4", ui->icScreenSpaceError4, 1.0f},
        {"icSSError2", ui->icScreenSpaceError2, 1.0f},
        {"icSSError1", ui->icScreenSpaceError1, 1.0f},
    };
    for (const auto& [key, spin, scale] : realSpins) {
        addVariable(std::make_unique<SpinBoxDoubleVariable>(spin, key, &m_settings, scale));
    }

    for (auto& entry : m_guiVariables) entry.second->updateFromWidget();
    setDirectStartupKeys();
}

void TelvoGui::setDirectStartupKeys() {
    setKey("anti_aliasing_index", integerForm(ui->antiAliasing->currentIndex()));
    setKey("save_image", "0");
    setKey("toneMapNow", "0");
    setKey("tmWhitePoint", toTableText(ui->tmWhitePointEdit->text()));
    setKey("tmStrength", toTableText(ui->tmStrengthEdit->text()));
    setKey("initialGartherRadius", "0.01");
    setKey("initialGartherRadiusCaustic", "0.001");
    setKey("causticPower", "1.0");
    setKey("camFlySpeed", "1.0");
    setKey("camAspect", "90.0");
    setKey("pmDiffuseSinglePass", "0");
    setKey("ptInitialSPP", "1");
    setKey("camType", "UVN");
    m_savedImageId = 0;
    nameSavedImage(ui->savedImageName->text());
    setKey("icEvalAlg", "fixed");
    ui->icErrorSpinBox->setEnabled(false);
    ui->icFixedRaysAmount->setEnabled(true);
    setKey("inSceneFile", "empty.dae");
    setKey("inColladaProfile", "empty.xml");
}

}  // namespace quendel
