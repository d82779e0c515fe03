#include "selection/TScriptedPrompts.h"

#include <memory>

TScriptedPrompts* TScriptedPrompts::InstallNew() {
    auto prompts = std::make_unique<TScriptedPrompts>();
    TScriptedPrompts* const installed = prompts.get();
    TPrompts::Install(std::move(prompts));
    return installed;
}

void TScriptedPrompts::Forget() {
    FMessages.clear();
    FQuestions.clear();
    FFileDialogs.clear();
    FLogonBoxes.clear();
    FPrintDialogs = 0;
    FUnanswered = 0;
}

void TScriptedPrompts::ShowMessage(QWidget*, const QString& text) {
    FMessages << text;
}

bool TScriptedPrompts::AskYesNo(QWidget*, const QString& question) {
    FQuestions << question;
    if (FAnswers.empty()) {
        ++FUnanswered;
        return false;
    }
    const bool yes = FAnswers.front();
    FAnswers.pop_front();
    return yes;
}

QString TScriptedPrompts::OpenFileName(QWidget*, const QString& startDir) {
    FFileDialogs << startDir;
    if (FFileNames.empty()) {
        ++FUnanswered;
        return {};
    }
    QString path = FFileNames.front();
    FFileNames.pop_front();
    return path;
}

bool TScriptedPrompts::ChoosePrinter(QWidget*, QPrinter*) {
    ++FPrintDialogs;
    if (FPrints.empty()) {
        ++FUnanswered;
        return false;
    }
    const bool print = FPrints.front();
    FPrints.pop_front();
    return print;
}

bool TScriptedPrompts::AskLogon(QWidget*, const QString&, TLogon& logon) {
    FLogonBoxes << logon.UserName;
    if (FPasswords.empty()) {
        ++FUnanswered;
        return false;
    }
    logon.Password = FPasswords.front();
    FPasswords.pop_front();
    return true;
}
