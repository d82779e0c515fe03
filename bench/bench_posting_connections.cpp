// Posting runs of the engine over several connections: a 1 KB message to 200 groups on the
// local news server.
//   - Through a relay that delays every chunk by 5 or 15 ms each way (10 or 30 ms round trip),
//     with 1, 2, 4 and 8 connections: groups per second next to the most the link allows. One
//     connection answers at most one group per two round trips (POST, 340, article, verdict;
//     POST is never sent ahead), so N connections allow N / (2 x RTT) groups a second.
//   - With no added delay, on 1 and on 4 connections, next to Python's nntplib posting the same
//     groups on one connection to the same server in the same run.
// Each figure runs from StartPost to the verdict on the last group, connection set-up included
// (on every side); the median of the rounds counts. The relay's own lateness and the server's
// work make the link slower than its nominal round trip, so a ratio of 1 is out of reach.
//
// An argument runs one half alone: "delayed" or "direct".

#include "bench_baseline.h"
#include "bench_posting_run.h"

#include "posting/TNewsOperation.h"
#include "support/DelayProxy.h"
#include "support/NewsServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

static constexpr int Groups = 200;
static constexpr int DelayedRounds = 3;
static constexpr int DirectRounds = 5;

struct RunResult {
    double Seconds = 0;
    int Accepted = 0;
    // Connections the relay saw the run open (none counted without the relay).
    int Connections = 0;
};

class PostingBench {
public:
    PostingBench(const std::vector<std::string>& groups, const QStringList& body)
        : FGroups(groups) {
        for (const QString& line : body)
            FBody.push_back(line.toStdString());
    }

    // One run of a fresh engine to `host` over `connections`; nullopt when it failed or lost a
    // group.
    std::optional<RunResult> Run(const std::string& host, int connections,
                                 const std::string& subject, const DelayProxy* proxy) {
        TNewsOperation operation;
        TNewsRequest request = BenchRequest(host, FGroups, FBody, subject);
        request.Connections = connections;
        const int before = proxy ? proxy->Accepted() : 0;
        const std::optional<double> seconds = TimedRun(operation, std::move(request));
        if (!seconds)
            return std::nullopt;
        return RunResult{*seconds, operation.Summary().Accepted,
                         proxy ? proxy->Accepted() - before : 0};
    }

private:
    std::vector<std::string> FGroups;
    std::vector<std::string> FBody;
};

// Every hop wakes a process (relay, server, engine) that must find a free processor: on a busy
// machine the waits grow, so the figures come with the load they were measured under.
static void PrintLoad() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (file.open(QIODevice::ReadOnly))
        std::printf("load average %s on %d processors\n",
                    file.readLine().split(' ').mid(0, 3).join(' ').constData(),
                    QThread::idealThreadCount());
}

// The table of runs through the relay; false when a run failed or lost a group.
static bool Delayed(NewsServer& server, PostingBench& bench) {
    std::printf("1 KB message to %d groups through a delaying relay (median of %d rounds)\n",
                Groups, DelayedRounds);
    PrintLoad();
    std::printf("%8s %5s %11s %9s %9s %16s %7s\n", "RTT", "N", "connections", "seconds", "groups/s",
                "limit N/(2 RTT)", "ratio");
    bool ok = true;
    for (const int oneWayMs : {5, 15}) {
        DelayProxy proxy("127.0.0.1", server.Port(), std::chrono::milliseconds(oneWayMs));
        if (!proxy.Start()) {
            std::fprintf(stderr, "relay: %s\n", proxy.Error().c_str());
            return false;
        }
        const double rtt = 2 * oneWayMs / 1000.0;
        for (const int connections : {1, 2, 4, 8}) {
            std::vector<double> seconds;
            int opened = 0;
            for (int round = 0; round < DelayedRounds; ++round) {
                const std::string subject = "connections bench " + std::to_string(oneWayMs) +
                                            " ms " + std::to_string(connections) + " " +
                                            std::to_string(round);
                const std::optional<RunResult> run =
                    bench.Run(proxy.Address(), connections, subject, &proxy);
                if (!run || run->Accepted != Groups) {
                    ok = false;
                    continue;
                }
                seconds.push_back(run->Seconds);
                opened = std::max(opened, run->Connections);
            }
            const double median = Median(seconds);
            const double rate = median > 0 ? Groups / median : 0;
            const double limit = connections / (2 * rtt);
            std::printf("%5.0f ms %5d %11d %9.3f %9.1f %16.1f %7.2f (goal >= 0.8)\n", rtt * 1000,
                        connections, opened, median, rate, limit, rate / limit);
        }
    }
    return ok;
}

// Ours on 1 and 4 connections against nntplib on one, straight to the server; false when a run
// failed or lost a group.
static bool Direct(NewsServer& server, PostingBench& bench, const QString& bodyFile) {
    std::vector<double> ours[2];
    std::vector<double> theirs;
    bool ok = true;
    for (int round = 0; round < DirectRounds; ++round) {
        for (const int slot : {0, 1}) {
            const int connections = slot == 0 ? 1 : 4;
            const std::string subject =
                "direct bench " + std::to_string(connections) + " " + std::to_string(round);
            const std::optional<RunResult> run =
                bench.Run(server.Host().toStdString(), connections, subject, nullptr);
            if (run && run->Accepted == Groups)
                ours[slot].push_back(run->Seconds);
            else
                ok = false;
        }
        QStringList arguments{"post", QString::number(server.Port()),
                              QStringLiteral("direct bench nntplib %1").arg(round), bodyFile};
        for (const std::string& group : BulkGroupNames(Groups))
            arguments << QString::fromStdString(group);
        const QJsonObject baseline = RunNntplib(arguments);
        if (baseline.value("accepted").toInt() != Groups) {
            std::fprintf(stderr, "nntplib: %d of %d groups accepted\n",
                         baseline.value("accepted").toInt(), Groups);
            ok = false;
        }
        theirs.push_back(baseline.value("seconds").toDouble());
    }
    std::printf("No added delay, 1 KB message to %d groups (median of %d rounds)\n", Groups,
                DirectRounds);
    PrintLoad();
    PrintRatio("  heraldix 1 connection, nntplib 1", Median(ours[0]), Median(theirs), "<= 1.0");
    PrintRatio("  heraldix 4 connections, nntplib 1", Median(ours[1]), Median(theirs), "<= 0.5");
    return ok;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Each row as soon as it is measured: the whole table takes minutes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    NewsServer server;
    if (!server.Start({"--fresh", "--groups", QString::number(Groups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    QTemporaryDir files;
    const QStringList body = KilobyteBody();
    const QString bodyFile = files.filePath("body.txt");
    WriteBodyFile(bodyFile, body);
    PostingBench bench(BulkGroupNames(Groups), body);

    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    bool ok = true;
    if (only.isEmpty() || only == "delayed")
        ok = Delayed(server, bench) && ok;
    if (only.isEmpty() || only == "direct")
        ok = Direct(server, bench, bodyFile) && ok;
    return ok ? 0 : 1;
}
