#include "selection/TBodyEditor.h"

#include "selection/EFileError.h"
#include "selection/TFindReplaceDialog.h"
#include "selection/TPrompts.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>

TBodyEditor::TBodyEditor(QWidget* parent) : QPlainTextEdit(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUndoRedoEnabled(true);
    setTabChangesFocus(false);

    const auto addShortcut = [this](const QKeySequence& keys, void (TBodyEditor::*slot)()) {
        auto* action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
    };
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), &TBodyEditor::ShowFind);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), &TBodyEditor::ShowReplace);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), &TBodyEditor::Print);
}

QStringList TBodyEditor::Lines() const {
    QStringList lines;
    const QTextDocument* const doc = document();
    lines.reserve(doc->blockCount());
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        qsizetype start = 0;
        for (qsizetype at = 0; at < text.size(); ++at) {
            const QChar c = text.at(at);
            if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
                lines << text.mid(start, at - start);
                start = at + 1;
            }
        }
        lines << (start == 0 ? text : text.mid(start));
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TBodyEditor::SetLines(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QLatin1Char('\n');
    }
    setPlainText(text);
}

void TBodyEditor::LoadFromFile(const QString& path) {
    const QByteArray bytes = TWholeFile::Read(path);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    setPlainText(text);
}

bool TBodyEditor::FindText(const QString& text, QTextDocument::FindFlags flags) {
    return !text.isEmpty() && find(text, flags);
}

bool TBodyEditor::SelectionMatches(const QString& text, QTextDocument::FindFlags flags) const {
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return false;
    // Search the document from the selection's start: the match must be exactly the selection.
    const QTextCursor match =
        document()->find(text, cursor.selectionStart(), flags & ~QTextDocument::FindBackward);
    return !match.isNull() && match.selectionStart() == cursor.selectionStart() &&
           match.selectionEnd() == cursor.selectionEnd();
}

bool TBodyEditor::ReplaceText(const QString& text, const QString& replacement,
                              QTextDocument::FindFlags flags) {
    if (text.isEmpty())
        return false;
    bool replaced = false;
    if (SelectionMatches(text, flags)) {
        textCursor().insertText(replacement);
        replaced = true;
    }
    FindText(text, flags);
    return replaced;
}

int TBodyEditor::ReplaceAll(const QString& text, const QString& replacement,
                            QTextDocument::FindFlags flags) {
    if (text.isEmpty())
        return 0;
    flags &= ~QTextDocument::FindBackward;
    int count = 0;
    QTextCursor edit(document());
    edit.beginEditBlock();
    QTextCursor match = document()->find(text, 0, flags);
    while (!match.isNull()) {
        match.insertText(replacement);
        ++count;
        match = document()->find(text, match.position(), flags);
    }
    edit.endEditBlock();
    return count;
}

void TBodyEditor::ShowFind() {
    ShowFindDialog(false);
}

void TBodyEditor::ShowReplace() {
    ShowFindDialog(true);
}

void TBodyEditor::ShowFindDialog(bool replace) {
    if (!FFindDialog)
        FFindDialog = new TFindReplaceDialog(this);
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection() && !cursor.selectedText().contains(QChar::ParagraphSeparator))
        FFindDialog->SetFindText(cursor.selectedText());
    FFindDialog->ShowMode(replace);
}

void TBodyEditor::Print() {
    QPrinter printer;
    if (TPrompts::Current().ChoosePrinter(this, &printer))
        document()->print(&printer);
}

bool TBodyEditor::canInsertFromMimeData(const QMimeData* source) const {
    if (source->hasUrls()) {
        const QList<QUrl> urls = source->urls();
        if (std::all_of(urls.begin(), urls.end(),
                        [](const QUrl& url) { return url.isLocalFile(); }))
            return false;
    }
    return QPlainTextEdit::canInsertFromMimeData(source);
}

void TBodyEditor::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* const menu = createStandardContextMenu(event->pos());
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Find..."), QKeySequence(Qt::CTRL | Qt::Key_F), this,
                    &TBodyEditor::ShowFind);
    menu->addAction(QStringLiteral("R&eplace..."), QKeySequence(Qt::CTRL | Qt::Key_H), this,
                    &TBodyEditor::ShowReplace);
    menu->addAction(QStringLiteral("&Print..."), QKeySequence(Qt::CTRL | Qt::Key_P), this,
                    &TBodyEditor::Print);
    menu->exec(event->globalPos());
    delete menu;
}
