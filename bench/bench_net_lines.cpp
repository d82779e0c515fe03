// Line delivery throughput: a loopback peer sends 200 MB of 80-byte CR LF lines; the data socket
// cuts them into lines for its owner. Baseline: a plain blocking recv + memchr loop over the same
// stream, measured in the same run.

#include "net/TIpDataSocket.h"
#include "net/TIpSockControl.h"
#include "support/ScriptedPeer.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

static constexpr uint64_t totalBytes = 200ull * 1000 * 1000;
static constexpr int lineLength = 80;
static constexpr int linesPerChunk = 100;
static constexpr uint64_t chunks = totalBytes / (lineLength * linesPerChunk);
static constexpr uint64_t totalLines = chunks * linesPerChunk;

static std::string Chunk() {
    std::string line(lineLength - 2, 'n');
    line += "\r\n";
    std::string chunk;
    for (int i = 0; i < linesPerChunk; ++i)
        chunk += line;
    return chunk;
}

static double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

static double PlainLoop(int receiveBuffer) {
    ScriptedPeer peer;
    peer.SendRepeated(Chunk(), chunks).Close();
    peer.Start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(peer.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = std::chrono::steady_clock::now();
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    char buffer[8192];
    size_t kept = 0;
    uint64_t lines = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer + kept, sizeof buffer - kept, 0);
        if (n <= 0)
            break;
        const size_t filled = kept + static_cast<size_t>(n);
        size_t at = 0;
        while (const void* found = std::memchr(buffer + at, '\n', filled - at)) {
            at = static_cast<size_t>(static_cast<const char*>(found) - buffer) + 1;
            ++lines;
        }
        kept = filled - at;
        std::memmove(buffer, buffer + at, kept);
    }
    const double seconds = Seconds(start);
    ::close(fd);
    if (lines != totalLines)
        std::printf("plain loop counted %llu lines of %llu\n", (unsigned long long)lines,
                    (unsigned long long)totalLines);
    return lines / seconds;
}

class CountingClient : public TIpSockControl {
public:
    void CreateSocket() override {
        Socket = std::make_unique<TIpDataSocket>(*this, nullptr, &Settings(), BindAddress());
    }
    void FreeSocket(int) override {
        Socket.reset();
        QCoreApplication::quit();
    }
    bool IsActive() const override { return Socket != nullptr; }
    TIpDataSocket* FindSocket(int handle, bool raise) override {
        if (Socket && Socket->Handle() == handle)
            return Socket.get();
        return TIpSockControl::FindSocket(handle, raise);
    }
    void DeliverLine(int, const std::string& text) override {
        ++Lines;
        Bytes += text.size();
    }
    std::unique_ptr<TIpDataSocket> Socket;
    uint64_t Lines = 0;
    uint64_t Bytes = 0;
};

static double DataSocket(int32_t receiveBufferSize) {
    ScriptedPeer peer;
    peer.SendRepeated(Chunk(), chunks).Close();
    peer.Start();
    CountingClient client;
    client.Settings().StripLineTerminator = true;
    client.Settings().ReceiveBufferSize = receiveBufferSize;
    client.CreateSocket();
    const auto start = std::chrono::steady_clock::now();
    client.Socket->ConnectTo(client.ResolveAddress(peer.Address(), 119), peer.Address());
    QCoreApplication::exec();
    const double seconds = Seconds(start);
    if (client.Lines != totalLines)
        std::printf("data socket delivered %llu lines of %llu\n", (unsigned long long)client.Lines,
                    (unsigned long long)totalLines);
    return client.Lines / seconds;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // With the system's own receive buffer size (ReceiveBufferSize 1000 is never applied)...
    const double plain = PlainLoop(0);
    const double ours = DataSocket(1000);
    // ...and with the client's setting, 4096 bytes, which caps the TCP window for both.
    const double plainSmall = PlainLoop(4096);
    const double oursSmall = DataSocket(4096);
    std::printf("line delivery, 200 MB of 80-byte CR LF lines over loopback\n");
    std::printf("  system receive buffer:  plain recv + memchr %11.0f lines/s, "
                "TIpDataSocket %11.0f lines/s, ratio %.2f (goal >= 0.70)\n",
                plain, ours, ours / plain);
    std::printf("  4096-byte receive buffer: plain recv + memchr %11.0f lines/s, "
                "TIpDataSocket %11.0f lines/s, ratio %.2f\n",
                plainSmall, oursSmall, oursSmall / plainSmall);
    return 0;
}
