// `heraldix cancel`: the articles of an earlier run, as the posting history keeps them, withdrawn
// over that run's server and log-on. The run is journaled like a post, so a cancel run cut short
// is finished by `cancel --resume` without a cancel sent twice. Its lines come once the server has
// been asked for every withdrawn article: only STAT tells a cancel carried out from one the
// server answered and ignored. Exit status as for post: 0 every article withdrawn, 1 a cancel
// refused or an article kept.

#include "app/TCommandLine.h"

#include "nntp/TIpVisibleText.h"
#include "posting/TPostingHistory.h"
#include "posting/TRunJournal.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <optional>

namespace {
// What a server that requires a Cancel-Lock does with a cancel for an article without one.
constexpr const char* kKeptText =
    "not withdrawn: the server withdraws only articles that carry a Cancel-Lock";
} // namespace

std::string TCommandLine::CancelLine(const TGroupOutcome& outcome, const std::string& withdrawn,
                                     bool json) {
    std::string word = "refused";
    if (outcome.Accepted)
        switch (outcome.Verification) {
        case TGroupOutcome::TVerification::Missing:
            word = "cancelled";
            break;
        case TGroupOutcome::TVerification::Verified:
            word = "kept";
            break;
        case TGroupOutcome::TVerification::NotChecked:
            word = "accepted";
            break;
        }
    if (json) {
        QJsonObject object{
            {QStringLiteral("group"), QString::fromStdString(outcome.Group)},
            {QStringLiteral("outcome"), QString::fromStdString(word)},
            {QStringLiteral("code"), outcome.Code},
            {QStringLiteral("reply"), QString::fromStdString(outcome.Reply)},
            {QStringLiteral("message_id"), QString::fromStdString(withdrawn)},
        };
        if (outcome.Earlier)
            object.insert(QStringLiteral("earlier"), true);
        return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    }
    std::string line = word + "  " + VisibleText(outcome.Group) + "  ";
    line += outcome.Accepted ? VisibleText(withdrawn) : VisibleText(outcome.Reply);
    if (word == "kept")
        line += std::string("  ") + kKeptText;
    if (outcome.Earlier)
        line += "  (before the interruption)";
    return line;
}

TNewsRequest TCommandLine::CancelRequest(const QCommandLineParser& parser, const QString& which) {
    const std::optional<THistoryRun> run = TPostingHistory(HistoryPath()).Find(which.toStdString());
    if (!run)
        throw EUsage{QStringLiteral("No run \"%1\" in the posting history").arg(which)};
    if (run->Kind == THistoryKind::hkCancel)
        throw EUsage{QStringLiteral("The run %1 is a cancel run: name the run it withdrew")
                         .arg(QString::fromStdString(run->RunID))};
    std::vector<std::string> chosen;
    for (const QString& group : parser.values(QStringLiteral("group")))
        chosen.push_back(group.toStdString());
    std::vector<std::string> groups;
    std::map<std::string, std::string> cancels;
    for (const THistoryGroup& group : run->Groups) {
        if (group.Outcome != THistoryOutcome::hoAccepted || group.MessageID.empty())
            continue;
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), group.Group) == chosen.end())
            continue;
        if (cancels.emplace(group.Group, group.MessageID).second)
            groups.push_back(group.Group);
    }
    for (const std::string& group : chosen)
        if (cancels.count(group) == 0)
            throw EUsage{
                QStringLiteral("The run %1 has no article in %2 to cancel")
                    .arg(QString::fromStdString(run->RunID), QString::fromStdString(group))};
    if (groups.empty())
        throw EUsage{QStringLiteral("The run %1 has no article on the server to cancel")
                         .arg(QString::fromStdString(run->RunID))};
    // Asks for the password only once the run to cancel is known to be sound.
    TNewsRequest request = HistoryRunRequest(parser, *run);
    request.Groups = std::move(groups);
    request.Cancels = std::move(cancels);
    request.CancelsRun = run->RunID;
    request.Connections = Connections(parser);
    request.Article.Address = run->Address;
    request.Article.Subject = run->Subject;
    request.Article.PostingHost = run->Server;
    return request;
}

int TCommandLine::Cancel() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Withdraws the articles of an earlier run (an id or prefix from the "
                       "posting history, or last for the newest posting run) from its server, "
                       "over the log-on it was posted with. The server withdraws only articles "
                       "that carry a Cancel-Lock made with this user's secret."));
    parser.addPositionalArgument(QStringLiteral("RUN"),
                                 QStringLiteral("The run to withdraw: its id, or last."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("group"),
         QStringLiteral("Withdraw only the article in this group (repeatable)."),
         QStringLiteral("NAME")},
        {QStringLiteral("password-file"),
         QStringLiteral("Read the password from FILE (or set HERALDIX_PASSWORD)."),
         QStringLiteral("FILE")},
        {QStringLiteral("settings"),
         QStringLiteral("Settings file beside which the history and the run journal are kept "
                        "(default: the window's frmsv.INI)."),
         QStringLiteral("FILE")},
        {QStringLiteral("connections"),
         QStringLiteral("Send over N connections at once, 1 to 8 (default: the window's "
                        "choice)."),
         QStringLiteral("N")},
        {QStringLiteral("resume"),
         QStringLiteral("Finish the cancel run that was cut short, without sending a cancel "
                        "twice.")},
        {QStringLiteral("json"), QStringLiteral("One JSON object per line.")},
        {QStringLiteral("quiet"), QStringLiteral("Print nothing but errors.")},
    });
    Parse(parser, 1);
    FJson = parser.isSet(QStringLiteral("json"));
    FQuiet = parser.isSet(QStringLiteral("quiet"));
    const bool resume = parser.isSet(QStringLiteral("resume"));
    const QStringList positional = parser.positionalArguments();
    if (resume == !positional.isEmpty())
        throw EUsage{resume ? QStringLiteral("--resume takes no run: it finishes the "
                                             "interrupted one")
                            : QStringLiteral("Name the run to cancel: its id, or last")};
    const std::string journalPath = JournalPath();
    TRunJournal journal(journalPath);
    if (!LockJournal(journal))
        return exConnection;
    TNewsRequest request =
        resume ? ResumeRequest(parser, journalPath, true) : CancelRequest(parser, positional[0]);
    if (!resume && TRunJournal::FindInterrupted(journalPath) && !FQuiet)
        Error(QStringLiteral("Once it sends, this run replaces the interrupted run, which "
                             "--resume would finish"));
    AddCancelSecret(request.Article);
    const std::map<std::string, std::string> withdrawn = request.Cancels;
    const auto withdrawnIn = [&withdrawn](const std::string& group) {
        const auto found = withdrawn.find(group);
        return found == withdrawn.end() ? std::string() : found->second;
    };

    // What the history keeps of the run once it finishes (the request itself goes to the engine).
    const TNewsRequest recorded = request;

    TNewsOperation operation;
    operation.SetRecorder(&journal);
    TNewsOperationEvents& events = operation.Events();
    events.GroupStarted = [this](size_t index, size_t total) {
        ShowProgress("Cancelling " + std::to_string(index + 1) + " of " + std::to_string(total));
    };
    int exit = exOk;
    if (!request.Groups.empty()) {
        exit = RunOperation(operation, [&] { operation.StartPost(std::move(request)); });
    } else {
        // Every cancel of the interrupted run was refused: nothing is left to send or ask.
        try {
            journal.EndInterrupted();
        } catch (const std::exception& error) {
            Error(QString::fromUtf8(error.what()));
            exit = exConnection;
        }
    }
    // Printed whether or not the run finished: a run cut short still says what it heard.
    const TRunSummary summary = TRunJournal::WithEarlier(FEarlier, operation.Summary());
    int counts[3] = {0, 0, 0};
    for (const TGroupOutcome& outcome : summary.Outcomes) {
        PrintLine(CancelLine(outcome, withdrawnIn(outcome.Group), FJson));
        const bool cancelled =
            outcome.Accepted && outcome.Verification == TGroupOutcome::TVerification::Missing;
        const bool kept =
            outcome.Accepted && outcome.Verification == TGroupOutcome::TVerification::Verified;
        ++counts[cancelled ? 0 : kept ? 1 : 2];
        if (!cancelled && FExit == exOk)
            FExit = exRefused;
    }
    if (exit != exConnection) {
        RecordRun(recorded, summary);
        const auto number = [](int value) { return std::to_string(value); };
        PrintLine(
            FJson ? "{\"summary\":true,\"cancelled\":" + number(counts[0]) +
                        ",\"kept\":" + number(counts[1]) + ",\"refused\":" + number(counts[2]) + "}"
                  : "Finished Cancelling: " + number(counts[0]) + " cancelled, " +
                        number(counts[1]) + " not withdrawn, " + number(counts[2]) + " refused");
        return FExit;
    }
    if (const auto left = TRunJournal::FindInterrupted(journalPath))
        Error(QStringLiteral("%1 of %2 groups are left: heraldix cancel --resume finishes the run")
                  .arg(left->Request.Groups.size())
                  .arg(left->Total));
    return exit;
}
