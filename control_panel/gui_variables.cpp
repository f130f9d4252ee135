#include "gui_variables.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>
#include <cctype>

#include "qt_text.h"
#include "value_forms.h"

namespace quendel {

namespace {

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string scaledFixedSix(const std::string& text, float scale) {
    return fixedSixForm(static_cast<float>(textToDouble(text)) * scale);
}

}  // namespace

void KeyedVariable::setValue(const std::string& text) {
    value() = text;
    updateWidget();
}

void CheckBoxVariable::updateFromWidget() {
    value() = flagForm(m_button->isChecked());
}

void CheckBoxVariable::updateWidget() {
    const std::string flag = lowerCased(value());
    m_button->setChecked(flag != "0" && flag != "false");
}

void ComboBoxVariable::updateFromWidget() {
    value() = toTableText(m_combo->currentText());
}

void ComboBoxVariable::updateWidget() {
    const int index =
        m_combo->findText(toWidgetText(value()), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) m_combo->setCurrentIndex(index);
}

void SpinBoxIntVariable::updateFromWidget() {
    value() = integerForm(m_spin->value());
}

void SpinBoxIntVariable::updateWidget() {
    m_spin->setValue(textToInt(value()));
}

void SpinBoxDoubleVariable::setValue(const std::string& text) {
    value() = scaledFixedSix(text, m_scale);
    updateWidget();
}

void SpinBoxDoubleVariable::updateFromWidget() {
    value() = streamRealForm(m_spin->value() * m_scale);
}

void SpinBoxDoubleVariable::updateWidget() {
    m_spin->setValue(textToDouble(value()) * (1 / m_scale));
}

void SliderWithEditVariable::setValue(const std::string& text) {
    value() = scaledFixedSix(text, m_scale);
    updateWidget();
}

void SliderWithEditVariable::updateFromWidget() {
    value() = streamRealForm(static_cast<float>(m_slider->value()) * m_scale);
}

void SliderWithEditVariable::updateWidget() {
    const std::string shown = fixedSixForm(static_cast<float>(textToDouble(value())) / m_scale);
    m_edit->setText(toWidgetText(shown));
    m_slider->setValue(textToInt(shown));
}

}  // namespace quendel
