#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A loopback relay between a news client and a real server that breaks their conversation at a
// chosen point, to see what the client makes of it. It cuts what passes into units and names
// the protocol step of each by watching the lines:
//   Connect   a connection accepted (no bytes; a fault here acts before the server is reached)
//   Greeting  the server's first line
//   LogOn     the reply to an AUTHINFO command
//   Post      the client's POST line
//   Go        the reply to POST (340 lets the article come)
//   Article   the article, from the line after 340 through its "." line
//   Verdict   the reply to the article
//   Stat      the reply to STAT
// Lines of no step (other commands, QUIT, the lines of a multi-line reply) pass as they are.
//
// A fault fires at the units of its step from the `Occurrence`-th on (counted on its connection,
// or on all when Connection is 0), `Times` times in all, and acts once `Byte` bytes of the unit
// have passed:
//   Reset   both sides are reset (at Connect: a refused connection)
//   Close   both sides are closed cleanly; a verdict closed at byte 0 is a swallowed one, a reply
//           closed inside its line a cut one
//   Stall   nothing more passes either way until the client gives up and closes
//   Say400  the client gets "400" and a close instead of the rest (at Greeting: a 400 greeting)
// When several faults are due on one unit, the first listed acts; the others count it all the same.
// Once a fault has acted the server's side is closed; the relay keeps reading the client's side
// until it closes, so a close reaches the client as a close and not as a reset.
//
// The test server wants encryption for a log-on, which would hide every line after it; with
// AnswerLogOn the relay plays the log-on itself (381, then 281) and the server never hears it.
//
// It runs on its own thread with plain POSIX sockets, so the test's thread may block.
//
//   FaultRelay relay(server.Port());
//   relay.SetFaults({{FaultRelay::TKind::Close, FaultRelay::TStep::Verdict}});
//   relay.Start();
//   ... post through relay.Address(): the first verdict never reaches the client ...
class FaultRelay {
public:
    enum class TStep : uint8_t { None, Connect, Greeting, LogOn, Post, Go, Article, Verdict, Stat };
    enum class TKind : uint8_t { Reset, Close, Stall, Say400 };
    static constexpr int Always = -1;

    struct TFault {
        TKind Kind = TKind::Close;
        TStep Step = TStep::Verdict;
        size_t Byte = 0;
        int Connection = 0;
        int Occurrence = 1;
        int Times = 1;
    };

    // True for the steps the server speaks (the others are the client's, or no bytes at all).
    static bool FromServer(TStep step);

    explicit FaultRelay(uint16_t targetPort);
    ~FaultRelay();
    FaultRelay(const FaultRelay&) = delete;
    FaultRelay& operator=(const FaultRelay&) = delete;

    bool Start();
    void Stop();
    // "127.0.0.1:<port>"
    std::string Address() const;
    void AnswerLogOn(bool answer) { FAnswerLogOn = answer; }
    // Replaces the faults still to fire; their counts start again.
    void SetFaults(std::vector<TFault> faults);
    // The faults that have acted, one entry each time, in order.
    std::vector<TFault> Fired() const;
    // Units of `step` seen so far, over every connection.
    int Seen(TStep step) const;
    int Accepted() const { return FAccepted; }

private:
    struct TLink;
    struct TArmed {
        TFault Fault;
        int Matched = 0;
        int Fired = 0;
    };
    void Run();
    void Accept();
    // The fault to act on this unit, if any; counts the unit.
    std::optional<TFault> Match(TStep step, int connection);
    // Passes what is whole of each side on; false once the link has ended.
    bool PassFromClient(TLink& link);
    bool PassFromServer(TLink& link);
    bool Pass(TLink& link, const std::string& unit, TStep step, int to);

    uint16_t FTargetPort = 0;
    uint16_t FPort = 0;
    int FListenFd = -1;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FAnswerLogOn{false};
    std::atomic<int> FAccepted{0};
    std::vector<std::unique_ptr<TLink>> FLinks;
    mutable std::mutex FMutex;
    std::vector<TArmed> FArmed;
    std::vector<TFault> FFired;
    std::map<TStep, int> FSeen;
};
