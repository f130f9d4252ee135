#include "telvo_gui.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QProcess>

#include "boundary/settings_record.h"
#include "gui_variables.h"
#include "listener_thread.h"
#include "settings_document.h"
#include "ui_telvogui.h"
#include "value_forms.h"

namespace quendel {

TelvoGui::TelvoGui(QWidget* parent, const SegmentNames& segments)
    : QMainWindow(parent),
      ui(new Ui::TelvoGui),
      m_segmentNames(segments),
      m_sharedXMLData(segments.settings),
      m_sharedImage(segments.image),
      m_sharedMessage(segments.message) {
    ui->setupUi(this);
    m_log.open("gui_log.txt", std::ios::out | std::ios::trunc);
    log("create telvo ui");
    openSegments();
    // The image header carries the configured resolution, so the table is filled first.
    registerGuiVariables();
    writeImageSegmentHeader();
    connectMenuActions();
    publishSettings();
    startListener();
}

TelvoGui::~TelvoGui() {
    stopListener();
    m_guiVariables.clear();
    log("delete telvo ui");
    delete ui;
    ui = nullptr;
}

void TelvoGui::log(const std::string& line) {
    std::lock_guard guard(m_logMutex);
    m_log << line << '\n' << std::flush;
}

void TelvoGui::logWithoutLineEnd(const std::string& text) {
    std::lock_guard guard(m_logMutex);
    m_log << text << std::flush;
}

LockTakeOverNotice TelvoGui::takeOverNotice() {
    return [this](const SharedSegment& segment) {
        log("lock of '" + segment.name() + "' not released within " +
            std::to_string(kLockTimeout.count()) + " ms; taken over");
    };
}

void TelvoGui::openSegments() {
    openOrCreate(m_sharedXMLData, kSettingsSegmentSize,
                 "can't create shared memory 'TelvoGuiShmem'");
    openOrCreate(m_sharedMessage, kMessageSegmentSize,
                 "can't create shared memory 'TelvoMessageShmem'");
    clearMessageSegment();
    openOrCreate(m_sharedImage, kImageSegmentSize, "can't create shared memory 'TelvoLDRImage'");
}

void TelvoGui::openOrCreate(SharedSegment& segment, std::size_t size, const char* failureLine) {
    if (segment.attach() || segment.create(size)) return;
    log(failureLine);
}

void TelvoGui::clearMessageSegment() {
    if (!m_sharedMessage.isOpen()) return;
    SegmentLock lock(m_sharedMessage, kLockTimeout, takeOverNotice());
    clearMessageArea(m_sharedMessage.bytes());
}

void TelvoGui::writeImageSegmentHeader() {
    if (!m_sharedImage.isOpen()) return;
    int width = 2560;
    int height = 1600;
    parseResolution(m_settings["resolution"], width, height);
    SegmentLock lock(m_sharedImage, kLockTimeout, takeOverNotice());
    writeImageHeader(m_sharedImage.bytes(), width, height);
}

void TelvoGui::connectMenuActions() {
    connect(ui->actionOpen_Scene, &QAction::triggered, this, &TelvoGui::openNewScene);
    connect(ui->actionEdit_Telvo_Profile, &QAction::triggered, this,
            &TelvoGui::EditXMLProfileManually);
    connect(ui->actionSave_Image, &QAction::triggered, this,
            &TelvoGui::on_saveImageNowButton_pressed);
    connect(ui->actionExit, &QAction::triggered, this, [this] { on_exitButton_pressed(); });
}

void TelvoGui::startListener() {
    auto requestPublication = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                publishSettings();
                if (m_listener) m_listener->publicationDone();
            },
            Qt::QueuedConnection);
    };
    m_listener = std::make_unique<ListenerThread>(m_sharedXMLData, kLockTimeout, takeOverNotice(),
                                                  requestPublication);
    m_listener->start(QThread::InheritPriority);
}

void TelvoGui::stopListener() {
    if (m_listener) m_listener->stop();
    m_listener.reset();
}

std::string TelvoGui::composeSettingsDocument() const {
    return quendel::composeSettingsDocument(m_settings, m_reloadProfile);
}

void TelvoGui::publishSettings() {
    const std::string document = composeSettingsDocument();
    m_reloadProfile = false;
    if (!settingsDocumentFits(m_sharedXMLData.size(), document.size())) {
        logWithoutLineEnd("Out of m_sharedXMLData.size() when writing xml");
        return;
    }
    SegmentLock lock(m_sharedXMLData, kLockTimeout, takeOverNotice());
    writeSettingsRecord(m_sharedXMLData.bytes(), document);
}

void TelvoGui::on_exitButton_pressed() {
    if (m_renderer != nullptr) {
        m_renderer->kill();
        delete m_renderer;
        m_renderer = nullptr;
    }
    // The program entry owns the window: leaving its event loop destroys the window (listener
    // stopped, segments detached) and ends the process with status 0.
    QCoreApplication::exit(0);
}

void TelvoGui::closeEvent(QCloseEvent* event) {
    event->accept();
    on_exitButton_pressed();
}

void parseResolution(const std::string& text, int& width, int& height) {
    const std::size_t separator = text.find('x');
    const std::string widthText = text.substr(0, separator);
    const std::string heightText =
        separator == std::string::npos ? std::string() : text.substr(separator + 1);
    width = textToInt(widthText);
    height = textToInt(heightText);
}

}  // namespace quendel
