#include "selection/TPrompts.h"

#include <QApplication>
#include <QFileDialog>
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

void TQtPrompts::ShowMessage(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
}

void TQtPrompts::ShowIconMessage(QWidget* parent, const QString& text, TPromptIcon icon) {
    const QString title = QApplication::applicationDisplayName();
    switch (icon) {
    case TPromptIcon::Information:
        QMessageBox::information(parent, title, text);
        return;
    case TPromptIcon::Warning:
        QMessageBox::warning(parent, title, text);
        return;
    case TPromptIcon::Critical:
        QMessageBox::critical(parent, title, text);
        return;
    }
}

bool TQtPrompts::AskYesNo(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, QStringLiteral("Confirm"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool TQtPrompts::AskChoice(QWidget* parent, const QString& question, const QString& accept,
                           const QString& reject) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Confirm"), question,
                    QMessageBox::NoButton, parent);
    QPushButton* const yes = box.addButton(accept, QMessageBox::AcceptRole);
    QPushButton* const no = box.addButton(reject, QMessageBox::RejectRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

QString TQtPrompts::OpenFileName(QWidget* parent, const QString& startDir) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), startDir);
}

bool TQtPrompts::ChoosePrinter(QWidget* parent, QPrinter* printer) {
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}
