// A posting run over 1 to 3 connections against a loopback server that plays the input: bytes
// sent in chunks as they come, waits for the client's next line, clean closes and resets. Each
// connection plays its own part of the input and then serves like a willing server, so that
// every run can end. Whatever the server does, the run must end (Finished or Failed, exactly
// once, or the notice that the server allows no posting), no group may be posted again once
// the client has taken a 240 for it, every answer must be a status line's code, and no exception
// may reach the event loop's reporter.
//
// The input: a byte giving the connections (its top bit: connections past the input's parts play
// the last part again, a server that always misbehaves the same way, instead of serving
// willingly), a byte giving the groups, then steps. A step is one control byte: low two bits 0 =
// send the next (control >> 2) bytes as one chunk, 1 = wait for the client's next line, 2 =
// close, 3 = reset; a close or reset ends one connection's part.

#include "net/TIpExceptionReporter.h"
#include "posting/TNewsOperation.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Step {
    enum Kind : uint8_t { Send, Await, Close, Reset };
    Kind What = Send;
    std::string Bytes;
};
using Part = std::vector<Step>;

std::vector<Part> Parts(const uint8_t* data, size_t size) {
    std::vector<Part> parts(1);
    for (size_t i = 0; i < size && parts.size() <= 12;) {
        const uint8_t control = data[i++];
        Step step;
        step.What = static_cast<Step::Kind>(control & 3);
        if (step.What == Step::Send) {
            const size_t count = std::min<size_t>(control >> 2, size - i);
            step.Bytes.assign(reinterpret_cast<const char*>(data + i), count);
            i += count;
        }
        const bool ends = step.What == Step::Close || step.What == Step::Reset;
        parts.back().push_back(std::move(step));
        if (ends)
            parts.emplace_back();
    }
    return parts;
}

// The loopback server: one thread accepts, one serves each connection.
class Server {
public:
    Server(std::vector<Part> parts, bool repeat) : FParts(std::move(parts)), FRepeat(repeat) {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(FListen, 16) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        FPort = ntohs(address.sin_port);
        FAccepting = std::thread([this] { Accept(); });
    }
    ~Server() {
        FStop = true;
        FAccepting.join();
        for (std::thread& serving : FServing)
            serving.join();
        ::close(FListen);
    }
    uint16_t Port() const { return FPort; }

private:
    bool Wait(int fd) const {
        pollfd ready{fd, POLLIN, 0};
        while (!FStop)
            if (::poll(&ready, 1, 20) > 0)
                return true;
        return false;
    }
    void Accept() {
        while (Wait(FListen)) {
            const int fd = ::accept(FListen, nullptr, nullptr);
            if (fd < 0)
                continue;
            const Part* part = FServing.size() < FParts.size() ? &FParts[FServing.size()]
                               : FRepeat                       ? &FParts[FParts.size() - 2]
                                                               : nullptr;
            FServing.emplace_back([this, fd, part] { Serve(fd, part); });
        }
    }
    // The next line the client sent (without CR LF); false once the connection has ended.
    bool ReadLine(int fd, std::string& held, std::string& line) {
        for (;;) {
            if (const size_t end = held.find("\r\n"); end != std::string::npos) {
                line = held.substr(0, end);
                held.erase(0, end + 2);
                return true;
            }
            char buffer[4096];
            if (!Wait(fd))
                return false;
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            held.append(buffer, static_cast<size_t>(got));
        }
    }
    static bool SendAll(int fd, const std::string& bytes) {
        return bytes.empty() || ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                    static_cast<ssize_t>(bytes.size());
    }
    // Keeps the Message-IDs of the articles received whole, for STAT.
    void Track(const std::string& line, std::string& id) {
        if (line.rfind("Message-ID: ", 0) == 0) {
            id = line.substr(12);
        } else if (line == "." && !id.empty()) {
            const std::scoped_lock lock(FMutex);
            FStored.insert(id);
            id.clear();
        }
    }
    std::string Willing(const std::string& line) {
        if (line == "POST")
            return "340 go\r\n";
        if (line == ".")
            return "240 ok\r\n";
        if (line.rfind("STAT ", 0) == 0) {
            const std::scoped_lock lock(FMutex);
            return FStored.count(line.substr(5)) ? "223 0 " + line.substr(5) + "\r\n"
                                                 : "430 no such article\r\n";
        }
        if (line == "QUIT")
            return "205 bye\r\n";
        return {};
    }
    void Serve(int fd, const Part* part) {
        std::string held;
        std::string line;
        std::string id;
        bool sent = false;
        for (const Step& step : part ? *part : Part{}) {
            switch (step.What) {
            case Step::Send:
                sent = true;
                if (!SendAll(fd, step.Bytes))
                    return End(fd, false);
                break;
            case Step::Await:
                if (!ReadLine(fd, held, line))
                    return End(fd, false);
                Track(line, id);
                break;
            case Step::Close:
            case Step::Reset:
                return End(fd, step.What == Step::Reset);
            }
        }
        if (!sent && !SendAll(fd, "200 ready\r\n"))
            return End(fd, false);
        while (ReadLine(fd, held, line)) {
            Track(line, id);
            if (!SendAll(fd, Willing(line)) || line == "QUIT")
                break;
        }
        End(fd, false);
    }
    static void End(int fd, bool reset) {
        if (reset) {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(fd);
    }

    const std::vector<Part> FParts;
    const bool FRepeat;
    int FListen = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FAccepting;
    std::vector<std::thread> FServing;
    std::mutex FMutex;
    std::set<std::string> FStored;
};

// What the client believes, checked as the run reports it.
struct Checks : TRunRecorder {
    std::set<std::string> Accepted;
    std::set<std::string> Answered;
    void RunStarted(const TNewsRequest&) override {}
    void ArticleGoing(const std::string& group, const std::string&) override {
        if (Accepted.count(group))
            std::abort();
    }
    void GroupAnswered(const TGroupOutcome& outcome) override {
        if (!Answered.insert(outcome.Group).second || outcome.Code < 100 || outcome.Code > 599)
            std::abort();
        if (outcome.Accepted)
            Accepted.insert(outcome.Group);
    }
    void RunEnded() override {}
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    SetIpExceptionReporter([](const std::exception&) { std::abort(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const std::vector<Part> parts = Parts(data + 2, size - 2);
    Server server(parts, data[0] & 0x80 && parts.size() > 1);
    Checks checks;
    int ends = 0;
    bool noPosting = false;
    {
        TNewsOperation operation;
        operation.SetRecorder(&checks);
        operation.SetReconnectDelays({1, 1, 1});
        TNewsOperationEvents& events = operation.Events();
        events.Finished = [&ends](const TRunSummary&) { ++ends; };
        events.Failed = [&ends](const std::string&) { ++ends; };
        events.Notice = [&noPosting](const std::string&) { noPosting = true; };
        TNewsRequest request;
        request.Host = "127.0.0.1:" + std::to_string(server.Port());
        request.TimeoutSeconds = 1;
        request.Connections = 1 + (data[0] & 0x7f) % 3;
        for (int group = 0; group <= data[1] % 3; ++group)
            request.Groups.push_back("fuzz.group" + std::to_string(group));
        request.ComposeArticle = [](const std::string& group, TIpNewsArticle& article) {
            article.NewMessage();
            article.From = "poster@example.com";
            article.Subject = "fuzz";
            article.Newsgroups = {group};
            article.MessageID = "<" + group + "@example.com>";
            article.Body.WriteLine("body");
        };
        operation.StartPost(std::move(request));
        QElapsedTimer clock;
        clock.start();
        while (operation.Busy() || operation.State() == TNewsOperation::TState::Closing) {
            if (clock.elapsed() > 60000)
                std::abort();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        if (ends != 1 && !(ends == 0 && noPosting))
            std::abort();
        operation.Abort();
    }
    // Releases the sockets the operation left to the event loop.
    QCoreApplication::processEvents();
    return 0;
}
