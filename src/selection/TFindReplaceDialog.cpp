#include "selection/TFindReplaceDialog.h"

#include "selection/TBodyEditor.h"
#include "selection/TPrompts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFindReplaceDialog::TFindReplaceDialog(TBodyEditor* editor) : QDialog(editor), FEditor(editor) {
    setObjectName(QStringLiteral("FindReplaceDialog"));
    setModal(false);

    auto* const lFind = new QLabel(QStringLiteral("Fi&nd what:"), this);
    eFindText = new QLineEdit(this);
    eFindText->setObjectName(QStringLiteral("eFindText"));
    lFind->setBuddy(eFindText);
    lReplace = new QLabel(QStringLiteral("Re&place with:"), this);
    eReplaceText = new QLineEdit(this);
    eReplaceText->setObjectName(QStringLiteral("eReplaceText"));
    lReplace->setBuddy(eReplaceText);
    cbMatchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    cbWholeWord = new QCheckBox(QStringLiteral("&Whole words only"), this);
    cbBackwards = new QCheckBox(QStringLiteral("Search &backwards"), this);

    auto* const fields = new QGridLayout;
    fields->addWidget(lFind, 0, 0);
    fields->addWidget(eFindText, 0, 1);
    fields->addWidget(lReplace, 1, 0);
    fields->addWidget(eReplaceText, 1, 1);

    auto* const buttons = new QDialogButtonBox(Qt::Vertical, this);
    QPushButton* const btnFind =
        buttons->addButton(QStringLiteral("&Find Next"), QDialogButtonBox::ActionRole);
    btnFind->setDefault(true);
    btnReplace = buttons->addButton(QStringLiteral("&Replace"), QDialogButtonBox::ActionRole);
    btnReplaceAll =
        buttons->addButton(QStringLiteral("Replace &All"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    connect(btnFind, &QPushButton::clicked, this, &TFindReplaceDialog::FindNext);
    connect(btnReplace, &QPushButton::clicked, this, &TFindReplaceDialog::ReplaceOne);
    connect(btnReplaceAll, &QPushButton::clicked, this, &TFindReplaceDialog::ReplaceEvery);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto* const left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(cbMatchCase);
    left->addWidget(cbWholeWord);
    left->addWidget(cbBackwards);
    left->addStretch();
    auto* const layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(buttons);
}

void TFindReplaceDialog::ShowMode(bool replace) {
    setWindowTitle(replace ? QStringLiteral("Replace") : QStringLiteral("Find"));
    lReplace->setVisible(replace);
    eReplaceText->setVisible(replace);
    btnReplace->setVisible(replace);
    btnReplaceAll->setVisible(replace);
    show();
    raise();
    activateWindow();
    eFindText->setFocus();
    eFindText->selectAll();
}

void TFindReplaceDialog::SetFindText(const QString& text) {
    eFindText->setText(text);
}

QTextDocument::FindFlags TFindReplaceDialog::Flags() const {
    QTextDocument::FindFlags flags;
    if (cbMatchCase->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    if (cbWholeWord->isChecked())
        flags |= QTextDocument::FindWholeWords;
    if (cbBackwards->isChecked())
        flags |= QTextDocument::FindBackward;
    return flags;
}

void TFindReplaceDialog::FindNext() {
    if (!FEditor->FindText(eFindText->text(), Flags()))
        NotFound();
}

void TFindReplaceDialog::ReplaceOne() {
    if (!FEditor->ReplaceText(eFindText->text(), eReplaceText->text(), Flags()) &&
        !FEditor->textCursor().hasSelection())
        NotFound();
}

void TFindReplaceDialog::ReplaceEvery() {
    if (FEditor->ReplaceAll(eFindText->text(), eReplaceText->text(), Flags()) == 0)
        NotFound();
}

void TFindReplaceDialog::NotFound() {
    TPrompts::Current().ShowMessage(
        this, QStringLiteral("Search string '%1' not found.").arg(eFindText->text()));
}
