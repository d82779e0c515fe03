#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted TCP peer on 127.0.0.1 (or ::1) for tests of the socket and protocol layers. It listens
// on an ephemeral port, accepts connections one after another on its own thread and, for each,
// plays the script: send bytes (whole or in separate chunks), wait until some text has arrived,
// pause, change how it reads, close. Outside of script steps it keeps reading, records every byte
// it received and answers lines that match a rule. It uses plain POSIX sockets, so it works with
// any event loop on the test's side and never blocks the test's thread.
//
//   ScriptedPeer peer;
//   peer.Send("200 ready\r\n").WaitFor("QUIT\r\n").Send("205 bye\r\n").Close();
//   peer.Start();
//   client.Connect(peer.Address());
//   QTRY_VERIFY(peer.Finished());
//   QCOMPARE(peer.Received(), std::string("QUIT\r\n"));
//
// Script methods return the peer so calls chain; add them before Start.
class ScriptedPeer {
public:
    explicit ScriptedPeer(bool ipv6 = false);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t Port() const { return FPort; }
    // "127.0.0.1:<port>", or "[::1]:<port>"
    std::string Address() const;

    // Script steps, played in order on each accepted connection.
    ScriptedPeer& Send(std::string bytes);
    // Each chunk is its own send call, with `pauseMs` between them so they arrive apart.
    ScriptedPeer& SendChunks(std::vector<std::string> chunks, int pauseMs = 30);
    // Sends `chunk` `count` times as fast as the connection takes it (bulk traffic).
    ScriptedPeer& SendRepeated(std::string chunk, uint64_t count);
    // Waits until the bytes received on this connection contain `text` after the point the
    // previous WaitFor matched (or the peer's timeout passes, which marks the script failed).
    ScriptedPeer& WaitFor(std::string text);
    // Waits until `count` bytes have been received on this connection in total.
    ScriptedPeer& WaitForBytes(uint64_t count);
    ScriptedPeer& Pause(int ms);
    // From here on read at most `chunkBytes` per `intervalMs` (0 bytes: stop reading entirely).
    ScriptedPeer& ReadSlowly(size_t chunkBytes, int intervalMs);
    // Back to reading as fast as data comes.
    ScriptedPeer& ReadFast();
    // Closes this connection; with `reset` it is aborted (RST) instead of closed in order.
    ScriptedPeer& Close(bool reset = false);
    // Runs `action` on the peer's thread, with the connection's handle.
    ScriptedPeer& Do(std::function<void(int fd)> action);

    // Lines (ending in CR LF) that begin with `prefix` are answered with `reply`, on any
    // connection, while the peer reads outside of send steps.
    ScriptedPeer& Answer(std::string prefix, std::string reply);

    // Steps and rules added from here on are connection `index`'s own (0 = the first): it plays
    // them in place of the common script and answers by them alone.
    ScriptedPeer& OnConnection(size_t index);
    // Serves each connection on a thread of its own, so that several can be open at once
    // (otherwise a new connection ends the wait on the one before it).
    void SetConcurrent(bool concurrent) { FConcurrent = concurrent; }

    // Sets how long WaitFor steps may wait (default 10 s).
    void SetTimeout(int ms) { FTimeoutMs = ms; }

    void Start();
    // Stops the thread and closes every handle (also done by the destructor).
    void Stop();

    // Everything received, over all connections, in order.
    std::string Received() const;
    // What one connection received (0 = first).
    std::string ReceivedOn(size_t connection) const;
    // The received bytes cut at CR LF, without the terminators (an unfinished last line is left
    // out).
    std::vector<std::string> ReceivedLines() const;
    uint64_t ReceivedBytes() const;
    size_t Connections() const;
    // True once the client's end of the current connection has been seen closed (read 0).
    bool ClientClosed() const;
    // True once the script of the first connection has run to its end.
    bool Finished() const;
    // False when a WaitFor step timed out or a system call failed; Error() says what.
    bool Ok() const;
    std::string Error() const;
    // Blocks until Received() contains `text` or `timeoutMs` passes.
    bool WaitReceived(const std::string& text, int timeoutMs = 10000) const;

    // A loopback port on which nothing listens (bound and closed again), for refused connects.
    static uint16_t UnusedPort();

private:
    struct Step {
        enum Kind { kSend, kSendRepeated, kWaitFor, kWaitForBytes, kPause, kReadMode, kClose, kDo };
        Kind What = kSend;
        std::string Bytes;
        uint64_t Count = 0;
        int Ms = 0;
        bool Flag = false;
        std::function<void(int)> Action;
    };
    struct Rule {
        std::string Prefix;
        std::string Reply;
    };
    struct Script {
        std::vector<Step> Steps;
        std::vector<Rule> Rules;
    };
    const Script& ScriptOf(size_t index) const;

    void Run();
    void Serve(int fd, size_t index);
    bool ReadSome(int fd, size_t index, int waitMs);
    bool SendAll(int fd, const char* data, size_t length, size_t index);
    void Fail(const std::string& what);
    void AnswerLines(int fd, size_t index);

    bool FIPv6 = false;
    int FListenFd = -1;
    uint16_t FPort = 0;
    Script FCommon;
    std::map<size_t, Script> FOwn;
    Script* FAdding = &FCommon;
    bool FConcurrent = false;
    std::thread FThread;
    std::vector<std::thread> FServers;
    std::atomic<bool> FStop{false};
    int FTimeoutMs = 10000;

    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::vector<std::string> FReceived; // per connection
    std::string FAll;
    std::vector<size_t> FAnswered; // per connection: bytes already scanned for rules
    std::vector<bool> FClosed;     // per connection: the client's end seen closed
    bool FFinished = false;
    std::string FError;
    size_t FSlowChunk = 0;
    int FSlowInterval = 0;
    bool FSlow = false;
};
