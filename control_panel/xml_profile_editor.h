#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QLineEdit;
class QPushButton;
class QShortcut;

namespace Ui {
class xmlprofileeditor;
}

namespace quendel {

class XmlSyntaxHighlighter;

// Plain-text editor for the profile file that lies beside the scene, with XML colouring and a
// quick find (Ctrl+F). Open and save failures are shown in a message box titled "error".
class xmlprofileeditor : public QDialog {
    Q_OBJECT

  public:
    using SaveCallback = void (*)();

    explicit xmlprofileeditor(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~xmlprofileeditor() override;

    void setScenePath(const QString& scenePath);
    const QString& scenePath() const { return m_scenePath; }
    // The absolute folder of the scene followed by "/telvo_profile.xml".
    QString profilePath() const;

    // Called after every successful save; none by default.
    void setSaveCallback(SaveCallback callback);

    // Replaces the editor's text with the profile file; on failure the text is kept.
    void loadProfile();

  public slots:
    void on_saveProfileButton_released();
    void on_resetProfileButton_released();
    void on_quitProfileEditorButton_released();
    void on_findWord_activated();
    void findNext();

  private:
    void createFindDialog();
    static void showError(const QString& message);

    std::unique_ptr<Ui::xmlprofileeditor> m_ui;
    QShortcut* m_findShortcut = nullptr;
    XmlSyntaxHighlighter* m_highlighter = nullptr;
    QDialog* m_findDialog = nullptr;
    QLineEdit* m_inputWordLineEdit = nullptr;
    QPushButton* m_findNowButton = nullptr;
    QString m_scenePath;
    SaveCallback m_saveCallback = nullptr;
};

}  // namespace quendel
