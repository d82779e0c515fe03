#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

// A TCP relay on 127.0.0.1 that makes a loopback server look far away: every chunk read from
// either side is written to the other side `delay` after it arrived, so each round trip through
// the relay costs 2 x delay more. Bytes keep their order and nothing else is limited (no
// bandwidth cap, no buffer bound). Each accepted connection gets its own connection to the
// target, opened `delay` after the accept, so that opening a connection costs a round trip as
// a handshake on a real link does. A side that closes (or resets) is passed on as a close of
// the other side once the bytes before it have gone out. Connections are served at once, any
// number of them.
//
// It runs on its own thread with plain POSIX sockets and ppoll, whose timeout is in
// nanoseconds, so the relay's own lateness stays far below a millisecond; both of its sockets
// of a connection send without Nagle's wait, since a small reply held back would cost more than
// the delay itself.
//
//   DelayProxy proxy("127.0.0.1", server.Port(), std::chrono::milliseconds(15));
//   QVERIFY2(proxy.Start(), proxy.Error().c_str());
//   request.Host = proxy.Address();
class DelayProxy {
public:
    DelayProxy(std::string targetHost, uint16_t targetPort, std::chrono::microseconds delay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on an ephemeral port and starts relaying; false with Error() when it cannot.
    bool Start();
    // Closes the listener and every connection; the destructor stops it too.
    void Stop();

    uint16_t Port() const { return FPort; }
    // "127.0.0.1:<port>"
    std::string Address() const;
    std::string Error() const { return FError; }
    // Connections accepted since Start.
    int Accepted() const { return FAccepted; }

private:
    void Run();

    std::string FTargetHost;
    uint16_t FTargetPort = 0;
    std::chrono::microseconds FDelay{0};
    int FListener = -1;
    // Written to wake the relay's thread when it must stop.
    int FWake[2] = {-1, -1};
    uint16_t FPort = 0;
    std::string FError;
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};
