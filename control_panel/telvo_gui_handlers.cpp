// The slots of the form's controls: each writes its key and, as a rule, publishes.
#include "qt_text.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"
#include "value_forms.h"

namespace quendel {

namespace {

float sliderScaled(int position, float divisor) {
    return static_cast<float>(position) / divisor;
}

}  // namespace

void TelvoGui::setAndPublish(const char* key, std::string value) {
    setKey(key, std::move(value));
    publishSettings();
}

void TelvoGui::setFlag(const char* key, bool checked) {
    setAndPublish(key, flagForm(checked));
}

// Flags.

void TelvoGui::on_shadowsCheckBox_clicked(bool checked) {
    setFlag("shadows", checked);
}
void TelvoGui::on_dofCheckBox_clicked(bool checked) {
    setFlag("enableDOF", checked);
}
void TelvoGui::on_ptButton_toggled(bool checked) {
    setFlag("path_tracing", checked);
}
void TelvoGui::on_icButton_toggled(bool checked) {
    setFlag("computeIrradianceCache", checked);
}
void TelvoGui::on_ptDrawBlocks_toggled(bool checked) {
    setFlag("drawBlocks", checked);
}
void TelvoGui::on_ptDrawStatInfo_toggled(bool checked) {
    setFlag("drawRaysStatInfo", checked);
}
void TelvoGui::on_ptStupidMode_toggled(bool checked) {
    setFlag("ptStupidMode", checked);
}
void TelvoGui::on_ptCaustics_toggled(bool checked) {
    setFlag("ptCaustics", checked);
}
void TelvoGui::on_ptOneSeed_toggled(bool checked) {
    setFlag("ptOneSeed", checked);
}
void TelvoGui::on_ptPerWarp_toggled(bool checked) {
    setFlag("ptCoherent", checked);
}
void TelvoGui::on_ptRoulette_toggled(bool checked) {
    setFlag("ptEnableRoulette", checked);
}
void TelvoGui::on_ptMIS_toggled(bool checked) {
    setFlag("ptMIS", checked);
}
void TelvoGui::on_phMapsProgressive_toggled(bool checked) {
    setFlag("progressivePhotonMap", checked);
}
void TelvoGui::on_phMapsProgressiveCaustic_toggled(bool checked) {
    setFlag("progressiveCaustics", checked);
}
void TelvoGui::on_drawPhotons_toggled(bool checked) {
    setFlag("drawPhotons", checked);
}
void TelvoGui::on_drawPhotons_2_toggled(bool checked) {
    setFlag("drawCausticPhotons", checked);
}
void TelvoGui::on_enableDiffusePhotonTracing_toggled(bool checked) {
    setFlag("enableDiffusePhotonTracing", checked);
}
void TelvoGui::on_enableCausticPhotonTracing_toggled(bool checked) {
    setFlag("enableCausticPhotonTracing", checked);
}
void TelvoGui::on_drawICRecordsBox_toggled(bool checked) {
    setFlag("icDrawRecords", checked);
}
void TelvoGui::on_enableAmbientView_toggled(bool checked) {
    setFlag("enableAmbientView", checked);
}
void TelvoGui::on_generateTelvoProfiles_toggled(bool checked) {
    setFlag("generateTelvoProfiles", checked);
}
void TelvoGui::on_voxelizeCheckBox_toggled(bool checked) {
    setFlag("voxelizeScene", checked);
}
void TelvoGui::on_voxelizeCheckBox_2_toggled(bool checked) {
    setFlag("debugOutput", checked);
}
void TelvoGui::on_rtInFullSize_toggled(bool checked) {
    setFlag("rtFullSizeMode", checked);
}
void TelvoGui::on_layersForFilter_toggled(bool checked) {
    setFlag("layersForFilter", checked);
}
void TelvoGui::on_noRandomLightSampling_toggled(bool checked) {
    setFlag("norandomlight", checked);
}
void TelvoGui::on_outputRedirect_toggled(bool checked) {
    setFlag("outputRedirect", checked);
}

// The two visibility boxes mirror each other: the other box follows first (its own slot writes
// and publishes), then this one writes and publishes.
void TelvoGui::on_pmDiffuseVisibilityTracing_toggled(bool checked) {
    ui->pmCausticVisibilityTracing->setChecked(checked);
    setFlag("pmDiffuseVisibilityTracing", checked);
}
void TelvoGui::on_pmCausticVisibilityTracing_toggled(bool checked) {
    ui->pmDiffuseVisibilityTracing->setChecked(checked);
    setFlag("pmCausticVisibilityTracing", checked);
}

// Integers.

void TelvoGui::on_bounceNum_valueChanged(int value) {
    setAndPublish("trace_depth", integerForm(value));
}
void TelvoGui::on_diffBounceNum_valueChanged(int value) {
    setAndPublish("diff_trace_depth", integerForm(value));
}
void TelvoGui::on_spinBox_valueChanged(int value) {
    setAndPublish("icMaxPassesNum", integerForm(value));
}
void TelvoGui::on_gartherBounce_valueChanged(int value) {
    setAndPublish("gatherBounce", integerForm(value));
}
void TelvoGui::on_storeBounce_valueChanged(int value) {
    setAndPublish("skipFirstBounce", integerForm(value));
}
void TelvoGui::on_pmDiffuseFrequency_valueChanged(int value) {
    setAndPublish("pmDiffuseFrequency", integerForm(value));
}
void TelvoGui::on_pmCausticFrequency_valueChanged(int value) {
    setAndPublish("pmCausticFrequency", integerForm(value));
}
void TelvoGui::on_antiAliasing_currentIndexChanged(int index) {
    setAndPublish("anti_aliasing_index", integerForm(index));
}
void TelvoGui::on_phDebugOctreeType_currentIndexChanged(int index) {
    setAndPublish("phDebugOctreeType", integerForm(index));
}
void TelvoGui::on_ptFilterType_currentIndexChanged(int index) {
    setAndPublish("ptFilterType", integerForm(index));
}
void TelvoGui::on_rtMeasureRays_currentIndexChanged(int index) {
    setAndPublish("rtMeasureRaysIndex", integerForm(index));
}
void TelvoGui::on_rayReorder_currentIndexChanged(int index) {
    setAndPublish("rayReorderType", integerForm(index));
}
void TelvoGui::on_rayReorderPattern_currentIndexChanged(int index) {
    setAndPublish("rayReorderPattern", integerForm(index));
}
// The renderer wants the number of samples the item shows, not the item's position.
void TelvoGui::on_ptInitialSPP_currentIndexChanged(int index) {
    setAndPublish("ptInitialSPP",
                  integerForm(textToInt(toTableText(ui->ptInitialSPP->itemText(index)))));
}

// Texts.

void TelvoGui::on_resolution_currentTextChanged(const QString& text) {
    setAndPublish("resolution", toTableText(text));
}
void TelvoGui::on_rendererType_currentTextChanged(const QString& text) {
    setAndPublish("renderer_type", toTableText(text));
}
void TelvoGui::on_antiAliasing_currentTextChanged(const QString& text) {
    setAndPublish("anti_aliasing", toTableText(text));
}
void TelvoGui::on_tmshowImageType_currentTextChanged(const QString& text) {
    setAndPublish("showImageType", toTableText(text));
}
void TelvoGui::on_showLayer_currentTextChanged(const QString& text) {
    setAndPublish("showLayerType", toTableText(text));
}
void TelvoGui::on_icFixedRaysAmount_currentTextChanged(const QString& text) {
    setAndPublish("icFixedRays", toTableText(text));
}
void TelvoGui::on_camType_currentTextChanged(const QString& text) {
    setAndPublish("camType", toTableText(text));
}
void TelvoGui::on_icWorldSpaceError_textChanged(const QString& text) {
    setAndPublish("icWSError", toTableText(text));
}
void TelvoGui::on_icScreenSpaceError4_textChanged(const QString& text) {
    setAndPublish("icSSError4", toTableText(text));
}
void TelvoGui::on_icScreenSpaceError2_textChanged(const QString& text) {
    setAndPublish("icSSError2", toTableText(text));
}
void TelvoGui::on_icScreenSpaceError1_textChanged(const QString& text) {
    setAndPublish("icSSError1", toTableText(text));
}

// Reals.

void TelvoGui::on_ptErrorSpinBox_valueChanged(double value) {
    setAndPublish("pt_error", streamRealForm(value));
}
void TelvoGui::on_tmGamma_valueChanged(double value) {
    setAndPublish("tmGamma", streamRealForm(value));
}
void TelvoGui::on_tmPhi_valueChanged(double value) {
    setAndPublish("tmPhi", streamRealForm(value));
}
void TelvoGui::on_icErrorSpinBox_valueChanged(double value) {
    setAndPublish("icError", streamRealForm(value * 0.01));
}

// Sliders and their edits. A slider slot writes the key from the position and shows it in the
// edit (setText does not fire the edit's slot). An edit slot stores what was typed and moves the
// slider; a move to a new position fires the slider slot, which rewrites the key from the
// (possibly clamped) position.

void TelvoGui::takeSliderValue(const char* key, QLineEdit* edit, std::string value,
                               std::string shown, bool publish) {
    setKey(key, std::move(value));
    edit->setText(toWidgetText(shown));
    if (publish) publishSettings();
}

void TelvoGui::takeEditText(const char* key, QAbstractSlider* slider, std::string typed,
                            int position, bool publish) {
    setKey(key, std::move(typed));
    slider->setValue(position);
    if (publish) publishSettings();
}

void TelvoGui::on_minRaysPerPixel_valueChanged(int position) {
    const std::string value = integerForm(position);
    takeSliderValue("minRaysPerPixel", ui->minRaysPerPixelEdit, value, value, true);
}
void TelvoGui::on_minRaysPerPixelEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("minRaysPerPixel", ui->minRaysPerPixel, typed, textToInt(typed), false);
}

void TelvoGui::on_maxRaysPerPixel_valueChanged(int position) {
    const std::string value = integerForm(position);
    takeSliderValue("maxRaysPerPixel", ui->maxRaysPerPixelEdit, value, value, true);
}
void TelvoGui::on_maxRaysPerPixelEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("maxRaysPerPixel", ui->maxRaysPerPixel, typed, textToInt(typed), false);
}

// The photon edits show thousands; the key holds photons.
void TelvoGui::on_maxDiffusePhotons_valueChanged(int position) {
    takeSliderValue("maxDiffusePhotons", ui->photonsDiffuseEdit, integerForm(position * 1000LL),
                    integerForm(position), true);
}
void TelvoGui::on_photonsDiffuseEdit_textEdited(const QString& text) {
    const int thousands = textToInt(toTableText(text));
    takeEditText("maxDiffusePhotons", ui->maxDiffusePhotons, integerForm(thousands * 1000LL),
                 thousands, true);
}

void TelvoGui::on_maxCausticPhotons_valueChanged(int position) {
    takeSliderValue("maxCausticPhotons", ui->photonsCausticEdit, integerForm(position * 1000LL),
                    integerForm(position), true);
}
void TelvoGui::on_photonsCausticEdit_textEdited(const QString& text) {
    const int thousands = textToInt(toTableText(text));
    takeEditText("maxCausticPhotons", ui->maxCausticPhotons, integerForm(thousands * 1000LL),
                 thousands, true);
}

void TelvoGui::on_gartherRadiusSlider_valueChanged(int position) {
    const std::string value = streamRealForm(sliderScaled(position, 10000.0f));
    takeSliderValue("initialGartherRadius", ui->gartherRadiusEdit, value, value, true);
}
void TelvoGui::on_gartherRadiusEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("initialGartherRadius", ui->gartherRadiusSlider, typed,
                 truncateToInt(textToDouble(typed) * 10000), true);
}

void TelvoGui::on_gartherRadiusCausticSlider_valueChanged(int position) {
    const std::string value = streamRealForm(sliderScaled(position, 10000.0f));
    takeSliderValue("initialGartherRadiusCaustic", ui->gartherRadiusCausticEdit, value, value,
                    true);
}
void TelvoGui::on_gartherRadiusCausticEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("initialGartherRadiusCaustic", ui->gartherRadiusCausticSlider, typed,
                 truncateToInt(textToDouble(typed) * 10000), true);
}

void TelvoGui::on_causticPowerSlider_valueChanged(int position) {
    const std::string value = streamRealForm(sliderScaled(position, 10.0f));
    takeSliderValue("causticPower", ui->causticPowerEdit, value, value, true);
}
void TelvoGui::on_causticPowerEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("causticPower", ui->causticPowerSlider, typed,
                 truncateToInt(textToDouble(typed) * 10), true);
}

void TelvoGui::on_focalPlaneDist_valueChanged(int position) {
    const std::string value = integerForm(position);
    takeSliderValue("dofFocalPlaneDist", ui->focalPlaneDistEdit, value, value, true);
}
void TelvoGui::on_focalPlaneDistEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("dofFocalPlaneDist", ui->focalPlaneDist, typed, textToInt(typed), false);
}

void TelvoGui::on_lensRadius_valueChanged(int position) {
    const std::string value = streamRealForm(sliderScaled(position, 100.0f));
    takeSliderValue("dofLensRadius", ui->lensRadiusEdit, value, value, true);
}
void TelvoGui::on_lensRadiusEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("dofLensRadius", ui->lensRadius, typed, truncateToInt(textToDouble(typed) * 100),
                 false);
}

void TelvoGui::on_camAspect_valueChanged(int position) {
    const std::string value = streamRealForm(static_cast<float>(position));
    takeSliderValue("camAspect", ui->aspectEdit, value, value, true);
}
void TelvoGui::on_aspectEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("camAspect", ui->camAspect, typed, truncateToInt(textToDouble(typed)), false);
}

void TelvoGui::on_tmWhitePointSlider_valueChanged(int position) {
    const std::string value = streamRealForm(sliderScaled(position, 10.0f));
    takeSliderValue("tmWhitePoint", ui->tmWhitePointEdit, value, value, true);
}
void TelvoGui::on_tmWhitePointEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("tmWhitePoint", ui->tmWhitePointSlider, typed,
                 truncateToInt(textToDouble(typed) * 10), false);
}

// The strength reaches the renderer with the next publication made for another reason.
void TelvoGui::on_tmStrengthSlider_valueChanged(int position) {
    const std::string value = streamRealForm(sliderScaled(position, 20.0f));
    takeSliderValue("tmStrength", ui->tmStrengthEdit, value, value, false);
}
void TelvoGui::on_tmStrengthEdit_textEdited(const QString& text) {
    const std::string typed = toTableText(text);
    takeEditText("tmStrength", ui->tmStrengthSlider, typed, truncateToInt(textToDouble(typed) * 20),
                 false);
}

void TelvoGui::on_flySpeed_valueChanged(int position) {
    setAndPublish("camFlySpeed", streamRealForm(sliderScaled(position, 50.0f)));
}

// Irradiance-cache evaluation: the relative error applies to progressive evaluation, the ray
// count to fixed evaluation.
void TelvoGui::on_icEvaluationAlgType_currentIndexChanged(int index) {
    const bool progressive = index == 0;
    ui->icErrorSpinBox->setEnabled(progressive);
    ui->icFixedRaysAmount->setEnabled(!progressive);
    setKey("icEvalAlg", progressive ? "progressive" : "fixed");
}

// Held buttons: "1" while held, "0" on release, each sent at once. Every press names the image
// after the counter; every release moves the counter on.

void TelvoGui::nameSavedImage(const QString& name) {
    setKey("savedImageId", integerForm(m_savedImageId));
    setKey("savedImageName", toTableText(name) + "_" + m_settings["savedImageId"]);
}

void TelvoGui::on_saveImageNowButton_pressed() {
    nameSavedImage(ui->savedImageName->text());
    setAndPublish("save_image", "1");
}

void TelvoGui::on_saveImageNowButton_released() {
    setAndPublish("save_image", "0");
    ++m_savedImageId;
}

void TelvoGui::on_tmButton_pressed() {
    setKey("toneMapNow", "1");
    nameSavedImage(ui->savedImageName->text());
    publishSettings();
}

void TelvoGui::on_tmButton_released() {
    setKey("toneMapNow", "0");
    ++m_savedImageId;
    publishSettings();
}

void TelvoGui::on_savedImageName_textEdited(const QString& text) {
    m_savedImageId = 0;
    nameSavedImage(text);
}

void TelvoGui::on_pmDiffuseSinglePass_pressed() {
    setAndPublish("pmDiffuseSinglePass", "1");
}

void TelvoGui::on_pmDiffuseSinglePass_released() {
    setAndPublish("pmDiffuseSinglePass", "0");
}

}  // namespace quendel
