#include "posting/TNewsConnection.h"

#include "net/EIpWinSockError.h"
#include "posting/TNewsOperation.h"

#include <algorithm>

static constexpr const char* ConnectionClosed = "Connection closed by the news server";

TNewsConnection::TNewsConnection(TNewsConnectionOwner& owner, int number)
    : FOwner(owner), FNumber(number), FClient(std::make_unique<TIpNntpClient>()),
      FMade(std::make_unique<TNewsRequest>()) {
    FReplyTimer.setSingleShot(true);
    FCloseTimer.setSingleShot(true);
    FReopenTimer.setSingleShot(true);
    QObject::connect(&FReplyTimer, &QTimer::timeout, &FContext, [this] { ReplyTimedOut(); });
    QObject::connect(&FCloseTimer, &QTimer::timeout, &FContext, [this] { EndClosing(); });
    QObject::connect(&FReopenTimer, &QTimer::timeout, &FContext, [this] {
        if (FState != TState::Waiting)
            return;
        try {
            Connect();
        } catch (const std::exception& error) {
            Lose(error.what(), 0);
        }
    });

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
    client.OnListLine = [this](TIpCustomNntpClient*, std::string_view line) {
        return FState == TState::Listing && FOwner.ConnectionListLine(*this, line);
    };
    client.OnStateChange = [this](TIpCustomNntpClient*, TIpNntpStates state) {
        const std::string text = TIpCustomNntpClient::StateText(state);
        FOwner.ConnectionStatus(*this, text);
        FOwner.ConnectionLine(*this, text);
    };
    client.OnStatus = [this](TIpSockControl*, int, TIpStatusType event, const TIpConnRec&,
                             const TIpSockStatRec& statistics) { OnStatus(event, statistics); };
    client.OnSocketError = [this](TIpSockControl*, int, int32_t code, const std::string& text) {
        OnSocketError(code, text);
    };
    client.OnTls = [this](TIpSockControl*, int, const TIpTlsPeer& peer) {
        if (peer.Accepted)
            FOwner.ConnectionEncrypted(*this, peer);
    };
}

// The client may still report its connection's end while it is destroyed; by then there is no
// one to tell.
TNewsConnection::~TNewsConnection() {
    FReplyTimer.stop();
    FCloseTimer.stop();
    FReopenTimer.stop();
    TIpNntpClient& client = *FClient;
    client.OnResponse = nullptr;
    client.OnMultiLineResponse = nullptr;
    client.OnListLine = nullptr;
    client.OnStateChange = nullptr;
    client.OnStatus = nullptr;
    client.OnSocketError = nullptr;
    client.OnTls = nullptr;
    FClient.reset();
}

bool TNewsConnection::Alive() const {
    return FState != TState::Closed && FState != TState::Closing;
}

bool TNewsConnection::OwesReply(TState state) {
    switch (state) {
    case TState::Connecting:
    case TState::LoggingOn:
    case TState::AwaitPost:
    case TState::AwaitVerdict:
    case TState::AwaitStat:
    case TState::Listing:
        return true;
    case TState::Closed:
    case TState::Waiting:
    case TState::Ready:
    case TState::Closing:
        return false;
    }
    return false;
}

void TNewsConnection::SetState(TState state) {
    FState = state;
    if (OwesReply(state))
        RestartReplyTimer();
    else
        FReplyTimer.stop();
    if (state != TState::Waiting)
        FReopenTimer.stop();
    if (state != TState::Closing)
        FCloseTimer.stop();
}

void TNewsConnection::RestartReplyTimer() {
    if (FMade->TimeoutSeconds > 0)
        FReplyTimer.start(FMade->TimeoutSeconds * 1000);
}

// Only what the connection is made with: a run's groups and message may be large, and every
// connection of the run would otherwise keep a copy of them.
void TNewsConnection::Remember(const TNewsRequest& request) {
    TNewsRequest& made = *FMade;
    made.Host = request.Host;
    made.LogOn = request.LogOn;
    made.UserID = request.UserID;
    made.Password = request.Password;
    made.Security = request.Security;
    made.Tls = request.Tls;
    made.TimeoutSeconds = request.TimeoutSeconds;
}

void TNewsConnection::Open(const TNewsRequest& request) {
    Remember(request);
    FReceivedBefore = 0;
    FReceived = 0;
    Connect();
}

void TNewsConnection::Reopen(const TNewsRequest& request, int delayMs) {
    Remember(request);
    Close();
    SetState(TState::Waiting);
    FReopenTimer.start(std::max(delayMs, 0));
}

// Called from the operation's start or a timer, never from the socket's own notifications, so
// the socket left from before may be released here.
void TNewsConnection::Connect() {
    TIpNntpClient& client = *FClient;
    if (client.Handle() != -1) {
        SetState(TState::Closed);
        client.CloseSocket(client.Handle());
    }
    // The client logs on after the greeting when it has a user name.
    client.UserID = FMade->LogOn ? FMade->UserID : std::string();
    client.Password = FMade->LogOn ? FMade->Password : std::string();
    client.SetSecurity(FMade->Security);
    client.Settings().Tls = FMade->Tls;
    client.Settings().ConnectTimeout = static_cast<uint32_t>(FMade->TimeoutSeconds) * 1000;
    FReceivedBefore += FReceived;
    FReceived = 0;
    FSent = 0;
    FWasUp = false;
    SetState(TState::Connecting);
    client.Authenticate(FMade->Host);
}

void TNewsConnection::Post() {
    Send(TState::AwaitPost, [this] { FClient->Post(); });
}

void TNewsConnection::Stat(const std::string& messageId) {
    Send(TState::AwaitStat, [this, &messageId] { FClient->Stat(messageId); });
}

// A command that cannot go out (the connection is already gone, or was reset under the send)
// loses this connection, not the run; what else the command raises (an article that cannot be
// composed) is the caller's. The owner hears of the loss once the step that sent the command is
// over, as it hears of any other.
void TNewsConnection::Send(TState awaiting, const std::function<void()>& command) {
    if (!FClient->Connected()) {
        SetState(awaiting);
        LoseLater(ConnectionClosed, 0);
        return;
    }
    try {
        command();
    } catch (const EIpWinSockError& error) {
        SetState(awaiting);
        LoseLater(error.what(), error.ErrorCode());
        return;
    }
    SetState(awaiting);
}

void TNewsConnection::LoseLater(const std::string& message, int32_t code) {
    const TState state = FState;
    const int handle = FClient->Handle();
    QMetaObject::invokeMethod(
        &FContext,
        [this, state, handle, message, code] {
            if (FState != state || FClient->Handle() != handle)
                return;
            FOwner.ConnectionEvent(*this, message);
            Lose(message, code);
        },
        Qt::QueuedConnection);
}

void TNewsConnection::List() {
    FClient->List();
    SetState(TState::Listing);
}

void TNewsConnection::Quit() {
    if (!FClient->Connected()) {
        Close();
        return;
    }
    SetState(TState::Closing);
    FCloseTimer.start(CloseGraceMs);
    // A connection the server has reset may refuse even QUIT; it is closed all the same.
    try {
        FClient->Quit();
    } catch (const std::exception&) {
        Close();
    }
}

// The socket may be the one whose notification is being handled, so it is released once that
// is over; till then the state is Closed, and what it still reports moves nothing.
void TNewsConnection::Close() {
    SetState(TState::Closed);
    const int handle = FClient->Handle();
    if (handle == -1)
        return;
    QMetaObject::invokeMethod(
        &FContext,
        [this, handle] {
            if (FClient->Handle() != handle ||
                (FState != TState::Closed && FState != TState::Waiting))
                return;
            try {
                FClient->CloseSocket(handle);
            } catch (const std::exception& error) {
                FOwner.ConnectionEvent(*this, error.what());
            }
        },
        Qt::QueuedConnection);
}

void TNewsConnection::ResetCounts() {
    FReceivedBefore = 0;
}

void TNewsConnection::Up() {
    FWasUp = true;
    SetState(TState::Ready);
    FOwner.ConnectionUp(*this);
}

void TNewsConnection::Lose(const std::string& message, int32_t code) {
    Close();
    FOwner.ConnectionLost(*this, message, code);
}

void TNewsConnection::EndClosing() {
    if (FState != TState::Closing)
        return;
    Close();
    FOwner.ConnectionClosed(*this);
}

void TNewsConnection::ReplyTimedOut() {
    const int seconds = FMade->TimeoutSeconds;
    const std::string message = "The news server did not answer within " + std::to_string(seconds) +
                                (seconds == 1 ? " second (" : " seconds (") + WaitDescription() +
                                ")";
    FOwner.ConnectionEvent(*this, message);
    Lose(message, 0);
}

std::string TNewsConnection::WaitDescription() const {
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
    if (state == TIpNntpStates::nsStat)
        return "waiting for the reply to STAT";
    if (state == TIpNntpStates::nsList)
        return "waiting for the reply to LIST";
    return "waiting for a reply";
}

void TNewsConnection::OnResponse(TIpNntpStates responseTo, int32_t code,
                                 const std::string& response) {
    FOwner.ConnectionLine(*this, response);
    switch (FState) {
    case TState::Closing:
        // The server has answered QUIT; the connection goes once this line has been handled.
        if (code == 205)
            QMetaObject::invokeMethod(
                &FContext, [this] { EndClosing(); }, Qt::QueuedConnection);
        return;
    case TState::Closed:
    case TState::Waiting:
    case TState::Ready:
    case TState::Listing:
        return;
    case TState::Connecting:
        if (responseTo != TIpNntpStates::nsConnect)
            return;
        if (code != 200 && code != 201) {
            Lose("The news server refused the connection: " + FClient->LastLine(), 0);
            return;
        }
        FOwner.ConnectionGreeted(*this, code);
        if (FState != TState::Connecting)
            return;
        if (FMade->LogOn && !FMade->UserID.empty())
            SetState(TState::LoggingOn);
        else
            Up();
        return;
    case TState::LoggingOn:
        // 281 to AUTHINFO USER: the server needs no password.
        if (responseTo != TIpNntpStates::nsAuthPass &&
            !(responseTo == TIpNntpStates::nsAuthUser && code == 281))
            return;
        FOwner.ConnectionLoggedOn(*this, code);
        if (FState == TState::LoggingOn)
            Up();
        return;
    case TState::AwaitPost:
    case TState::AwaitVerdict:
    case TState::AwaitStat: {
        const TIpNntpStates expected = FState == TState::AwaitPost      ? TIpNntpStates::nsPrePost
                                       : FState == TState::AwaitVerdict ? TIpNntpStates::nsPost
                                                                        : TIpNntpStates::nsStat;
        if (responseTo != expected)
            return;
        RestartReplyTimer();
        if (code == 400) {
            // The server is going away (RFC 3977); the connection is reopened later.
            Lose(FClient->LastLine(), 0);
            return;
        }
        // After 340 the client sends the article itself.
        if (FState == TState::AwaitPost && code == 340) {
            SetState(TState::AwaitVerdict);
            FOwner.ConnectionArticleGoing(*this);
            return;
        }
        SetState(TState::Ready);
        FOwner.ConnectionAnswered(*this, responseTo, code, FClient->LastLine());
        return;
    }
    }
}

void TNewsConnection::OnMultiLine(TIpNntpStates responseTo, std::vector<std::string>& lines) {
    const bool forUs = FState == TState::Listing && responseTo == TIpNntpStates::nsList;
    if (forUs)
        SetState(TState::Ready);
    FOwner.ConnectionListed(*this, lines, forUs);
}

void TNewsConnection::OnStatus(TIpStatusType event, const TIpSockStatRec& statistics) {
    switch (event) {
    case TIpStatusType::stProgress:
        FReceived = statistics.DataReceived2;
        FSent = statistics.DataSent2;
        if (FReplyTimer.isActive())
            RestartReplyTimer();
        FOwner.ConnectionProgress(*this);
        return;
    case TIpStatusType::stDisconnect:
        if (FState == TState::Closing) {
            Close();
            FOwner.ConnectionClosed(*this);
        } else if (OwesReply(FState)) {
            // A connection that ends while the server still owes an answer would leave the
            // operation waiting for ever.
            FOwner.ConnectionEvent(*this, ConnectionClosed);
            FOwner.ConnectionStatus(*this, ConnectionClosed);
            Lose(ConnectionClosed, 0);
        } else if (FState == TState::Ready) {
            Lose(ConnectionClosed, 0);
        }
        return;
    case TIpStatusType::stConnect:
        if (FMade->LogOn && FMade->Security == TIpNntpSecurity::nySecNone)
            FOwner.ConnectionEvent(*this, "Warning: the connection is not encrypted; the password "
                                          "goes to the news server in clear text");
        return;
    }
}

void TNewsConnection::OnSocketError(int32_t code, const std::string& text) {
    FOwner.ConnectionEvent(*this, text);
    FOwner.ConnectionStatus(*this, text);
    if (!Alive() || FState == TState::Waiting)
        return;
    Lose(text, code);
}
