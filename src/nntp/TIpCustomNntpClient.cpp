#include "nntp/TIpCustomNntpClient.h"

#include "net/EIpWinSockError.h"
#include "nntp/EIpNntpException.h"

#include <algorithm>
#include <array>
#include <cctype>

struct TIpNntpNames {
    const char* Text;
    const char* Name;
};

static const std::array<TIpNntpNames, 31> StateNames{{
    {"No operation", "nsNoOp"},
    {"Connecting", "nsConnect"},
    {"Getting new news groups", "nsNewGroups"},
    {"Getting new articles", "nsNewNews"},
    {"Retrieving article", "nsArticle"},
    {"Retrieving status", "nsStat"},
    {"Retrieving body", "nsBody"},
    {"Retrieving heading", "nsHead"},
    {"Selecting group", "nsGroup"},
    {"Retrieving list", "nsList"},
    {"Selecting previous article", "nsLast"},
    {"Selecting next article", "nsNext"},
    {"Preparing to post article", "nsPrePost"},
    {"Posting article", "nsPost"},
    {"Disconnecting", "nsQuit"},
    {"Retrieving help", "nsHelp"},
    {"Sending special command", "nsSpecial"},
    {"Authorizing user", "nsAuthUser"},
    {"Authorizing password", "nsAuthPass"},
    {"Retrieving list of extended commands", "nsListExt"},
    {"Retrieving active times", "nsListActiveTimes"},
    {"Retrieving list of distributions", "nsListDistributions"},
    {"Retrieving distribution patterns", "nsListDistribPats"},
    {"Retrieving list of available news groups", "nsListNewsGroups"},
    {"Retrieving overview format", "nsListOverviewFmt"},
    {"Retrieving article numbers", "nsListGroup"},
    {"Retrieving overview", "nsOver"},
    {"Retrieving patterns", "nsPat"},
    {"Retrieving server date", "nsDate"},
    {"Retrieving capabilities", "nsCapabilities"},
    {"Starting encryption", "nsStartTls"},
}};

static const char NoStartTlsText[] = "This news server does not offer encryption (STARTTLS)";
static const char DataBeforeEncryptionText[] =
    "The news server sent data it should not have before encryption began";
static const char EncryptionRequiredText[] =
    "This news server accepts the log-on only over an encrypted connection. Choose TLS or "
    "STARTTLS as the connection security and try again.";

// True when a CAPABILITIES reply lists the STARTTLS capability.
static bool ListsStartTls(const std::vector<std::string>& lines) {
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string word = line.substr(0, line.find(' '));
        if (word.size() == 8 &&
            std::equal(word.begin(), word.end(), "STARTTLS", [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == b;
            }))
            return true;
    }
    return false;
}

static const std::array<TIpNntpNames, 5> TaskNames{{
    {"No task", "ntNoTask"},
    {"Authenticating", "ntAuthenticate"},
    {"Selecting Group", "ntSelectGroup"},
    {"Retrieving new news", "ntNewNews"},
    {"Posting article", "ntPostTo"},
}};

// The reply code: the first three characters as a decimal number, 0 when they are not one.
static int32_t ReplyCode(std::string_view line) {
    const size_t length = line.size() < 3 ? line.size() : 3;
    size_t i = 0;
    bool negative = false;
    if (i < length && (line[i] == '+' || line[i] == '-')) {
        negative = line[i] == '-';
        ++i;
    }
    if (i == length)
        return 0;
    int32_t code = 0;
    for (; i < length; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        code = code * 10 + (line[i] - '0');
    }
    return negative ? -code : code;
}

// Exactly three digits, then the end of the line or anything but a digit.
static bool IsStatusLine(std::string_view line) {
    const auto digit = [&line](size_t i) {
        return i < line.size() && line[i] >= '0' && line[i] <= '9';
    };
    return digit(0) && digit(1) && digit(2) && !digit(3);
}

// A line the server sent, as a message may quote it: binary garbage can be long.
static std::string Quoted(std::string_view line) {
    constexpr size_t shown = 80;
    return line.size() > shown ? std::string(line.substr(0, shown)) + "..." : std::string(line);
}

TIpCustomNntpClient::TIpCustomNntpClient() : FArticle(std::make_unique<TIpNewsArticle>()) {
    SetDefaultPort(NntpPort);
    // The terminator tells a whole line from a piece of one; the joiner removes it.
    Settings().StripLineTerminator = false;
    // A fixed receive buffer of a few kilobytes switches off the system's automatic sizing and
    // caps a large LIST reply at one small window per round trip; a size the socket never
    // applies leaves the system's own.
    Settings().ReceiveBufferSize = 0;
}

TIpCustomNntpClient::~TIpCustomNntpClient() = default;

int TIpCustomNntpClient::Connect(const std::string& host) {
    SetState(TIpNntpStates::nsConnect);
    FMultiLine = false;
    // The greeting is the first reply a new connection owes.
    FReplyDue = true;
    FJoiner.Reset();
    FDroppedLines = 0;
    FProtocolBroken = false;
    FHeldGreeting.clear();
    Settings().TlsOnConnect = FSecurity == TIpNntpSecurity::nySecTls;
    SetDefaultPort(FSecurity == TIpNntpSecurity::nySecTls ? NntpsPort : NntpPort);
    return TIpCustomEmailClass::Connect(host);
}

void TIpCustomNntpClient::Authenticate(const std::string& host) {
    StartTask(TIpNntpTasks::ntAuthenticate);
    Connect(host);
}

void TIpCustomNntpClient::PostTo(const std::string& host, const std::string& group) {
    StartTask(TIpNntpTasks::ntPostTo);
    FGroupName = group;
    Connect(host);
}

void TIpCustomNntpClient::List() {
    CheckReady();
    SetState(TIpNntpStates::nsList);
    // Lines of an earlier collection that was cut short must not lead this one.
    FResponseList.clear();
    FDroppedLines = 0;
    FMultiLine = true;
    SendCommand("LIST\r\n");
}

void TIpCustomNntpClient::Post() {
    CheckReady();
    SetState(TIpNntpStates::nsPrePost);
    FArticle->ComposeText();
    FMultiLine = false;
    SendCommand("POST\r\n");
}

void TIpCustomNntpClient::Stat(const std::string& messageId) {
    CheckReady();
    SetState(TIpNntpStates::nsStat);
    FMultiLine = false;
    SendCommand("STAT " + messageId + "\r\n");
}

void TIpCustomNntpClient::Quit() {
    const bool startingTls = FState == TIpNntpStates::nsStartTls && !Encrypted();
    SetState(TIpNntpStates::nsQuit);
    // QUIT may overtake a reply still due: nothing follows it, and the replies before its own
    // only end up in the log. A multi-line reply under way is still collected whole.
    if (!FReplyDue)
        FMultiLine = false;
    // Between STARTTLS and the end of the handshake a QUIT would go out in clear, into what the
    // server reads as the handshake.
    if (Connected() && startingTls) {
        if (TIpDataSocket* socket = FindSocket(Handle(), false))
            socket->Shutdown();
        return;
    }
    if (Connected()) {
        FReplyDue = false;
        SendCommand("QUIT\r\n");
    } else
        SetState(TIpNntpStates::nsNoOp);
}

bool TIpCustomNntpClient::StateText(TIpNntpStates state, std::string& text) {
    const auto ordinal = static_cast<size_t>(state);
    if (ordinal >= StateNames.size())
        return false;
    text = StateNames[ordinal].Text;
    return true;
}

std::string TIpCustomNntpClient::StateText(TIpNntpStates state) {
    std::string text;
    StateText(state, text);
    return text;
}

std::string TIpCustomNntpClient::StateName(TIpNntpStates state) {
    const auto ordinal = static_cast<size_t>(state);
    return ordinal < StateNames.size() ? StateNames[ordinal].Name : std::string();
}

std::string TIpCustomNntpClient::TaskText(TIpNntpTasks task) {
    const auto ordinal = static_cast<size_t>(task);
    return ordinal < TaskNames.size() ? TaskNames[ordinal].Text : std::string();
}

std::string TIpCustomNntpClient::TaskName(TIpNntpTasks task) {
    const auto ordinal = static_cast<size_t>(task);
    return ordinal < TaskNames.size() ? TaskNames[ordinal].Name : std::string();
}

std::string TIpCustomNntpClient::FormatLogEntry(int32_t handle, int32_t entryType, uint32_t data,
                                                const char* payload, uint32_t length) {
    std::string body;
    const auto task = static_cast<TIpNntpTasks>(data);
    const auto state = static_cast<TIpNntpStates>(data);
    switch (entryType) {
    case LogKind::TaskStarted:
        body = "Starting task: " + TaskText(task) + " (" + TaskName(task) + ")";
        break;
    case LogKind::TaskComplete:
        body = "Generating OnTaskComplete event " + TaskText(task) + " (" + TaskName(task) + ")";
        break;
    case LogKind::StateChange:
        body = "State change: " + StateText(state) + " (" + StateName(state) + ")";
        break;
    case LogKind::Response:
        body = "Generating OnResponse event, Code = " + std::to_string(static_cast<int32_t>(data));
        break;
    case LogKind::MultiLineResponse:
        body = "Generating OnMultiLineResponse event";
        break;
    default:
        return TIpCustomEmailClass::FormatLogEntry(handle, entryType, data, payload, length);
    }
    return "[NNTP] " + body + "\r\n";
}

void TIpCustomNntpClient::DeliverLine(int handle, const std::string& text) {
    std::string_view unit = text;
    while (handle == Handle() && !FProtocolBroken) {
        std::string_view rest;
        // Only a line joined from pieces (one cut by the end of the receive buffer) needs storage
        // of its own; the others are handled where the unit holds them.
        std::string storage;
        std::string_view line;
        switch (FJoiner.Join(unit, storage, line, rest)) {
        case TIpJoinedLine::jlNone:
            break;
        case TIpJoinedLine::jlWhole:
            if (!FMultiLine && !IsStatusLine(line)) {
                NotAStatusLine(handle, line);
                break;
            }
            // What a reply leads to (the article after 340, the log-on after the greeting) may
            // meet a connection the server has reset: an error notification like any other
            // failure of the connection, not an exception out of the event loop.
            FUnjoinedBytes = rest.size();
            try {
                HandleReplyLine(line);
            } catch (const EIpWinSockError& error) {
                BreakOff(handle, error.ErrorCode(), error.what());
            }
            FUnjoinedBytes = 0;
            break;
        case TIpJoinedLine::jlTooLong:
            ReplyLineTooLong(handle);
            break;
        }
        if (rest.empty())
            return;
        unit = rest;
    }
}

void TIpCustomNntpClient::NotifyStatus(int handle, TIpStatusType type,
                                       const TIpConnRec& connection) {
    // An unfinished last line is no reply; a multi-line reply without its "." is incomplete
    // anyway.
    std::string line;
    if (type == TIpStatusType::stDisconnect && handle == Handle() && !FProtocolBroken &&
        FJoiner.Flush(line) && FReplyDue && !FMultiLine)
        NotifyError(handle, TIpNntpErrorCode::ReplyCut,
                    "The connection was closed in the middle of a reply: " + Quoted(line));
    TIpCustomEmailClass::NotifyStatus(handle, type, connection);
}

void TIpCustomNntpClient::ReplyLineTooLong(int handle) {
    if (FMultiLine) {
        ++FDroppedLines;
        return;
    }
    // A status line that long is no reply this client can act on, and what follows it on the
    // connection cannot be trusted to be in step with the commands.
    FProtocolBroken = true;
    FJoiner.Reset();
    NotifyError(handle, ReplyTooLongCode, ReplyTooLongText);
    // Closed in place; the socket is on the call stack, and the next Connect replaces it.
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->Shutdown();
}

void TIpCustomNntpClient::NotAStatusLine(int handle, std::string_view line) {
    FLastLine = line;
    BreakOff(handle, TIpNntpErrorCode::NotAReply,
             "The news server sent a line that is not a reply: " + Quoted(line));
}

void TIpCustomNntpClient::BreakOff(int handle, int32_t code, const std::string& text) {
    // Whatever follows cannot be trusted to be in step with the commands.
    FProtocolBroken = true;
    FJoiner.Reset();
    NotifyError(handle, code, text);
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->Shutdown();
}

void TIpCustomNntpClient::HandleReplyLine(std::string_view text) {
    FLastLine = text;
    // A handler that sends a command of its own has chosen the next step: that command waits for
    // its own reply and this reply gets no follow-up. Counting commands (rather than comparing
    // states) also sees a refused POST answered by a new POST.
    const uint64_t sentBefore = FCommandsSent;
    if (FMultiLine) {
        if (text != ".") {
            // Dot-stuffing: a data line that begins with "." was sent with one more.
            const bool stuffed = !text.empty() && text[0] == '.';
            const std::string_view data = stuffed ? text.substr(1) : text;
            // The handler sees the lines of a large list in place, as the socket received them.
            if (OnListLine && FState == TIpNntpStates::nsList && !FResponseList.empty() &&
                OnListLine(this, data))
                return;
            FResponseList.emplace_back(data);
            const std::string& first = FResponseList.front();
            if (FResponseList.size() == 1 && !first.empty() &&
                (first[0] == '4' || first[0] == '5')) {
                FReplyDue = false;
                const int32_t code = ReplyCode(first);
                DoMultiLineResponse();
                if (FCommandsSent != sentBefore)
                    return;
                if (code == 483)
                    EndOperation(TIpNntpErrorCode::EncryptionRequired, EncryptionRequiredText);
                else if (FState == TIpNntpStates::nsCapabilities)
                    FollowUp(code);
                else
                    SetState(TIpNntpStates::nsNoOp);
            }
            return;
        }
        FReplyDue = false;
        if (FState == TIpNntpStates::nsCapabilities)
            FStartTlsOffered = ListsStartTls(FResponseList);
        DoMultiLineResponse();
        if (FCommandsSent == sentBefore)
            FollowUp(0);
        return;
    }
    FReplyDue = false;
    // With STARTTLS the greeting waits until the connection is encrypted, so that the
    // application's next step (a log-on) cannot go out in clear. A server that does not serve
    // us at all ends the operation here for the same reason.
    if (FState == TIpNntpStates::nsConnect && FSecurity == TIpNntpSecurity::nySecStartTls &&
        !Encrypted()) {
        const int32_t greeting = ReplyCode(text);
        if (greeting == 200 || greeting == 201) {
            FHeldGreeting = text;
            SendCapabilities();
        } else {
            EndOperation(TIpNntpErrorCode::GreetingRefused,
                         "The news server refused the connection: " + std::string(text));
        }
        return;
    }
    int32_t code = 0;
    DoResponse(code);
    if (FCommandsSent != sentBefore)
        return;
    if (code == 483)
        EndOperation(TIpNntpErrorCode::EncryptionRequired, EncryptionRequiredText);
    else
        FollowUp(code);
}

void TIpCustomNntpClient::NotifyTls(int handle, const TIpTlsPeer& peer) {
    TIpCustomEmailClass::NotifyTls(handle, peer);
    if (peer.Accepted && handle == Handle() && FState == TIpNntpStates::nsStartTls)
        SendCapabilities();
}

bool TIpCustomNntpClient::WindowProcedure(TIpWindowMessage& message) {
    if (message.Msg != StateChangeMessage)
        return TIpCustomEmailClass::WindowProcedure(message);
    if (OnStateChange)
        OnStateChange(this, static_cast<TIpNntpStates>(message.WParam));
    return true;
}

TIpCodingProgressEvent TIpCustomNntpClient::OnCodingProgress() const {
    return FArticle ? FArticle->OnCodingProgress : TIpCodingProgressEvent();
}

void TIpCustomNntpClient::SetOnCodingProgress(TIpCodingProgressEvent handler) {
    if (FArticle)
        FArticle->OnCodingProgress = std::move(handler);
}

void TIpCustomNntpClient::SetState(TIpNntpStates state) {
    FState = state;
    Log(LogKind::StateChange, static_cast<uint32_t>(state));
    PostMessage(StateChangeMessage, static_cast<intptr_t>(state));
}

void TIpCustomNntpClient::SelectGroup(const std::string& group) {
    CheckReady();
    SetState(TIpNntpStates::nsGroup);
    FMultiLine = false;
    SendCommand("GROUP " + group + "\r\n");
}

void TIpCustomNntpClient::SendUser() {
    SetState(TIpNntpStates::nsAuthUser);
    FMultiLine = false;
    SendCommand("AUTHINFO USER " + UserID + "\r\n");
}

void TIpCustomNntpClient::SendPassword() {
    SetState(TIpNntpStates::nsAuthPass);
    FMultiLine = false;
    SendCommand("AUTHINFO PASS " + Password + "\r\n");
}

void TIpCustomNntpClient::SendArticle() {
    SetState(TIpNntpStates::nsPost);
    ++FCommandsSent;
    FReplyDue = true;
    TIpNewsArticle& article = *FArticle;
    article.SetPosition(0);
    const int64_t size = article.Size();
    const int handle = Handle();
    if (size == 0) {
        // Nothing was composed. The empty line still goes out, and the "." after it ends the
        // article, so the server answers (with a refusal) instead of waiting for more lines.
        PutString(handle, "\r\n.\r\n", false);
        return;
    }
    // The lines go to the connection in batches: one send per line would cost a system call,
    // and without Nagle's delay a packet, for each of them.
    std::string batch;
    batch.reserve(static_cast<size_t>(std::min<int64_t>(size, ArticleBatchBytes)) + 1024);
    std::string line;
    int64_t position = 0;
    do {
        article.ReadLineCRLF(line);
        const int64_t next = article.Position();
        // The terminating "." is the last line and goes out as it is; every other line that
        // begins with "." gets one more so that the server does not take it for the end.
        if (!line.empty() && line[0] == '.' && next < size)
            batch += '.';
        batch += line;
        if (batch.size() >= ArticleBatchBytes) {
            PutString(handle, batch, false);
            batch.clear();
        }
        if (next <= position)
            break;
        position = next;
    } while (position < size);
    if (!batch.empty())
        PutString(handle, batch, false);
}

void TIpCustomNntpClient::SendCapabilities() {
    SetState(TIpNntpStates::nsCapabilities);
    FResponseList.clear();
    FStartTlsOffered = false;
    FMultiLine = true;
    SendCommand("CAPABILITIES\r\n");
}

void TIpCustomNntpClient::SendStartTls() {
    SetState(TIpNntpStates::nsStartTls);
    FMultiLine = false;
    SendCommand("STARTTLS\r\n");
}

void TIpCustomNntpClient::ReleaseGreeting() {
    SetState(TIpNntpStates::nsConnect);
    FLastLine = FHeldGreeting;
    FHeldGreeting.clear();
    const uint64_t sentBefore = FCommandsSent;
    int32_t code = 0;
    DoResponse(code);
    if (FCommandsSent == sentBefore)
        FollowUp(code);
}

void TIpCustomNntpClient::BeginHandshake() {
    TIpDataSocket* socket = FindSocket(Handle(), false);
    if (socket == nullptr)
        return;
    if (FUnjoinedBytes > 0 || socket->UnreadBytes() > 0) {
        // Nothing more is read from this connection, not even while it closes.
        FProtocolBroken = true;
        EndOperation(TIpNntpErrorCode::DataBeforeEncryption, DataBeforeEncryptionText);
        return;
    }
    FJoiner.Reset();
    // The capabilities asked for once the connection is encrypted are owed from now on.
    FReplyDue = true;
    socket->StartTls();
}

void TIpCustomNntpClient::AfterLogOn() {
    if (FTask == TIpNntpTasks::ntAuthenticate)
        DoTaskComplete();
    else
        SelectGroup(FGroupName);
}

void TIpCustomNntpClient::EndOperation(int32_t code, const std::string& text) {
    SetState(TIpNntpStates::nsNoOp);
    FMultiLine = false;
    const int handle = Handle();
    NotifyError(handle, code, text);
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->Shutdown();
}

void TIpCustomNntpClient::CheckConnected() const {
    if (!Connected())
        throw EIpNntpException("Not connected");
}

void TIpCustomNntpClient::CheckReady() const {
    CheckConnected();
    if (FReplyDue)
        throw EIpNntpException("The news server has not yet answered the last command");
}

void TIpCustomNntpClient::DoResponse(int32_t& code) {
    code = ReplyCode(FLastLine);
    const std::string response = FLastLine.size() > 4 ? FLastLine.substr(4) : std::string();
    Log(LogKind::Response, static_cast<uint32_t>(code));
    if (OnResponse)
        OnResponse(this, FState, code, response);
}

void TIpCustomNntpClient::DoMultiLineResponse() {
    // The application asked for no capabilities; a handler waiting for its own list would take
    // them for it.
    if (FState != TIpNntpStates::nsCapabilities) {
        Log(LogKind::MultiLineResponse, 0);
        if (OnMultiLineResponse)
            OnMultiLineResponse(this, FState, FResponseList);
    }
    FResponseList.clear();
    FDroppedLines = 0;
    FMultiLine = false;
}

void TIpCustomNntpClient::DoTaskComplete() {
    Log(LogKind::TaskComplete, static_cast<uint32_t>(FTask));
    if (OnTaskComplete)
        OnTaskComplete(this, FTask, FResponseList);
}

void TIpCustomNntpClient::SendCommand(const std::string& text) {
    ++FCommandsSent;
    FReplyDue = true;
    PutString(Handle(), text, false);
}

void TIpCustomNntpClient::FollowUp(int32_t code) {
    switch (FState) {
    case TIpNntpStates::nsNoOp:
    case TIpNntpStates::nsNewNews:
    case TIpNntpStates::nsList:
        break;
    case TIpNntpStates::nsConnect:
        if (FTask == TIpNntpTasks::ntNoTask)
            break;
        if (!UserID.empty())
            SendUser();
        else if (FTask == TIpNntpTasks::ntAuthenticate)
            DoTaskComplete();
        else
            SelectGroup(FGroupName);
        break;
    case TIpNntpStates::nsGroup:
        if (FTask == TIpNntpTasks::ntPostTo)
            Post();
        break;
    case TIpNntpStates::nsPrePost:
        // POST must not be pipelined: the article goes out only once the server has asked for
        // it. After a refusal the server would read the article's lines as commands.
        if (code == 340)
            SendArticle();
        else
            SetState(TIpNntpStates::nsNoOp);
        break;
    case TIpNntpStates::nsPost: {
        const uint64_t sentBefore = FCommandsSent;
        if (FTask == TIpNntpTasks::ntPostTo)
            DoTaskComplete();
        // A task-complete handler that posted the next article keeps its state.
        if (FCommandsSent == sentBefore)
            SetState(TIpNntpStates::nsNoOp);
        break;
    }
    case TIpNntpStates::nsAuthUser:
        // The password goes only to a server that asked for it; a refusal of the user name
        // (or a reply of a server that is not what it seems) must not receive it.
        if (code == 381)
            SendPassword();
        else if (code == 281)
            AfterLogOn();
        else
            EndOperation(TIpNntpErrorCode::LogOnRefused,
                         "The news server refused the log-on: " + FLastLine);
        break;
    case TIpNntpStates::nsAuthPass:
        AfterLogOn();
        break;
    case TIpNntpStates::nsCapabilities:
        if (Encrypted())
            ReleaseGreeting();
        else if (FStartTlsOffered)
            SendStartTls();
        else
            EndOperation(TIpNntpErrorCode::NoStartTls, NoStartTlsText);
        break;
    case TIpNntpStates::nsStartTls:
        if (code == 382) {
            BeginHandshake();
        } else {
            EndOperation(TIpNntpErrorCode::NoStartTls, NoStartTlsText);
        }
        break;
    case TIpNntpStates::nsNewGroups:
    case TIpNntpStates::nsArticle:
    case TIpNntpStates::nsStat:
    case TIpNntpStates::nsBody:
    case TIpNntpStates::nsHead:
    case TIpNntpStates::nsLast:
    case TIpNntpStates::nsNext:
    case TIpNntpStates::nsQuit:
    case TIpNntpStates::nsHelp:
    case TIpNntpStates::nsSpecial:
    case TIpNntpStates::nsListExt:
    case TIpNntpStates::nsListActiveTimes:
    case TIpNntpStates::nsListDistributions:
    case TIpNntpStates::nsListDistribPats:
    case TIpNntpStates::nsListNewsGroups:
    case TIpNntpStates::nsListOverviewFmt:
    case TIpNntpStates::nsListGroup:
    case TIpNntpStates::nsOver:
    case TIpNntpStates::nsPat:
    case TIpNntpStates::nsDate:
        SetState(TIpNntpStates::nsNoOp);
        break;
    }
}

void TIpCustomNntpClient::StartTask(TIpNntpTasks task) {
    FTask = task;
    Log(LogKind::TaskStarted, static_cast<uint32_t>(task));
}

void TIpCustomNntpClient::Log(int32_t kind, uint32_t value) {
    DebugLog().AddEntry(&TIpCustomNntpClient::FormatLogEntry, Handle(), kind, value, 0u);
}
