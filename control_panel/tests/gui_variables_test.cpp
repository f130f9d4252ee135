// Bindings between widgets and the settings table, the value forms they write, and the text of
// the settings document.
#include "gui_variables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "settings_document.h"
#include "support/panel_test_support.h"
#include "value_forms.h"

using namespace quendel;

class GuiVariablesTest : public QObject {
    Q_OBJECT

  private slots:
    void streamRealFormIsTheShortestSixDigitText() {
        QCOMPARE(streamRealForm(1000.0f * 1000.0f), std::string("1e+06"));
        QCOMPARE(streamRealForm(500.0f * 1000.0f), std::string("500000"));
        QCOMPARE(streamRealForm(5.0), std::string("5"));
        QCOMPARE(streamRealForm(10.0 * 0.01f), std::string("0.1"));
        QCOMPARE(streamRealForm(200.0f / 10000.0f), std::string("0.02"));
        QCOMPARE(streamRealForm(1.0f / 3.0f), std::string("0.333333"));
        QCOMPARE(fixedSixForm(16.0f), std::string("16.000000"));
        QCOMPARE(fixedSixForm(0.01f * 1000.0f), std::string("10.000000"));
    }

    void conversionsHaveNoUndefinedCorners() {
        QCOMPARE(textToInt("abc"), 0);
        QCOMPARE(textToInt("12abc"), 12);
        QCOMPARE(textToInt("99999999999"), 2147483647);
        QCOMPARE(textToInt("-99999999999"), -2147483647 - 1);
        QCOMPARE(textToDouble("nan"), 0.0);
        QCOMPARE(truncateToInt(1e300), 2147483647);
        QCOMPARE(truncateToInt(-2.9), -2);
        QCOMPARE(truncateToInt(0.02 * 10000), 200);
    }

    void checkBoxReadsFalseOnlyFromZeroOrFalse() {
        QCheckBox box;
        SettingsTable settings;
        CheckBoxVariable variable(&box, "shadows", &settings);
        const std::pair<const char*, bool> cases[] = {
            {"1", true},      {"true", true},   {"", true},       {"0", false},
            {"false", false}, {"FALSE", false}, {"False", false}, {"yes", true},
        };
        for (const auto& [text, checked] : cases) {
            box.setChecked(!checked);
            variable.setValue(text);
            QVERIFY2(box.isChecked() == checked, text);
            QCOMPARE(settings["shadows"], std::string(text));
        }
        box.setChecked(true);
        variable.updateFromWidget();
        QCOMPARE(settings["shadows"], std::string("1"));
    }

    void comboMatchesItemTextExactly() {
        QComboBox combo;
        combo.addItems({"UVN", "Euler"});
        SettingsTable settings;
        ComboBoxVariable variable(&combo, "camType", &settings);
        variable.setValue("Euler");
        QCOMPARE(combo.currentIndex(), 1);
        variable.setValue("uvn");
        QCOMPARE(combo.currentIndex(), 1);
        QCOMPARE(settings["camType"], std::string("uvn"));
        variable.updateFromWidget();
        QCOMPARE(settings["camType"], std::string("Euler"));
    }

    void realSpinStoresScaledFixedForm() {
        QDoubleSpinBox spin;
        spin.setRange(0, 25);
        SettingsTable settings;
        SpinBoxDoubleVariable variable(&spin, "icError", &settings, 0.01f);
        spin.setValue(10.0);
        variable.updateFromWidget();
        QCOMPARE(settings["icError"], std::string("0.1"));
        variable.setValue("20");
        QCOMPARE(settings["icError"], std::string("0.200000"));
        QCOMPARE(spin.value(), 20.0);
    }

    void sliderWithEditShowsTheUnscaledValue() {
        QSlider slider;
        slider.setRange(10, 2000);
        QLineEdit edit;
        SettingsTable settings;
        SliderWithEditVariable variable(&slider, &edit, "maxDiffusePhotons", &settings, 1000.0f);
        slider.setValue(1000);
        variable.updateFromWidget();
        QCOMPARE(settings["maxDiffusePhotons"], std::string("1e+06"));
        variable.setValue("1.5");
        QCOMPARE(settings["maxDiffusePhotons"], std::string("1500.000000"));
        QCOMPARE(edit.text(), QString("1.500000"));
        QCOMPARE(slider.value(), 10);  // atoi("1.500000") is 1, clamped to the minimum
        settings["maxDiffusePhotons"] = "250000";
        variable.updateWidget();
        QCOMPARE(edit.text(), QString("250.000000"));
        QCOMPARE(slider.value(), 250);
    }

    void integerSpinReadsLikeAtoi() {
        QSpinBox spin;
        spin.setRange(0, 20);
        SettingsTable settings;
        SpinBoxIntVariable variable(&spin, "trace_depth", &settings);
        variable.setValue("7 bounces");
        QCOMPARE(spin.value(), 7);
        spin.setValue(4);
        variable.updateFromWidget();
        QCOMPARE(settings["trace_depth"], std::string("4"));
        QCOMPARE(variable.name(), std::string("trace_depth"));
    }

    void documentWritesValuesUnescaped() {
        SettingsTable settings{{"inSceneFile", "C:/a&b/<room>.dae"}, {"empty", ""}};
        const std::string document = composeSettingsDocument(settings, true);
        const auto lines = testing::splitLines(document);
        QCOMPARE(lines.size(), std::size_t(6));
        QCOMPARE(lines[0], std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QCOMPARE(lines[1], std::string("<telvo_presets>"));
        const std::vector<std::string> entries{lines[2], lines[3]};
        QVERIFY(std::find(entries.begin(), entries.end(),
                          "<inSceneFile> C:/a&b/<room>.dae </inSceneFile>") != entries.end());
        QVERIFY(std::find(entries.begin(), entries.end(), "<empty>  </empty>") != entries.end());
        QCOMPARE(lines[4], std::string("<reloadTelvoProfile> 1</reloadTelvoProfile>"));
        QCOMPARE(lines[5], std::string("</telvo_presets>"));
        QCOMPARE(document.back(), '\n');
        QVERIFY(composeSettingsDocument({}, false).find("<reloadTelvoProfile> 0</") !=
                std::string::npos);
    }
};

QTEST_MAIN(GuiVariablesTest)
#include "gui_variables_test.moc"
