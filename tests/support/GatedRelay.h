#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A loopback relay in front of a real server that passes everything both ways until the server
// sends its n-th line beginning with a given text: from that line on it holds back all the
// server sends on the connections it has, so the client waits for an answer that never comes,
// at a point the test chose (an article stored by the server, its verdict never heard). It
// runs on its own thread with plain POSIX sockets, so the test's thread may block.
//
//   GatedRelay relay(server.Port());
//   relay.HoldFrom("240 ", 21);
//   relay.Start();
//   ... run the client against relay.Address(); QTRY_VERIFY(relay.Holding()) ...
//   relay.Release();   // connections accepted from now on pass everything
class GatedRelay {
public:
    explicit GatedRelay(uint16_t targetPort);
    ~GatedRelay();
    GatedRelay(const GatedRelay&) = delete;
    GatedRelay& operator=(const GatedRelay&) = delete;

    // "127.0.0.1:<port>"
    std::string Address() const;
    void HoldFrom(std::string prefix, int count);
    // True once a line is held back.
    bool Holding() const { return FHolding; }
    void Release();
    // While set, every connection is closed as soon as it is accepted (a server that is away).
    void SetRefusing(bool refusing) { FRefusing = refusing; }
    // Connections accepted so far.
    int Accepted() const;
    bool Start();
    void Stop();

private:
    struct TPair;
    void Run();

    uint16_t FTargetPort = 0;
    uint16_t FPort = 0;
    int FListenFd = -1;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FHolding{false};
    std::atomic<bool> FRefusing{false};
    mutable std::mutex FMutex;
    std::string FPrefix;
    int FCount = 0;
    int FSeen = 0;
    // Connections accepted from this number on are never held (after Release).
    uint64_t FFreeFrom = UINT64_MAX;
    uint64_t FAccepted = 0;
};
