#include "xml_profile_editor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStringConverter>
#include <QTextStream>

#include "ui_xml_profile_editor.h"
#include "xml_syntax_highlighter.h"

namespace quendel {

xmlprofileeditor::xmlprofileeditor(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_ui(std::make_unique<Ui::xmlprofileeditor>()) {
    // Made before the form so that the form's connection by name reaches on_findWord_activated.
    m_findShortcut = new QShortcut(QKeySequence(tr("Ctrl+F", "Find")), this);
    m_findShortcut->setObjectName(QStringLiteral("findWord"));
    m_findShortcut->setContext(Qt::WindowShortcut);
    m_ui->setupUi(this);
}

xmlprofileeditor::~xmlprofileeditor() = default;

void xmlprofileeditor::setScenePath(const QString& scenePath) {
    m_scenePath = scenePath;
}

QString xmlprofileeditor::profilePath() const {
    return QFileInfo(m_scenePath).absoluteDir().absolutePath() +
           QStringLiteral("/telvo_profile.xml");
}

void xmlprofileeditor::setSaveCallback(SaveCallback callback) {
    m_saveCallback = callback;
}

void xmlprofileeditor::loadProfile() {
    QFile file(profilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        showError(file.errorString());
        return;
    }
    // Latin-1 maps every byte to one character, so a save writes back exactly the bytes read.
    m_ui->xmlTextEdit->setPlainText(QString::fromLatin1(file.readAll()));
    if (m_highlighter == nullptr) {
        m_highlighter = new XmlSyntaxHighlighter(m_ui->xmlTextEdit->document());
    }
}

void xmlprofileeditor::on_saveProfileButton_released() {
    QFile file(profilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        showError(file.errorString());
        return;
    }
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Latin1);
    stream << m_ui->xmlTextEdit->toPlainText();
    stream.flush();
    file.close();
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        showError(file.errorString());
        return;
    }
    if (m_saveCallback != nullptr) {
        m_saveCallback();
    }
}

void xmlprofileeditor::on_resetProfileButton_released() {
    loadProfile();
}

void xmlprofileeditor::on_quitProfileEditorButton_released() {
    hide();
    if (m_findDialog != nullptr) {
        m_findDialog->hide();
    }
}

void xmlprofileeditor::on_findWord_activated() {
    if (m_findDialog == nullptr) {
        createFindDialog();
    }
    m_inputWordLineEdit->setText(m_ui->xmlTextEdit->textCursor().selectedText());
    m_findDialog->show();
    m_findDialog->raise();
    m_findDialog->activateWindow();
}

void xmlprofileeditor::findNext() {
    const QString word = m_inputWordLineEdit->text();
    if (m_ui->xmlTextEdit->find(word, QTextDocument::FindCaseSensitively)) {
        return;
    }
    QMessageBox notFound;
    notFound.setText(QStringLiteral("'") + word + QStringLiteral("'' not found"));
    notFound.exec();
}

void xmlprofileeditor::createFindDialog() {
    m_findDialog = new QDialog(this);
    m_findDialog->setObjectName(QStringLiteral("m_findDialog"));
    m_findDialog->setWindowTitle(QStringLiteral("quick find"));
    m_findDialog->resize(300, 64);

    auto* layout = new QGridLayout(m_findDialog);
    m_inputWordLineEdit = new QLineEdit(m_findDialog);
    m_inputWordLineEdit->setObjectName(QStringLiteral("m_inputWordLineEdit"));
    m_findNowButton = new QPushButton(QStringLiteral("find"), m_findDialog);
    m_findNowButton->setObjectName(QStringLiteral("m_findNowButton"));
    layout->addWidget(m_inputWordLineEdit, 0, 0);
    layout->addWidget(m_findNowButton, 0, 1);

    connect(m_findNowButton, &QPushButton::pressed, this, &xmlprofileeditor::findNext);
}

void xmlprofileeditor::showError(const QString& message) {
    QMessageBox::information(nullptr, QStringLiteral("error"), message, QMessageBox::Ok);
}

}  // namespace quendel
