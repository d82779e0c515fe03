// Get group list from the local news server carrying 100,000 groups, from the command until the
// all-groups list holds them, next to Python's nntplib fetching and parsing the same LIST on the
// same server in the same run. Connection set-up (the server's greeting costs it a read of its
// whole active file) is included on both sides; the median of the rounds counts.

#include "bench_app_common.h"

static constexpr int BulkGroups = 100000;
static constexpr int Rounds = 5;

static double WindowRun(NewsServer& server, int& groups) {
    TBenchWindow bench(server.Host());
    TfrmMain& window = *bench.Window;
    QObject::connect(&window, &TfrmMain::GroupListArrived, &bench.Loop, &QEventLoop::quit);
    const double seconds = bench.Time([&window] { window.Getgrouplist1Click(); },
                                      [&window] { return window.ListingGroups(); });
    groups = window.trcvNewsgroups->Count();
    if (!bench.Prompts->Messages().isEmpty())
        std::fprintf(stderr, "unexpected: %s\n", qPrintable(bench.Prompts->Messages().join(" | ")));
    return seconds;
}

int main(int argc, char** argv) {
    UseOffscreen();
    QApplication app(argc, argv);
    NewsServer server;
    if (!server.Start({"--fresh", "--groups", QString::number(BulkGroups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    std::vector<double> ours;
    std::vector<double> theirs;
    long pythonPeak = 0;
    int status = 0;
    for (int round = 0; round < Rounds; ++round) {
        int groups = 0;
        ours.push_back(WindowRun(server, groups));
        const QJsonObject baseline = RunNntplib({"list", QString::number(server.Port())});
        theirs.push_back(baseline.value("seconds").toDouble());
        pythonPeak = std::max(pythonPeak, static_cast<long>(baseline.value("peak_kib").toInt()));
        if (groups < BulkGroups || baseline.value("groups").toInt() < BulkGroups) {
            std::fprintf(stderr, "groups: heraldix %d, nntplib %d\n", groups,
                         baseline.value("groups").toInt());
            status = 1;
        }
    }
    PrintRatio("Get group list, 100,000 groups", Median(ours), Median(theirs), "<= 0.8");
    std::printf("%-44s peak memory heraldix %ld KiB, nntplib %ld KiB\n", "", PeakKiB(), pythonPeak);
    return status;
}
