#include "selection/EFileError.h"
#include "selection/TBodyEditor.h"
#include "selection/TScriptedPrompts.h"
#include "support/TestFiles.h"

#include <QDialog>
#include <QDropEvent>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class tst_TBodyEditor : public QObject {
    Q_OBJECT

private slots:
    void linesRoundTrip_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList{"only"};
        QTest::newRow("empty middle line") << QStringList{"a", "", "c"};
        QTest::newRow("trailing empty line") << QStringList{"a", ""};
        QTest::newRow("a single empty line") << QStringList{""};
    }
    void linesRoundTrip() {
        QFETCH(QStringList, lines);
        TBodyEditor editor;
        editor.SetLines(lines);
        QCOMPARE(editor.Lines(), lines);
    }

    void typedTextAsLines() {
        TBodyEditor editor;
        QCOMPARE(editor.Lines(), QStringList());
        QTest::keyClicks(&editor, "Hi");
        QTest::keyClick(&editor, Qt::Key_Return);
        QTest::keyClicks(&editor, "there");
        QCOMPARE(editor.Lines(), (QStringList{"Hi", "there"}));
        // Shift+Enter breaks the line inside its paragraph; it is a line all the same.
        QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(&editor, "again");
        QCOMPARE(editor.document()->blockCount(), 2);
        QCOMPARE(editor.Lines(), (QStringList{"Hi", "there", "again"}));
    }

    // What the editor asks for, not the face the machine resolves it to: a system whose
    // monospace face reports no fixed pitch (Noto Sans Mono) is no fault of the program.
    void asksForTheSystemFixedFont() {
        TBodyEditor editor;
        QCOMPARE(editor.font(), QFontDatabase::systemFont(QFontDatabase::FixedFont));
    }

    void loadFromFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("body.txt");
        QVERIFY(WriteTestFile(path, "caf\xc3\xa9\r\nsecond\rthird\n"));
        TBodyEditor editor;
        editor.SetLines({"replaced"});
        editor.LoadFromFile(path);
        QCOMPARE(editor.Lines(), (QStringList{QStringLiteral("caf\u00e9"), "second", "third"}));

        // Bytes that are not UTF-8 are read as Latin-1 rather than lost.
        QVERIFY(WriteTestFile(path, "na\xefve\n"));
        editor.LoadFromFile(path);
        QCOMPARE(editor.Lines(), QStringList{QStringLiteral("na\u00efve")});

        QVERIFY_THROWS_EXCEPTION(EFileError, editor.LoadFromFile(dir.filePath("missing.txt")));
        QCOMPARE(editor.Lines(), QStringList{QStringLiteral("na\u00efve")});
    }

    void findAndReplace() {
        TBodyEditor editor;
        editor.SetLines({"one fish", "two Fish", "red fish"});
        QVERIFY(editor.FindText("fish", QTextDocument::FindCaseSensitively));
        QCOMPARE(editor.textCursor().selectionStart(), 4);
        QVERIFY(editor.ReplaceText("fish", "cat", QTextDocument::FindCaseSensitively));
        QCOMPARE(editor.Lines()[0], QStringLiteral("one cat"));
        // The next case-sensitive match is selected, skipping "Fish".
        QCOMPARE(editor.textCursor().selectedText(), QStringLiteral("fish"));
        QCOMPARE(editor.textCursor().blockNumber(), 2);

        QCOMPARE(editor.ReplaceAll("fish", "cod"), 2);
        QCOMPARE(editor.Lines(), (QStringList{"one cat", "two cod", "red cod"}));
        editor.undo();
        QCOMPARE(editor.Lines(), (QStringList{"one cat", "two Fish", "red fish"}));
        editor.undo();
        QCOMPARE(editor.Lines()[0], QStringLiteral("one fish"));
        editor.redo();
        QCOMPARE(editor.Lines()[0], QStringLiteral("one cat"));
        QVERIFY(!editor.FindText("whale"));
        QCOMPARE(editor.ReplaceAll("", "x"), 0);
    }

    void shortcutsOpenTheirBoxes() {
        TScriptedPrompts* const scripted = TScriptedPrompts::InstallNew();
        TBodyEditor editor;
        editor.SetLines({"alpha beta"});
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QTest::keyClick(&editor, Qt::Key_F, Qt::ControlModifier);
        auto* const box = editor.findChild<QDialog*>("FindReplaceDialog");
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QVERIFY(!box->findChild<QLineEdit*>("eReplaceText")->isVisible());
        box->hide();
        QTest::keyClick(&editor, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(box->findChild<QLineEdit*>("eReplaceText")->isVisible());

        QTest::keyClick(&editor, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(scripted->PrintDialogs(), 1);
        TPrompts::Install(nullptr);
    }

    void droppedFilesAreNotPastedAsText() {
        TBodyEditor editor;
        editor.SetLines({"body"});
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile("/tmp/message.txt")});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(editor.viewport(), &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(editor.viewport(), &drop);
        QCOMPARE(editor.Lines(), QStringList{"body"});

        QMimeData text;
        text.setText("pasted ");
        QDragEnterEvent enterText(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
        QCoreApplication::sendEvent(editor.viewport(), &enterText);
        QVERIFY(enterText.isAccepted());
    }
};

QTEST_MAIN(tst_TBodyEditor)
#include "tst_TBodyEditor.moc"
