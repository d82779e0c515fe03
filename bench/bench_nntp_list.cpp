// LIST of 1,000,000 group lines (about 41 MB) from a loopback peer, from sending LIST until
// OnMultiLineResponse holds every line, next to a plain blocking loop that reads the same bytes
// up to the final "." line and splits them into a list of lines. Each measurement runs in a
// child process of its own, so that its peak memory is its own.

#include "bench_plain_list.h"

#include "nntp/TIpNntpClient.h"
#include "support/ScriptedPeer.h"

#include <QCoreApplication>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static constexpr int LinesPerChunk = 1000;
static constexpr int Chunks = 1000;
static constexpr int Rounds = 3;

struct Measure {
    double Seconds = 0;
    uint64_t Lines = 0;
    long PeakKiB = 0;
};

// 1000 distinct group lines of 41 bytes each; the peer sends the chunk 1000 times.
static std::string GroupChunk() {
    std::string chunk;
    char line[64];
    for (int i = 0; i < LinesPerChunk; ++i) {
        std::snprintf(line, sizeof line, "alt.bulk.%07d 0000001234 0000000001 y\r\n", i);
        chunk += line;
    }
    return chunk;
}

static void Script(ScriptedPeer& peer) {
    peer.SetTimeout(60000);
    peer.Send("200 bench ready\r\n")
        .WaitFor("LIST\r\n")
        .Send("215 list follows\r\n")
        .SendRepeated(GroupChunk(), Chunks)
        .Send(".\r\n");
    peer.Start();
}

static double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

static Measure ClientRun(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ScriptedPeer peer;
    Script(peer);
    Measure result;
    TIpNntpClient client;
    std::chrono::steady_clock::time_point start;
    client.OnResponse = [&](TIpCustomNntpClient*, TIpNntpStates to, int32_t, const std::string&) {
        if (to != TIpNntpStates::nsConnect)
            return;
        start = std::chrono::steady_clock::now();
        client.List();
    };
    client.OnMultiLineResponse = [&](TIpCustomNntpClient*, TIpNntpStates,
                                     std::vector<std::string>& list) {
        result.Seconds = Since(start);
        result.Lines = list.size();
        app.quit();
    };
    client.Connect(peer.Address());
    app.exec();
    return result;
}

static Measure PlainRun() {
    ScriptedPeer peer;
    Script(peer);
    Measure result;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(peer.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return result;
    std::chrono::steady_clock::time_point start;
    const std::vector<std::string> lines =
        PlainListRead(fd, [&start] { start = std::chrono::steady_clock::now(); });
    result.Seconds = Since(start);
    result.Lines = lines.size();
    ::close(fd);
    return result;
}

// Runs `what` in a child process; the child sends its figures back through a pipe.
template <typename F> static Measure InChild(F&& what) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const Measure result = what();
        const ssize_t written = ::write(pipeFds[1], &result, sizeof result);
        ::_exit(written == sizeof result ? 0 : 1);
    }
    ::close(pipeFds[1]);
    Measure result;
    if (::read(pipeFds[0], &result, sizeof result) != sizeof result)
        result = {};
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    result.PeakKiB = usage.ru_maxrss;
    return result;
}

static void Best(Measure& best, const Measure& run) {
    if (best.Lines == 0 || (run.Lines == best.Lines && run.Seconds < best.Seconds))
        best = Measure{run.Seconds, run.Lines, std::max(best.PeakKiB, run.PeakKiB)};
    best.PeakKiB = std::max(best.PeakKiB, run.PeakKiB);
}

int main(int argc, char** argv) {
    const double replyMB = double(GroupChunk().size()) * Chunks / 1e6;
    // Best time of a few alternating runs, as other work on the machine disturbs single runs.
    Measure plain;
    Measure client;
    for (int round = 0; round < Rounds; ++round) {
        Best(plain, InChild([] { return PlainRun(); }));
        Best(client, InChild([&] { return ClientRun(argc, argv); }));
    }
    const uint64_t expected = uint64_t(LinesPerChunk) * Chunks + 1; // with the status line
    std::printf("LIST reply: %.1f MB, %d group lines\n", replyMB, LinesPerChunk * Chunks);
    std::printf("plain read-and-split loop: %.3f s, %llu lines, peak %.1f MB\n", plain.Seconds,
                static_cast<unsigned long long>(plain.Lines), plain.PeakKiB / 1024.0);
    std::printf("TIpNntpClient LIST:        %.3f s, %llu lines, peak %.1f MB\n", client.Seconds,
                static_cast<unsigned long long>(client.Lines), client.PeakKiB / 1024.0);
    if (client.Lines != expected || plain.Lines != expected) {
        std::printf("FAILED: expected %llu lines\n", static_cast<unsigned long long>(expected));
        return 1;
    }
    std::printf("time ratio client/plain: %.2f (goal <= 1.5)\n", client.Seconds / plain.Seconds);
    std::printf("client peak / reply size: %.2f (goal < 3)\n",
                client.PeakKiB * 1024.0 / 1e6 / replyMB);
    return 0;
}
