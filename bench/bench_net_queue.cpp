// Send queue growth: 1,000,000 lines of 78 bytes queued with QueueSend to a peer that reads as
// fast as it can. The time per queued line must stay flat as the queue grows; the whole run is
// reported next to one blocking send of the same bytes.

#include "net/TIpDataSocket.h"
#include "net/TIpSockControl.h"
#include "support/ScriptedPeer.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

static constexpr uint32_t totalLines = 1000000;
static constexpr uint32_t blockLines = 100000;
static const std::string line = std::string(76, 'q') + "\r\n";

static double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class SendingClient : public TIpSockControl {
public:
    void CreateSocket() override {
        Socket = std::make_unique<TIpDataSocket>(*this, nullptr, &Settings(), BindAddress());
    }
    void FreeSocket(int) override { Socket.reset(); }
    bool IsActive() const override { return Socket != nullptr; }
    TIpDataSocket* FindSocket(int handle, bool raise) override {
        if (Socket && Socket->Handle() == handle)
            return Socket.get();
        return TIpSockControl::FindSocket(handle, raise);
    }
    void NotifyStatus(int, TIpStatusType type, const TIpConnRec&) override {
        if (type == TIpStatusType::stConnect)
            QCoreApplication::quit();
    }
    void NotifyItemSent(int, uint32_t, uint32_t left) override {
        if (left == 0)
            QCoreApplication::quit();
    }
    std::unique_ptr<TIpDataSocket> Socket;
};

static double OneSend() {
    ScriptedPeer peer;
    peer.WaitForBytes(uint64_t(totalLines) * line.size());
    peer.Start();
    std::string all;
    all.reserve(size_t(totalLines) * line.size());
    for (uint32_t i = 0; i < totalLines; ++i)
        all += line;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(peer.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const auto start = std::chrono::steady_clock::now();
    for (size_t sent = 0; sent < all.size();) {
        const ssize_t n = ::send(fd, all.data() + sent, all.size() - sent, 0);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    while (peer.ReceivedBytes() < all.size())
        usleep(200);
    const double seconds = Seconds(start);
    ::close(fd);
    return seconds;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double baseline = OneSend();

    ScriptedPeer peer;
    peer.WaitForBytes(uint64_t(totalLines) * line.size());
    peer.Start();
    SendingClient client;
    client.CreateSocket();
    client.Socket->ConnectTo(client.ResolveAddress(peer.Address(), 119), peer.Address());
    QCoreApplication::exec();          // until connected
    QCoreApplication::processEvents(); // the first write readiness

    const auto start = std::chrono::steady_clock::now();
    std::vector<double> blocks;
    auto blockStart = start;
    for (uint32_t i = 1; i <= totalLines; ++i) {
        client.PutString(client.Socket->Handle(), line, false);
        if (i % blockLines == 0) {
            blocks.push_back(Seconds(blockStart) / blockLines * 1e9);
            blockStart = std::chrono::steady_clock::now();
        }
    }
    const uint32_t queued = client.Socket->QueuedItems();
    const double queueing = Seconds(start);
    if (queued != 0)
        QCoreApplication::exec(); // until the last item has gone out
    while (peer.ReceivedBytes() < uint64_t(totalLines) * line.size())
        usleep(200);
    const double total = Seconds(start);

    std::printf("send queue, 1,000,000 lines of 78 bytes over loopback\n");
    std::printf("  QueueSend time per line, per block of %u lines (ns):", blockLines);
    for (double ns : blocks)
        std::printf(" %.0f", ns);
    std::printf("\n  items still queued after queueing: %u\n", queued);
    std::printf("  last block / first block: %.2f (flat is about 1)\n",
                blocks.back() / blocks.front());
    std::printf("  queueing %.3f s, all delivered %.3f s; one send of the same bytes %.3f s\n",
                queueing, total, baseline);
    std::printf("  ratio one send / QueueSend run: %.2f\n", baseline / total);
    return 0;
}
