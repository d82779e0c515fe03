#include "ScriptedPeer.h"
#include "LoopbackSockets.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

ScriptedPeer::ScriptedPeer(bool ipv6) : FIPv6(ipv6) {
    FListenFd = ListenOnLoopback(FPort, 0, ipv6);
    if (FListenFd < 0)
        FError = std::string("listen: ") + std::strerror(errno);
}

ScriptedPeer::~ScriptedPeer() {
    Stop();
}

std::string ScriptedPeer::Address() const {
    return (FIPv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(FPort);
}

ScriptedPeer& ScriptedPeer::Send(std::string bytes) {
    Step step;
    step.What = Step::kSend;
    step.Bytes = std::move(bytes);
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::SendChunks(std::vector<std::string> chunks, int pauseMs) {
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i != 0)
            Pause(pauseMs);
        Send(std::move(chunks[i]));
    }
    return *this;
}

ScriptedPeer& ScriptedPeer::SendRepeated(std::string chunk, uint64_t count) {
    Step step;
    step.What = Step::kSendRepeated;
    step.Bytes = std::move(chunk);
    step.Count = count;
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::WaitFor(std::string text) {
    Step step;
    step.What = Step::kWaitFor;
    step.Bytes = std::move(text);
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::WaitForBytes(uint64_t count) {
    Step step;
    step.What = Step::kWaitForBytes;
    step.Count = count;
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::Pause(int ms) {
    Step step;
    step.What = Step::kPause;
    step.Ms = ms;
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadSlowly(size_t chunkBytes, int intervalMs) {
    Step step;
    step.What = Step::kReadMode;
    step.Flag = true;
    step.Count = chunkBytes;
    step.Ms = intervalMs;
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadFast() {
    Step step;
    step.What = Step::kReadMode;
    step.Flag = false;
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::Close(bool reset) {
    Step step;
    step.What = Step::kClose;
    step.Flag = reset;
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::Do(std::function<void(int fd)> action) {
    Step step;
    step.What = Step::kDo;
    step.Action = std::move(action);
    FAdding->Steps.push_back(std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::Answer(std::string prefix, std::string reply) {
    FAdding->Rules.push_back(Rule{std::move(prefix), std::move(reply)});
    return *this;
}

ScriptedPeer& ScriptedPeer::OnConnection(size_t index) {
    FAdding = &FOwn[index];
    return *this;
}

const ScriptedPeer::Script& ScriptedPeer::ScriptOf(size_t index) const {
    const auto own = FOwn.find(index);
    return own == FOwn.end() ? FCommon : own->second;
}

void ScriptedPeer::Start() {
    if (FListenFd >= 0 && !FThread.joinable())
        FThread = std::thread([this] { Run(); });
}

void ScriptedPeer::Stop() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    for (std::thread& server : FServers)
        server.join();
    FServers.clear();
    if (FListenFd >= 0) {
        ::close(FListenFd);
        FListenFd = -1;
    }
}

void ScriptedPeer::Fail(const std::string& what) {
    std::scoped_lock lock(FMutex);
    if (FError.empty())
        FError = what;
    FChanged.notify_all();
}

void ScriptedPeer::Run() {
    while (!FStop) {
        pollfd waiting{FListenFd, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        size_t index = 0;
        {
            std::scoped_lock lock(FMutex);
            index = FReceived.size();
            FReceived.emplace_back();
            FAnswered.push_back(0);
            FClosed.push_back(false);
            FSlow = false;
        }
        if (FConcurrent)
            FServers.emplace_back([this, fd, index] { Serve(fd, index); });
        else
            Serve(fd, index);
    }
}

// Reads what is there (at most one slow chunk when reading slowly), waiting up to `waitMs` for
// it. Returns false once the client's end is closed or the connection broke.
bool ScriptedPeer::ReadSome(int fd, size_t index, int waitMs) {
    size_t limit = 65536;
    {
        std::scoped_lock lock(FMutex);
        if (FClosed[index])
            return false;
        if (FSlow) {
            if (FSlowChunk == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
                return true;
            }
            limit = FSlowChunk;
        }
    }
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, waitMs) <= 0)
        return true;
    std::string chunk(limit, '\0');
    const ssize_t n = ::recv(fd, chunk.data(), limit, 0);
    if (n <= 0) {
        std::scoped_lock lock(FMutex);
        FClosed[index] = true;
        FChanged.notify_all();
        return false;
    }
    chunk.resize(static_cast<size_t>(n));
    {
        std::scoped_lock lock(FMutex);
        FReceived[index] += chunk;
        FAll += chunk;
        FChanged.notify_all();
    }
    AnswerLines(fd, index);
    bool slow = false;
    int interval = 0;
    {
        std::scoped_lock lock(FMutex);
        slow = FSlow;
        interval = FSlowInterval;
    }
    if (slow)
        std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    return true;
}

void ScriptedPeer::AnswerLines(int fd, size_t index) {
    const std::vector<Rule>& rules = ScriptOf(index).Rules;
    if (rules.empty())
        return;
    std::vector<std::string> replies;
    {
        std::scoped_lock lock(FMutex);
        const std::string& received = FReceived[index];
        size_t& scanned = FAnswered[index];
        for (size_t end = received.find("\r\n", scanned); end != std::string::npos;
             end = received.find("\r\n", scanned)) {
            const std::string line = received.substr(scanned, end - scanned);
            scanned = end + 2;
            for (const Rule& rule : rules)
                if (line.compare(0, rule.Prefix.size(), rule.Prefix) == 0) {
                    replies.push_back(rule.Reply);
                    break;
                }
        }
    }
    for (const std::string& reply : replies)
        SendAll(fd, reply.data(), reply.size(), index);
}

// Sends everything, reading meanwhile so a client that writes while we write cannot deadlock us.
bool ScriptedPeer::SendAll(int fd, const char* data, size_t length, size_t index) {
    while (length > 0 && !FStop) {
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, 20) <= 0) {
            if (!ReadSome(fd, index, 0))
                return false;
            continue;
        }
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            Fail(std::string("send: ") + std::strerror(errno));
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return length == 0;
}

void ScriptedPeer::Serve(int fd, size_t index) {
    size_t matchedUpTo = 0;
    bool open = true;
    for (const Step& step : ScriptOf(index).Steps) {
        if (FStop || !open)
            break;
        switch (step.What) {
        case Step::kSend:
            SendAll(fd, step.Bytes.data(), step.Bytes.size(), index);
            break;
        case Step::kSendRepeated:
            for (uint64_t i = 0; i < step.Count && !FStop; ++i)
                if (!SendAll(fd, step.Bytes.data(), step.Bytes.size(), index))
                    break;
            break;
        case Step::kWaitFor:
        case Step::kWaitForBytes: {
            const auto deadline = Clock::now() + std::chrono::milliseconds(FTimeoutMs);
            for (;;) {
                {
                    std::scoped_lock lock(FMutex);
                    const std::string& received = FReceived[index];
                    if (step.What == Step::kWaitForBytes) {
                        if (received.size() >= step.Count)
                            break;
                    } else {
                        const size_t at = received.find(step.Bytes, matchedUpTo);
                        if (at != std::string::npos) {
                            matchedUpTo = at + step.Bytes.size();
                            break;
                        }
                    }
                }
                if (FStop || Clock::now() > deadline) {
                    Fail("timed out waiting for " + (step.What == Step::kWaitFor
                                                         ? "'" + step.Bytes + "'"
                                                         : std::to_string(step.Count) + " bytes"));
                    open = false;
                    break;
                }
                if (!ReadSome(fd, index, 10)) {
                    bool found = false;
                    {
                        std::scoped_lock lock(FMutex);
                        found = FReceived[index].find(step.Bytes, matchedUpTo) != std::string::npos;
                    }
                    // Fail takes the lock itself.
                    if (!found) {
                        Fail("connection closed while waiting");
                        open = false;
                        break;
                    }
                }
            }
            break;
        }
        case Step::kPause: {
            const auto until = Clock::now() + std::chrono::milliseconds(step.Ms);
            while (Clock::now() < until && !FStop)
                ReadSome(fd, index, 5);
            break;
        }
        case Step::kReadMode: {
            std::scoped_lock lock(FMutex);
            FSlow = step.Flag;
            FSlowChunk = static_cast<size_t>(step.Count);
            FSlowInterval = step.Ms;
            break;
        }
        case Step::kClose:
            if (step.Flag) {
                const linger abort{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            ::close(fd);
            fd = -1;
            open = false;
            break;
        case Step::kDo:
            step.Action(fd);
            break;
        }
    }
    {
        std::scoped_lock lock(FMutex);
        if (index == 0)
            FFinished = true;
        FChanged.notify_all();
    }
    if (fd < 0)
        return;
    // The script is done: keep reading (and answering) until the client closes or we stop.
    while (!FStop && ReadSome(fd, index, 20)) {
        if (FConcurrent)
            continue;
        pollfd waiting{FListenFd, POLLIN, 0};
        if (::poll(&waiting, 1, 0) > 0)
            break; // a new connection: serve it; this one is left to the client
    }
    ::close(fd);
}

std::string ScriptedPeer::Received() const {
    std::scoped_lock lock(FMutex);
    return FAll;
}

std::string ScriptedPeer::ReceivedOn(size_t connection) const {
    std::scoped_lock lock(FMutex);
    return connection < FReceived.size() ? FReceived[connection] : std::string();
}

std::vector<std::string> ScriptedPeer::ReceivedLines() const {
    const std::string all = Received();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = all.find("\r\n"); end != std::string::npos; end = all.find("\r\n", start)) {
        lines.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

uint64_t ScriptedPeer::ReceivedBytes() const {
    std::scoped_lock lock(FMutex);
    return FAll.size();
}

size_t ScriptedPeer::Connections() const {
    std::scoped_lock lock(FMutex);
    return FReceived.size();
}

bool ScriptedPeer::ClientClosed() const {
    std::scoped_lock lock(FMutex);
    return !FClosed.empty() && FClosed.back();
}

bool ScriptedPeer::Finished() const {
    std::scoped_lock lock(FMutex);
    return FFinished;
}

bool ScriptedPeer::Ok() const {
    std::scoped_lock lock(FMutex);
    return FError.empty();
}

std::string ScriptedPeer::Error() const {
    std::scoped_lock lock(FMutex);
    return FError;
}

bool ScriptedPeer::WaitReceived(const std::string& text, int timeoutMs) const {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FAll.find(text) != std::string::npos; });
}

uint16_t ScriptedPeer::UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}
