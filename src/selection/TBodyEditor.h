#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QTextDocument>

class TFindReplaceDialog;

// The message body editor: plain text in a fixed-pitch font, no wrapping, both scroll bars, undo
// and redo, find (Ctrl+F) and replace (Ctrl+H), printing (Ctrl+P) and loading a text file.
//
// Other code sees the content as a list of lines. A line break after the last line does not
// start another line, so an empty editor has no lines and SetLines(Lines()) changes nothing.
// Shift+Enter puts a line separator (U+2028) inside a paragraph; it ends a line like Enter, so
// the lines are what the user sees. The settings file stores the same lines (property Lines)
// that a post sends.
class TBodyEditor : public QPlainTextEdit {
    Q_OBJECT
    Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
public:
    explicit TBodyEditor(QWidget* parent = nullptr);

    QStringList Lines() const;
    void SetLines(const QStringList& lines);

    // Replaces the whole content with the file's text; lines may end in CR LF, CR or LF. The
    // bytes are read as UTF-8, or as Latin-1 when they are not valid UTF-8. Throws EFileError
    // when the file cannot be read.
    void LoadFromFile(const QString& path);

    // Selects the next occurrence of `text` from the cursor on (backwards with FindBackward);
    // false when there is none.
    bool FindText(const QString& text, QTextDocument::FindFlags flags = {});
    // Replaces the selection when it is an occurrence of `text`, then selects the next one.
    // Returns whether a replacement was made.
    bool ReplaceText(const QString& text, const QString& replacement,
                     QTextDocument::FindFlags flags = {});
    // Replaces every occurrence in one undoable step; returns how many were replaced.
    int ReplaceAll(const QString& text, const QString& replacement,
                   QTextDocument::FindFlags flags = {});

public slots:
    void ShowFind();
    void ShowReplace();
    // Asks for a printer and prints the body.
    void Print();

protected:
    // Dropped files are not pasted as their names: the drop goes on to the window, which decides
    // what a dropped file means.
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool SelectionMatches(const QString& text, QTextDocument::FindFlags flags) const;
    void ShowFindDialog(bool replace);

    TFindReplaceDialog* FFindDialog = nullptr;
};
