// The main window's part in withdrawing a run: the report's "Cancel these articles" becomes a
// cancel run over the server, security and log-on the articles were posted with (the password
// as a resumed run gets it), from the address they were posted from.

#include "app/TfrmMain.h"

#include "posting/TPostingHistory.h"
#include "selection/TPrompts.h"

#include <QLineEdit>
#include <QSpinBox>

void TfrmMain::CancelArticles(const THistoryRun& run) {
    if (Busy() || run.Kind != THistoryKind::hkPost)
        return;
    TNewsRequest request;
    for (const THistoryGroup& group : run.Groups)
        if (group.Outcome == THistoryOutcome::hoAccepted && !group.MessageID.empty() &&
            request.Cancels.emplace(group.Group, group.MessageID).second)
            request.Groups.push_back(group.Group);
    if (request.Groups.empty())
        return;
    request.CancelsRun = run.RunID;
    request.Host = run.Server;
    request.Security = run.Security;
    request.LogOn = run.LogOn;
    request.UserID = run.UserID;
    request.TimeoutSeconds = seTimeout->value();
    request.Connections = seConnections->value();
    request.Article.Address = run.Address;
    request.Article.Subject = run.Subject;
    request.Article.Newsreader = eNewsreader->text().toStdString();
    request.Article.PostingHost = run.Server;
    ResumeRun(std::move(request));
}

bool TfrmMain::ShowCancelFinished(const TRunSummary& summary) {
    if (FLastRun.Cancels.empty())
        return false;
    int counts[3] = {0, 0, 0};
    for (const TGroupOutcome& outcome : summary.Outcomes)
        ++counts[!outcome.Accepted                                               ? 2
                 : outcome.Verification == TGroupOutcome::TVerification::Missing ? 0
                                                                                 : 1];
    const QString text = QStringLiteral("Finished Cancelling: %1 cancelled, %2 not withdrawn, "
                                        "%3 refused")
                             .arg(counts[0])
                             .arg(counts[1])
                             .arg(counts[2]);
    AppendToLog(text);
    RecordRun(summary);
    ShowRunReport(summary);
    ShowLater(text, counts[1] + counts[2] == 0 ? TPromptIcon::Information : TPromptIcon::Warning);
    return true;
}
