#include "support/FaultRelay.h"
#include "support/LoopbackSockets.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <deque>

namespace {

// Replies followed by lines up to ".", by their codes.
bool MultiLineCode(int code) {
    static constexpr std::array codes{100, 101, 215, 220, 221, 222, 224, 225, 230, 231};
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

void ResetSocket(int fd) {
    const linger abrupt{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
}

} // namespace

// One client and its connection to the server. A link whose fault has acted is Draining: its
// server side is gone and the client's bytes are read and dropped until the client closes.
struct FaultRelay::TLink {
    int Number = 0;
    int Client = -1;
    int Server = -1;
    bool Draining = false;
    bool Greeted = false;
    bool InArticle = false;
    bool InMultiLine = false;
    // What each side sent that has not gone on: the rest of an unfinished unit.
    std::string FromClient;
    std::string FromServer;
    // The step of the reply each command sent is owed.
    std::deque<TStep> Owed;

    ~TLink() {
        for (const int fd : {Client, Server})
            if (fd >= 0)
                ::close(fd);
    }
    void CloseServer() {
        if (Server >= 0)
            ::close(Server);
        Server = -1;
    }
};

bool FaultRelay::FromServer(TStep step) {
    switch (step) {
    case TStep::Greeting:
    case TStep::LogOn:
    case TStep::Go:
    case TStep::Verdict:
    case TStep::Stat:
        return true;
    case TStep::None:
    case TStep::Connect:
    case TStep::Post:
    case TStep::Article:
        return false;
    }
    return false;
}

FaultRelay::FaultRelay(uint16_t targetPort) : FTargetPort(targetPort) {}

FaultRelay::~FaultRelay() {
    Stop();
}

std::string FaultRelay::Address() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

void FaultRelay::SetFaults(std::vector<TFault> faults) {
    const std::lock_guard lock(FMutex);
    FArmed.clear();
    for (const TFault& fault : faults)
        FArmed.push_back({fault});
}

std::vector<FaultRelay::TFault> FaultRelay::Fired() const {
    const std::lock_guard lock(FMutex);
    return FFired;
}

int FaultRelay::Seen(TStep step) const {
    const std::lock_guard lock(FMutex);
    const auto found = FSeen.find(step);
    return found == FSeen.end() ? 0 : found->second;
}

bool FaultRelay::Start() {
    FListenFd = ListenOnLoopback(FPort);
    if (FListenFd < 0)
        return false;
    FThread = std::thread([this] { Run(); });
    return true;
}

void FaultRelay::Stop() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    FLinks.clear();
    if (FListenFd >= 0)
        ::close(FListenFd);
    FListenFd = -1;
}

std::optional<FaultRelay::TFault> FaultRelay::Match(TStep step, int connection) {
    const std::lock_guard lock(FMutex);
    ++FSeen[step];
    std::optional<TFault> acting;
    for (TArmed& armed : FArmed) {
        const TFault& fault = armed.Fault;
        if (fault.Step != step || (fault.Connection != 0 && fault.Connection != connection))
            continue;
        if (++armed.Matched >= fault.Occurrence && !acting &&
            (fault.Times == Always || armed.Fired < fault.Times)) {
            ++armed.Fired;
            FFired.push_back(fault);
            acting = fault;
        }
    }
    return acting;
}

void FaultRelay::Accept() {
    auto link = std::make_unique<TLink>();
    link->Client = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (link->Client < 0)
        return;
    link->Number = ++FAccepted;
    if (!Pass(*link, {}, TStep::Connect, link->Client))
        return;
    if (link->Draining) {
        FLinks.push_back(std::move(link));
        return;
    }
    link->Server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = Loopback(FTargetPort);
    if (link->Server >= 0 &&
        ::connect(link->Server, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
        FLinks.push_back(std::move(link));
}

bool FaultRelay::Pass(TLink& link, const std::string& unit, TStep step, int to) {
    const std::optional<TFault> fault =
        step == TStep::None ? std::nullopt : Match(step, link.Number);
    if (!fault)
        return SendAll(to, unit);
    const TKind kind = fault->Kind;
    SendAll(to, std::string_view(unit).substr(0, std::min(fault->Byte, unit.size())));
    link.CloseServer();
    link.Draining = true;
    switch (kind) {
    case TKind::Reset:
        ResetSocket(link.Client);
        return false;
    case TKind::Say400:
        SendAll(link.Client, "400 Service temporarily unavailable\r\n");
        ::shutdown(link.Client, SHUT_WR);
        return true;
    case TKind::Close:
        ::shutdown(link.Client, SHUT_WR);
        return true;
    case TKind::Stall:
        return true;
    }
    return true;
}

bool FaultRelay::PassFromClient(TLink& link) {
    while (!link.Draining) {
        std::string& bytes = link.FromClient;
        size_t end = 0;
        TStep step = TStep::None;
        if (link.InArticle) {
            const size_t dot = bytes.compare(0, 3, ".\r\n") == 0 ? 0 : bytes.find("\r\n.\r\n");
            if (dot == std::string::npos)
                return true;
            end = dot == 0 ? 3 : dot + 5;
            step = TStep::Article;
            link.InArticle = false;
            link.Owed.push_back(TStep::Verdict);
        } else {
            const size_t newline = bytes.find('\n');
            if (newline == std::string::npos)
                return true;
            end = newline + 1;
            if (StartsWith(bytes, "POST")) {
                step = TStep::Post;
                link.Owed.push_back(TStep::Go);
            } else if (StartsWith(bytes, "AUTHINFO ")) {
                link.Owed.push_back(TStep::LogOn);
                if (FAnswerLogOn) {
                    link.FromServer += StartsWith(bytes, "AUTHINFO USER")
                                           ? "381 Password required\r\n"
                                           : "281 Authentication accepted\r\n";
                    bytes.erase(0, end);
                    if (!PassFromServer(link))
                        return false;
                    continue;
                }
            } else {
                link.Owed.push_back(StartsWith(bytes, "STAT") ? TStep::Stat : TStep::None);
            }
        }
        const std::string unit = bytes.substr(0, end);
        bytes.erase(0, end);
        if (!Pass(link, unit, step, link.Server))
            return false;
    }
    return true;
}

bool FaultRelay::PassFromServer(TLink& link) {
    size_t newline = 0;
    while (!link.Draining && (newline = link.FromServer.find('\n')) != std::string::npos) {
        const std::string line = link.FromServer.substr(0, newline + 1);
        link.FromServer.erase(0, newline + 1);
        TStep step = TStep::None;
        if (link.InMultiLine) {
            link.InMultiLine = line != ".\r\n";
        } else if (!link.Greeted) {
            link.Greeted = true;
            step = TStep::Greeting;
        } else if (!link.Owed.empty()) {
            step = link.Owed.front();
            link.Owed.pop_front();
            const int code = std::atoi(line.c_str());
            link.InMultiLine = step == TStep::None && MultiLineCode(code);
            link.InArticle = step == TStep::Go && code == 340;
        }
        if (!Pass(link, line, step, link.Client))
            return false;
    }
    return true;
}

void FaultRelay::Run() {
    while (!FStop) {
        std::vector<pollfd> fds{{FListenFd, POLLIN, 0}};
        for (const auto& link : FLinks) {
            fds.push_back({link->Client, POLLIN, 0});
            fds.push_back({link->Server, static_cast<short>(link->Server >= 0 ? POLLIN : 0), 0});
        }
        // A short wait, so that Stop is seen soon.
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        std::vector<bool> alive(FLinks.size(), true);
        for (size_t i = 0; i < FLinks.size(); ++i) {
            TLink& link = *FLinks[i];
            char buffer[16384] = {};
            if (fds[i * 2 + 1].revents != 0) {
                const ssize_t got = ::recv(link.Client, buffer, sizeof buffer, 0);
                if (got <= 0)
                    alive[i] = false;
                else if (!link.Draining)
                    link.FromClient.append(buffer, static_cast<size_t>(got));
                alive[i] = alive[i] && PassFromClient(link);
            }
            if (alive[i] && link.Server >= 0 && fds[i * 2 + 2].revents != 0) {
                const ssize_t got = ::recv(link.Server, buffer, sizeof buffer, 0);
                if (got > 0)
                    link.FromServer.append(buffer, static_cast<size_t>(got));
                alive[i] = PassFromServer(link);
                if (got <= 0 && alive[i]) {
                    // The server's last bytes go on, a line cut short too, then its close.
                    SendAll(link.Client, link.FromServer);
                    alive[i] = false;
                }
            }
        }
        for (size_t i = alive.size(); i-- > 0;)
            if (!alive[i])
                FLinks.erase(FLinks.begin() + static_cast<ptrdiff_t>(i));
        if (fds[0].revents & POLLIN)
            Accept();
    }
}
