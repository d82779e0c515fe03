#include "support/DelayProxy.h"
#include "support/LoopbackSockets.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Bytes taken from a socket in one read; a larger chunk is simply read in several.
constexpr size_t ReadBytes = 64 * 1024;

class Socket {
public:
    explicit Socket(int fd = -1) : FFd(fd) {}
    ~Socket() { Reset(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return FFd; }
    void Reset(int fd = -1) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd = -1;
};

void SendAtOnce(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// What one side read, held until it is due on the other side. A chunk without bytes is the
// reading side's end.
struct Chunk {
    Clock::time_point Due;
    std::string Bytes;
    bool End = false;
};

// One direction of a connection:
//   read --> Held (until due) --> Ready[ReadyAt..] --> written
// Once the end comes due and Ready is written, the writing side is shut down (Closed).
struct Flow {
    std::deque<Chunk> Held;
    std::string Ready;
    size_t ReadyAt = 0;
    bool SourceOpen = true;
    bool EndReady = false;
    bool Closed = false;

    bool Pending() const { return ReadyAt < Ready.size(); }

    std::optional<Clock::time_point> NextDue() const {
        if (Held.empty())
            return std::nullopt;
        return Held.front().Due;
    }

    void Read(int fd, Clock::time_point due) {
        thread_local std::array<char, ReadBytes> buffer{};
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (got <= 0) {
            // Closed or reset: either way the other side is told by a close.
            SourceOpen = false;
            Held.push_back({due, {}, true});
            return;
        }
        Held.push_back({due, std::string(buffer.data(), static_cast<size_t>(got)), false});
    }

    void Release(Clock::time_point now) {
        while (!Held.empty() && Held.front().Due <= now) {
            if (Held.front().End)
                EndReady = true;
            else
                Ready += Held.front().Bytes;
            Held.pop_front();
        }
    }

    // Writes what is due; false when the writing side has failed.
    bool Deliver(int fd) {
        while (Pending()) {
            const ssize_t sent =
                ::send(fd, Ready.data() + ReadyAt, Ready.size() - ReadyAt, MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    return true;
                return false;
            }
            ReadyAt += static_cast<size_t>(sent);
        }
        Ready.clear();
        ReadyAt = 0;
        if (EndReady && !Closed) {
            ::shutdown(fd, SHUT_WR);
            Closed = true;
        }
        return true;
    }
};

// A client accepted by the relay and its own connection to the target.
//   Waiting --ConnectAt reached--> Connecting --connect done--> Open
//   any --connect or write failed--> Broken (both sockets closed at once)
struct Link {
    enum class TStage : uint8_t { Waiting, Connecting, Open, Broken };

    Socket Client;
    Socket Server;
    TStage Stage = TStage::Waiting;
    Clock::time_point ConnectAt;
    Flow Up;   // client to target
    Flow Down; // target to client

    bool Finished() const { return Stage == TStage::Broken || (Up.Closed && Down.Closed); }

    void Connect(const sockaddr_in& target) {
        Server.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (Server.Get() < 0) {
            Stage = TStage::Broken;
            return;
        }
        SendAtOnce(Server.Get());
        if (::connect(Server.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
            Stage = TStage::Open;
        else
            Stage = errno == EINPROGRESS ? TStage::Connecting : TStage::Broken;
    }

    void Connected() {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(Server.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
        Stage = error == 0 ? TStage::Open : TStage::Broken;
    }

    // Moves what has come due and writes what can be written.
    void Advance(Clock::time_point now, const sockaddr_in& target) {
        if (Stage == TStage::Waiting && ConnectAt <= now)
            Connect(target);
        Up.Release(now);
        Down.Release(now);
        if (Stage == TStage::Open && !Up.Deliver(Server.Get()))
            Stage = TStage::Broken;
        if (Stage != TStage::Broken && !Down.Deliver(Client.Get()))
            Stage = TStage::Broken;
    }

    std::optional<Clock::time_point> NextDue() const {
        std::optional<Clock::time_point> next = Up.NextDue();
        if (const auto down = Down.NextDue(); down && (!next || *down < *next))
            next = down;
        if (Stage == TStage::Waiting && (!next || ConnectAt < *next))
            next = ConnectAt;
        return next;
    }

    short ClientEvents() const {
        return static_cast<short>((Up.SourceOpen ? POLLIN : 0) | (Down.Pending() ? POLLOUT : 0));
    }

    short ServerEvents() const {
        switch (Stage) {
        case TStage::Connecting:
            return POLLOUT;
        case TStage::Open:
            return static_cast<short>((Down.SourceOpen ? POLLIN : 0) |
                                      (Up.Pending() ? POLLOUT : 0));
        case TStage::Waiting:
        case TStage::Broken:
            return 0;
        }
        return 0;
    }
};

timespec Until(Clock::time_point due, Clock::time_point now) {
    const auto wait = std::max(Clock::duration::zero(), due - now);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

} // namespace

DelayProxy::DelayProxy(std::string targetHost, uint16_t targetPort, std::chrono::microseconds delay)
    : FTargetHost(std::move(targetHost)), FTargetPort(targetPort), FDelay(delay) {}

DelayProxy::~DelayProxy() {
    Stop();
}

std::string DelayProxy::Address() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

bool DelayProxy::Start() {
    in_addr target{};
    if (::inet_pton(AF_INET, FTargetHost.c_str(), &target) != 1) {
        FError = "not an IPv4 address: " + FTargetHost;
        return false;
    }
    FListener = ListenOnLoopback(FPort, SOCK_NONBLOCK);
    if (FListener < 0 || ::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
        FError = std::string("cannot listen on loopback: ") + std::strerror(errno);
        Stop();
        return false;
    }
    FThread = std::thread([this] { Run(); });
    return true;
}

void DelayProxy::Stop() {
    if (FThread.joinable()) {
        const char wake = 0;
        [[maybe_unused]] const ssize_t written = ::write(FWake[1], &wake, 1);
        FThread.join();
    }
    for (int* fd : {&FListener, &FWake[0], &FWake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void DelayProxy::Run() {
    // The kernel may otherwise wake a sleeping thread up to 50 us late, on each hop.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(FTargetPort);
    ::inet_pton(AF_INET, FTargetHost.c_str(), &target.sin_addr);

    std::vector<std::unique_ptr<Link>> links;
    std::vector<pollfd> polled;
    // For each polled socket after the first two (wake, listener): its link, and whether it is
    // the target's side.
    std::vector<std::pair<Link*, bool>> owners;
    for (;;) {
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> next;
        for (const auto& link : links) {
            link->Advance(now, target);
            if (const auto due = link->NextDue(); due && (!next || *due < *next))
                next = due;
        }
        std::erase_if(links, [](const auto& link) { return link->Finished(); });

        polled.assign({{FWake[0], POLLIN, 0}, {FListener, POLLIN, 0}});
        owners.clear();
        for (const auto& link : links) {
            if (const short events = link->ClientEvents()) {
                polled.push_back({link->Client.Get(), events, 0});
                owners.emplace_back(link.get(), false);
            }
            if (const short events = link->ServerEvents()) {
                polled.push_back({link->Server.Get(), events, 0});
                owners.emplace_back(link.get(), true);
            }
        }
        const timespec timeout = next ? Until(*next, now) : timespec{};
        if (::ppoll(polled.data(), polled.size(), next ? &timeout : nullptr, nullptr) < 0 &&
            errno != EINTR)
            return;
        if (polled[0].revents)
            return;

        const Clock::time_point arrived = Clock::now();
        const Clock::time_point due = arrived + FDelay;
        for (size_t i = 2; i < polled.size(); ++i) {
            if (!polled[i].revents)
                continue;
            Link& link = *owners[i - 2].first;
            const bool server = owners[i - 2].second;
            if (server && link.Stage == Link::TStage::Connecting)
                link.Connected();
            else if (server && link.Down.SourceOpen &&
                     (polled[i].revents & (POLLIN | POLLHUP | POLLERR)))
                link.Down.Read(link.Server.Get(), due);
            else if (!server && link.Up.SourceOpen &&
                     (polled[i].revents & (POLLIN | POLLHUP | POLLERR)))
                link.Up.Read(link.Client.Get(), due);
        }
        if (polled[1].revents & POLLIN) {
            for (;;) {
                const int client =
                    ::accept4(FListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (client < 0)
                    break;
                SendAtOnce(client);
                auto link = std::make_unique<Link>();
                link->Client.Reset(client);
                link->ConnectAt = due;
                links.push_back(std::move(link));
                ++FAccepted;
            }
        }
    }
}
