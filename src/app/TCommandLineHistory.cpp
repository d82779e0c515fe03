// `heraldix history`: the runs of the posting history, and the groups of one run; and the
// posting history's side of `heraldix post`, which adds each finished run to it.

#include "app/TCommandLine.h"

#include "nntp/TIpVisibleText.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <ctime>

namespace {
QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string TimeText(int64_t time) {
    return QDateTime::fromSecsSinceEpoch(time, Qt::UTC).toString(Qt::ISODate).toStdString();
}
} // namespace

std::string TCommandLine::HistoryPath() const {
    return QFile::encodeName(ListDir() + QString::fromLatin1(TPostingHistory::FileName))
        .toStdString();
}

TNewsRequest TCommandLine::HistoryRunRequest(const QCommandLineParser& parser,
                                             const THistoryRun& run) {
    TNewsRequest request;
    request.Host = run.Server;
    request.Security = run.Security;
    request.Tls.IsTrusted = TrustCheck();
    request.LogOn = run.LogOn;
    if (request.LogOn) {
        request.UserID = run.UserID;
        request.Password = Password(parser, QString::fromStdString(run.UserID),
                                    QString::fromStdString(run.Server), run.Security);
    }
    request.EndOnRefusedLogOn = true;
    request.TimeoutSeconds =
        Setting(QStringLiteral("seTimeout.Value"), QStringLiteral("60")).toInt();
    return request;
}

void TCommandLine::RecordRun(const TNewsRequest& request, const TRunSummary& summary) const {
    THistoryRun run = THistoryRun::Of(request, summary, std::time(nullptr));
    // A resumed run whose groups had all been answered ends without the engine, which names
    // the run otherwise.
    if (run.RunID.empty())
        run.RunID = request.RunId;
    try {
        TPostingHistory(HistoryPath()).Append(run);
    } catch (const std::exception& error) {
        Error(QStringLiteral("The run was not added to the posting history: %1")
                  .arg(QString::fromUtf8(error.what())));
    }
}

std::string TCommandLine::HistoryRunLine(const THistoryRun& run, bool json) {
    const size_t refused = run.Refused();
    const size_t accepted = run.Groups.size() - refused;
    if (json) {
        QJsonObject object{{QStringLiteral("run"), Text(run.RunID)},
                           {QStringLiteral("time"), Text(TimeText(run.Time))},
                           {QStringLiteral("kind"), Text(KindName(run.Kind))},
                           {QStringLiteral("server"), Text(run.Server)},
                           {QStringLiteral("subject"), Text(run.Subject)},
                           {QStringLiteral("groups"), static_cast<qint64>(run.Groups.size())},
                           {QStringLiteral("accepted"), static_cast<qint64>(accepted)},
                           {QStringLiteral("refused"), static_cast<qint64>(refused)}};
        if (!run.Target.empty())
            object.insert(QStringLiteral("target"), Text(run.Target));
        return Json(object);
    }
    return run.RunID + "  " + TimeText(run.Time) + "  " + KindName(run.Kind) + "  " +
           VisibleText(run.Server) + "  " + std::to_string(accepted) + " accepted  " +
           std::to_string(refused) + " refused  " + VisibleText(run.Subject);
}

std::string TCommandLine::HistoryGroupLine(const THistoryGroup& group, bool json) {
    if (json) {
        QJsonObject object{{QStringLiteral("group"), Text(group.Group)},
                           {QStringLiteral("outcome"), Text(OutcomeName(group.Outcome))},
                           {QStringLiteral("message_id"), Text(group.MessageID)},
                           {QStringLiteral("reply"), Text(group.Reply)}};
        if (!group.Supersedes.empty())
            object.insert(QStringLiteral("supersedes"), Text(group.Supersedes));
        return Json(object);
    }
    std::string line = VisibleText(group.Group) + "  " + OutcomeName(group.Outcome) + "  " +
                       VisibleText(group.MessageID) + "  " + VisibleText(group.Reply);
    if (!group.Supersedes.empty())
        line += "  replaces " + VisibleText(group.Supersedes);
    return line;
}

int TCommandLine::History() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the finished runs, newest first, or with RUN the groups of one "
                       "run. RUN is a run's id, a start of it that fits one run, or last (the "
                       "newest posting run)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("RUN"), QStringLiteral("The run to print."),
                                 QStringLiteral("[RUN]"));
    parser.addOptions({
        {QStringLiteral("settings"),
         QStringLiteral("The settings file whose directory holds the history (default: the "
                        "window's frmsv.INI)."),
         QStringLiteral("FILE")},
        {QStringLiteral("json"), QStringLiteral("One JSON object per line.")},
    });
    Parse(parser, 1);
    FJson = parser.isSet(QStringLiteral("json"));
    const TPostingHistory history(HistoryPath());
    if (parser.positionalArguments().isEmpty()) {
        for (const THistoryRun& run : history.Runs())
            PrintLine(HistoryRunLine(run, FJson));
        return exOk;
    }
    const QString which = parser.positionalArguments().constFirst();
    const std::optional<THistoryRun> run = history.Find(which.toStdString());
    if (!run)
        throw EUsage{QStringLiteral("No run \"%1\" in the history: give a run's id, a start of "
                                    "it that fits one run, or last")
                         .arg(which)};
    for (const THistoryGroup& group : run->Groups)
        PrintLine(HistoryGroupLine(group, FJson));
    return exOk;
}
