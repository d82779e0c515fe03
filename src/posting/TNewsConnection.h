#pragma once

#include "nntp/TIpNntpClient.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct TNewsRequest;
class TNewsConnection;

// What a connection tells the operation it serves.
class TNewsConnectionOwner {
public:
    virtual ~TNewsConnectionOwner() = default;
    // A line of the connection's exchange for the status log, one about the connection itself
    // (lost, broken, silent), and a text for the status bar.
    virtual void ConnectionLine(TNewsConnection& connection, const std::string& line) = 0;
    virtual void ConnectionEvent(TNewsConnection& connection, const std::string& line) = 0;
    virtual void ConnectionStatus(TNewsConnection& connection, const std::string& text) = 0;
    // The server greeted with 200 or 201. The owner may close the connection here; otherwise it
    // goes on to the log-on, or is up.
    virtual void ConnectionGreeted(TNewsConnection& connection, int32_t code) = 0;
    // The server answered the log-on (281 accepted). The owner may close the connection here;
    // otherwise it is up.
    virtual void ConnectionLoggedOn(TNewsConnection& connection, int32_t code) = 0;
    // The connection is up and owes nothing: ready for the next command.
    virtual void ConnectionUp(TNewsConnection& connection) = 0;
    // The server answered POST (other than 340), the article, or STAT; `line` as sent.
    virtual void ConnectionAnswered(TNewsConnection& connection, TIpNntpStates to, int32_t code,
                                    const std::string& line) = 0;
    // The server asked for the article (340); it is on its way.
    virtual void ConnectionArticleGoing(TNewsConnection& connection) = 0;
    // A data line of the LIST reply this connection's List asked for, as it arrives; true when
    // the owner has taken it, false to leave it in the lines ConnectionListed gets.
    virtual bool ConnectionListLine(TNewsConnection& connection, std::string_view line) = 0;
    virtual void ConnectionListed(TNewsConnection& connection, std::vector<std::string>& lines,
                                  bool forUs) = 0;
    // The connection is gone: closed by the server, broken, silent past the timeout, or told to
    // go away (a 400 reply or greeting). `message` says why; `code` is the socket error's code,
    // 0 for none.
    virtual void ConnectionLost(TNewsConnection& connection, const std::string& message,
                                int32_t code) = 0;
    // A QUIT sent earlier has ended with the connection closed.
    virtual void ConnectionClosed(TNewsConnection& connection) = 0;
    // Bytes have moved on the connection.
    virtual void ConnectionProgress(TNewsConnection& connection) = 0;
    virtual void ConnectionEncrypted(TNewsConnection& connection, const TIpTlsPeer& peer) = 0;
};

// One connection of an operation to the news server, over an NNTP client of its own.
//
// States and transitions (the owner hears of each step that matters to it):
//   Closed --Open--> Connecting;  Closed --Reopen(delay)--> Waiting --delay passes--> Connecting
//   Connecting --greeting 200 or 201--> LoggingOn (a user name to log on with) or Ready (Up)
//   Connecting --other greeting--> Closed (Lost)
//   LoggingOn --reply to AUTHINFO PASS, or 281 to AUTHINFO USER--> Ready (LoggedOn, then Up)
//   Ready --Post--> AwaitPost --340--> AwaitVerdict (ArticleGoing) --reply--> Ready (Answered)
//   Ready --Post or Stat that cannot be sent--> AwaitPost / AwaitStat --next turn of the event
//                                               loop--> Closed (Lost)
//   AwaitPost --other reply--> Ready (Answered)
//   Ready --Stat--> AwaitStat --reply--> Ready (Answered)
//   Ready --List--> Listing --whole reply--> Ready (Listed)
//   AwaitPost, AwaitVerdict, AwaitStat --400 reply--> Closed (Lost: the server is going away)
//   Connecting .. Listing --closed by the server, socket error, no reply within the timeout-->
//   Closed
//                          (Lost; the reply timer runs in every state that owes a reply)
//   Ready --closed by the server--> Closed (Lost, owing nothing)
//   any --Quit--> Closing (QUIT) --server closes, answers 205, or CloseGraceMs pass--> Closed
//                 (Closed); without a connection, or when QUIT cannot be sent, straight to
//                 Closed (Quit never throws)
//   any --Close--> Closed (nothing told)
// Only SetState moves the state.
class TNewsConnection {
public:
    enum class TState : uint8_t {
        Closed,
        Waiting,
        Connecting,
        LoggingOn,
        Ready,
        AwaitPost,
        AwaitVerdict,
        AwaitStat,
        Listing,
        Closing
    };
    // How long Quit waits for the server to close the connection after QUIT.
    static constexpr int CloseGraceMs = 3000;

    TNewsConnection(TNewsConnectionOwner& owner, int number);
    ~TNewsConnection();
    TNewsConnection(const TNewsConnection&) = delete;
    TNewsConnection& operator=(const TNewsConnection&) = delete;

    // 1 for the first connection of an operation.
    int Number() const { return FNumber; }
    TIpNntpClient& Client() { return *FClient; }
    TState State() const { return FState; }
    // Connected, logged on, and owing nothing.
    bool IsReady() const { return FState == TState::Ready && FClient->Connected(); }
    // A connection that is there or on its way (not closed, not closing).
    bool Alive() const;
    // Once up since the last Open: greeted and logged on.
    bool WasUp() const { return FWasUp; }
    // The server and log-on the connection was made with.
    const TNewsRequest& Made() const { return *FMade; }

    // Connects to request's server and logs on as it says; raises what the client raises (an
    // unknown host).
    void Open(const TNewsRequest& request);
    // Opens the connection again after delayMs.
    void Reopen(const TNewsRequest& request, int delayMs);
    void Post();
    void Stat(const std::string& messageId);
    void List();
    void Quit();
    void Close();

    // Bytes received over this connection's sockets since it was opened (a connection kept from
    // an earlier operation counts from its start), and bytes sent over the current socket.
    uint64_t Received() const { return FReceivedBefore + FReceived; }
    uint64_t Sent() const { return FSent; }
    // Forgets the sockets before the current one.
    void ResetCounts();
    // What the connection waits for, for the timeout's message.
    std::string WaitDescription() const;

private:
    // A state in which the server owes a reply (the reply timer runs).
    static bool OwesReply(TState state);
    void SetState(TState state);
    void Remember(const TNewsRequest& request);
    void Connect();
    void Up();
    void Lose(const std::string& message, int32_t code);
    // Sends a command whose reply moves the connection out of `awaiting`.
    void Send(TState awaiting, const std::function<void()>& command);
    void LoseLater(const std::string& message, int32_t code);
    void EndClosing();
    void ReplyTimedOut();
    void RestartReplyTimer();

    void OnResponse(TIpNntpStates responseTo, int32_t code, const std::string& response);
    void OnMultiLine(TIpNntpStates responseTo, std::vector<std::string>& lines);
    void OnStatus(TIpStatusType event, const TIpSockStatRec& statistics);
    void OnSocketError(int32_t code, const std::string& text);

    TNewsConnectionOwner& FOwner;
    const int FNumber;
    std::unique_ptr<TIpNntpClient> FClient;
    std::unique_ptr<TNewsRequest> FMade;
    TState FState = TState::Closed;
    bool FWasUp = false;
    uint64_t FReceivedBefore = 0;
    uint64_t FReceived = 0;
    uint64_t FSent = 0;
    QObject FContext;
    QTimer FReplyTimer;
    QTimer FCloseTimer;
    QTimer FReopenTimer;
};
