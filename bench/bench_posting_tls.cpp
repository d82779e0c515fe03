// What encryption costs a posting run: a 1 KB message to 200 groups on the local news server,
// on 2 and on 8 connections with no added delay, over implicit TLS next to the same run in
// clear, alternating round by round so both meet the same load. Each figure runs from StartPost
// to the verdict on the last group, connection set-up included; the median of the rounds
// counts. The TLS runs also say how many of their connections resumed an earlier session (the
// local server may issue none that a new connection of its can take up) and how many client
// contexts the whole process made.

#include "bench_baseline.h"

#include "net/TIpTlsContext.h"
#include "posting/TNewsOperation.h"
#include "support/NewsServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

static constexpr int Groups = 200;
static constexpr int Rounds = 9;

struct TlsRun {
    double Seconds = 0;
    int Encrypted = 0;
    int Resumed = 0;
};

// One run of a fresh engine; nullopt when it failed or lost a group. `authority` empty: in clear.
static std::optional<TlsRun> Run(const std::string& host, const std::string& authority,
                                 int connections, const std::vector<std::string>& groups,
                                 const std::vector<std::string>& body, const std::string& subject) {
    TNewsOperation operation;
    QEventLoop loop;
    std::optional<std::string> failure;
    bool finished = false;
    TlsRun result;
    operation.Events().Finished = [&](const TRunSummary&) {
        finished = true;
        loop.quit();
    };
    operation.Events().Failed = [&](const std::string& message) {
        failure = message;
        loop.quit();
    };
    operation.Events().Encrypted = [&](const TIpTlsPeer& peer) {
        ++result.Encrypted;
        result.Resumed += peer.Resumed ? 1 : 0;
    };
    TNewsRequest request;
    request.Host = host;
    if (!authority.empty()) {
        request.Security = TIpNntpSecurity::nySecTls;
        request.Tls.CaFile = authority;
    }
    request.Groups = groups;
    request.Connections = connections;
    request.Article.Address = "poster@example.com";
    request.Article.Subject = subject;
    request.Article.BodyLines = body;
    QElapsedTimer timer;
    timer.start();
    operation.StartPost(std::move(request));
    while (!finished && !failure)
        loop.exec();
    result.Seconds = timer.nsecsElapsed() / 1e9;
    if (failure) {
        std::fprintf(stderr, "%s: run failed: %s\n", subject.c_str(), failure->c_str());
        return std::nullopt;
    }
    if (operation.Summary().Accepted != static_cast<int>(groups.size())) {
        std::fprintf(stderr, "%s: %d of %zu groups accepted\n", subject.c_str(),
                     operation.Summary().Accepted, groups.size());
        return std::nullopt;
    }
    return result;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    NewsServer server;
    if (!server.Start({"--fresh", "--tls", "--groups", QString::number(Groups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    const std::string authority = server.CertificatePath().toStdString();
    const std::vector<std::string> groups = BulkGroupNames(Groups);
    std::vector<std::string> body;
    for (const QString& line : KilobyteBody())
        body.push_back(line.toStdString());

    bool ok = true;
    std::printf("1 KB message to %d groups, TLS against clear (median of %d rounds)\n", Groups,
                Rounds);
    for (const auto& [connections, goal] : {std::pair{2, 1.15}, std::pair{8, 1.2}}) {
        std::vector<double> seconds[2];
        int encrypted = 0;
        int resumed = 0;
        for (int round = 0; round < Rounds; ++round)
            for (const int tls : {0, 1}) {
                const std::string subject = "tls bench " + std::to_string(connections) + " " +
                                            std::to_string(round) + " " + std::to_string(tls);
                const std::optional<TlsRun> run =
                    Run((tls ? server.TlsHost() : server.Host()).toStdString(),
                        tls ? authority : std::string(), connections, groups, body, subject);
                if (!run) {
                    ok = false;
                    continue;
                }
                seconds[tls].push_back(run->Seconds);
                encrypted += run->Encrypted;
                resumed += run->Resumed;
            }
        const double clear = Median(seconds[0]);
        const double tls = Median(seconds[1]);
        std::printf("  %d connections: TLS %8.3f s   clear %8.3f s   ratio %.2f (goal <= %.2f); "
                    "%d of %d TLS connections resumed\n",
                    connections, tls, clear, clear > 0 ? tls / clear : 0.0, goal, resumed,
                    encrypted);
    }
    std::printf("  client contexts made: %llu\n",
                static_cast<unsigned long long>(TIpTlsContext::Made()));
    return ok ? 0 : 1;
}
