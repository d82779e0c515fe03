// Find Now in the find-groups window over an all-groups list of 1,000,000 names, timed next to
// `grep -F -c` for the same text over the same names in the same run. The search includes
// collecting the hits into the result list and the result view's relayout.
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
        for (const std::string& name : all.Items().Entries())
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

    int status = 0;
    for (const char* text : {"comp.lang", "Linux.music", "no.such.group"}) {
        find.eFindText->setText(QString::fromLatin1(text));
        int hits = 0;
        double findMs = 1e300;
        for (int run = 0; run < 9; ++run) {
            find.sbClearClick();
            QCoreApplication::processEvents();
            findMs = std::min(findMs, BestMs(1, [&] {
                                  find.sbFindClick();
                                  QCoreApplication::processEvents();
                              }));
            hits = find.trcvFindGroups->Count();
        }
        const std::string command =
            std::string("grep -F -c '") + text + "' '" + path + "' > /dev/null";
        const double grepMs = BestMs(9, [&] {
            if (std::system(command.c_str()) == -1)
                std::fprintf(stderr, "grep could not be started\n");
        });
        FILE* const counter =
            popen(("grep -F -c '" + std::string(text) + "' '" + path + "'").c_str(), "r");
        int grepHits = -1;
        if (counter) {
            if (std::fscanf(counter, "%d", &grepHits) != 1)
                grepHits = -1;
            pclose(counter);
        }
        if (grepHits != hits) {
            std::fprintf(stderr, "\"%s\": Find Now found %d, grep %d\n", text, hits, grepHits);
            status = 1;
        }
        std::printf("Find Now \"%s\" over %d names: %.1f ms, %d found\n", text, kNames, findMs,
                    hits);
        const double rowsMs = BestMs(5, [&] { index.Rows(text); });
        std::printf("  of which the text search itself:   %.1f ms\n", rowsMs);
        std::printf("grep -F -c on the same names:         %.1f ms\n", grepMs);
        std::printf("ratio find / grep: %.2f (goal: at most 2)\n", findMs / grepMs);
    }
    std::printf("peak memory: %ld KiB (%ld KiB with the list loaded, before any search)\n",
                PeakKiB(RUSAGE_SELF), baseKiB);
    return status;
}
