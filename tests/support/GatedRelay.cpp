#include "support/GatedRelay.h"
#include "support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

struct GatedRelay::TPair {
    int Client = -1;
    int Server = -1;
    bool Gated = true;
    // What the server sent that has not gone on: an unfinished line, or everything once held.
    std::string FromServer;
    ~TPair() {
        for (const int fd : {Client, Server})
            if (fd >= 0)
                ::close(fd);
    }
};

GatedRelay::GatedRelay(uint16_t targetPort) : FTargetPort(targetPort) {}

GatedRelay::~GatedRelay() {
    Stop();
}

std::string GatedRelay::Address() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

void GatedRelay::HoldFrom(std::string prefix, int count) {
    const std::lock_guard lock(FMutex);
    FPrefix = std::move(prefix);
    FCount = count;
    FSeen = 0;
}

void GatedRelay::Release() {
    const std::lock_guard lock(FMutex);
    FFreeFrom = FAccepted;
}

int GatedRelay::Accepted() const {
    const std::lock_guard lock(FMutex);
    return static_cast<int>(FAccepted);
}

bool GatedRelay::Start() {
    FListenFd = ListenOnLoopback(FPort);
    if (FListenFd < 0)
        return false;
    FThread = std::thread([this] { Run(); });
    return true;
}

void GatedRelay::Stop() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FListenFd >= 0)
        ::close(FListenFd);
    FListenFd = -1;
}

void GatedRelay::Run() {
    std::vector<std::unique_ptr<TPair>> pairs;
    // Passes on the server's whole lines until the line to hold; true while the pair lives.
    const auto forward = [this](TPair& pair) {
        size_t end = 0;
        while ((end = pair.FromServer.find('\n')) != std::string::npos) {
            if (pair.Gated) {
                const std::lock_guard lock(FMutex);
                if (FHolding)
                    return true;
                if (FCount > 0 && pair.FromServer.compare(0, FPrefix.size(), FPrefix) == 0 &&
                    ++FSeen == FCount) {
                    FHolding = true;
                    return true;
                }
            }
            if (!SendAll(pair.Client, std::string_view(pair.FromServer).substr(0, end + 1)))
                return false;
            pair.FromServer.erase(0, end + 1);
        }
        return true;
    };
    while (!FStop) {
        std::vector<pollfd> fds{{FListenFd, POLLIN, 0}};
        for (const auto& pair : pairs) {
            fds.push_back({pair->Client, POLLIN, 0});
            fds.push_back({pair->Server, POLLIN, 0});
        }
        // A short wait, so that Stop is seen soon.
        if (::poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            auto pair = std::make_unique<TPair>();
            pair->Client = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
            pair->Server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in target = Loopback(FTargetPort);
            if (!FRefusing && pair->Client >= 0 && pair->Server >= 0 &&
                ::connect(pair->Server, reinterpret_cast<const sockaddr*>(&target),
                          sizeof target) == 0) {
                const std::lock_guard lock(FMutex);
                pair->Gated = FAccepted++ < FFreeFrom;
                pairs.push_back(std::move(pair));
            }
        }
        std::vector<bool> alive(pairs.size(), true);
        for (size_t i = 0; i < pairs.size() && i * 2 + 2 < fds.size(); ++i) {
            TPair& pair = *pairs[i];
            char buffer[16384] = {};
            if (fds[i * 2 + 1].revents != 0) {
                const ssize_t got = ::recv(pair.Client, buffer, sizeof buffer, 0);
                alive[i] = got > 0 &&
                           SendAll(pair.Server, std::string_view(buffer, static_cast<size_t>(got)));
            }
            if (alive[i] && fds[i * 2 + 2].revents != 0) {
                const ssize_t got = ::recv(pair.Server, buffer, sizeof buffer, 0);
                if (got > 0)
                    pair.FromServer.append(buffer, static_cast<size_t>(got));
                alive[i] = forward(pair) && got > 0;
            }
        }
        for (size_t i = alive.size(); i-- > 0;)
            if (!alive[i])
                pairs.erase(pairs.begin() + static_cast<ptrdiff_t>(i));
    }
}
