#pragma once

#include <string>

#include "settings_table.h"

class QAbstractButton;
class QAbstractSlider;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

namespace quendel {

// Binds one settings key to the widget(s) that show it. The widgets belong to the form; the
// variable only points at them and at the table.
class IGuiVariable {
  public:
    virtual ~IGuiVariable() = default;
    virtual const std::string& name() const = 0;
    // The key's value in the table, inserted empty when missing.
    virtual std::string& value() = 0;
    // Stores `text` in this variable's own form, then shows it in the widget.
    virtual void setValue(const std::string& text) = 0;
    virtual void updateFromWidget() = 0;
    virtual void updateWidget() = 0;
};

// What all bindings share: the key and the table.
class KeyedVariable : public IGuiVariable {
  public:
    const std::string& name() const override { return m_key; }
    std::string& value() override { return (*m_settings)[m_key]; }
    void setValue(const std::string& text) override;

  protected:
    KeyedVariable(std::string key, SettingsTable* settings)
        : m_key(std::move(key)), m_settings(settings) {}

  private:
    std::string m_key;
    SettingsTable* m_settings;
};

// A check box or checkable button, as "1" or "0". Any value but "0" or "false" (in any case)
// checks the button, the empty value included.
class CheckBoxVariable : public KeyedVariable {
  public:
    CheckBoxVariable(QAbstractButton* button, std::string key, SettingsTable* settings)
        : KeyedVariable(std::move(key), settings), m_button(button) {}
    void updateFromWidget() override;
    void updateWidget() override;

  private:
    QAbstractButton* m_button;
};

// A combo's current item text. A value matching no item leaves the combo as it is.
class ComboBoxVariable : public KeyedVariable {
  public:
    ComboBoxVariable(QComboBox* combo, std::string key, SettingsTable* settings)
        : KeyedVariable(std::move(key), settings), m_combo(combo) {}
    void updateFromWidget() override;
    void updateWidget() override;

  private:
    QComboBox* m_combo;
};

class SpinBoxIntVariable : public KeyedVariable {
  public:
    SpinBoxIntVariable(QSpinBox* spin, std::string key, SettingsTable* settings)
        : KeyedVariable(std::move(key), settings), m_spin(spin) {}
    void updateFromWidget() override;
    void updateWidget() override;

  private:
    QSpinBox* m_spin;
};

// A real spin box whose key holds the shown value times `scale`.
class SpinBoxDoubleVariable : public KeyedVariable {
  public:
    SpinBoxDoubleVariable(QDoubleSpinBox* spin, std::string key, SettingsTable* settings,
                          float scale)
        : KeyedVariable(std::move(key), settings), m_spin(spin), m_scale(scale) {}
    void setValue(const std::string& text) override;
    void updateFromWidget() override;
    void updateWidget() override;

  private:
    QDoubleSpinBox* m_spin;
    float m_scale;
};

// A slider with the line edit beside it; the key holds the slider position times `scale`.
class SliderWithEditVariable : public KeyedVariable {
  public:
    SliderWithEditVariable(QAbstractSlider* slider, QLineEdit* edit, std::string key,
                           SettingsTable* settings, float scale)
        : KeyedVariable(std::move(key), settings), m_slider(slider), m_edit(edit), m_scale(scale) {}
    void setValue(const std::string& text) override;
    void updateFromWidget() override;
    void updateWidget() override;

  private:
    QAbstractSlider* m_slider;
    QLineEdit* m_edit;
    float m_scale;
};

}  // namespace quendel
