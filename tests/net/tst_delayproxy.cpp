#include "support/DelayProxy.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedPeer.h"

#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A blocking socket that gives up a read after 10 s instead of hanging the test.
struct Fd {
    explicit Fd(int fd = -1) : Value(fd) {
        const timeval limit{10, 0};
        if (fd >= 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~Fd() {
        if (Value >= 0)
            ::close(Value);
    }
    Fd(Fd&& other) noexcept : Value(other.Value) { other.Value = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Value = -1;
};

// The target the proxy relays to: this test holds both ends of every connection.
struct Target {
    Target() : Listener(ListenOnLoopback(Port)) {}
    // The next connection the proxy opened, or -1 after 10 s.
    Fd Accept() {
        pollfd ready{Listener.Value, POLLIN, 0};
        if (::poll(&ready, 1, 10000) != 1)
            return Fd();
        return Fd(::accept(Listener.Value, nullptr, nullptr));
    }
    // Before Listener, which sets it.
    uint16_t Port = 0;
    Fd Listener;
};

Fd Dial(uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in address = Loopback(port);
    if (::connect(fd.Value, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return Fd();
    return fd;
}

// Reads until the other side closes (or `count` bytes have come, when given).
std::string Receive(int fd, size_t count = std::string::npos) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < count) {
        const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

// Bytes that differ with the connection, the direction and the position, so that a chunk
// delivered on the wrong connection, the wrong way or out of order changes what arrives.
std::string Pattern(size_t connection, char direction, size_t round, size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((connection * 131 + direction * 7 + round * 17 + i) % 251);
    return bytes;
}

} // namespace

class tst_delayproxy : public QObject {
    Q_OBJECT

private slots:
    void bytesArriveIntactAndInOrder_data();
    void bytesArriveIntactAndInOrder();
    void roundTripCostsTwiceTheDelay_data();
    void roundTripCostsTwiceTheDelay();
    void refusedTargetClosesTheClient();
};

void tst_delayproxy::bytesArriveIntactAndInOrder_data() {
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("rounds");
    QTest::addColumn<int>("chunkBytes");
    QTest::newRow("no delay, one connection, small chunks") << 0 << 1 << 50 << 7;
    QTest::newRow("5 ms, four connections, lines") << 5 << 4 << 20 << 80;
    QTest::newRow("15 ms, eight connections, large chunks") << 15 << 8 << 4 << 300000;
}

// Every connection carries its own bytes both ways at the same time, interleaved with the
// others; each side then closes its sending half, and the other side must see exactly what was
// sent followed by the close.
void tst_delayproxy::bytesArriveIntactAndInOrder() {
    QFETCH(int, delayMs);
    QFETCH(int, connections);
    QFETCH(int, rounds);
    QFETCH(int, chunkBytes);
    Target target;
    DelayProxy proxy("127.0.0.1", target.Port, std::chrono::milliseconds(delayMs));
    QVERIFY2(proxy.Start(), proxy.Error().c_str());

    std::vector<Fd> clients;
    std::vector<Fd> servers;
    for (int i = 0; i < connections; ++i) {
        clients.push_back(Dial(proxy.Port()));
        servers.push_back(target.Accept());
        QVERIFY(clients.back().Value >= 0 && servers.back().Value >= 0);
    }
    std::vector<std::string> up(connections);
    std::vector<std::string> down(connections);
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < connections; ++i) {
            // Sizes vary by round so chunk boundaries fall differently each time.
            const size_t length = static_cast<size_t>(chunkBytes + round % 5);
            const std::string toServer = Pattern(i, 'u', round, length);
            const std::string toClient = Pattern(i, 'd', round, length + 3);
            QVERIFY(SendAll(clients[i].Value, toServer));
            QVERIFY(SendAll(servers[i].Value, toClient));
            up[i] += toServer;
            down[i] += toClient;
        }
    }
    for (int i = 0; i < connections; ++i) {
        ::shutdown(clients[i].Value, SHUT_WR);
        ::shutdown(servers[i].Value, SHUT_WR);
    }
    for (int i = 0; i < connections; ++i) {
        QVERIFY2(Receive(servers[i].Value) == up[i], qPrintable(QString("to target, %1").arg(i)));
        QVERIFY2(Receive(clients[i].Value) == down[i], qPrintable(QString("to client, %1").arg(i)));
    }
    QCOMPARE(proxy.Accepted(), connections);
}

void tst_delayproxy::roundTripCostsTwiceTheDelay_data() {
    QTest::addColumn<int>("delayMs");
    QTest::newRow("5 ms each way") << 5;
    QTest::newRow("15 ms each way") << 15;
}

// Only the lower bound is a property of the proxy; how much later a busy machine delivers is
// not.
void tst_delayproxy::roundTripCostsTwiceTheDelay() {
    QFETCH(int, delayMs);
    Target target;
    DelayProxy proxy("127.0.0.1", target.Port, std::chrono::milliseconds(delayMs));
    QVERIFY2(proxy.Start(), proxy.Error().c_str());
    const Fd client = Dial(proxy.Port());
    const Fd server = target.Accept();
    QVERIFY(client.Value >= 0 && server.Value >= 0);
    for (int trip = 0; trip < 5; ++trip) {
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(SendAll(client.Value, "ping\r\n"));
        QCOMPARE(Receive(server.Value, 6), std::string("ping\r\n"));
        QVERIFY(SendAll(server.Value, "pong\r\n"));
        QCOMPARE(Receive(client.Value, 6), std::string("pong\r\n"));
        const auto took = std::chrono::steady_clock::now() - start;
        QVERIFY2(
            took >= 2 * std::chrono::milliseconds(delayMs),
            qPrintable(
                QString("round trip %1 us")
                    .arg(std::chrono::duration_cast<std::chrono::microseconds>(took).count())));
    }
}

// A server that is not there looks, through the proxy, like one that closes before greeting.
void tst_delayproxy::refusedTargetClosesTheClient() {
    DelayProxy proxy("127.0.0.1", ScriptedPeer::UnusedPort(), 1ms);
    QVERIFY2(proxy.Start(), proxy.Error().c_str());
    const Fd client = Dial(proxy.Port());
    QVERIFY(client.Value >= 0);
    char byte = 0;
    const ssize_t got = ::recv(client.Value, &byte, 1, 0);
    // 0 is a close, an error other than the read timeout a reset; data or the timeout fail.
    QVERIFY2(got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK),
             qPrintable(QString("recv gave %1").arg(got)));
}

QTEST_APPLESS_MAIN(tst_delayproxy)
#include "tst_delayproxy.moc"
