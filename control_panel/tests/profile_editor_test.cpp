#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "support/panel_test_support.h"
#include "telvo_gui.h"
#include "xml_profile_editor.h"
#include "xml_syntax_highlighter.h"

using namespace quendel;
using namespace quendel::testing;

namespace {

// Accepts every modal message box as soon as it opens and remembers its title and text, so that
// code which waits on a box can run unattended.
class MessageBoxCatcher {
  public:
    MessageBoxCatcher() {
        QObject::connect(&m_poll, &QTimer::timeout, [this] { closeOpenBox(); });
        m_poll.start(10);
    }
    const QStringList& titles() const { return m_titles; }
    const QStringList& texts() const { return m_texts; }

  private:
    void closeOpenBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        m_titles << box->windowTitle();
        m_texts << box->text();
        box->done(QMessageBox::Ok);
    }

    QTimer m_poll;
    QStringList m_titles;
    QStringList m_texts;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QTextEdit* textEditOf(xmlprofileeditor& editor) {
    return editor.findChild<QTextEdit*>(QStringLiteral("xmlTextEdit"));
}

// The format the highlighter gave to one character of a block.
QTextCharFormat formatAt(const QTextBlock& block, int position) {
    QTextCharFormat found;
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
        if (position >= range.start && position < range.start + range.length) {
            found = range.format;
        }
    }
    return found;
}

bool isCommentFormat(const QTextCharFormat& format) {
    return format.foreground().color() == QColor(Qt::lightGray) && format.fontItalic();
}

bool carriesReloadFlag(const std::vector<std::string>& documentLines, char flag) {
    const std::string line = std::string("<reloadTelvoProfile> ") + flag + "</reloadTelvoProfile>";
    return std::find(documentLines.begin(), documentLines.end(), line) != documentLines.end();
}

int savesSeen = 0;
void countSave() {
    ++savesSeen;
}

// A panel whose scene lies in `folder`, on segments of its own.
struct PanelInFolder {
    explicit PanelInFolder(const QString& folder) {
        window = std::make_unique<TelvoGui>(nullptr, segments.names());
        window->profileEditor().setScenePath(folder + QStringLiteral("/room.dae"));
        window->show();
    }
    // Declared first so that the window is gone before the names are removed.
    ScopedSegmentNames segments{"profile_editor_test"};
    std::unique_ptr<TelvoGui> window;
};

}  // namespace

class ProfileEditorTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        QVERIFY(m_folder.isValid());
        savesSeen = 0;
    }

    void profileLiesBesideTheScene() {
        xmlprofileeditor editor;
        editor.setScenePath(QStringLiteral("/scenes/room.dae"));
        QCOMPARE(editor.profilePath(), QStringLiteral("/scenes/telvo_profile.xml"));
        editor.setScenePath(QStringLiteral("relative/room.dae"));
        QCOMPARE(editor.profilePath(),
                 QDir::currentPath() + QStringLiteral("/relative/telvo_profile.xml"));
    }

    void saveWritesTheEditedTextAndCallsBack() {
        const QString profile = m_folder.filePath(QStringLiteral("telvo_profile.xml"));
        writeFile(profile, "<lights>\n</lights>\n");
        xmlprofileeditor editor;
        editor.setScenePath(m_folder.filePath(QStringLiteral("room.dae")));
        editor.setSaveCallback(&countSave);
        editor.loadProfile();
        QCOMPARE(textEditOf(editor)->toPlainText(), QStringLiteral("<lights>\n</lights>\n"));

        textEditOf(editor)->setPlainText(QStringLiteral("<lights/>\n"));
        QTest::mouseClick(editor.findChild<QPushButton*>(QStringLiteral("saveProfileButton")),
                          Qt::LeftButton);
        QCOMPARE(readFile(profile), QByteArray("<lights/>\n"));
        QCOMPARE(savesSeen, 1);
    }

    void savingKeepsEveryByteOfTheFile() {
        // Bytes above 127 (an accented name in either common encoding) must survive a save.
        const QByteArray bytes("<material name=\"caf\xc3\xa9\" alt='\xe9t\xe9'/>\n\x01\xff");
        const QString profile = m_folder.filePath(QStringLiteral("telvo_profile.xml"));
        writeFile(profile, bytes);
        xmlprofileeditor editor;
        editor.setScenePath(m_folder.filePath(QStringLiteral("room.dae")));
        editor.loadProfile();
        editor.on_saveProfileButton_released();
        QCOMPARE(readFile(profile), bytes);
    }

    void failedSaveShowsTheErrorBoxWithoutCallingBack() {
        xmlprofileeditor editor;
        editor.setScenePath(m_folder.filePath(QStringLiteral("no_such_folder/room.dae")));
        editor.setSaveCallback(&countSave);
        textEditOf(editor)->setPlainText(QStringLiteral("<lights/>"));
        MessageBoxCatcher catcher;
        editor.on_saveProfileButton_released();
        QCOMPARE(catcher.titles(), QStringList{QStringLiteral("error")});
        QCOMPARE(catcher.texts(), QStringList{QStringLiteral("No such file or directory")});
        QCOMPARE(savesSeen, 0);
    }

    void resetDropsTheEdits() {
        const QString profile = m_folder.filePath(QStringLiteral("telvo_profile.xml"));
        writeFile(profile, "<lights>\n  <light/>\n</lights>\n");
        xmlprofileeditor editor;
        editor.setScenePath(m_folder.filePath(QStringLiteral("room.dae")));
        editor.loadProfile();
        QTextEdit* text = textEditOf(editor);
        text->moveCursor(QTextCursor::End);
        QTest::keyClicks(text, QStringLiteral("<junk/>"));
        QVERIFY(text->toPlainText().contains(QStringLiteral("<junk/>")));

        QTest::mouseClick(editor.findChild<QPushButton*>(QStringLiteral("resetProfileButton")),
                          Qt::LeftButton);
        QCOMPARE(text->toPlainText(), QStringLiteral("<lights>\n  <light/>\n</lights>\n"));
        QCOMPARE(readFile(profile), QByteArray("<lights>\n  <light/>\n</lights>\n"));
    }

    void quitHidesTheEditorAndTheFindDialogWithoutSaving() {
        const QString profile = m_folder.filePath(QStringLiteral("telvo_profile.xml"));
        writeFile(profile, "<a/>");
        xmlprofileeditor editor;
        editor.setScenePath(m_folder.filePath(QStringLiteral("room.dae")));
        editor.loadProfile();
        editor.show();
        editor.on_findWord_activated();
        auto* findDialog = editor.findChild<QDialog*>(QStringLiteral("m_findDialog"));
        QVERIFY(findDialog != nullptr && findDialog->isVisible());
        textEditOf(editor)->setPlainText(QStringLiteral("<b/>"));

        QTest::mouseClick(editor.findChild<QPushButton*>(QStringLiteral("quitProfileEditorButton")),
                          Qt::LeftButton);
        QVERIFY(!editor.isVisible());
        QVERIFY(!findDialog->isVisible());
        QCOMPARE(readFile(profile), QByteArray("<a/>"));
    }

    void ctrlFOpensTheQuickFindWithTheSelection() {
        xmlprofileeditor editor;
        QTextEdit* text = textEditOf(editor);
        text->setPlainText(QStringLiteral("<light name=\"sun\"/>"));
        QTextCursor cursor = text->textCursor();
        cursor.setPosition(1);
        cursor.setPosition(6, QTextCursor::KeepAnchor);
        text->setTextCursor(cursor);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.activateWindow();
        QTest::keyClick(text, Qt::Key_F, Qt::ControlModifier);

        auto* findDialog = editor.findChild<QDialog*>(QStringLiteral("m_findDialog"));
        QVERIFY(findDialog != nullptr);
        QVERIFY(findDialog->isVisible());
        QCOMPARE(findDialog->windowTitle(), QStringLiteral("quick find"));
        QCOMPARE(findDialog->findChild<QLineEdit*>(QStringLiteral("m_inputWordLineEdit"))->text(),
                 QStringLiteral("light"));
        // A second Ctrl+F reuses the dialog.
        editor.on_findWord_activated();
        QCOMPARE(editor.findChildren<QDialog*>(QStringLiteral("m_findDialog")).size(), 1);
    }

    void findMovesForwardCaseSensitivelyWithoutWrapping() {
        xmlprofileeditor editor;
        QTextEdit* text = textEditOf(editor);
        text->setPlainText(QStringLiteral("Sun sun moon sun"));
        editor.on_findWord_activated();
        auto* findDialog = editor.findChild<QDialog*>(QStringLiteral("m_findDialog"));
        findDialog->findChild<QLineEdit*>(QStringLiteral("m_inputWordLineEdit"))
            ->setText(QStringLiteral("sun"));
        auto* findButton = findDialog->findChild<QPushButton*>(QStringLiteral("m_findNowButton"));
        QCOMPARE(findButton->text(), QStringLiteral("find"));

        MessageBoxCatcher catcher;
        QTest::mousePress(findButton, Qt::LeftButton);
        QTest::mouseRelease(findButton, Qt::LeftButton);
        QCOMPARE(text->textCursor().selectionStart(), 4);
        editor.findNext();
        QCOMPARE(text->textCursor().selectionStart(), 13);
        QVERIFY(catcher.texts().isEmpty());

        // Only "Sun" and two earlier matches remain before the cursor: nothing is found.
        editor.findNext();
        QCOMPARE(catcher.texts(), QStringList{QStringLiteral("'sun'' not found")});
        QCOMPARE(text->textCursor().selectionStart(), 13);
    }

    void wordOnlyBeforeTheCursorIsNotFound() {
        xmlprofileeditor editor;
        QTextEdit* text = textEditOf(editor);
        text->setPlainText(QStringLiteral("<lights>\n<camera/>\n"));
        text->moveCursor(QTextCursor::End);
        editor.on_findWord_activated();
        editor.findChild<QLineEdit*>(QStringLiteral("m_inputWordLineEdit"))
            ->setText(QStringLiteral("lights"));
        MessageBoxCatcher catcher;
        editor.findNext();
        QCOMPARE(catcher.texts(), QStringList{QStringLiteral("'lights'' not found")});
        QVERIFY(!text->textCursor().hasSelection());
    }

    void colourOfTagsAttributesAndValues() {
        QTextEdit* text = loadedEditor("<light name=\"sun\" kind='spot'>x</light>");
        const QTextBlock block = text->document()->firstBlock();

        const QTextCharFormat tag = formatAt(block, 0);
        QCOMPARE(tag.foreground().color(), QColor(Qt::darkBlue));
        QCOMPARE(tag.fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(block, 7).foreground().color(), QColor(Qt::darkGreen));  // name=
        QCOMPARE(formatAt(block, 12).foreground().color(), QColor(Qt::red));       // "sun"
        QCOMPARE(formatAt(block, 24).foreground().color(), QColor(Qt::red));       // 'spot'
        QCOMPARE(formatAt(block, 29).foreground().color(), QColor(Qt::darkBlue));  // >
        QCOMPARE(formatAt(block, 30).foreground().style(), Qt::NoBrush);           // x
        QCOMPARE(formatAt(block, 31).foreground().color(), QColor(Qt::darkBlue));  // </light>
        QCOMPARE(formatAt(block, 38).foreground().color(), QColor(Qt::darkBlue));
    }

    void commentOverThreeLinesThenNormalColours() {
        QTextEdit* text =
            loadedEditor("<a> <!-- one <b x=\"1\">\ntwo\nthree --> <c>\n<d k=\"v\"/>");
        const QTextBlock first = text->document()->firstBlock();
        const QTextBlock second = first.next();
        const QTextBlock third = second.next();
        const QTextBlock fourth = third.next();

        QCOMPARE(formatAt(first, 0).foreground().color(), QColor(Qt::darkBlue));
        for (int i = 4; i < first.length() - 1; ++i) {
            QVERIFY2(isCommentFormat(formatAt(first, i)), qPrintable(QString::number(i)));
        }
        for (int i = 0; i < second.length() - 1; ++i) {
            QVERIFY(isCommentFormat(formatAt(second, i)));
        }
        for (int i = 0; i < 9; ++i) {
            QVERIFY(isCommentFormat(formatAt(third, i)));
        }
        QCOMPARE(formatAt(third, 10).foreground().color(), QColor(Qt::darkBlue));  // <c
        QVERIFY(!formatAt(third, 10).fontItalic());

        QCOMPARE(formatAt(fourth, 0).foreground().color(), QColor(Qt::darkBlue));
        QCOMPARE(formatAt(fourth, 3).foreground().color(), QColor(Qt::darkGreen));
        QCOMPARE(formatAt(fourth, 5).foreground().color(), QColor(Qt::red));
        QVERIFY(!formatAt(fourth, 5).fontItalic());
    }

    void closingACommentRecoloursTheLinesBelow() {
        QTextEdit* text = loadedEditor("<!-- open\n<a>\n<b>");
        QTextDocument* document = text->document();
        QVERIFY(isCommentFormat(formatAt(document->findBlockByNumber(2), 0)));

        QTextCursor cursor(document->findBlockByNumber(0));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertText(QStringLiteral(" -->"));
        QCOMPARE(formatAt(document->findBlockByNumber(1), 0).foreground().color(),
                 QColor(Qt::darkBlue));
        QVERIFY(!formatAt(document->findBlockByNumber(2), 0).fontItalic());
    }

    void reloadingKeepsOneHighlighter() {
        QTextEdit* text = loadedEditor("<a/>");
        m_editor->loadProfile();
        m_editor->on_resetProfileButton_released();
        QCOMPARE(text->document()->findChildren<QSyntaxHighlighter*>().size(), 1);
    }

    void panelOpensTheEditorOnTheSceneProfile() {
        writeFile(m_folder.filePath(QStringLiteral("telvo_profile.xml")), "<lights/>\n");
        PanelInFolder panel(m_folder.path());
        xmlprofileeditor& editor = panel.window->profileEditor();
        QVERIFY(editor.parent() == nullptr);
        QVERIFY(editor.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(editor.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

        auto* scenePath = panel.window->findChild<QLineEdit*>(QStringLiteral("currScenePath"));
        scenePath->clear();
        QTest::keyClicks(scenePath, m_folder.filePath(QStringLiteral("room.dae")));
        panel.window->findChild<QAction*>(QStringLiteral("actionEdit_Telvo_Profile"))->trigger();
        QVERIFY(editor.isVisible());
        QVERIFY(!editor.isModal());
        QCOMPARE(textEditOf(editor)->toPlainText(), QStringLiteral("<lights/>\n"));
    }

    void panelWithoutProfileShowsTheErrorBox() {
        PanelInFolder panel(m_folder.filePath(QStringLiteral("scene_without_profile")));
        MessageBoxCatcher catcher;
        panel.window->EditXMLProfileManually();
        QCOMPARE(catcher.titles(), QStringList{QStringLiteral("error")});
        QCOMPARE(catcher.texts(), QStringList{QStringLiteral("No such file or directory")});
        QVERIFY(textEditOf(panel.window->profileEditor())->toPlainText().isEmpty());
        QVERIFY(panel.window->profileEditor().isVisible());
    }

    void savedProfileAsksTheRendererToReloadOnce() {
        writeFile(m_folder.filePath(QStringLiteral("telvo_profile.xml")), "<lights/>\n");
        PanelInFolder panel(m_folder.path());
        panel.window->setReloadProfile(true);
        panel.window->EditXMLProfileManually();
        QVERIFY(!panel.window->reloadProfile());  // opening the editor clears the flag

        xmlprofileeditor& editor = panel.window->profileEditor();
        textEditOf(editor)->setPlainText(QStringLiteral("<lights><sun/></lights>\n"));
        const int countBefore = readPublishedRecord(panel.segments.names()).header.publishCount;
        QTest::mouseClick(editor.findChild<QPushButton*>(QStringLiteral("saveProfileButton")),
                          Qt::LeftButton);
        const PublishedRecord published = readPublishedRecord(panel.segments.names());
        QCOMPARE(published.header.publishCount, countBefore + 1);
        QVERIFY(carriesReloadFlag(published.lines, '1'));
        QCOMPARE(readFile(m_folder.filePath(QStringLiteral("telvo_profile.xml"))),
                 QByteArray("<lights><sun/></lights>\n"));

        panel.window->publishSettings();
        QVERIFY(carriesReloadFlag(readPublishedRecord(panel.segments.names()).lines, '0'));
    }

  private:
    // An editor showing a profile file with the given text, coloured.
    QTextEdit* loadedEditor(const QByteArray& profileText) {
        writeFile(m_folder.filePath(QStringLiteral("telvo_profile.xml")), profileText);
        m_editor = std::make_unique<xmlprofileeditor>();
        m_editor->setScenePath(m_folder.filePath(QStringLiteral("room.dae")));
        m_editor->loadProfile();
        QCoreApplication::processEvents();
        return textEditOf(*m_editor);
    }

    std::unique_ptr<xmlprofileeditor> m_editor;
    QTemporaryDir m_folder;
};

QTEST_MAIN(ProfileEditorTest)
#include "profile_editor_test.moc"
