#pragma once

#include "nntp/TIpNntpClient.h"
#include "posting/TArticleComposer.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// What the user asked for: the server, the log-on and, for a posting run, the groups. The
// operation keeps its own copy, so the fields it came from stay free to change.
struct TNewsRequest {
    std::string Host;
    bool LogOn = false;
    std::string UserID;
    std::string Password;
    // How the connection is encrypted, the authorities trusted and the certificates the user
    // has trusted before.
    TIpNntpSecurity Security = TIpNntpSecurity::nySecNone;
    TIpTlsSettings Tls;
    // A refused log-on ends the operation (Failed) instead of going on to the first command,
    // whose refusal would then tell the user less.
    bool EndOnRefusedLogOn = false;
    // Bounds the connect and every wait for a reply; 0 or less sets no bound.
    int TimeoutSeconds = 60;
    std::vector<std::string> Groups;
    // Connections a run posts over at once (1 to MaxConnections); a retrieval uses one.
    int Connections = 1;
    // After the last group the run asks the server (STAT) for every accepted article by its
    // Message-ID and reports each as verified or missing.
    bool Verify = false;
    // Groups whose article may already be on the server, by group name, with its Message-ID:
    // an interrupted run sent it and never heard the verdict. The run asks STAT first; 223
    // counts as accepted, 430 posts the article again under that same Message-ID.
    std::map<std::string, std::string> SentBefore;
    // What a run posts: the operation composes each group's article from it, so every front end
    // sends the same bytes for the same input.
    TArticleRequest Article;
    // Fills the article for one group in place of the composer; it may throw (an attachment
    // that has gone), which ends the run with the exception's text, as the composer's own
    // failure does.
    std::function<void(const std::string& group, TIpNewsArticle& article)> ComposeArticle;
};

// The server's answer for one group of a run: its verdict on the article, or its refusal of
// POST.
struct TGroupOutcome {
    std::string Group;
    int32_t Code = 0;
    // The reply line as the server sent it ("240 article posted").
    std::string Reply;
    std::string MessageID;
    // False when the server refused POST, so the article never went out.
    bool ArticleSent = false;
    bool Accepted = false;
    enum class TVerification : uint8_t { NotChecked, Verified, Missing };
    // What STAT said of an accepted article after the run, when the run was asked to verify.
    TVerification Verification = TVerification::NotChecked;
};

struct TRunSummary {
    int Accepted = 0;
    int Refused = 0;
    // The reply line of the first group refused; empty when none was.
    std::string FirstRefusal;
    // Of the accepted articles, those STAT found and those it did not (a verifying run).
    int Verified = 0;
    int Missing = 0;
    // Every group answered, in the order of the request's groups.
    std::vector<TGroupOutcome> Outcomes;
};

// Hears a posting run as it goes, so that a run cut short (the program killed, the machine
// down) can be resumed without posting any group twice. Each call must be on disk when it
// returns.
class TRunRecorder {
public:
    virtual ~TRunRecorder() = default;
    // A run starts (or resumes) with this request; the password is not for keeping.
    virtual void RunStarted(const TNewsRequest& request) = 0;
    // The article for group is about to go out under messageId; its verdict may never arrive.
    virtual void ArticleGoing(const std::string& group, const std::string& messageId) = 0;
    virtual void GroupAnswered(const TGroupOutcome& outcome) = 0;
    // The run has ended: finished, failed or aborted. Nothing is left to resume.
    virtual void RunEnded() = 0;
};

// What the operation reports; every handler is optional.
struct TNewsOperationEvents {
    std::function<void(const std::string& line)> Log;
    std::function<void(const std::string& text)> Status;
    // Bytes received on the connection so far, while an operation is under way.
    std::function<void(uint64_t bytes)> Progress;
    // A message for the user that ends nothing (the operation goes on).
    std::function<void(const std::string& text)> Notice;
    // A multi-line reply. `groupList` is true for the LIST reply a retrieval asked for, false
    // for a refusal or a reply that came after the retrieval had ended.
    std::function<void(std::vector<std::string>& lines, bool groupList)> MultiLine;
    // A run starts on the group at `index` (from 0) of `count`.
    std::function<void(size_t index, size_t count)> GroupStarted;
    // Bytes of the current group's article sent so far, of `total` (its size as composed).
    std::function<void(uint64_t sent, uint64_t total)> ArticleProgress;
    // Each group's answer, in the order of the request's groups.
    std::function<void(const TGroupOutcome& outcome)> GroupDone;
    // What STAT said of one accepted article after the run (a verifying run), in the order of
    // the request's groups, before Finished.
    std::function<void(const TGroupOutcome& outcome)> GroupVerified;
    std::function<void(const TRunSummary& summary)> Finished;
    // The operation ended early; `message` says why.
    std::function<void(const std::string& message)> Failed;
    std::function<void(bool busy)> BusyChanged;
    // An encrypted connection is up (its protocol, cipher and certificate).
    std::function<void(const TIpTlsPeer& peer)> Encrypted;
    // The server's certificate failed the check and the connection was closed; the operation
    // has ended. `nothingPosted` is true when it may simply be started again once the user
    // trusts the certificate.
    std::function<void(const TIpTlsPeer& peer, bool nothingPosted)> CertificateRefused;
};

// One posting run or one group-list retrieval at a time over the NNTP client it owns.
//
// States and transitions (Busy() is true in every state but Idle and Closing):
//   Idle    --StartPost/StartList, connection reusable--> AwaitPost / Listing
//   Idle, Closing --StartPost/StartList otherwise--> Connecting (an open connection is closed)
//   Connecting --greeting 200, or 201 with log-on--> LoggingOn (log-on with a user name)
//                                                     or the first command (AwaitPost / Listing)
//   Connecting --greeting 201 without log-on--> Closing (QUIT)
//   LoggingOn --reply to AUTHINFO PASS, or 281 to AUTHINFO USER--> the first command; after a 201
//   greeting a refused
//                                         log-on ends a run instead (Closing, QUIT), and with
//                                         EndOnRefusedLogOn it ends either operation (Closing,
//                                         QUIT, Failed)
//   AwaitPost --340--> AwaitVerdict;  --other reply--> next group (refused)
//   AwaitVerdict --reply--> next group (240 accepted, otherwise refused)
//   next group: AwaitPost on the same connection; Reconnecting when the server has closed it
//               (the connect waits for the old socket's release); Idle after the last group
//   Reconnecting --queued connect--> Connecting
//   Listing --whole LIST reply (or its refusal)--> Idle
//   any busy state --Abort--> Closing (QUIT)
//                  --no reply within the timeout--> Idle (connection closed)
//                  --connection lost, socket error, article that cannot be composed--> Idle
//                  --certificate refused--> Idle (CertificateRefused instead of Failed)
//   Closing --server closes, answers QUIT, or CloseGraceMs pass--> Idle (connection closed)
// Only SetState moves the state; it also starts the reply timer in every busy state.
//
// A finished operation leaves its connection open; the next one uses it only while it is alive
// and was opened to the same server with the same log-on.
class TNewsOperation {
public:
    enum class TState : uint8_t {
        Idle,
        Connecting,
        LoggingOn,
        AwaitPost,
        AwaitVerdict,
        Listing,
        Reconnecting,
        Closing
    };
    enum class TKind : uint8_t { Run, Retrieval };

    static constexpr int MaxConnections = 8;
    // How long Abort waits for the server to close the connection after QUIT.
    static constexpr int CloseGraceMs = 3000;

    TNewsOperation();
    ~TNewsOperation();
    TNewsOperation(const TNewsOperation&) = delete;
    TNewsOperation& operator=(const TNewsOperation&) = delete;

    TIpNntpClient& Client() { return *FClient; }
    // The composer a run uses when its request has no ComposeArticle (a test's clock and
    // randomness).
    void SetComposer(TArticleComposer composer) { FComposer = std::move(composer); }
    TNewsOperationEvents& Events() { return FEvents; }
    // Told of every posting run from now on; not owned; null for none.
    void SetRecorder(TRunRecorder* recorder) { FRecorder = recorder; }

    // Both raise what the client raises on the way (an unknown host); nothing has started then.
    // Both are ignored while another operation is under way.
    void StartPost(TNewsRequest request);
    void StartList(TNewsRequest request);
    // Ends the operation at once; the connection gets QUIT and is closed.
    void Abort();

    TState State() const { return FState; }
    TKind Kind() const { return FKind; }
    bool Busy() const;
    bool Posting() const { return Busy() && FKind == TKind::Run; }
    bool ListingGroups() const { return Busy() && FKind == TKind::Retrieval; }
    const TRunSummary& Summary() const { return FSummary; }
    // The group of the run the server is answering for (or was, when the run ended).
    size_t GroupIndex() const { return FGroupIndex; }

private:
    void Start(TKind kind, TNewsRequest request);
    void SetState(TState state);
    void Connect();
    void SendFirstCommand();
    void PostGroup();
    void GroupAnswered(int32_t code, const std::string& response);
    void Finish();
    void Fail(const std::string& message, bool close);
    void CloseConnection();
    void QuitAndClose();
    void EndClosing();
    void ReplyTimedOut();
    std::string WaitDescription() const;
    void Emit(const std::function<void(const std::string&)>& event, const std::string& text);

    void OnResponse(TIpNntpStates responseTo, int32_t code, const std::string& response);
    void OnMultiLine(TIpNntpStates responseTo, std::vector<std::string>& lines);
    void OnStatus(TIpStatusType event, const TIpSockStatRec& statistics);
    void OnSocketError(int32_t code, const std::string& text);

    std::unique_ptr<TIpNntpClient> FClient;
    TNewsOperationEvents FEvents;
    TRunRecorder* FRecorder = nullptr;
    TState FState = TState::Idle;
    TKind FKind = TKind::Run;
    TNewsRequest FRequest;
    // The server and log-on the open connection was made with.
    TNewsRequest FConnection;
    bool FGreeted201 = false;
    size_t FGroupIndex = 0;
    // The connection's byte count as last reported, when the current article went out, and the
    // article's size.
    uint64_t FSentAtPost = 0;
    uint64_t FSentSoFar = 0;
    uint64_t FArticleSize = 0;
    TArticleComposer FComposer;
    TRunSummary FSummary;
    QObject FContext;
    QTimer FReplyTimer;
    QTimer FCloseTimer;
};
