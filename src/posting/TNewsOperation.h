#pragma once

#include "mime/EIpBaseException.h"
#include "nntp/TIpNntpClient.h"
#include "posting/TArticleComposer.h"
#include "posting/TNewsConnection.h"
#include "posting/TRunLedger.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
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
    // Groups one article goes to: 1 posts a separate article to each group; more cross-posts
    // one article to up to this many groups at a time (TArticleComposer::Batches).
    int GroupsPerArticle = 1;
    // Groups whose article may already be on the server, by group name, with its Message-ID:
    // an interrupted run sent it and never heard the verdict. The run asks STAT first; 223
    // counts as accepted, 430 posts the article again under that same Message-ID.
    std::map<std::string, std::string> SentBefore;
    // The run's random part (lower-case hex); each group's Message-ID is derived from it and the
    // group's place (TArticleComposer::RunMessageId). Empty: the run makes one as it starts.
    std::string RunId;
    // By group of Groups, its place (from 0) in the run as it first began; empty for 0, 1, ...
    // A resumed run keeps the places, so its groups keep their Message-IDs. A resumed
    // cross-posting run puts together again the groups of each batch of the run as it began
    // (places p with the same p / GroupsPerArticle), and those whose SentBefore is the same
    // article.
    std::vector<size_t> Places;
    // Made from an interrupted run's journal: the article of a group may be on the server although
    // the journal never said it went out, so every group is asked for with STAT (under its
    // derived Message-ID, or SentBefore's) before it is posted.
    bool Resumed = false;
    // What a run posts: the operation composes each group's article from it, so every front end
    // sends the same bytes for the same input.
    TArticleRequest Article;
    // A run that replaces an earlier run's articles: by group, the Message-ID of the earlier
    // run's article there. The group's article then carries Supersedes and the Cancel-Key for
    // it (a cross-post, that of its first group with one: TReplacement); a group the map lacks
    // replaces nothing. ReplacesRun is the earlier run's id (history). Kept by the journal, so a
    // resumed run supersedes the same articles.
    std::map<std::string, std::string> Replaces;
    std::string ReplacesRun;
    // A cancel run withdraws an earlier run's articles instead of posting the Article: by group,
    // the Message-ID of the article withdrawn there (groups sharing one cross-posted article
    // share one cancel). Not empty makes the run a cancel run; CancelsRun is the earlier run's
    // id. In a cancel run an outcome's Accepted means the server took the cancel, and its
    // Verification is what STAT said of the withdrawn article afterwards: Missing for gone,
    // Verified for kept.
    std::map<std::string, std::string> Cancels;
    std::string CancelsRun;
    // Fills the article for one group in place of the composer; it may throw (an attachment
    // that has gone), which ends the run with the exception's text, as the composer's own
    // failure does. The Message-ID it gives stands for the article's first post.
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
    // Heard by an earlier run that was cut short, which this run resumes.
    bool Earlier = false;
};

struct TRunSummary {
    // The run's random part (TNewsRequest::RunId, made by the run when the request had none).
    std::string RunId;
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

// A recorder's refusal of a run before anything of it was sent (another run holds the journal);
// the text says why.
class ERunRefused : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// Hears a posting run as it goes, so that a run cut short (the program killed, the machine
// down) can be resumed without posting any group twice. A call that cannot record what it
// heard raises (a std::exception whose text gives the reason): the run then posts nothing more.
class TRunRecorder {
public:
    virtual ~TRunRecorder() = default;
    // A run starts (or resumes) with this request; the password is not for keeping. Raises
    // ERunRefused when the run must not start at all.
    virtual void RunStarted(const TNewsRequest& request) = 0;
    // The article for group is about to go out under messageId; its verdict may never arrive.
    virtual void ArticleGoing(const std::string& group, const std::string& messageId) = 0;
    // The same for one article cross-posted to groups (two or more); by default as an article
    // to each of them.
    virtual void CrosspostGoing(const std::vector<std::string>& groups,
                                const std::string& messageId) {
        for (const std::string& group : groups)
            ArticleGoing(group, messageId);
    }
    // The server refused the cross-post under messageId as a whole: it is not on the server, and
    // its groups go out again in smaller articles of their own.
    virtual void CrosspostRefused(const std::vector<std::string>& /*groups*/,
                                  const std::string& /*messageId*/) {}
    virtual void GroupAnswered(const TGroupOutcome& outcome) = 0;
    // The run has ended: finished, failed or aborted. Nothing is left to resume.
    virtual void RunEnded() = 0;
};

// What the operation reports; every handler is optional.
struct TNewsOperationEvents {
    std::function<void(const std::string& line)> Log;
    std::function<void(const std::string& text)> Status;
    // Bytes received so far over all the operation's connections, while it is under way.
    std::function<void(uint64_t bytes)> Progress;
    // A message for the user that ends nothing (the operation goes on).
    std::function<void(const std::string& text)> Notice;
    // A multi-line reply. `groupList` is true for the LIST reply a retrieval asked for, false
    // for a refusal or a reply that came after the retrieval had ended.
    std::function<void(std::vector<std::string>& lines, bool groupList)> MultiLine;
    // Each data line of the LIST reply a retrieval asked for, as it arrives; the lines then do
    // not reach MultiLine, which ends the reply with its status line alone. Without this handler
    // they all come in MultiLine's lines.
    std::function<void(std::string_view line)> ListLine;
    // A run starts on the group at `index` (from 0) of `count`.
    std::function<void(size_t index, size_t count)> GroupStarted;
    // Bytes of the current group's article sent so far, of `total` (its size as composed); over
    // several connections, of all the articles under way.
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
    // An encrypted connection is up (its protocol, cipher and certificate), for each connection;
    // the operation has logged it.
    std::function<void(const TIpTlsPeer& peer)> Encrypted;
    // The server's certificate failed the check and the connection was closed; the operation
    // has ended. `nothingPosted` is true when it may simply be started again once the user
    // trusts the certificate.
    std::function<void(const TIpTlsPeer& peer, bool nothingPosted)> CertificateRefused;
};

// One posting run or one group-list retrieval at a time, over connections of its own
// (TNewsConnection): a retrieval and the first connection of a run use the first; a run opens the
// others once the first has been greeted and logged on, so that a wrong password is reported
// once. Each connection takes the next group not yet taken (TRunLedger); answers, each group's
// log lines and GroupDone go out in the request's order. Lines about a connection itself say
// which one ("Connection 2: ...") when the run has more than one.
//
// A connection lost during a run (closed, reset, silent past the timeout, a 400 reply, a reply
// cut short or one that is no status line, or a command it could not send) is opened again
// after ReconnectDelaysMs (a try each; a connection closed while owing nothing is opened again
// at once first); its group goes back to be taken again. A group is tried at most GroupTries
// times in a run, over whichever connections, whatever answers come in between: a server that
// drops every article before its verdict would otherwise be asked STAT and sent the article
// again for ever. The run then fails ("Gave up on <group> after 3 tries: <last reason>").
// A group whose article went out without a verdict, or one of SentBefore, is first asked for
// with STAT: 223 counts as accepted, 430 posts it again under the same Message-ID, and a refusal
// of that as a duplicate also counts as accepted. A group whose POST was not yet answered with
// 340 is simply posted again. An extra connection the server refuses at the start (a 400 or
// 502 greeting, a 201 where the first had 200, closed before the greeting) is not tried again;
// the run goes on over those it has.
//
// Each group's article goes out under a Message-ID derived from the run's RunId and the group's
// place, so a run resumed from its journal knows it even where the journal lost the line that
// named it; a Resumed run asks STAT for every group before posting it.
//
// A run with GroupsPerArticle above 1 hands out articles instead of groups: each batch of the
// groups (TArticleComposer::Batches) is one article whose Newsgroups lists them, and everything
// above (STAT before posting again, tries, several connections, verification) holds per
// article, under TArticleComposer::ArticleMessageId. Its answer is each of its groups' answer,
// so the outcomes, GroupDone and the summary still have one entry per group, in the request's
// order. A cross-post the server refuses as a whole (its reply to the article itself, not to
// POST) is posted again in two parts, as new articles: the group the reply names (a server
// refuses the whole article for one group that cannot take it) alone and the others together,
// or else the two halves; so the part holding a group that cannot take the article shrinks
// until that group stands alone and its own refusal is its answer, while every other group
// still gets the article once.
//
// A cancel run (the request's Cancels not empty) is a run like any other whose articles are
// cancel control messages (TArticleComposer::ComposeCancel): one per withdrawn article, to the
// groups of Groups that Cancels gives that article (a group Cancels lacks is dropped), each
// under a Message-ID derived from the run's RunId and the withdrawn article's place among the
// run's withdrawn Message-IDs (sorted), so a resumed run, whose Cancels the journal keeps whole,
// finds it again and asks STAT before sending it twice. A refused cancel is each of its groups'
// refusal, never split. The server answers 240 to a cancel it will not carry out as to one it
// will, so after the last group the run always asks STAT for every withdrawn article whose
// cancel was taken, whatever Verify says: 430 reports it Missing (gone), 223 Verified (kept).
//
// The recorder hears RunStarted at the start, before anything is sent (its refusal, or a
// journal it cannot open, raises from StartPost), ArticleGoing (CrosspostGoing for a cross-post)
// before each POST, CrosspostRefused for a cross-post refused as a whole, GroupAnswered as each
// answer comes, and RunEnded only when every group has been answered or the user
// aborted: a run that ends any other way (failed, refused, a certificate to trust) can be
// resumed. A recorder that cannot record ends the run at once (Failed), with nothing more
// posted. A run that fails first releases every outcome it holds (answered, but behind a group
// not yet answered) through GroupDone and into the summary, so that no answer goes unreported.
// Closing never throws (a QUIT the reset connection cannot take closes it), and a run ends with
// exactly one of Finished and Failed, or with the notice that the server allows no posting, or
// CertificateRefused.
//
// States and transitions (Busy() is true in Connecting, Posting, Verifying and Listing):
//   Idle, Closing --StartPost/StartList, first connection reusable--> Posting / Listing
//   Idle, Closing --StartPost/StartList otherwise--> Connecting (open connections are closed)
//   Connecting --first connection greeted (200, or 201 with log-on) and logged on--> Posting
//                (the other connections are opened) / Listing
//   Connecting --greeting 201 without log-on--> Closing (QUIT)
//   Connecting --log-on refused after a 201 greeting (run), or with EndOnRefusedLogOn--> Closing
//                (QUIT; Failed with EndOnRefusedLogOn); otherwise a refused log-on goes on
//   Connecting --first connection lost or refused--> Idle (Failed)
//   Posting --a cross-post refused as a whole--> Posting (its groups as two new articles)
//   Posting --every group answered--> Verifying (Verify or a cancel run, some accepted) or Idle
//             (Finished)
//   Posting, Verifying --a connection lost--> the same (that connection reopened, its article
//                        back)
//   Posting, Verifying --a connection lost for good and none left, or one the server broke or
//                        refused (a reply line over 1 MiB, log-on, encryption), or an article
//                        lost GroupTries times--> Idle (Failed)
//   Verifying --every accepted article asked for--> Idle (Finished)
//   Listing --whole LIST reply (or its refusal)--> Idle;  --connection lost--> Idle (Failed)
//   any busy state --Abort--> Closing (QUIT on every connection)
//                  --article that cannot be composed--> Idle (Failed)
//                  --certificate refused--> Idle (CertificateRefused instead of Failed)
//   Closing --every connection closed (server closes, answers QUIT, or CloseGraceMs)--> Idle
// Only SetState moves the state.
//
// A finished operation leaves its first connection open (the others get QUIT); the next one uses
// it only while it is alive and was opened to the same server with the same log-on.
class TNewsOperation : private TNewsConnectionOwner {
public:
    enum class TState : uint8_t { Idle, Connecting, Posting, Verifying, Listing, Closing };
    enum class TKind : uint8_t { Run, Retrieval };

    static constexpr int MaxConnections = 8;
    // How long Abort waits for the server to close the connection after QUIT.
    static constexpr int CloseGraceMs = TNewsConnection::CloseGraceMs;
    // The waits before each try to open a lost connection again.
    static constexpr std::array<int, 3> ReconnectDelaysMs{1000, 2000, 4000};
    // How often a run tries one group before it gives up.
    static constexpr int GroupTries = 3;

    TNewsOperation();
    ~TNewsOperation() override;
    TNewsOperation(const TNewsOperation&) = delete;
    TNewsOperation& operator=(const TNewsOperation&) = delete;

    // The first connection's client.
    TIpNntpClient& Client() { return FConnections.front()->Client(); }
    // The composer a run uses when its request has no ComposeArticle (a test's clock and
    // randomness).
    void SetComposer(TArticleComposer composer) { FComposer = std::move(composer); }
    const TArticleComposer& Composer() const { return FComposer; }
    TNewsOperationEvents& Events() { return FEvents; }
    // Told of every posting run from now on; not owned; null for none.
    void SetRecorder(TRunRecorder* recorder) { FRecorder = recorder; }
    // The waits before the tries to open a lost connection again (tests shorten them).
    void SetReconnectDelays(std::vector<int> delaysMs) { FReconnectDelays = std::move(delaysMs); }

    // Both raise what the client raises on the way (an unknown host); nothing has started then.
    // Both are ignored while another operation is under way.
    void StartPost(TNewsRequest request);
    void StartList(TNewsRequest request);
    // Ends the operation at once; every connection gets QUIT and is closed.
    void Abort();

    TState State() const { return FState; }
    TKind Kind() const { return FKind; }
    bool Busy() const;
    bool Posting() const { return Busy() && FKind == TKind::Run; }
    bool ListingGroups() const { return Busy() && FKind == TKind::Retrieval; }
    const TRunSummary& Summary() const { return FSummary; }
    // The first group of the run not yet answered (the last group once all are).
    size_t GroupIndex() const;

private:
    // What a connection is doing for the run.
    struct TWork {
        enum class TKind : uint8_t { None, Post, Check, Verify };
        TKind What = TKind::None;
        // The article (Post, Check) or the article to verify (Verify).
        size_t Item = 0;
        // The group whose exchange the connection's log lines belong to; none before its first.
        std::optional<size_t> LogGroup;
        int Tries = 0;
        // Posted again under the Message-ID it may already be on the server with.
        bool Repost = false;
        // The connection has answered a command since it came up.
        bool Served = false;
        // An extra connection opened at the start and not yet up.
        bool Opening = false;
        uint64_t SentAtPost = 0;
        uint64_t ArticleSize = 0;
        // Refused at the start: not opened again.
        bool Refused = false;
    };

    void Start(TKind kind, TNewsRequest request);
    static void DropUncancelled(TNewsRequest& request);
    void SetState(TState state);
    TNewsConnection& First() { return *FConnections.front(); }
    TNewsConnectionOwner& AsOwner() { return *this; }
    size_t IndexOf(const TNewsConnection& connection) const;
    void FirstConnectionUp();
    void ListGroups();
    void OpenOtherConnections();
    void ReportConnectionCount();
    // One article of the run: its groups (indexes of the request's groups, in their order).
    struct TArticle {
        std::vector<size_t> Groups;
        // Its Message-ID in this run.
        std::string MessageID;
        // The Message-ID under which it may already be on the server; empty when it cannot be.
        std::string MaybeOnServer;
        // Connections lost while they held it.
        int Tries = 0;
    };
    void FormArticles(bool runIdKnown);
    void FormCancels(bool runIdKnown);
    bool CancelRun() const { return !FRequest.Cancels.empty(); }
    // The Message-ID STAT asks for after the run: the article's own, or in a cancel run the
    // article withdrawn.
    std::string VerifiedId(const TGroupOutcome& outcome) const;
    size_t AddArticle(std::vector<size_t> groups);
    // The waiting article whose first group comes first.
    std::optional<size_t> TakeArticle();
    std::vector<std::string> NamesOf(const TArticle& article) const;
    void GiveWork(TNewsConnection& connection);
    void PostArticle(TNewsConnection& connection, size_t item, const std::string& messageId);
    // The article's answer goes to each of its groups.
    void AnswerArticle(size_t item, const TGroupOutcome& outcome);
    // Posts the groups of a cross-post refused as a whole again, in two new articles.
    void Split(size_t item, const std::string& reply);
    // Calls the recorder; false when it could not record, and the run has failed.
    bool Record(const std::function<void(TRunRecorder& recorder)>& call);
    // What the user is told when the recorder cannot record, after `groups` answers.
    static std::string JournalFailure(const std::string& reason, size_t groups);
    void Answer(size_t group, TGroupOutcome outcome);
    void Released(size_t group);
    void Verified(size_t item, bool found);
    void AfterPosting();
    void Finish();
    void Fail(const std::string& message);
    void EndRun();
    void GiveBack(TNewsConnection& connection);
    bool AnyConnectionLeft() const;
    void CloseAll(bool keepFirst);
    void QuitAll();
    void EndClosing();
    std::string Prefix(const TNewsConnection& connection) const;
    void Emit(const std::function<void(const std::string&)>& event, const std::string& text);

    void ConnectionLine(TNewsConnection& connection, const std::string& line) override;
    void ConnectionEvent(TNewsConnection& connection, const std::string& line) override;
    void ConnectionStatus(TNewsConnection& connection, const std::string& text) override;
    void ConnectionGreeted(TNewsConnection& connection, int32_t code) override;
    void ConnectionLoggedOn(TNewsConnection& connection, int32_t code) override;
    void ConnectionUp(TNewsConnection& connection) override;
    void ConnectionAnswered(TNewsConnection& connection, TIpNntpStates to, int32_t code,
                            const std::string& line) override;
    void ConnectionArticleGoing(TNewsConnection& connection) override;
    bool ConnectionListLine(TNewsConnection& connection, std::string_view line) override;
    void ConnectionListed(TNewsConnection& connection, std::vector<std::string>& lines,
                          bool forUs) override;
    void ConnectionLost(TNewsConnection& connection, const std::string& message,
                        int32_t code) override;
    void ConnectionClosed(TNewsConnection& connection) override;
    void ConnectionProgress(TNewsConnection& connection) override;
    void ConnectionEncrypted(TNewsConnection& connection, const TIpTlsPeer& peer) override;

    std::vector<std::unique_ptr<TNewsConnection>> FConnections;
    std::vector<TWork> FWork;
    // Connections of the current operation (the first ones of FConnections).
    size_t FInUse = 1;
    TNewsOperationEvents FEvents;
    TRunRecorder* FRecorder = nullptr;
    TState FState = TState::Idle;
    TKind FKind = TKind::Run;
    TNewsRequest FRequest;
    bool FGreeted201 = false;
    // An article of this run has gone out (or may have): a refused certificate cannot simply
    // start the run again.
    bool FArticleWent = false;
    // Groups the server has answered in this run.
    size_t FAnswered = 0;
    // Connections opened besides the first whose fate is not yet known.
    size_t FOthersPending = 0;
    std::vector<int> FReconnectDelays{ReconnectDelaysMs.begin(), ReconnectDelaysMs.end()};
    // The run's articles: its batches, then the parts of those the server refused as a whole.
    std::vector<TArticle> FArticles;
    // The articles waiting for a connection, by their first group: taken in the request's
    // order, one given back before any later one.
    std::set<std::pair<size_t, size_t>> FWaiting;
    // By group: its answer until it is released into the summary's outcomes.
    std::vector<TGroupOutcome> FOutcomes;
    // Sends a line to the log; what the ledgers release goes out through it.
    TRunLedger::TLineSink FLogLine;
    TRunLedger FLedger;
    // The accepted groups to verify (indexes of the summary's outcomes, in order), the articles
    // they came in (the same indexes, by article), the articles' ledger, and how many of the
    // groups have been reported verified or missing.
    std::vector<size_t> FToVerify;
    std::vector<std::vector<size_t>> FVerifyArticles;
    TRunLedger FVerifyLedger;
    size_t FVerifiedCount = 0;
    TArticleComposer FComposer;
    TRunSummary FSummary;
};
