// The main window's side of the posting run and the group-list retrieval: it builds the request
// from its fields, and shows what the operation reports in the status log, the status bar and
// message boxes. The operation itself (TNewsOperation) owns the connection and the order of
// commands.
//
// Message boxes raised by the operation's events are shown once the event has been handled: a
// modal box runs its own event loop, which must not deliver more of the connection's data while
// the client is still inside its line handling.

#include "app/TCancelSecretKeeper.h"
#include "app/TEventPacer.h"
#include "app/TfrmMain.h"
#include "app/TfrmRunReport.h"

#include "nntp/TIpVisibleText.h"
#include "posting/TArticleComposer.h"
#include "posting/TRunJournal.h"
#include "selection/TBodyEditor.h"
#include "selection/TPrompts.h"
#include "selection/TfrmPreview.h"
#include "selection/trcvListbox.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

#include <iterator>

static std::string Utf8(const QString& text) {
    return text.toStdString();
}

// What the operation reports carries the server's words: shown with their control characters
// (and line separators) as escapes, so that each line the server sent stays one line, whole.
static QString Shown(const std::string& text, TIpLineFeeds lineFeeds = TIpLineFeeds::Escaped) {
    return QString::fromStdString(VisibleText(text, lineFeeds));
}

// Lines per block of the status log when a multi-line reply is appended.
static constexpr size_t LogLinesPerBlock = 64;

// The lines as one text for the status log, in blocks of LogLinesPerBlock lines, each line shown
// as Shown() shows one. The log's document pays for every block it holds (100,000 one-line
// blocks take a quarter of a second to insert) and little for the text inside them. Within a
// block the lines are divided by line separators, which the log shows as line breaks and gives
// back as line feeds, so the log reads and copies exactly as with one block per line.
static QString LogBlocks(const std::vector<std::string>& lines) {
    static const char LineSeparator[] = "\xE2\x80\xA8"; // U+2028 in UTF-8
    size_t bytes = 0;
    for (const std::string& line : lines)
        bytes += line.size() + sizeof LineSeparator;
    std::string text;
    text.reserve(bytes);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += i % LogLinesPerBlock == 0 ? "\n" : LineSeparator;
        AppendVisibleText(text, lines[i]);
    }
    return QString::fromStdString(text);
}

void TfrmMain::CreateClient() {
    FOperation = std::make_unique<TNewsOperation>();
    TIpNntpClient& client = FOperation->Client();

    TIpDebugLog& debugLog = client.DebugLog();
    debugLog.SetEnabled(false);
    debugLog.SetFileName("debug.log");
    debugLog.SetBufferSize(65536);
    debugLog.SetWriteMode(TIpWriteMode::wmOverwrite);
    TIpEventLog& eventLog = client.EventLog();
    eventLog.SetEnabled(false);
    eventLog.SetFileName("event.log");
    eventLog.SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");

    // The operation's reports reach the widgets through the pacer, at a reader's pace.
    FPacer = std::make_unique<TEventPacer>(
        TEventPacer::TViews{[this](const QStringList& lines) { WriteLog(lines); },
                            [this](const QString& text) { SetStatusText(text); },
                            [this](int value, int maximum) { ShowRunProgress(value, maximum); }});
    TNewsOperationEvents& events = FOperation->Events();
    events.Log = [this](const std::string& line) { AppendToLog(Shown(line)); };
    events.Status = [this](const std::string& text) { FPacer->SetStatus(Shown(text)); };
    events.Progress = [this](uint64_t bytes) {
        if (!FHideByteCount)
            FPacer->SetStatus(QStringLiteral("Bytes received: %1").arg(bytes));
    };
    events.Notice = [this](const std::string& text) {
        FHideByteCount = true;
        ShowLater(Shown(text, TIpLineFeeds::Kept));
    };
    events.MultiLine = [this](std::vector<std::string>& lines, bool groupList) {
        ShowGroupList(lines, groupList);
    };
    events.ListLine = [this](std::string_view line) { FListedGroups.AddLine(line); };
    events.GroupStarted = [this](size_t index, size_t count) {
        FPacer->SetProgress(static_cast<int>(index + 1), static_cast<int>(count));
    };
    events.GroupDone = [this](const TGroupOutcome& outcome) {
        FMessageIDs.push_back(outcome.MessageID);
        if (outcome.ArticleSent && !outcome.MessageID.empty())
            AppendToLog(QStringLiteral("Message-ID: ") + Shown(outcome.MessageID));
    };
    events.Finished = [this](const TRunSummary& summary) { ShowFinished(summary); };
    events.Failed = [this](const std::string& message) { ShowFailed(message); };
    events.BusyChanged = [this](bool busy) { ShowBusy(busy); };
    events.CertificateRefused = [this](const TIpTlsPeer& peer, bool nothingPosted) {
        AskTrustLater(peer, nothingPosted);
    };
    ShowBusy(false);
}

void TfrmMain::AppendToLog(const QString& line) {
    FPacer->AddLogLine(line);
}

void TfrmMain::ShowPendingEvents() {
    FPacer->Flush();
}

QString TfrmMain::LogText() {
    ShowPendingEvents();
    return mDisplay->toPlainText();
}

// The held lines go in as one text, one block each, so that the log reads as if each had been
// appended alone. An empty line appended to an empty log adds no block; the lines leading such a
// text are left out for the same reason.
//
// The log's page is seldom shown, and a line appended to a hidden log need not be laid out: its
// layout would have the new block shaped at once only to tell the widget which part to repaint.
// With that notification held back the log still learns its new size, and it lays out what it
// shows once it is shown.
void TfrmMain::WriteLog(const QStringList& lines) {
    qsizetype first = 0;
    if (mDisplay->document()->isEmpty())
        while (first < lines.size() && lines[first].isEmpty())
            ++first;
    if (first == lines.size())
        return;
    const QString text = lines.mid(first).join(QLatin1Char('\n'));
    if (mDisplay->isVisible()) {
        mDisplay->appendPlainText(text);
        return;
    }
    QAbstractTextDocumentLayout* layout = mDisplay->document()->documentLayout();
    {
        const QSignalBlocker blocker(layout);
        mDisplay->appendPlainText(text);
    }
    emit layout->documentSizeChanged(layout->documentSize());
}

// A screen reader reads the bar's description: the same words the bar shows.
void TfrmMain::ShowRunProgress(int value, int maximum) {
    FRunProgress->setRange(0, maximum);
    FRunProgress->setValue(value);
    FRunProgress->setAccessibleDescription(FRunProgress->text());
    FRunProgress->show();
}

void TfrmMain::ShowLater(const QString& message, TPromptIcon icon) {
    QMetaObject::invokeMethod(
        this,
        [this, message, icon] {
            ShowPendingEvents();
            TPrompts::Current().ShowIconMessage(this, message, icon);
        },
        Qt::QueuedConnection);
}

// A command's failure (an unknown host, an attachment that cannot be read) is shown at once and
// raised no further: the command was called from a button's signal, which an exception must not
// cross.
void TfrmMain::ReportFailure(const std::exception& error) {
    ShowPendingEvents();
    TPrompts::Current().ShowMessage(this, QString::fromUtf8(error.what()));
}

// One operation at a time: while a run or a retrieval is under way only Abort is offered. What
// the operation reported is shown before its end hides the progress.
void TfrmMain::ShowBusy(bool busy) {
    ShowPendingEvents();
    FHideByteCount = !busy;
    if (!busy)
        FRunProgress->hide();
    spdPost->setEnabled(!busy);
    spbAbort->setEnabled(busy);
    if (QAction* const getGroupList = findChild<QAction*>(QStringLiteral("Getgrouplist1")))
        getGroupList->setEnabled(!busy);
    if (FRunReport)
        FRunReport->SetBusy(busy);
    // A run that stopped without ending (resumable) lets its journal go once it is over, so that
    // a run elsewhere (a cron job) may use it.
    if (!busy && FJournal)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!Busy())
                    FJournal->Release();
            },
            Qt::QueuedConnection);
    emit BusyChanged(busy);
}

TNewsRequest TfrmMain::MakeRequest() const {
    TNewsRequest request;
    request.Host = Utf8(eHost->text());
    request.LogOn = cbLogon->isChecked();
    request.UserID = Utf8(eUserName->text());
    request.Password = Utf8(ePassword->text());
    request.TimeoutSeconds = seTimeout->value();
    PrepareConnection(request);
    return request;
}

void TfrmMain::spdPostClick() {
    if (Busy() || !ChecksAllowRun() || !LogonPasswordReady())
        return;
    StartRun(RunRequest());
}

TNewsRequest TfrmMain::RunRequest() const {
    TNewsRequest request = MakeRequest();
    // The run posts to a copy: the list stays free to edit, and the edits count for the next run.
    request.Groups = trcvToPost->Items().Entries().ToStrings();
    request.Article = ArticleRequest();
    request.Connections = seConnections->value();
    request.Verify = cbVerify->isChecked();
    request.GroupsPerArticle = GroupsPerArticle();
    request.Article.CancelSecret = FCancelSecret;
    AddReplaces(request);
    return request;
}

void TfrmMain::btnPreviewClick() {
    ShowPreview(this, RunRequest());
}

void TfrmMain::ShowPreview(QWidget* owner, const TNewsRequest& request) {
    if (request.Groups.empty()) {
        TPrompts::Current().ShowMessage(
            owner, QStringLiteral("You haven't selected any groups to post to"));
        return;
    }
    TfrmPreview::Open(owner, request, FOperation->Composer());
}

int TfrmMain::GroupsPerArticle() const {
    return cbSendAs->currentIndex() == 1 ? seGroupsPerArticle->value() : 1;
}

void TfrmMain::PostAgain(const std::vector<std::string>& groups) {
    if (Busy() || groups.empty())
        return;
    TNewsRequest request = FLastRun;
    request.Groups = groups;
    // Nothing of this run has gone out yet: every article is composed anew, in a run of its own.
    request.SentBefore.clear();
    request.RunId.clear();
    request.Places.clear();
    request.Resumed = false;
    StartRun(std::move(request));
}

void TfrmMain::LoadCancelSecret(std::unique_ptr<TCancelSecretKeeper> keeper) {
    FCancelSecrets = std::move(keeper);
    FCancelSecretAwaited = true;
    FCancelSecrets->Load([this](const TCancelSecretKeeper::TAnswer& answer) {
        FCancelSecretAwaited = false;
        FCancelSecret = answer.Secret;
        FNoCancelSecret = answer.Reason;
        if (FRunAwaitingSecret) {
            TNewsRequest request = std::move(*FRunAwaitingSecret);
            FRunAwaitingSecret.reset();
            StartRun(std::move(request));
        }
    });
}

void TfrmMain::StartRun(TNewsRequest request) {
    if (FCancelSecretAwaited) {
        FRunAwaitingSecret = std::move(request);
        return;
    }
    // A resumed run and a run started before the secret arrived are given it here; the journal
    // never holds it.
    request.Article.CancelSecret = FCancelSecret;
    if (FCancelSecret.empty() && !FNoCancelSecret.isEmpty())
        AppendToLog(TCancelSecretKeeper::NoLockText(FNoCancelSecret));
    FPendingOperation = TPendingOperation::PostArticles;
    FAborted = false;
    FMessageIDs.clear();
    if (!request.Resumed)
        FEarlier.clear();
    FLastRun = request;
    try {
        FOperation->StartPost(std::move(request));
    } catch (const std::exception& error) {
        ReportFailure(error);
    }
}

void TfrmMain::spbAbortClick() {
    ShowPendingEvents();
    FAborted = true;
    FOperation->Abort();
    RefreshStatusBar();
}

void TfrmMain::Getgrouplist1Click() {
    if (Busy() || !LogonPasswordReady())
        return;
    FHideByteCount = false;
    FPendingOperation = TPendingOperation::ListGroups;
    FListedGroups.Clear();
    FAborted = false;
    try {
        FOperation->StartList(MakeRequest());
    } catch (const std::exception& error) {
        ReportFailure(error);
    }
    RefreshStatusBar();
}

// The request takes the window's fields as they stand; the operation composes the article from
// it, as it does for the wizard and the command line.
TArticleRequest TfrmMain::ArticleRequest() const {
    TArticleRequest request;
    request.Name = Utf8(eName->text());
    request.Address = Utf8(eAddress->text());
    request.Organization = Utf8(eOrganization->text());
    request.Newsreader = Utf8(eNewsreader->text());
    request.Subject = Utf8(eSubject->text());
    request.FollowupTo = Utf8(eFollowupTo->text());
    request.ReplyTo = Utf8(eReplyTo->text());
    for (const QString& line : dcMsgBody->Lines())
        request.BodyLines.push_back(Utf8(line));
    if (!FAttachmentPath.isEmpty())
        request.AttachmentPath = QFile::encodeName(FAttachmentPath).toStdString();
    request.PostingHost = Utf8(eHost->text());
    return request;
}

void TfrmMain::ShowFinished(const TRunSummary& run) {
    const TRunSummary summary = TRunJournal::WithEarlier(FEarlier, run);
    if (ShowCancelFinished(summary))
        return;
    AppendToLog(QStringLiteral("Finished Posting: %1 accepted, %2 refused")
                    .arg(summary.Accepted)
                    .arg(summary.Refused));
    RecordRun(summary);
    ShowRunReport(summary);
    if (summary.Refused == 0) {
        ShowLater(QStringLiteral("Finished Posting"));
        return;
    }
    ShowLater(QStringLiteral("Finished Posting: %1 accepted, %2 refused\n%3")
                  .arg(summary.Accepted)
                  .arg(summary.Refused)
                  .arg(Shown(summary.FirstRefusal)),
              summary.Accepted == 0 ? TPromptIcon::Critical : TPromptIcon::Warning);
}

// A run that ends early shows the groups it has answered, and says what is left of it.
void TfrmMain::ShowFailed(const std::string& message) {
    FListedGroups.Clear();
    QString text = Shown(message, TIpLineFeeds::Kept);
    if (FPendingOperation == TPendingOperation::PostArticles) {
        if (!FOperation->Summary().Outcomes.empty())
            ShowRunReport(FOperation->Summary());
        const std::string path = QFile::encodeName(JournalPath()).toStdString();
        if (const auto left = TRunJournal::FindInterrupted(path))
            text += QStringLiteral("\n%1 of %2 groups are left: Heraldix offers to finish the run "
                                   "when it starts again")
                        .arg(left->Request.Groups.size())
                        .arg(left->Total);
    }
    ShowLater(text);
}

// A refusal (for example a log-on the server wants first) leaves the lists as they were and shows
// the server's reason in the log. A list that came is told in the log by its count: its names
// are in the list, and a million of them as log lines would cost the window more memory and
// time than the list itself.
void TfrmMain::ShowGroupList(std::vector<std::string>& responseList, bool groupList) {
    if (groupList) {
        const size_t leftOut = FListedGroups.LeftOut();
        const size_t names = FListedGroups.Names().size();
        trcvNewsgroups->Items().Assign(FListedGroups.Take());
        emit GroupListArrived();
        FHideByteCount = true;
        RefreshStatusBar();
        AppendToLog(QStringLiteral("Group names received: %1").arg(names));
        if (leftOut > 0)
            AppendToLog(QStringLiteral("Lines left out that hold no group name: %1").arg(leftOut));
    } else {
        FHideByteCount = true;
        RefreshStatusBar();
        if (!responseList.empty())
            AppendToLog(LogBlocks(responseList));
    }
    if (const uint32_t dropped = FOperation->Client().DroppedLines(); dropped > 0)
        AppendToLog(QStringLiteral("Reply lines longer than 1 MiB left out: %1").arg(dropped));
}

TfrmRunReport* TfrmMain::RunReportWindow() {
    if (!FRunReport) {
        FRunReport = new TfrmRunReport(this);
        connect(FRunReport, &TfrmRunReport::PostAgain, this, &TfrmMain::PostAgain);
        connect(FRunReport, &TfrmRunReport::CancelArticles, this, &TfrmMain::CancelArticles);
    }
    return FRunReport;
}

// The report comes up beside the window without blocking it, so it may be shown from inside the
// operation's event. The summary's outcomes carry what verification said of each group.
void TfrmMain::ShowRunReport(const TRunSummary& summary) {
    RunReportWindow();
    FRunReport->SetRun(THistoryRun::Of(FLastRun, summary, QDateTime::currentSecsSinceEpoch()));
    FRunReport->ShowRun(summary.Outcomes, FLastRun.Verify);
    FRunReport->SetBusy(Busy());
    FRunReport->show();
    FRunReport->raise();
}
