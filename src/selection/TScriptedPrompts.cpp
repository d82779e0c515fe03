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
    FIcons.clear();
    FQuestions.clear();
    FChecksBoxes.clear();
    FCrossPostOffers.clear();
    FFileDialogs.clear();
    FLogonBoxes.clear();
    FLogonServers.clear();
    FPrintDialogs = 0;
    FUnanswered = 0;
}

void TScriptedPrompts::ShowMessage(QWidget* parent, const QString& text) {
    ShowIconMessage(parent, text, TPromptIcon::Information);
}

void TScriptedPrompts::ShowIconMessage(QWidget*, const QString& text, TPromptIcon icon) {
    FMessages << text;
    FIcons.push_back(icon);
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

bool TScriptedPrompts::AskChoice(QWidget* parent, const QString& question, const QString&,
                                 const QString&) {
    return AskYesNo(parent, question);
}

TChecksAnswer TScriptedPrompts::AskPostAnyway(QWidget*, const QString& warnings, bool crossPost) {
    FChecksBoxes << warnings;
    FCrossPostOffers.push_back(crossPost);
    if (FChecksAnswers.empty()) {
        ++FUnanswered;
        return TChecksAnswer::Cancel;
    }
    const TChecksAnswer answer = FChecksAnswers.front();
    FChecksAnswers.pop_front();
    return answer;
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

bool TScriptedPrompts::AskLogon(QWidget*, const QString& server, TLogon& logon) {
    FLogonBoxes << logon.UserName;
    FLogonServers << server;
    if (FPasswords.empty()) {
        ++FUnanswered;
        return false;
    }
    logon.Password = FPasswords.front();
    FPasswords.pop_front();
    return true;
}
