#pragma once

#include "posting/TArticlePreview.h"
#include "posting/TNewsOperation.h"
#include "posting/TPostingHistory.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>

class QCommandLineParser;
class TIniFileStore;
class TRunJournal;

// The program without its window: `heraldix post` posts one article to its groups,
// `heraldix list` prints the server's group names and `heraldix history` the runs that finished.
// Each subcommand parses its options into a request (what the options leave out comes from the
// settings the window saved), runs the posting engine on a Qt Core event loop and prints what the
// engine reports.
//
// Every post is recorded in the run journal beside the settings file, so that `heraldix post
// --resume` can finish a run that was cut short (the program killed, the machine down) without
// posting any group twice; the resumed run prints the outcomes heard before the interruption
// first. A post holds its journal while it runs: a second one on it is refused (exit 3). Every
// post that finishes (a dry run sends nothing and is not one) is added to the posting history
// beside the settings file.
//
// `heraldix cancel RUN|last` withdraws the accepted articles of a run the posting history
// holds, over the server and log-on that run used; its run is journaled and resumed
// (`cancel --resume`) as a post is.
//
// Exit status: 0 every group accepted (or the list read), 1 some group refused or an article
// found missing by verification, 2 a usage error (nothing was sent), 3 no connection, a refused
// log-on or certificate, or a run that ended early.
class TCommandLine {
public:
    enum TExit : int { exOk = 0, exRefused = 1, exUsage = 2, exConnection = 3 };

    // True when the arguments name a subcommand (or ask for help or the version), so that the
    // program runs without a window.
    static bool Wanted(int argc, char* argv[]);
    // Runs the subcommand under its own QCoreApplication and returns the exit status.
    static int Run(int argc, char* argv[]);

    // The lines of a body text: split at LF (a CR before it dropped), without the empty line
    // after a final line end.
    static std::vector<std::string> TextLines(const std::string& text);
    // One outcome as printed: "accepted  alt.test  <id>" or "refused  mod.test  441 ...", or
    // one JSON object; one heard before an interruption is marked so. Printed text shows the
    // server's control characters as escapes ("\x1b").
    static std::string OutcomeLine(const TGroupOutcome& outcome, bool json);
    // What verification found of one accepted article: "verified  alt.test  <id>" or
    // "missing  alt.test  <id>", or one JSON object.
    static std::string VerificationLine(const TGroupOutcome& outcome, bool json);
    // One group of a cancel run, by the article withdrawn there: "cancelled  alt.test  <id>",
    // "kept  alt.test  <id>  not withdrawn: ...", "refused  alt.test  <reply>", or one JSON
    // object (outcome cancelled, kept, refused, or accepted when STAT never answered).
    static std::string CancelLine(const TGroupOutcome& outcome, const std::string& withdrawn,
                                  bool json);
    // Article `number` of `count` of a dry run as printed: a line naming it, its groups and
    // size, then its text (LF line ends) and an empty line; or one JSON object (newsgroups,
    // size, headers: the header fields, each unfolded) on a line.
    // A run of the history as `heraldix history` prints it: "<id>  <time>  <kind>  <server>
    // <n> accepted  <n> refused  <subject>" (time in UTC, ISO 8601), or one JSON object.
    static std::string HistoryRunLine(const THistoryRun& run, bool json);
    // A group of a run as `heraldix history RUN` prints it: "<group>  <outcome>  <Message-ID>
    // <reply>", then "  replaces <Message-ID>" when it replaced an article; or one JSON object.
    static std::string HistoryGroupLine(const THistoryGroup& group, bool json);
    static std::string DryRunArticle(const TArticlePreview::TArticle& article, size_t number,
                                     size_t count, bool json);

private:
    // A usage error: its text goes to standard error and the program ends with exUsage.
    struct EUsage {
        QString Message;
    };
    // A log-on without a password meant for its server: its text goes to standard error and the
    // program ends with exConnection, before anything is sent.
    struct ENoPassword {
        QString Message;
    };

    explicit TCommandLine(QStringList arguments);
    int Execute();
    int Post();
    // `post --dry-run`: prints every article of the run and sends nothing.
    int DryRun(const QCommandLineParser& parser);
    int List();
    // `heraldix history [RUN]` (TCommandLineHistory.cpp).
    int History();
    // `cancel RUN|last`: withdraws the run's accepted articles (TCommandLineCancel.cpp).
    int Cancel();
    // The cancel run of the history's run named `which`, over its server and log-on.
    TNewsRequest CancelRequest(const QCommandLineParser& parser, const QString& which);

    void AddConnectionOptions(QCommandLineParser& parser) const;
    // Parses the subcommand's arguments; more than `positional` arguments that are not options
    // is a usage error.
    void Parse(QCommandLineParser& parser, qsizetype positional = 0);
    void OpenSettings(const QCommandLineParser& parser);
    QString Setting(const QString& key, const QString& def = {}) const;
    TNewsRequest ConnectionRequest(const QCommandLineParser& parser);
    std::function<bool(const TIpTlsPeer& peer)> TrustCheck() const;
    int Connections(const QCommandLineParser& parser) const;
    // Groups each article of the run goes to (TNewsRequest::GroupsPerArticle).
    int GroupsPerArticle(const QCommandLineParser& parser) const;
    // The interrupted run of the journal, with the password a new run would take.
    // `cancel`: a cancel run is wanted, else a posting run.
    TNewsRequest ResumeRequest(const QCommandLineParser& parser, const std::string& journal,
                               bool cancel);
    std::string JournalPath() const;
    // Holds the journal for the run; false (the reason printed) when another run holds it. A
    // journal that cannot be opened is no refusal here: the run fails as it starts.
    bool LockJournal(TRunJournal& journal) const;
    // history.jsonl beside the settings file, whichever settings file that is: `heraldix
    // history` and the window then show the runs of every set-up that shares the directory.
    std::string HistoryPath() const;
    // Adds the finished run to the history; one that cannot be written is an error line only.
    void RecordRun(const TNewsRequest& request, const TRunSummary& summary) const;
    // The password for `user` on `host`; throws ENoPassword when none is meant for them.
    std::string Password(const QCommandLineParser& parser, const QString& user, const QString& host,
                         TIpNntpSecurity security) const;
    TIpNntpSecurity SettingsSecurity() const;
    TArticleRequest ArticleRequest(const QCommandLineParser& parser, const QString& host) const;
    // Gives article the user's Cancel-Lock secret (TCancelSecretKeeper, beside the settings);
    // without one the run posts unlocked articles, and says so unless --quiet.
    void AddCancelSecret(TArticleRequest& article) const;
    std::vector<std::string> Groups(const QCommandLineParser& parser) const;
    // --supersede (TCommandLineSupersede.cpp): the run it names, found in the history and kept
    // in FReplaced; the request of a run over that run's server and log-on; and, once the run's
    // groups are known, which old article each of them replaces.
    const THistoryRun& ReplacedRun(const QCommandLineParser& parser);
    TNewsRequest ReplacingRequest(const QCommandLineParser& parser);
    // A new run over the server, security and log-on the history's `run` used (a Supersedes or
    // a cancel sent anywhere else withdraws nothing); the password as a post gets it.
    TNewsRequest HistoryRunRequest(const QCommandLineParser& parser, const THistoryRun& run);
    void AddReplaces(TNewsRequest& request) const;
    // The checks before a run (TCommandLineChecks.cpp), the first thing done with a new run's
    // request: the errors, and the warnings unless --quiet, go to standard error, and a group
    // named more than once is left in once. False when nothing may be sent: an error, or a
    // warning under --strict.
    bool ChecksPassed(const QCommandLineParser& parser, TNewsRequest& request) const;
    // The group list the window or `heraldix list --save` last kept (newsgrps.txt); empty when
    // none was ever fetched.
    std::unordered_set<std::string> SavedServerList() const;
    QString ListDir() const;

    // Runs the operation started by `start` until it ends; returns the exit status.
    int RunOperation(TNewsOperation& operation, const std::function<void()>& start);
    // A line of output on standard output, unless --quiet.
    void PrintLine(const std::string& line) const;
    void ShowProgress(const std::string& text);
    void Error(const QString& text) const;

    QStringList FArguments;
    QString FSettingsPath;
    std::map<QString, QString> FSettings;
    std::map<QString, QString> FTrusted;
    // The message body the window saved.
    std::vector<std::string> FBodyLines;
    // What the interrupted run being resumed heard before it was cut short.
    std::vector<TGroupOutcome> FEarlier;
    // The run that --supersede replaces.
    std::optional<THistoryRun> FReplaced;
    bool FJson = false;
    bool FQuiet = false;
    bool FProgress = false;
    bool FProgressShown = false;
    int FExit = exOk;
};
