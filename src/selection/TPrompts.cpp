#include "selection/TPrompts.h"

#include "selection/TFormLayout.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

static std::unique_ptr<TPrompts>& Installed() {
    static std::unique_ptr<TPrompts> prompts = std::make_unique<TQtPrompts>();
    return prompts;
}

TPrompts& TPrompts::Current() {
    return *Installed();
}

std::unique_ptr<TPrompts> TPrompts::Install(std::unique_ptr<TPrompts> prompts) {
    if (!prompts)
        prompts = std::make_unique<TQtPrompts>();
    std::swap(Installed(), prompts);
    return prompts;
}

// Boxes show what servers send (replies, group names, certificate fields), and a box would
// take text that looks like markup for markup: every box is plain text.
static QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon,
                                           const QString& title, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton byDefault) {
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(byDefault);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

static QMessageBox::Icon BoxIcon(TPromptIcon icon) {
    switch (icon) {
    case TPromptIcon::Information:
        return QMessageBox::Information;
    case TPromptIcon::Warning:
        return QMessageBox::Warning;
    case TPromptIcon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::Information;
}

void TQtPrompts::ShowMessage(QWidget* parent, const QString& text) {
    ShowIconMessage(parent, text, TPromptIcon::Information);
}

void TQtPrompts::ShowIconMessage(QWidget* parent, const QString& text, TPromptIcon icon) {
    ShowBox(parent, BoxIcon(icon), QApplication::applicationDisplayName(), text, QMessageBox::Ok,
            QMessageBox::Ok);
}

bool TQtPrompts::AskYesNo(QWidget* parent, const QString& question) {
    return ShowBox(parent, QMessageBox::Question, QStringLiteral("Confirm"), question,
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool TQtPrompts::AskChoice(QWidget* parent, const QString& question, const QString& accept,
                           const QString& reject) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Confirm"), question,
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* const yes = box.addButton(accept, QMessageBox::AcceptRole);
    QPushButton* const no = box.addButton(reject, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

TChecksAnswer TQtPrompts::AskPostAnyway(QWidget* parent, const QString& warnings, bool crossPost) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), warnings,
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* const anyway =
        box.addButton(QStringLiteral("Post anyway"), QMessageBox::AcceptRole);
    QPushButton* const crossPostInstead =
        crossPost ? box.addButton(QStringLiteral("Cross-post instead"), QMessageBox::AcceptRole)
                  : nullptr;
    QPushButton* const cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == anyway)
        return TChecksAnswer::PostAnyway;
    if (crossPostInstead && box.clickedButton() == crossPostInstead)
        return TChecksAnswer::CrossPostInstead;
    return TChecksAnswer::Cancel;
}

QString TQtPrompts::OpenFileName(QWidget* parent, const QString& startDir) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), startDir);
}

bool TQtPrompts::ChoosePrinter(QWidget* parent, QPrinter* printer) {
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool TQtPrompts::AskLogon(QWidget* parent, const QString& server, TLogon& logon) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Log on"));
    auto* const grid = new QGridLayout(&dialog);
    auto* const heading = new QLabel(QStringLiteral("Log on to %1").arg(server), &dialog);
    heading->setTextFormat(Qt::PlainText);
    grid->addWidget(heading, 0, 0, 1, 2);
    QLineEdit* const userName =
        AddEditRow(grid, 1, QStringLiteral("User Name:"), "eUserName", &dialog);
    QLineEdit* const password =
        AddEditRow(grid, 2, QStringLiteral("Password:"), "ePassword", &dialog);
    password->setEchoMode(QLineEdit::Password);
    auto* const buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    grid->addWidget(buttons, 3, 0, 1, 2);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    userName->setText(logon.UserName);
    password->setText(logon.Password);
    (logon.UserName.isEmpty() ? userName : password)->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    logon = {userName->text(), password->text()};
    return true;
}
