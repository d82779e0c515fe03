#pragma once

#include "mime/TIpNewsArticle.h"
#include "nntp/TIpCustomClient.h"
#include "nntp/TIpReplyLineJoiner.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The protocol state; the ordinals are fixed (the application maps them to its own texts).
enum class TIpNntpStates : uint8_t {
    nsNoOp,
    nsConnect,
    nsNewGroups,
    nsNewNews,
    nsArticle,
    nsStat,
    nsBody,
    nsHead,
    nsGroup,
    nsList,
    nsLast,
    nsNext,
    nsPrePost,
    nsPost,
    nsQuit,
    nsHelp,
    nsSpecial,
    nsAuthUser,
    nsAuthPass,
    nsListExt,
    nsListActiveTimes,
    nsListDistributions,
    nsListDistribPats,
    nsListNewsGroups,
    nsListOverviewFmt,
    nsListGroup,
    nsOver,
    nsPat,
    nsDate,
    nsCapabilities,
    nsStartTls
};

// How the connection is protected: not at all, TLS from the first byte (its own port, usually
// 563), or TLS begun with STARTTLS on the plain port.
enum class TIpNntpSecurity : uint8_t { nySecNone, nySecTls, nySecStartTls };

// Codes of the error notifications with which the client ends an operation itself.
struct TIpNntpErrorCode {
    static constexpr int32_t NoStartTls = 20101;
    static constexpr int32_t EncryptionRequired = 20102;
    static constexpr int32_t LogOnRefused = 20103;
    static constexpr int32_t GreetingRefused = 20104;
    // The reply was lost, not refused: the connection ended in the middle of a reply line, or
    // the server sent a line that is no status line where one was due.
    static constexpr int32_t ReplyCut = 20105;
    static constexpr int32_t NotAReply = 20106;
    // The server sent more after its 382 before the handshake began.
    static constexpr int32_t DataBeforeEncryption = 20107;
};

// The running task; once set it stays until another task is set.
enum class TIpNntpTasks : uint8_t { ntNoTask, ntAuthenticate, ntSelectGroup, ntNewNews, ntPostTo };

class TIpCustomNntpClient;

using TIpNntpResponseEvent =
    std::function<void(TIpCustomNntpClient* client, TIpNntpStates responseTo, int32_t code,
                       const std::string& response)>;
using TIpNntpMultiLineResponseEvent = std::function<void(
    TIpCustomNntpClient* client, TIpNntpStates responseTo, std::vector<std::string>& responseList)>;
// Offered each data line of a LIST reply as it arrives; true when the handler has taken it, false
// to leave it to the collection.
using TIpNntpListLineEvent =
    std::function<bool(TIpCustomNntpClient* client, std::string_view line)>;
using TIpStateChangeEvent =
    std::function<void(TIpCustomNntpClient* client, TIpNntpStates newState)>;
using TIpTaskCompleteEvent = std::function<void(TIpCustomNntpClient* client, TIpNntpTasks newTask,
                                                std::vector<std::string>& responseList)>;

// The client side of NNTP over the one connection of the client base. The application starts a
// task (Authenticate, PostTo) or a single command (List, Post, Quit); every command moves the
// client into a state, and every reply line is first offered to the application (OnResponse,
// OnMultiLineResponse) and then followed up by the state the client finds afterwards. Reply
// codes are the application's business, with one exception: an article is sent only after the
// server has accepted POST with 340.
//
// Follow-up of a single-line reply, by the state found once the handler has returned:
//   nsNoOp, nsNewNews, nsList  -> nothing
//   nsConnect   -> no task: nothing; UserID set: AUTHINFO USER; ntAuthenticate: task complete;
//                  otherwise GROUP <group of the last PostTo>
//   nsGroup     -> ntPostTo: POST; otherwise nothing
//   nsPrePost   -> reply 340: the article; any other reply: nsNoOp
//   nsPost      -> ntPostTo: task complete; then nsNoOp
//   nsAuthUser  -> 381: AUTHINFO PASS; 281 (already logged on): as nsAuthPass; any other reply:
//                  the operation ends (LogOnRefused) and the connection closes
//   nsAuthPass  -> ntAuthenticate: task complete; otherwise GROUP <group>
//   nsStartTls  -> 382: the TLS handshake; any other reply: the operation ends (NoStartTls)
//   any other   -> nsNoOp
// A 483 reply ("encryption required") to any command ends the operation (EncryptionRequired)
// and closes the connection. When a handler (of a reply or of a completed task) sends a command
// itself, that command waits for its own reply and the reply being handled gets no follow-up.
//
// With nySecStartTls the greeting (200 or 201) is held back from the application (any other
// greeting ends the operation, GreetingRefused):
//   greeting -> CAPABILITIES (nsCapabilities); its end -> STARTTLS listed: STARTTLS
//   (nsStartTls), not listed or refused: the operation ends (NoStartTls) and the connection
//   closes with nothing more sent -> 382 -> handshake -> NotifyTls accepted: CAPABILITIES again
//   (nsCapabilities) -> its end: the greeting is handed over (nsConnect) and followed up as above.
// So AUTHINFO goes only over the encrypted connection. With nySecTls the socket runs the
// handshake before the greeting arrives; a refused certificate ends the connection in the
// socket. An operation that ends is an error notification (OnSocketError) with the code of
// TIpNntpErrorCode and the text for the user; no QUIT follows.
//
// Both CAPABILITIES replies of STARTTLS are the client's own and never reach
// OnMultiLineResponse. The 382 must be the last thing the server sends in clear: anything after
// it, in the same read or left in the connection's buffers, would be read as if it had come
// encrypted, so it is a protocol error (DataBeforeEncryption) and the connection closes without
// a handshake. From STARTTLS until the handshake is done the client sends nothing: a reply stays
// due (commands raise), and Quit closes the connection instead of sending QUIT.
//
// Reply lines reach the states whole, however the connection cut them (TIpReplyLineJoiner). A
// line longer than 1 MiB is left out of a multi-line reply (DroppedLines counts it); as a
// single-line reply it is a protocol error: OnSocketError with ReplyTooLongText, and the
// connection is closed.
//
// A single-line reply is a status line (RFC 3977 3.2): it ends in CR LF and begins with exactly
// three digits. "34" cut off by the end of the connection is not a refusal with code 34, and a
// verdict cut to "24" after the server stored the article is not one either: the answer was
// lost, and only the application can tell what that means for the article. So bytes left
// without CR LF at the end of the connection while a reply is due are an error notification
// (ReplyCut) before the disconnect, and a line that is not a status line is one (NotAReply)
// with the connection closed, as for an overlong line; neither reaches OnResponse.
// A command the follow-up of a reply cannot send (the article after 340 to a connection the
// server has reset) is an error notification with the socket's code, and the connection is
// closed.
//
// STAT <message-id> is a single-line command like POST: its reply is followed by nsNoOp.
//
// LIST opens a multi-line collection: every line up to the lone "." is collected (a leading "."
// removed) and delivered in one OnMultiLineResponse; a first line beginning with 4 or 5 is
// delivered alone and ends the collection in nsNoOp. QUIT sent meanwhile lets the collection
// finish. OnListLine, when set, is offered each data line of a LIST reply (after the status line)
// as it arrives, and a line it takes is not collected: a list of a million groups then reaches
// the application without a second copy of every line. OnMultiLineResponse still ends the reply,
// with the status line and the lines left to the collection.
//
// One command at a time: from a command (or a new connection) until its reply has arrived in
// full (a multi-line reply up to its "."), List, Post and the other commands raise
// EIpNntpException instead of sending. A command sent then would be answered by the reply still
// to come, or read by the server as a line of the article it is about to ask for. Quit is the
// exception: it may overtake a due reply, since nothing is sent after it; the server that has
// asked for an article reads it as the article's first line and never gets the article's end.
//
// OnStateChange is always deferred through the component's event loop: it arrives after the
// client has moved on, once per change and in order, carrying the state as it was set.
class TIpCustomNntpClient : public TIpCustomEmailClass {
public:
    static constexpr uint16_t NntpPort = 119;
    static constexpr uint16_t NntpsPort = 563;
    // The deferred state notification; WParam carries the state.
    static constexpr uint32_t StateChangeMessage = TIpWm::User + 1;
    // An article is handed to the connection in pieces of whole lines, each closed once it
    // reaches this size (a single longer line makes a longer piece).
    static constexpr size_t ArticleBatchBytes = 64 * 1024;

    // Debug-log entry kinds of this class.
    struct LogKind {
        static constexpr int32_t TaskStarted = 1;
        static constexpr int32_t TaskComplete = 2;
        static constexpr int32_t StateChange = 3;
        static constexpr int32_t Response = 4;
        static constexpr int32_t MultiLineResponse = 5;
    };

    TIpCustomNntpClient();
    ~TIpCustomNntpClient() override;

    // Opens the connection; the task of an earlier Authenticate or PostTo stays set and runs
    // again from the greeting on.
    int Connect(const std::string& host) override;
    // Connects and logs on with UserID/Password (when UserID is set).
    void Authenticate(const std::string& host);
    // Connects, logs on when UserID is set, selects the group and posts the Article.
    void PostTo(const std::string& host, const std::string& group);
    // Sends LIST and collects the reply. "Not connected" without a connection.
    void List();
    // Composes the Article afresh and sends POST; the article follows once the server answers
    // 340. "Not connected" without a connection.
    void Post();
    // Sends STAT <messageId>: 223 says the server has the article, 430 that it has none by that
    // Message-ID. "Not connected" without a connection.
    void Stat(const std::string& messageId);
    // Sends QUIT when connected; the server then closes the connection.
    void Quit();

    // Takes effect with the next Connect; the default port follows it (563 with nySecTls).
    void SetSecurity(TIpNntpSecurity security) { FSecurity = security; }
    TIpNntpSecurity Security() const { return FSecurity; }
    void NotifyTls(int handle, const TIpTlsPeer& peer) override;

    // The text of a state; false (and `text` unchanged) for a value outside the states.
    static bool StateText(TIpNntpStates state, std::string& text);
    // The text of a state, empty for a value outside the states.
    static std::string StateText(TIpNntpStates state);
    static std::string StateName(TIpNntpStates state);
    static std::string TaskText(TIpNntpTasks task);
    static std::string TaskName(TIpNntpTasks task);

    static std::string FormatLogEntry(int32_t handle, int32_t entryType, uint32_t data,
                                      const char* payload, uint32_t length);

    TIpNntpStates State() const { return FState; }
    TIpNntpTasks Task() const { return FTask; }
    // The newsgroup of the last PostTo.
    const std::string& GroupName() const { return FGroupName; }
    // The most recent reply line.
    const std::string& LastLine() const { return FLastLine; }
    bool MultiLine() const { return FMultiLine; }
    // True from a command (or a connect) until its whole reply has arrived.
    bool ReplyDue() const { return FReplyDue; }
    // Commands sent so far (article lines count once per article).
    uint64_t CommandsSent() const { return FCommandsSent; }
    // Lines longer than 1 MiB left out of the multi-line reply being delivered; read it in
    // OnMultiLineResponse.
    uint32_t DroppedLines() const { return FDroppedLines; }

    // OnSocketError's code and text for a single-line reply longer than 1 MiB.
    static constexpr int32_t ReplyTooLongCode = 10040;
    static constexpr const char* ReplyTooLongText =
        "The news server sent a reply line longer than 1 MiB; the connection was closed";

    void DeliverLine(int handle, const std::string& text) override;
    void NotifyStatus(int handle, TIpStatusType type, const TIpConnRec& connection) override;
    bool WindowProcedure(TIpWindowMessage& message) override;

protected:
    TIpNewsArticle& Article() { return *FArticle; }
    TIpCodingProgressEvent OnCodingProgress() const;
    void SetOnCodingProgress(TIpCodingProgressEvent handler);

    void SetState(TIpNntpStates state);
    void SelectGroup(const std::string& group);
    void SendUser();
    void SendPassword();
    void SendArticle();
    void SendCapabilities();
    void SendStartTls();
    void CheckConnected() const;
    // Connected, and no reply still due.
    void CheckReady() const;

    void DoResponse(int32_t& code);
    void DoMultiLineResponse();
    void DoTaskComplete();

    std::string Password;
    std::string UserID;
    TIpNntpResponseEvent OnResponse;
    TIpNntpMultiLineResponseEvent OnMultiLineResponse;
    TIpNntpListLineEvent OnListLine;
    TIpStateChangeEvent OnStateChange;
    TIpTaskCompleteEvent OnTaskComplete;

private:
    void HandleReplyLine(std::string_view text);
    void ReplyLineTooLong(int handle);
    void NotAStatusLine(int handle, std::string_view line);
    // Breaks off the connection with an error notification.
    void BreakOff(int handle, int32_t code, const std::string& text);
    void SendCommand(const std::string& text);
    void FollowUp(int32_t code);
    // Hands the greeting held back during STARTTLS to the application and follows it up.
    void ReleaseGreeting();
    // After 382: the handshake, unless the server sent more in clear.
    void BeginHandshake();
    void AfterLogOn();
    // Ends the operation: an error notification, then the connection closes.
    void EndOperation(int32_t code, const std::string& text);
    void StartTask(TIpNntpTasks task);
    void Log(int32_t kind, uint32_t value);

    std::unique_ptr<TIpNewsArticle> FArticle;
    bool FMultiLine = false;
    bool FReplyDue = false;
    std::vector<std::string> FResponseList;
    std::string FLastLine;
    TIpNntpStates FState = TIpNntpStates::nsNoOp;
    std::string FGroupName;
    TIpNntpTasks FTask = TIpNntpTasks::ntNoTask;
    uint64_t FCommandsSent = 0;
    TIpReplyLineJoiner FJoiner;
    // Bytes of the unit being joined that follow the line being handled.
    size_t FUnjoinedBytes = 0;
    uint32_t FDroppedLines = 0;
    // Set once a reply has broken the protocol: nothing more is read from that connection.
    bool FProtocolBroken = false;
    TIpNntpSecurity FSecurity = TIpNntpSecurity::nySecNone;
    std::string FHeldGreeting;
    bool FStartTlsOffered = false;
};
