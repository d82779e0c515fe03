// Cross-posting against separate copies: a 1 KB message to 200 groups on the local news server,
// once as a separate article to each group and once as one article to every 5 groups (40
// articles), over one connection, alternating, in the same run, after one unmeasured run of
// each. Each figure runs from StartPost to the verdict on the last article, connection set-up
// included; the median of the rounds counts (on a busy machine single runs vary several-fold). The
// cross-posting run waits for 40 verdicts instead of 200, so it should take well under a third of
// the time.

#include "bench_baseline.h"
#include "bench_posting_run.h"

#include "posting/TNewsOperation.h"
#include "support/NewsServer.h"

#include <QCoreApplication>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

static constexpr int Groups = 200;
static constexpr int PerArticle = 5;
static constexpr int Rounds = 9;

// Seconds of one run of a fresh engine; nullopt when it failed or a group was not accepted.
static std::optional<double> Run(const std::string& host, const std::vector<std::string>& body,
                                 int perArticle, const std::string& subject) {
    TNewsOperation operation;
    TNewsRequest request = BenchRequest(host, BulkGroupNames(Groups), body, subject);
    request.GroupsPerArticle = perArticle;
    return TimedRun(operation, std::move(request));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    NewsServer server;
    if (!server.Start({"--fresh", "--groups", QString::number(Groups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    std::vector<std::string> body;
    for (const QString& line : KilobyteBody())
        body.push_back(line.toStdString());
    std::vector<double> separate;
    std::vector<double> crossPosted;
    bool ok = true;
    for (int round = -1; round < Rounds; ++round)
        for (const int perArticle : {1, PerArticle}) {
            const std::string subject =
                "crosspost bench " + std::to_string(perArticle) + " " + std::to_string(round);
            const std::optional<double> seconds =
                Run(server.Host().toStdString(), body, perArticle, subject);
            if (!seconds)
                ok = false;
            else if (round >= 0)
                (perArticle == 1 ? separate : crossPosted).push_back(*seconds);
        }
    const double apart = Median(separate);
    const double together = Median(crossPosted);
    std::printf("1 KB message to %d groups, one connection (median of %d rounds)\n", Groups,
                Rounds);
    std::printf("  separate articles %8.3f s   %d per article %8.3f s   ratio %.2f (goal <= 0.3)\n",
                apart, PerArticle, together, apart > 0 ? together / apart : 0.0);
    return ok ? 0 : 1;
}
