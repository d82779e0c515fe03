// `post --supersede last|RUN`: the run replaces an earlier run's articles. That run comes from
// the posting history beside the settings file, and the new run posts over its server and
// log-on: a Supersedes sent to another server would replace nothing.

#include "app/TCommandLine.h"

#include "posting/TReplacement.h"

#include <QCommandLineParser>

const THistoryRun& TCommandLine::ReplacedRun(const QCommandLineParser& parser) {
    for (const char* option : {"server", "security", "user"})
        if (parser.isSet(QString::fromLatin1(option)))
            throw EUsage{QStringLiteral("--supersede posts over the server and log-on of the run "
                                        "it replaces; it takes no --%1")
                             .arg(QString::fromLatin1(option))};
    const QString which = parser.value(QStringLiteral("supersede"));
    FReplaced = TPostingHistory(HistoryPath()).Find(which.toStdString());
    if (!FReplaced || FReplaced->Kind != THistoryKind::hkPost)
        throw EUsage{QStringLiteral("No posting run \"%1\" in the history to replace (heraldix "
                                    "history lists them)")
                         .arg(which)};
    return *FReplaced;
}

TNewsRequest TCommandLine::ReplacingRequest(const QCommandLineParser& parser) {
    return HistoryRunRequest(parser, ReplacedRun(parser));
}

void TCommandLine::AddReplaces(TNewsRequest& request) const {
    if (!FReplaced)
        return;
    request.Replaces = TReplacement::Of(*FReplaced, request.Groups, request.GroupsPerArticle);
    request.ReplacesRun = FReplaced->RunID;
}
