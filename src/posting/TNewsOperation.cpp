#include "posting/TNewsOperation.h"

#include "net/TIpTlsLayer.h"

#include <algorithm>
#include <exception>

static constexpr const char* ConnectionClosed = "Connection closed by the news server";

static bool SameLogOn(const TNewsRequest& a, const TNewsRequest& b) {
    return a.Host == b.Host && a.Security == b.Security && a.Tls.CaFile == b.Tls.CaFile &&
           a.LogOn == b.LogOn && a.UserID == b.UserID && a.Password == b.Password;
}

TNewsOperation::TNewsOperation() : FClient(std::make_unique<TIpNntpClient>()) {
    FReplyTimer.setSingleShot(true);
    FCloseTimer.setSingleShot(true);
    QObject::connect(&FReplyTimer, &QTimer::timeout, &FContext, [this] { ReplyTimedOut(); });
    QObject::connect(&FCloseTimer, &QTimer::timeout, &FContext, [this] { EndClosing(); });

    TIpNntpClient& client = *FClient;
    // Progress is reported twice a second. Under Nagle's rule the last piece of an article (and
    // a command after it) could wait for the server's delayed acknowledgement, some 40 ms for
    // every group of a run. A fixed 4 KB send buffer would cap a large attachment at one small
    // window per round trip; the system sizes it instead.
    client.SetTimerInterval(500);
    client.Settings().SocketOptions.Include(TIpSockOptions::soNoDelay);
    client.Settings().SendBufferSize = 0;
    client.OnResponse = [this](TIpCustomNntpClient*, TIpNntpStates responseTo, int32_t code,
                               const std::string& response) {
        OnResponse(responseTo, code, response);
    };
    client.OnMultiLineResponse = [this](TIpCustomNntpClient*, TIpNntpStates responseTo,
                                        std::vector<std::string>& lines) {
        OnMultiLine(responseTo, lines);
    };
    client.OnStateChange = [this](TIpCustomNntpClient*, TIpNntpStates state) {
        const std::string text = TIpCustomNntpClient::StateText(state);
        Emit(FEvents.Status, text);
        Emit(FEvents.Log, text);
    };
    client.OnStatus = [this](TIpSockControl*, int, TIpStatusType event, const TIpConnRec&,
                             const TIpSockStatRec& statistics) { OnStatus(event, statistics); };
    client.OnSocketError = [this](TIpSockControl*, int, int32_t code, const std::string& text) {
        OnSocketError(code, text);
    };
    client.OnTls = [this](TIpSockControl*, int, const TIpTlsPeer& peer) {
        if (peer.Accepted && FEvents.Encrypted)
            FEvents.Encrypted(peer);
    };
}

// The client may still report its connection's end while it is destroyed; by then there is no
// one to tell.
TNewsOperation::~TNewsOperation() {
    FReplyTimer.stop();
    FCloseTimer.stop();
    TIpNntpClient& client = *FClient;
    client.OnResponse = nullptr;
    client.OnMultiLineResponse = nullptr;
    client.OnStateChange = nullptr;
    client.OnStatus = nullptr;
    client.OnSocketError = nullptr;
    client.OnTls = nullptr;
    FClient.reset();
}

bool TNewsOperation::Busy() const {
    switch (FState) {
    case TState::Idle:
    case TState::Closing:
        return false;
    case TState::Connecting:
    case TState::LoggingOn:
    case TState::AwaitPost:
    case TState::AwaitVerdict:
    case TState::Listing:
    case TState::Reconnecting:
        return true;
    }
    return false;
}

void TNewsOperation::StartPost(TNewsRequest request) {
    if (request.Groups.empty())
        return;
    Start(TKind::Run, std::move(request));
}

void TNewsOperation::StartList(TNewsRequest request) {
    request.Groups.clear();
    Start(TKind::Retrieval, std::move(request));
}

void TNewsOperation::Start(TKind kind, TNewsRequest request) {
    if (Busy())
        return;
    const bool reusable = FState == TState::Idle && FClient->Connected() && !FClient->ReplyDue() &&
                          SameLogOn(FConnection, request);
    FKind = kind;
    FRequest = std::move(request);
    FSummary = {};
    FGroupIndex = 0;
    FGreeted201 = false;
    if (reusable) {
        SendFirstCommand();
        return;
    }
    // A connection still closing after Abort, or one made for another server or log-on.
    FCloseTimer.stop();
    SetState(TState::Idle);
    CloseConnection();
    Connect();
}

void TNewsOperation::Abort() {
    if (!Busy()) {
        if (FState == TState::Idle && FClient->Connected())
            QuitAndClose();
        return;
    }
    Emit(FEvents.Log, "Aborted");
    QuitAndClose();
}

void TNewsOperation::SetState(TState state) {
    const bool wasBusy = Busy();
    FState = state;
    if (Busy() && FRequest.TimeoutSeconds > 0)
        FReplyTimer.start(FRequest.TimeoutSeconds * 1000);
    else
        FReplyTimer.stop();
    if (wasBusy != Busy() && FEvents.BusyChanged)
        FEvents.BusyChanged(Busy());
}

void TNewsOperation::Connect() {
    TIpNntpClient& client = *FClient;
    // The client logs on after the greeting when it has a user name.
    client.UserID = FRequest.LogOn ? FRequest.UserID : std::string();
    client.Password = FRequest.LogOn ? FRequest.Password : std::string();
    client.SetSecurity(FRequest.Security);
    client.Settings().Tls = FRequest.Tls;
    FConnection = FRequest;
    FConnection.Groups.clear();
    FConnection.ComposeArticle = nullptr;
    FConnection.Article = {};
    FSentSoFar = 0;
    client.Authenticate(FRequest.Host);
    SetState(TState::Connecting);
}

void TNewsOperation::SendFirstCommand() {
    if (FKind == TKind::Run) {
        PostGroup();
        return;
    }
    try {
        FClient->List();
        SetState(TState::Listing);
    } catch (const std::exception& error) {
        Fail(error.what(), true);
    }
}

void TNewsOperation::PostGroup() {
    try {
        TIpNntpClient& client = *FClient;
        const std::string& group = FRequest.Groups[FGroupIndex];
        if (FEvents.GroupStarted)
            FEvents.GroupStarted(FGroupIndex, FRequest.Groups.size());
        if (FRequest.ComposeArticle)
            FRequest.ComposeArticle(group, client.Article());
        else
            FComposer.Compose(FRequest.Article, group, client.Article());
        FSentAtPost = FSentSoFar;
        client.Post();
        FArticleSize = static_cast<uint64_t>(std::max<int64_t>(client.Article().Size(), 0));
        SetState(TState::AwaitPost);
    } catch (const std::exception& error) {
        Fail(error.what(), false);
    }
}

void TNewsOperation::GroupAnswered(int32_t code, const std::string& response) {
    TGroupOutcome outcome;
    outcome.Group = FRequest.Groups[FGroupIndex];
    outcome.Code = code;
    outcome.Reply = FClient->LastLine();
    outcome.MessageID = FClient->Article().MessageID;
    outcome.ArticleSent = FState == TState::AwaitVerdict;
    outcome.Accepted = outcome.ArticleSent && code == 240;
    if (outcome.Accepted) {
        ++FSummary.Accepted;
    } else {
        ++FSummary.Refused;
        if (FSummary.FirstRefusal.empty())
            FSummary.FirstRefusal = outcome.Reply.empty() ? response : outcome.Reply;
    }
    if (FEvents.GroupDone)
        FEvents.GroupDone(outcome);
    if (++FGroupIndex >= FRequest.Groups.size()) {
        Finish();
        return;
    }
    if (FClient->Connected()) {
        PostGroup();
        return;
    }
    // The answer came as the server closed the connection: the next group gets a new one, once
    // the old socket has been released.
    SetState(TState::Reconnecting);
    QMetaObject::invokeMethod(
        &FContext,
        [this] {
            if (FState != TState::Reconnecting)
                return;
            try {
                Connect();
            } catch (const std::exception& error) {
                Fail(error.what(), false);
            }
        },
        Qt::QueuedConnection);
}

void TNewsOperation::Finish() {
    SetState(TState::Idle);
    if (FEvents.Finished)
        FEvents.Finished(FSummary);
}

void TNewsOperation::Fail(const std::string& message, bool close) {
    SetState(TState::Idle);
    if (close)
        CloseConnection();
    Emit(FEvents.Failed, message);
}

// Closing reads what is still buffered and reports the end; by now the state is no longer busy,
// so none of that moves the operation.
void TNewsOperation::CloseConnection() {
    FCloseTimer.stop();
    try {
        FClient->CloseSocket(FClient->Handle());
    } catch (const std::exception& error) {
        Emit(FEvents.Log, error.what());
    }
}

void TNewsOperation::QuitAndClose() {
    if (!FClient->Connected()) {
        SetState(TState::Idle);
        CloseConnection();
        return;
    }
    SetState(TState::Closing);
    FCloseTimer.start(CloseGraceMs);
    FClient->Quit();
}

void TNewsOperation::EndClosing() {
    if (FState != TState::Closing)
        return;
    SetState(TState::Idle);
    CloseConnection();
}

void TNewsOperation::ReplyTimedOut() {
    if (!Busy())
        return;
    const int seconds = FRequest.TimeoutSeconds;
    const std::string message = "The news server did not answer within " + std::to_string(seconds) +
                                (seconds == 1 ? " second (" : " seconds (") + WaitDescription() +
                                ")";
    Emit(FEvents.Log, message);
    Fail(message, true);
}

std::string TNewsOperation::WaitDescription() const {
    const TIpNntpStates state = FClient->State();
    if (state == TIpNntpStates::nsConnect)
        return FClient->Connected() ? "waiting for the greeting" : "connecting";
    if (state == TIpNntpStates::nsAuthUser)
        return "waiting for the reply to AUTHINFO USER";
    if (state == TIpNntpStates::nsAuthPass)
        return "waiting for the reply to AUTHINFO PASS";
    if (state == TIpNntpStates::nsPrePost)
        return "waiting for the reply to POST";
    if (state == TIpNntpStates::nsPost)
        return "waiting for the reply to the article";
    if (state == TIpNntpStates::nsList)
        return "waiting for the reply to LIST";
    return "waiting for a reply";
}

void TNewsOperation::Emit(const std::function<void(const std::string&)>& event,
                          const std::string& text) {
    if (event)
        event(text);
}

void TNewsOperation::OnResponse(TIpNntpStates responseTo, int32_t code,
                                const std::string& response) {
    Emit(FEvents.Log, response);
    if (Busy() && FRequest.TimeoutSeconds > 0)
        FReplyTimer.start(FRequest.TimeoutSeconds * 1000);
    switch (FState) {
    case TState::Closing:
        // The server has answered QUIT; the connection goes once this line has been handled.
        if (code == 205)
            QMetaObject::invokeMethod(
                &FContext, [this] { EndClosing(); }, Qt::QueuedConnection);
        return;
    case TState::Idle:
    case TState::Reconnecting:
    case TState::Listing:
        return;
    case TState::Connecting:
        if (responseTo != TIpNntpStates::nsConnect)
            return;
        if (code == 201) {
            FGreeted201 = true;
            Emit(FEvents.Notice, "This news server does NOT allow posting!!");
            // Without a log-on nothing more is asked of this server; a log-on may still open
            // it to the command.
            if (!FRequest.LogOn) {
                QuitAndClose();
                return;
            }
        }
        if (FRequest.LogOn && !FRequest.UserID.empty())
            SetState(TState::LoggingOn);
        else
            SendFirstCommand();
        return;
    case TState::LoggingOn:
        // 281 to AUTHINFO USER: the server needs no password.
        if (responseTo != TIpNntpStates::nsAuthPass &&
            !(responseTo == TIpNntpStates::nsAuthUser && code == 281))
            return;
        // The connection is not closed in place: this reply is still being delivered from it.
        if (FRequest.EndOnRefusedLogOn && code != 281) {
            const std::string message =
                "The news server refused the log-on: " + FClient->LastLine();
            QuitAndClose();
            Emit(FEvents.Failed, message);
            return;
        }
        // After a 201 greeting only an accepted log-on can open the server to posting; the
        // group list may be read either way.
        if (FKind == TKind::Run && FGreeted201 && code != 281) {
            QuitAndClose();
            return;
        }
        SendFirstCommand();
        return;
    case TState::AwaitPost:
        if (responseTo != TIpNntpStates::nsPrePost)
            return;
        // After 340 the client sends the article itself.
        if (code == 340)
            SetState(TState::AwaitVerdict);
        else
            GroupAnswered(code, response);
        return;
    case TState::AwaitVerdict:
        if (responseTo == TIpNntpStates::nsPost)
            GroupAnswered(code, response);
        return;
    }
}

void TNewsOperation::OnMultiLine(TIpNntpStates responseTo, std::vector<std::string>& lines) {
    const bool forUs = FState == TState::Listing && responseTo == TIpNntpStates::nsList;
    const bool refused = !lines.empty() && !lines.front().empty() &&
                         (lines.front()[0] == '4' || lines.front()[0] == '5');
    if (FEvents.MultiLine)
        FEvents.MultiLine(lines, forUs && !refused && !lines.empty());
    if (forUs)
        SetState(TState::Idle);
}

void TNewsOperation::OnStatus(TIpStatusType event, const TIpSockStatRec& statistics) {
    switch (event) {
    case TIpStatusType::stProgress:
        if (!Busy())
            return;
        if (FRequest.TimeoutSeconds > 0)
            FReplyTimer.start(FRequest.TimeoutSeconds * 1000);
        if (FEvents.Progress)
            FEvents.Progress(statistics.DataReceived2);
        FSentSoFar = statistics.DataSent2;
        if (FEvents.ArticleProgress &&
            (FState == TState::AwaitPost || FState == TState::AwaitVerdict))
            FEvents.ArticleProgress(std::min(FSentSoFar - FSentAtPost, FArticleSize), FArticleSize);
        return;
    case TIpStatusType::stDisconnect:
        if (FState == TState::Closing) {
            SetState(TState::Idle);
            FCloseTimer.stop();
            return;
        }
        // A connection that ends while the server still owes an answer would leave the
        // operation waiting for ever.
        if (!Busy() || FState == TState::Reconnecting)
            return;
        Emit(FEvents.Log, ConnectionClosed);
        Emit(FEvents.Status, ConnectionClosed);
        Fail(ConnectionClosed, false);
        return;
    case TIpStatusType::stConnect:
        if (Busy() && FRequest.LogOn && FRequest.Security == TIpNntpSecurity::nySecNone)
            Emit(FEvents.Log, "Warning: the connection is not encrypted; the password goes to the "
                              "news server in clear text");
        return;
    }
}

void TNewsOperation::OnSocketError(int32_t code, const std::string& text) {
    Emit(FEvents.Log, text);
    Emit(FEvents.Status, text);
    if (!Busy())
        return;
    if (code == TIpTlsCode::CertificateRefused) {
        // The question about the certificate replaces the error box.
        const bool nothingPosted =
            FKind == TKind::Retrieval || FSummary.Accepted + FSummary.Refused == 0;
        SetState(TState::Idle);
        if (FEvents.CertificateRefused)
            FEvents.CertificateRefused(FClient->TlsPeer(), nothingPosted);
        return;
    }
    Fail(text, false);
}
