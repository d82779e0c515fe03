// The main window's part in the posting history: each run that finishes is added to the history
// file beside the settings file, whatever started it (Post, the wizard, a resume, the report's
// Post again); Files > Posting History lists the runs, and opens one in the report window.

#include "app/TfrmHistory.h"
#include "app/TfrmMain.h"
#include "app/TfrmRunReport.h"

#include "posting/TPostingHistory.h"

#include <QDateTime>
#include <QFile>

QString TfrmMain::HistoryPath() const {
    return FProgramDir + QString::fromLatin1(TPostingHistory::FileName);
}

void TfrmMain::RecordRun(const TRunSummary& summary) {
    const THistoryRun run =
        THistoryRun::Of(FLastRun, summary, QDateTime::currentSecsSinceEpoch());
    try {
        TPostingHistory(QFile::encodeName(HistoryPath()).toStdString()).Append(run);
    } catch (const std::exception& error) {
        AppendToLog(QStringLiteral("The run was not added to the posting history: %1")
                        .arg(QString::fromUtf8(error.what())));
        return;
    }
    if (FHistoryWindow && FHistoryWindow->isVisible())
        FHistoryWindow->Reload();
}

void TfrmMain::Postinghistory1Click() {
    if (!FHistoryWindow) {
        FHistoryWindow = new TfrmHistory(QFile::encodeName(HistoryPath()).toStdString(),
                                         TfrmHistory::TMode::hmBrowse, this);
        connect(FHistoryWindow, &TfrmHistory::OpenRun, this, &TfrmMain::ShowHistoryRun);
    } else {
        FHistoryWindow->Reload();
    }
    FHistoryWindow->show();
    FHistoryWindow->raise();
    FHistoryWindow->activateWindow();
}

void TfrmMain::ShowHistoryRun(const THistoryRun& run) {
    TfrmRunReport* const report = RunReportWindow();
    report->SetRun(run);
    report->ShowRun(run);
    report->SetBusy(Busy());
    report->show();
    report->raise();
}
