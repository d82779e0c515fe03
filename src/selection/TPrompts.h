#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class QPrinter;
class QWidget;

// The icon of a message box: how much the message should worry the user.
enum class TPromptIcon : uint8_t { Information, Warning, Critical };

// What the user chose in the box of warnings a posting run meets before it starts.
enum class TChecksAnswer : uint8_t { Cancel, PostAnyway, CrossPostInstead };

// What the log-on box shows and gives back.
struct TLogon {
    QString UserName;
    QString Password;
};

// Every message box, Yes/No question, file-open dialog, print dialog and log-on box of the windows
// goes through the one installed TPrompts. The program runs with TQtPrompts; tests install a
// scripted one (TScriptedPrompts) so that no test ever waits on a modal box.
class TPrompts {
public:
    virtual ~TPrompts() = default;

    // A plain message box with an OK button.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // A message box with an OK button and the given icon.
    virtual void ShowIconMessage(QWidget* parent, const QString& text, TPromptIcon icon) = 0;
    // A confirmation box with Yes and No; true means Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& question) = 0;
    // A question whose two buttons say what they do; true means `accept`, which is not the
    // default button.
    virtual bool AskChoice(QWidget* parent, const QString& question, const QString& accept,
                           const QString& reject) = 0;
    // The warnings found before a run, with "Post anyway" and "Cancel" (the default) and, when
    // `crossPost`, "Cross-post instead".
    virtual TChecksAnswer AskPostAnyway(QWidget* parent, const QString& warnings,
                                        bool crossPost) = 0;
    // A file-open dialog starting in `startDir`, no filter; the chosen full path, or empty when
    // the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& startDir) = 0;
    // The print dialog for `printer`; true when the user chose to print.
    virtual bool ChoosePrinter(QWidget* parent, QPrinter* printer) = 0;
    // The log-on box for `server`, showing `logon` and giving back what the user entered in it;
    // false when the user cancelled.
    virtual bool AskLogon(QWidget* parent, const QString& server, TLogon& logon) = 0;

    // The prompts in force (a TQtPrompts until something else is installed).
    static TPrompts& Current();
    // Installs `prompts` and returns the previous one; an empty pointer restores TQtPrompts.
    static std::unique_ptr<TPrompts> Install(std::unique_ptr<TPrompts> prompts);
};

// The real dialogs, titled with the application's name.
class TQtPrompts : public TPrompts {
public:
    void ShowMessage(QWidget* parent, const QString& text) override;
    void ShowIconMessage(QWidget* parent, const QString& text, TPromptIcon icon) override;
    bool AskYesNo(QWidget* parent, const QString& question) override;
    bool AskChoice(QWidget* parent, const QString& question, const QString& accept,
                   const QString& reject) override;
    TChecksAnswer AskPostAnyway(QWidget* parent, const QString& warnings, bool crossPost) override;
    QString OpenFileName(QWidget* parent, const QString& startDir) override;
    bool ChoosePrinter(QWidget* parent, QPrinter* printer) override;
    bool AskLogon(QWidget* parent, const QString& server, TLogon& logon) override;
};
