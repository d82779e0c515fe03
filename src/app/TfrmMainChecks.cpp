// The main window's side of the checks before a posting run: what TPostingChecks finds in the
// run as the window stands, in one box.

#include "app/TfrmMain.h"

#include "posting/TPostingChecks.h"
#include "selection/TPrompts.h"
#include "selection/trcvListbox.h"

#include <QComboBox>

bool TfrmMain::ChecksAllowRun() {
    // The Newsgroups page holds the server's list once it has been fetched (or read back from
    // the list file); an empty page knows nothing of the server's groups.
    const TGroupList& serverList = trcvNewsgroups->Items();
    TPostingChecks::TKnownGroup knownGroup;
    if (!serverList.IsEmpty())
        // The list finds a name whatever its case; the server knows it only as it is written.
        knownGroup = [&serverList](const std::string& group) {
            const int row = serverList.IndexOf(group);
            return row >= 0 && serverList[row] == group;
        };
    const std::vector<TPostingFinding> findings = TPostingChecks::Check(RunRequest(), knownGroup);
    if (findings.empty())
        return true;
    QStringList lines;
    for (const TPostingFinding& finding : findings)
        lines << QString::fromStdString(finding.Text);
    const QString text = lines.join(QLatin1Char('\n'));
    if (TPostingChecks::HasErrors(findings)) {
        TPrompts::Current().ShowIconMessage(this, text, TPromptIcon::Warning);
        return false;
    }
    switch (
        TPrompts::Current().AskPostAnyway(this, text, TPostingChecks::OffersCrossPost(findings))) {
    case TChecksAnswer::Cancel:
        return false;
    case TChecksAnswer::PostAnyway:
        return true;
    case TChecksAnswer::CrossPostInstead:
        cbSendAs->setCurrentIndex(1);
        return true;
    }
    return false;
}
