#pragma once

#include <QDialog>
#include <QTextDocument>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TBodyEditor;

// The find and replace box of the body editor. It stays open beside the editor (not modal); in
// find mode the replace row and buttons are hidden.
class TFindReplaceDialog : public QDialog {
    Q_OBJECT
public:
    explicit TFindReplaceDialog(TBodyEditor* editor);

    void ShowMode(bool replace);
    void SetFindText(const QString& text);
    QTextDocument::FindFlags Flags() const;

    void FindNext();
    void ReplaceOne();
    void ReplaceEvery();

private:
    void NotFound();

    TBodyEditor* FEditor;
    QLineEdit* eFindText = nullptr;
    QLabel* lReplace = nullptr;
    QLineEdit* eReplaceText = nullptr;
    QCheckBox* cbMatchCase = nullptr;
    QCheckBox* cbWholeWord = nullptr;
    QCheckBox* cbBackwards = nullptr;
    QPushButton* btnReplace = nullptr;
    QPushButton* btnReplaceAll = nullptr;
};
