// Find Now in the find-groups window over an all-groups list of 1,000,000 names, timed next to
// `grep -F -c` for the same text over the same names in the same run. The search includes
// collecting the hits into the result list and the result view's relayout. The two are measured
// in interleaved rounds (one Find Now, then one grep, per text and round) so that a busy machine
// slows both alike; the figures are medians over the rounds.
#include "bench_common.h"
#include "selection/TGroupSearchIndex.h"
#include "selection/TfrmFind.h"
#include "selection/trcvListbox.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

static constexpr int kNames = 1000000;

// Names of the usual shape, hierarchy.topic.subtopic plus a number that keeps them distinct.
static std::vector<std::string> MakeNames() {
    static const char* const tops[] = {"alt", "comp", "misc", "news", "rec", "sci", "soc", "talk"};
    static const char* const topics[] = {"lang",  "os",      "binaries", "music", "games",
                                         "test",  "answers", "politics", "sys",   "arts",
                                         "Linux", "food",    "travel"};
    std::vector<std::string> names;
    names.reserve(kNames);
    uint32_t seed = 2463534242u;
    for (int n = 0; n < kNames; ++n) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        std::string name = tops[seed % 8];
        name += '.';
        name += topics[(seed >> 8) % 13];
        name += '.';
        name += topics[(seed >> 16) % 13];
        name += ".n";
        name += std::to_string(n);
        names.push_back(std::move(name));
    }
    return names;
}

static double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs `grep -F -c text path` directly (no shell in between) and returns the count it prints,
// or -1 when it could not be run.
static int RunGrep(const std::string& text, const std::string& path) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char* const argv[] = {"grep", "-F", "-c", "--", text.c_str(), path.c_str(), nullptr};
    pid_t child = -1;
    const int spawned =
        posix_spawnp(&child, "grep", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string printed;
    char chunk[64];
    for (ssize_t got; (got = read(out[0], chunk, sizeof chunk)) > 0;)
        printed.append(chunk, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1 || printed.empty())
        return -1;
    return std::atoi(printed.c_str());
}

struct TSearchFigures {
    explicit TSearchFigures(const char* text) : Text(text) {}
    const char* Text;
    std::vector<double> FindMs, GrepMs, RepeatMs, RowsMs;
    int Hits = -1;
    int GrepHits = -1;
};

int main(int argc, char* argv[]) {
    PreferOffscreenPlatform();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("names.txt")).toStdString();

    trcvListbox all;
    trcvListbox toPost;
    all.Items().Assign(MakeNames());
    {
        std::ofstream out(path, std::ios::binary);
        for (const std::string_view name : all.Items().Entries())
            out << name << '\n';
    }

    TMainWindowAccess main;
    main.trcvNewsgroups = &all;
    main.trcvToPost = &toPost;
    TfrmFind find(main);
    find.show();
    const long baseKiB = PeakKiB(RUSAGE_SELF);

    // What the first search after the list changed pays once: laying the names end to end.
    TGroupSearchIndex index;
    const double buildMs = BestMs(3, [&] { index.Build(all.Items()); });
    std::printf("laying %d names end to end (first search after a change): %.1f ms\n", kNames,
                buildMs);

    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    std::vector<TSearchFigures> searches;
    for (const char* text : {"comp.lang", "Linux.music", "no.such.group"})
        searches.emplace_back(text);
    for (int round = 0; round < rounds; ++round) {
        for (TSearchFigures& search : searches) {
            find.eFindText->setText(QString::fromLatin1(search.Text));
            find.sbClearClick();
            QCoreApplication::processEvents();
            search.FindMs.push_back(BestMs(1, [&] {
                find.sbFindClick();
                QCoreApplication::processEvents();
            }));
            search.Hits = find.trcvFindGroups->Count();
            // The same search again while its results are still listed: every hit is already
            // there, so nothing is added.
            search.RepeatMs.push_back(BestMs(1, [&] {
                find.sbFindClick();
                QCoreApplication::processEvents();
            }));
            if (find.trcvFindGroups->Count() != search.Hits)
                search.Hits = -1;
            search.RowsMs.push_back(BestMs(1, [&] { index.Rows(search.Text); }));
            search.GrepMs.push_back(
                BestMs(1, [&] { search.GrepHits = RunGrep(search.Text, path); }));
        }
    }

    int status = 0;
    for (const TSearchFigures& search : searches) {
        if (search.GrepHits != search.Hits) {
            std::fprintf(stderr, "\"%s\": Find Now found %d, grep %d\n", search.Text, search.Hits,
                         search.GrepHits);
            status = 1;
        }
        std::vector<double> ratios;
        for (size_t i = 0; i < search.FindMs.size(); ++i)
            ratios.push_back(search.FindMs[i] / search.GrepMs[i]);
        std::printf("Find Now \"%s\" over %d names, %d found (medians of %d rounds):\n",
                    search.Text, kNames, search.Hits, rounds);
        std::printf("  Find Now into empty results:  %.2f ms\n", Median(search.FindMs));
        std::printf("  of which the text search:     %.2f ms\n", Median(search.RowsMs));
        std::printf("  again with results kept:      %.2f ms\n", Median(search.RepeatMs));
        std::printf("  grep -F -c on the same names: %.2f ms\n", Median(search.GrepMs));
        std::printf("  ratio find / grep: %.2f (median of the rounds' ratios %.2f; goal: at most "
                    "2)\n",
                    Median(search.FindMs) / Median(search.GrepMs), Median(ratios));
    }
    std::printf("peak memory: %ld KiB (%ld KiB with the list loaded, before any search)\n",
                PeakKiB(RUSAGE_SELF), baseKiB);
    return status;
}
