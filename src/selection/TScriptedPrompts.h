#pragma once

#include "selection/TPrompts.h"

#include <QStringList>
#include <deque>
#include <vector>

// Prompts for tests: answers come from queues filled beforehand and every prompt is recorded.
// A question with no queued answer is answered No, a file dialog with none is cancelled, and
// both are counted in Unanswered() so a test can tell an unexpected prompt from a planned one.
class TScriptedPrompts : public TPrompts {
public:
    // Installs a new, empty TScriptedPrompts as the program's prompts and returns it; it lives
    // until the next TPrompts::Install.
    static TScriptedPrompts* InstallNew();

    void QueueAnswer(bool yes) { FAnswers.push_back(yes); }
    void QueueFileName(const QString& path) { FFileNames.push_back(path); }
    void QueueChecksAnswer(TChecksAnswer answer) { FChecksAnswers.push_back(answer); }
    void QueuePrint(bool print) { FPrints.push_back(print); }
    // The password the next log-on box is answered with (OK, user name as shown).
    void QueuePassword(const QString& password) { FPasswords.push_back(password); }

    // Every message box's text, whatever its icon.
    const QStringList& Messages() const { return FMessages; }
    // The icon of each message box, in the order of Messages().
    const std::vector<TPromptIcon>& Icons() const { return FIcons; }
    const QStringList& Questions() const { return FQuestions; }
    // The text of each box of warnings before a run, and whether it offered to cross-post.
    const QStringList& ChecksBoxes() const { return FChecksBoxes; }
    const std::vector<bool>& CrossPostOffers() const { return FCrossPostOffers; }
    // The start directory of each file dialog, in order.
    const QStringList& FileDialogs() const { return FFileDialogs; }
    int PrintDialogs() const { return FPrintDialogs; }
    // The user name each log-on box was opened with, in order.
    const QStringList& LogonBoxes() const { return FLogonBoxes; }
    // The server each log-on box named, in order.
    const QStringList& LogonServers() const { return FLogonServers; }
    int Unanswered() const { return FUnanswered; }
    void Forget();

    void ShowMessage(QWidget* parent, const QString& text) override;
    void ShowIconMessage(QWidget* parent, const QString& text, TPromptIcon icon) override;
    bool AskYesNo(QWidget* parent, const QString& question) override;
    // Recorded with the questions and answered from the same queue.
    bool AskChoice(QWidget* parent, const QString& question, const QString& accept,
                   const QString& reject) override;
    // Without a queued answer the box is cancelled.
    TChecksAnswer AskPostAnyway(QWidget* parent, const QString& warnings, bool crossPost) override;
    QString OpenFileName(QWidget* parent, const QString& startDir) override;
    bool ChoosePrinter(QWidget* parent, QPrinter* printer) override;
    // Without a queued password the box is cancelled.
    bool AskLogon(QWidget* parent, const QString& server, TLogon& logon) override;

private:
    std::deque<bool> FAnswers;
    std::deque<TChecksAnswer> FChecksAnswers;
    std::deque<QString> FFileNames;
    std::deque<bool> FPrints;
    std::deque<QString> FPasswords;
    QStringList FMessages;
    std::vector<TPromptIcon> FIcons;
    QStringList FQuestions;
    QStringList FChecksBoxes;
    std::vector<bool> FCrossPostOffers;
    QStringList FFileDialogs;
    QStringList FLogonBoxes;
    QStringList FLogonServers;
    int FPrintDialogs = 0;
    int FUnanswered = 0;
};
