// The controls' slots, driven through the real widgets, checked in what the panel published.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "support/panel_test_support.h"
#include "telvo_gui.h"
#include "ui_telvogui.h"

using namespace quendel;
using namespace quendel::testing;

class ControlHandlersTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { m_window = std::make_unique<TelvoGui>(nullptr, m_segments.names()); }
    void cleanup() {
        m_window.reset();
        m_segments.removeAll();
    }

    void radiusEditStoresTextThenTheSliderRewritesIt() {
        Ui::TelvoGui& form = m_window->form();
        const int before = publishCount();
        paste(form.gartherRadiusEdit, "0.02");
        QCOMPARE(form.gartherRadiusSlider->value(), 200);
        QCOMPARE(publishCount() - before, 2);
        QCOMPARE(published("initialGartherRadius"), std::string("0.02"));

        // Beyond the slider's end the key follows the clamped position.
        paste(form.gartherRadiusEdit, "0.07");
        QCOMPARE(form.gartherRadiusSlider->value(), 500);
        QCOMPARE(publishCount() - before, 4);
        QCOMPARE(published("initialGartherRadius"), std::string("0.05"));
        QCOMPARE(form.gartherRadiusEdit->text(), QString("0.05"));

        // Inside the range but at the same position only the typed text is stored and sent.
        paste(form.gartherRadiusEdit, "0.05000");
        QCOMPARE(publishCount() - before, 5);
        QCOMPARE(published("initialGartherRadius"), std::string("0.05000"));
    }

    void photonEditWithoutANumberEndsAtTheSliderMinimum() {
        Ui::TelvoGui& form = m_window->form();
        const int before = publishCount();
        paste(form.photonsCausticEdit, "many");
        QCOMPARE(form.maxCausticPhotons->value(), 10);
        QCOMPARE(published("maxCausticPhotons"), std::string("10000"));
        QCOMPARE(form.photonsCausticEdit->text(), QString("10"));
        QCOMPARE(publishCount() - before, 2);

        // At the same position the edit's own value stands: thousands turned into photons.
        paste(form.photonsCausticEdit, "10");
        QCOMPARE(published("maxCausticPhotons"), std::string("10000"));
        QCOMPARE(publishCount() - before, 3);

        paste(form.photonsDiffuseEdit, "1500");
        QCOMPARE(form.maxDiffusePhotons->value(), 1500);
        QCOMPARE(published("maxDiffusePhotons"), std::string("1500000"));
    }

    void editsThatDoNotPublishStillMoveTheirSlider() {
        Ui::TelvoGui& form = m_window->form();
        const int before = publishCount();
        paste(form.maxRaysPerPixelEdit, "2048");
        // The slider's own slot publishes; the edit does not add one.
        QCOMPARE(publishCount() - before, 1);
        QCOMPARE(published("maxRaysPerPixel"), std::string("2048"));
        paste(form.lensRadiusEdit, "0.3");
        QCOMPARE(form.lensRadius->value(), 30);
        QCOMPARE(published("dofLensRadius"), std::string("0.3"));
        QCOMPARE(publishCount() - before, 2);
    }

    void initialSamplesSendTheShownNumber() {
        const int before = publishCount();
        m_window->form().ptInitialSPP->setCurrentIndex(3);
        QCOMPARE(published("ptInitialSPP"), std::string("16"));
        QCOMPARE(publishCount() - before, 1);
    }

    void antiAliasingFiresIndexAndTextSlots() {
        const int before = publishCount();
        m_window->form().antiAliasing->setCurrentIndex(1);
        QCOMPARE(publishCount() - before, 2);
        QCOMPARE(published("anti_aliasing_index"), std::string("1"));
        QCOMPARE(published("anti_aliasing"), std::string("AA: 4x"));
    }

    void combosWriteIndexOrTextAsTheirKeyWants() {
        Ui::TelvoGui& form = m_window->form();
        form.ptFilterType->setCurrentIndex(1);
        QCOMPARE(published("ptFilterType"), std::string("1"));
        form.rayReorderPattern->setCurrentIndex(4);
        QCOMPARE(published("rayReorderPattern"), std::string("4"));
        form.resolution->setCurrentIndex(6);
        QCOMPARE(published("resolution"), std::string("2560x1600"));
        form.camType->setCurrentIndex(1);
        QCOMPARE(published("camType"), std::string("Euler"));
    }

    void spinsWriteValueOrShownText() {
        Ui::TelvoGui& form = m_window->form();
        form.icErrorSpinBox->setValue(12.5);
        QCOMPARE(published("icError"), std::string("0.125"));
        form.icWorldSpaceError->setValue(41);
        QCOMPARE(published("icWSError"), std::string("41.00"));
        form.tmGamma->setValue(1.8);
        QCOMPARE(published("tmGamma"), std::string("1.8"));
        form.bounceNum->setValue(7);
        QCOMPARE(published("trace_depth"), std::string("7"));
    }

    void toneMapButtonNamesImagesByCounter() {
        QPushButton* button = m_window->form().tmButton;
        for (const char* name : {"telvo_0", "telvo_1"}) {
            QTest::mousePress(button, Qt::LeftButton);
            QCOMPARE(published("toneMapNow"), std::string("1"));
            QCOMPARE(published("savedImageName"), std::string(name));
            QTest::mouseRelease(button, Qt::LeftButton);
            QCOMPARE(published("toneMapNow"), std::string("0"));
        }
        // Renaming restarts the counter without sending anything.
        const int before = publishCount();
        QTest::keyClicks(m_window->form().savedImageName, "x");
        QCOMPARE(publishCount(), before);
        QCOMPARE(m_window->settings()["savedImageName"], std::string("telvox_0"));
        QTest::mouseClick(m_window->form().saveImageNowButton, Qt::LeftButton);
        QCOMPARE(published("savedImageName"), std::string("telvox_0"));
        QCOMPARE(published("save_image"), std::string("0"));
    }

    void saveImageFromTheMenuStaysHeld() {
        m_window->form().actionSave_Image->trigger();
        QCOMPARE(published("save_image"), std::string("1"));
        QCOMPARE(published("savedImageName"), std::string("telvo_0"));
        QTest::mouseClick(m_window->form().saveImageNowButton, Qt::LeftButton);
        QCOMPARE(published("save_image"), std::string("0"));
        QCOMPARE(published("savedImageName"), std::string("telvo_0"));
    }

    void singlePassIsSentWhileHeld() {
        QPushButton* button = m_window->form().pmDiffuseSinglePass;
        const int before = publishCount();
        QTest::mousePress(button, Qt::LeftButton);
        QCOMPARE(published("pmDiffuseSinglePass"), std::string("1"));
        QTest::mouseRelease(button, Qt::LeftButton);
        QCOMPARE(published("pmDiffuseSinglePass"), std::string("0"));
        QCOMPARE(publishCount() - before, 2);
    }

    void strengthSliderWaitsForTheNextPublication() {
        Ui::TelvoGui& form = m_window->form();
        const int before = publishCount();
        form.tmStrengthSlider->setValue(10);
        QCOMPARE(publishCount(), before);
        QCOMPARE(published("tmStrength"), std::string("0.25"));
        QCOMPARE(form.tmStrengthEdit->text(), QString("0.5"));
        clickBox(form.shadowsCheckBox);
        QCOMPARE(published("tmStrength"), std::string("0.5"));
        QCOMPARE(published("shadows"), std::string("0"));
    }

    void progressiveEvaluationSwapsTheEnabledControlsSilently() {
        Ui::TelvoGui& form = m_window->form();
        const int before = publishCount();
        form.icEvaluationAlgType->setCurrentIndex(0);
        QCOMPARE(publishCount(), before);
        QVERIFY(form.icErrorSpinBox->isEnabled());
        QVERIFY(!form.icFixedRaysAmount->isEnabled());
        QCOMPARE(m_window->settings()["icEvalAlg"], std::string("progressive"));
        form.icEvaluationAlgType->setCurrentIndex(1);
        QVERIFY(!form.icErrorSpinBox->isEnabled());
        QVERIFY(form.icFixedRaysAmount->isEnabled());
        QCOMPARE(m_window->settings()["icEvalAlg"], std::string("fixed"));
        QCOMPARE(publishCount(), before);
    }

    void visibilityBoxesMirrorEachOther() {
        Ui::TelvoGui& form = m_window->form();
        const int before = publishCount();
        clickBox(form.pmDiffuseVisibilityTracing);
        QVERIFY(!form.pmCausticVisibilityTracing->isChecked());
        QCOMPARE(publishCount() - before, 2);
        QCOMPARE(published("pmDiffuseVisibilityTracing"), std::string("0"));
        QCOMPARE(published("pmCausticVisibilityTracing"), std::string("0"));
    }

    void flagSlotsWriteTheirOwnKeys() {
        Ui::TelvoGui& form = m_window->form();
        QTest::mouseClick(form.ptButton, Qt::LeftButton);
        QCOMPARE(published("path_tracing"), std::string("1"));
        clickBox(form.ptPerWarp);
        QCOMPARE(published("ptCoherent"), std::string("1"));
        clickBox(form.dofCheckBox);
        QCOMPARE(published("enableDOF"), std::string("1"));
        clickBox(form.voxelizeCheckBox_2);
        QCOMPARE(published("debugOutput"), std::string("1"));
        QCOMPARE(published("voxelizeScene"), std::string());
        form.flySpeed->setValue(100);
        QCOMPARE(published("camFlySpeed"), std::string("2"));
    }

  private:
    // A check box only takes clicks on its indicator and text, not on the rest of its cell.
    static void clickBox(QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }

    void paste(QLineEdit* edit, const QString& text) {
        QApplication::clipboard()->setText(text);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), text);
    }

    int publishCount() const { return readPublishedRecord(m_segments.names()).header.publishCount; }

    std::string published(const std::string& key) const {
        const auto values = readPublishedRecord(m_segments.names()).values;
        const auto found = values.find(key);
        return found == values.end() ? std::string() : found->second;
    }

    ScopedSegmentNames m_segments{"handlers"};
    std::unique_ptr<TelvoGui> m_window;
};

QTEST_MAIN(ControlHandlersTest)
#include "control_handlers_test.moc"
