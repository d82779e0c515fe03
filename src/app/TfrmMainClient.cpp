// The main window's side of the NNTP client: the posting run, the group-list retrieval and the
// client's event handlers.
//
// A posting run goes through trcvToPost one group at a time, one article per group, and every
// step waits for the server. POST for the next group goes out when the server has answered the
// previous article (or refused the previous POST); the step after the greeting or the log-on
// sends the first POST (or LIST). The run ends after the server's answer for the last group, on
// Abort, on a connection failure, or when a 201 greeting leaves nothing to do.
//
// Message boxes raised by client events are shown once the event has been handled: a modal box
// runs its own event loop, which must not deliver more of the connection's data while the client
// is still inside its line handling.

#include "app/TfrmMain.h"

#include "selection/TBodyEditor.h"
#include "selection/TPrompts.h"
#include "selection/trcvListbox.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>

#include <iterator>

static std::string Utf8(const QString& text) {
    return text.toStdString();
}

static bool IsAscii(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A first reply line that begins with 4 or 5 is the server's refusal, not a list.
static bool IsRefusal(const std::vector<std::string>& lines) {
    return !lines.empty() && !lines.front().empty() &&
           (lines.front()[0] == '4' || lines.front()[0] == '5');
}

// Lines per block of the status log when a multi-line reply is appended.
static constexpr size_t LogLinesPerBlock = 64;

// The lines from `first` on as one text for the status log, in blocks of LogLinesPerBlock lines.
// The log's document pays for every block it holds (100,000 one-line blocks take a quarter of a
// second to insert) and little for the text inside them. Within a block the lines are divided
// by line separators, which the log shows as line breaks and gives back as line feeds, so the
// log reads and copies exactly as with one block per line.
static QString LogBlocks(const std::vector<std::string>& lines, size_t first) {
    static const char LineSeparator[] = "\xE2\x80\xA8"; // U+2028 in UTF-8
    size_t bytes = 0;
    for (size_t i = first; i < lines.size(); ++i)
        bytes += lines[i].size() + sizeof LineSeparator;
    std::string text;
    text.reserve(bytes);
    for (size_t i = first; i < lines.size(); ++i) {
        if (i > first)
            text += (i - first) % LogLinesPerBlock == 0 ? "\n" : LineSeparator;
        text += lines[i];
    }
    return QString::fromStdString(text);
}

void TfrmMain::CreateClient() {
    FIpNntpClient1 = std::make_unique<TIpNntpClient>();
    TIpNntpClient& client = *FIpNntpClient1;

    TIpDebugLog& debugLog = client.DebugLog();
    debugLog.SetEnabled(false);
    debugLog.SetFileName("debug.log");
    debugLog.SetBufferSize(65536);
    debugLog.SetWriteMode(TIpWriteMode::wmOverwrite);
    TIpEventLog& eventLog = client.EventLog();
    eventLog.SetEnabled(false);
    eventLog.SetFileName("event.log");
    eventLog.SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
    client.SetTimerInterval(500);
    // Under Nagle's rule the last piece of an article (and a command after it) could wait for
    // the server's delayed acknowledgement, some 40 ms for every group of a run. A fixed 4 KB
    // send buffer would cap a large attachment at one small window per round trip; the system
    // sizes it instead.
    client.Settings().SocketOptions.Include(TIpSockOptions::soNoDelay);
    client.Settings().SendBufferSize = 0;

    client.OnResponse = [this](TIpCustomNntpClient*, TIpNntpStates responseTo, int32_t code,
                               const std::string& response) {
        IpNntpClient1Response(responseTo, code, response);
    };
    client.OnMultiLineResponse = [this](TIpCustomNntpClient*, TIpNntpStates responseTo,
                                        std::vector<std::string>& responseList) {
        IpNntpClient1MultiLineResponse(responseTo, responseList);
    };
    client.OnStateChange = [this](TIpCustomNntpClient*, TIpNntpStates newState) {
        IpNntpClient1StateChange(newState);
    };
    client.OnTaskComplete = [this](TIpCustomNntpClient*, TIpNntpTasks, std::vector<std::string>&) {
        IpNntpClient1TaskComplete();
    };
    client.OnStatus = [this](TIpSockControl*, int, TIpStatusType event, const TIpConnRec&,
                             const TIpSockStatRec& statRec) {
        IpNntpClient1Status(event, statRec);
    };
    client.OnSocketError = [this](TIpSockControl*, int, int32_t, const std::string& errorText) {
        IpNntpClient1SocketError(errorText);
    };
}

// The client goes with the window and may still report its connection's end while it is
// destroyed; by then there is no window to tell.
void TfrmMain::DetachClient() {
    TIpNntpClient& client = *FIpNntpClient1;
    client.OnResponse = nullptr;
    client.OnMultiLineResponse = nullptr;
    client.OnStateChange = nullptr;
    client.OnTaskComplete = nullptr;
    client.OnStatus = nullptr;
    client.OnSocketError = nullptr;
    FIpNntpClient1.reset();
}

// The log's page is seldom shown, and a line appended to a hidden log need not be laid out: its
// layout would have the new block shaped at once only to tell the widget which part to repaint.
// With that notification held back the log still learns its new size, and it lays out what it
// shows once it is shown.
void TfrmMain::AppendToLog(const QString& line) {
    if (mDisplay->isVisible()) {
        mDisplay->appendPlainText(line);
        return;
    }
    QAbstractTextDocumentLayout* layout = mDisplay->document()->documentLayout();
    {
        const QSignalBlocker blocker(layout);
        mDisplay->appendPlainText(line);
    }
    emit layout->documentSizeChanged(layout->documentSize());
}

void TfrmMain::ShowLater(const QString& message) {
    QMetaObject::invokeMethod(
        this, [this, message] { TPrompts::Current().ShowMessage(this, message); },
        Qt::QueuedConnection);
}

// A command's failure (an unknown host, an attachment that cannot be read) is shown at once and
// raised no further: the command was called from a button's signal, which an exception must not
// cross.
void TfrmMain::ReportFailure(const std::exception& error) {
    TPrompts::Current().ShowMessage(this, QString::fromUtf8(error.what()));
}

void TfrmMain::EndOperations(const QString& message) {
    FPosting = false;
    FListingGroups = false;
    FRestartPending = false;
    ShowLater(message);
}

void TfrmMain::spdPostClick() {
    if (trcvToPost->Count() == 0) {
        TPrompts::Current().ShowMessage(
            this, QStringLiteral("You haven't selected any groups to post to"));
        return;
    }
    if (!LogonPasswordReady())
        return;
    if (FPosting) {
        // A POST or an article is on its way: the run starts over at the first group once the
        // server has answered it, since POST must not overtake a reply still to come.
        FPostIndex = 0;
        FPostsAccepted = 0;
        FPostsRefused = 0;
        FAborted = false;
        FRestartPending = true;
        return;
    }
    FPostIndex = 0;
    FPostsAccepted = 0;
    FPostsRefused = 0;
    FRestartPending = false;
    FQuitPending = false;
    try {
        FillArticle();
    } catch (const std::exception& error) {
        ReportFailure(error);
        return;
    }
    TIpNntpClient& client = *FIpNntpClient1;
    client.UserID = Utf8(eUserName->text());
    client.Password = Utf8(ePassword->text());
    FAborted = false;
    FPosting = true;
    try {
        if (client.Connected())
            client.Post();
        else
            client.PostTo(Utf8(eHost->text()), trcvToPost->Items()[0]);
    } catch (const std::exception& error) {
        FPosting = false;
        ReportFailure(error);
    }
}

void TfrmMain::spbAbortClick() {
    FAborted = true;
    FPosting = false;
    FListingGroups = false;
    FRestartPending = false;
    TIpNntpClient& client = *FIpNntpClient1;
    // After POST the server may be about to ask for the article; a QUIT sent now would be read
    // as the article's first line. It goes once the server has answered POST (and the article,
    // if it asked for it).
    if (client.Connected() && client.State() == TIpNntpStates::nsPrePost)
        FQuitPending = true;
    else
        client.Quit();
    RefreshStatusBar();
}

void TfrmMain::Getgrouplist1Click() {
    if (!LogonPasswordReady())
        return;
    FHideByteCount = false;
    FPendingOperation = TPendingOperation::ListGroups;
    FAborted = false;
    TIpNntpClient& client = *FIpNntpClient1;
    client.UserID = Utf8(eUserName->text());
    client.Password = Utf8(ePassword->text());
    FListingGroups = true;
    try {
        if (client.Connected())
            client.List();
        else if (cbLogon->isChecked())
            client.Authenticate(Utf8(eHost->text()));
        else
            client.Connect(Utf8(eHost->text()));
    } catch (const std::exception& error) {
        FListingGroups = false;
        ReportFailure(error);
    }
    RefreshStatusBar();
}

void TfrmMain::FillArticle() {
    FPendingOperation = TPendingOperation::PostArticles;
    TIpNewsArticle& article = FIpNntpClient1->Article();
    article.NewMessage();
    article.PostingHost = Utf8(eHost->text());
    article.From = Utf8(eAddress->text());
    article.Sender = article.From;
    article.Subject = Utf8(eSubject->text());
    const std::string group = trcvToPost->Items()[FPostIndex];
    article.Newsgroups = {group};
    article.Path = {group};

    TIpMimeEntity* text = article.PlainTextPart(true);
    std::vector<std::string> lines;
    bool ascii = true;
    for (const QString& line : dcMsgBody->Lines()) {
        lines.push_back(Utf8(line));
        ascii = ascii && IsAscii(lines.back());
    }
    // The editor's text goes out as UTF-8; a part with other than ASCII says so, or a reader
    // would guess the characters.
    if (!ascii) {
        text->CharSet = "utf-8";
        text->ContentTransferEncoding = TIpMimeEncodingMethod::em8Bit;
    }
    if (!FAttachmentPath.isEmpty()) {
        text->LoadFromStrings(lines, std::string());
        AddAttachmentPart();
    } else {
        for (const std::string& line : lines)
            text->Body.WriteLine(line);
    }
    ++FPostIndex;
}

void TfrmMain::AddAttachmentPart() {
    TIpMimeEntity* part = FIpNntpClient1->Article().AddChild();
    part->ContentName = Utf8(QFileInfo(FAttachmentPath).fileName());
    part->DispositionType = "Attachment";
    part->LoadFromFile(QFile::encodeName(FAttachmentPath).toStdString());
}

// The step that follows a new connection's greeting (or the log-on): what the user asked for.
void TfrmMain::SendWhenReady() {
    switch (FPendingOperation) {
    case TPendingOperation::ListGroups:
        if (FListingGroups)
            FIpNntpClient1->List();
        break;
    case TPendingOperation::PostArticles:
        if (FPosting)
            StartPost();
        break;
    }
}

void TfrmMain::StartPost() {
    if (FRestartPending) {
        FRestartPending = false;
        FillArticle();
    }
    FIpNntpClient1->Post();
}

// Called with the server's answer for the group just posted (its verdict on the article, or its
// refusal of POST).
void TfrmMain::NextGroupOrFinish() {
    if (FPostIndex >= trcvToPost->Count()) {
        FPosting = false;
        AppendToLog(QStringLiteral("Finished Posting: %1 accepted, %2 refused")
                        .arg(FPostsAccepted)
                        .arg(FPostsRefused));
        ShowLater(QStringLiteral("Finished Posting"));
        return;
    }
    const auto next = [this] {
        FReconnectPending = false;
        if (!FPosting)
            return;
        try {
            FillArticle();
            TIpNntpClient& client = *FIpNntpClient1;
            if (client.Connected())
                client.Post();
            else
                client.PostTo(Utf8(eHost->text()), trcvToPost->Items()[FPostIndex - 1]);
        } catch (const std::exception& error) {
            EndOperations(QString::fromUtf8(error.what()));
        }
    };
    // The answer can arrive while the server is closing the connection; a new connection is
    // opened only once the old one has been released.
    if (FIpNntpClient1->Connected()) {
        next();
    } else {
        FReconnectPending = true;
        QMetaObject::invokeMethod(this, next, Qt::QueuedConnection);
    }
}

void TfrmMain::IpNntpClient1Response(TIpNntpStates responseTo, int32_t code,
                                     const std::string& response) {
    AppendToLog(QString::fromStdString(response));
    TIpNntpClient& client = *FIpNntpClient1;
    if (FQuitPending && (responseTo == TIpNntpStates::nsPost ||
                         (responseTo == TIpNntpStates::nsPrePost && code != 340))) {
        FQuitPending = false;
        client.Quit();
        return;
    }
    if (FAborted)
        return;
    if (responseTo == TIpNntpStates::nsConnect) {
        FHideByteCount = true;
        if (code == 201) {
            ShowLater(QStringLiteral("This news server does NOT allow posting!!"));
            // Without a log-on nothing more is sent on this connection; a log-on may still
            // open the server to the command.
            if (!cbLogon->isChecked()) {
                FPosting = false;
                FListingGroups = false;
            }
            return;
        }
        FHideByteCount = false;
        if (!cbLogon->isChecked())
            SendWhenReady();
    } else if (responseTo == TIpNntpStates::nsAuthPass) {
        if (cbLogon->isChecked())
            SendWhenReady();
    } else if (FPosting && (responseTo == TIpNntpStates::nsPost ||
                            (responseTo == TIpNntpStates::nsPrePost && code != 340))) {
        // The answer to an article posted before Post was pressed again belongs to no run.
        if (FRestartPending)
            FRestartPending = false;
        else if (responseTo == TIpNntpStates::nsPost && code == 240)
            ++FPostsAccepted;
        else
            ++FPostsRefused;
        NextGroupOrFinish();
    }
}

void TfrmMain::IpNntpClient1MultiLineResponse(TIpNntpStates responseTo,
                                              std::vector<std::string>& responseList) {
    size_t first = 0;
    QString logText;
    if (responseTo == TIpNntpStates::nsList) {
        // A refusal (for example a log-on the server wants first) leaves the lists as they were
        // and shows the server's reason.
        if (!FAborted && !IsRefusal(responseList) && !responseList.empty()) {
            first = 1;
            for (size_t i = first; i < responseList.size(); ++i) {
                std::string& line = responseList[i];
                const size_t space = line.find(' ');
                if (space != std::string::npos)
                    line.resize(space);
                else
                    line.clear();
            }
            // The log shows the names too. It takes its text first, so that the list can then
            // take the names themselves rather than copies of them.
            logText = LogBlocks(responseList, first);
            trcvNewsgroups->Items().Assign(
                std::vector<std::string>(std::make_move_iterator(responseList.begin() + 1),
                                         std::make_move_iterator(responseList.end())));
            emit GroupListArrived();
        }
        FListingGroups = false;
    }
    FHideByteCount = true;
    RefreshStatusBar();

    if (first == 0)
        logText = LogBlocks(responseList, 0);
    if (first < responseList.size())
        AppendToLog(logText);
}

void TfrmMain::IpNntpClient1StateChange(TIpNntpStates newState) {
    const QString text = QString::fromStdString(TIpCustomNntpClient::StateText(newState));
    SetStatusText(text);
    AppendToLog(text);
}

void TfrmMain::IpNntpClient1Status(TIpStatusType event, const TIpSockStatRec& statRec) {
    switch (event) {
    case TIpStatusType::stProgress:
        if (!FHideByteCount)
            SetStatusText(QStringLiteral("Bytes received: %1").arg(statRec.DataReceived2));
        break;
    case TIpStatusType::stDisconnect:
        // A connection that ends while the server still owes an answer would leave the run
        // waiting for ever.
        if ((FPosting && !FReconnectPending) || FListingGroups) {
            const QString text = QStringLiteral("Connection closed by the news server");
            AppendToLog(text);
            SetStatusText(text);
            EndOperations(text);
        }
        break;
    case TIpStatusType::stConnect:
        break;
    }
}

void TfrmMain::IpNntpClient1TaskComplete() {}

void TfrmMain::IpNntpClient1SocketError(const std::string& errorText) {
    const QString text = QString::fromStdString(errorText);
    AppendToLog(text);
    SetStatusText(text);
    if (FPosting || FListingGroups)
        EndOperations(text);
}
