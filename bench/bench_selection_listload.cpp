// Loading a list file of 1,000,000 distinct newsgroup names, in random order, into a newsgroup
// list control, timed next to `LC_ALL=C sort -f -u` on the same file in the same run. Also times
// what a user feels with a million rows: scrolling to the end, marking a row, marking all.
#include "bench_common.h"
#include "selection/trcvListbox.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <random>

static constexpr int kNames = 1000000;

// Distinct by construction (the number is part of the name), written in a shuffled order, with
// mixed letter case so that case folding matters.
static void WriteNames(const std::string& path) {
    static const char* const hierarchies[] = {"alt",        "comp",    "misc",  "news",
                                              "rec",        "sci",     "soc",   "talk",
                                              "Humanities", "de.comp", "fr.rec"};
    static const char* const words[] = {"lang",  "os",    "sys",  "arts",    "binaries", "test",
                                        "Games", "music", "misc", "answers", "Politics"};
    std::vector<int> order(kNames);
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 random(12345);
    std::shuffle(order.begin(), order.end(), random);
    std::ofstream out(path, std::ios::binary);
    std::string line;
    for (int n : order) {
        line = hierarchies[n % 11];
        line += '.';
        line += words[(n / 11) % 11];
        line += '.';
        line += words[(n / 121) % 11];
        line += ".g";
        line += std::to_string(n);
        line += "\r\n";
        out << line;
    }
}

int main(int argc, char* argv[]) {
    PreferOffscreenPlatform();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("newsgrps.txt")).toStdString();
    const std::string sorted = dir.filePath(QStringLiteral("sorted.txt")).toStdString();
    WriteNames(path);

    const std::string command = "LC_ALL=C sort -f -u '" + path + "' > '" + sorted + "'";
    const double sortMs = BestMs(3, [&] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "sort failed\n");
    });

    const long baseKiB = PeakKiB(RUSAGE_SELF);
    trcvListbox list;
    list.resize(300, 400);
    list.show();
    const QString file = QString::fromStdString(path);
    const double loadMs = BestMs(3, [&] {
        list.Items().LoadFromFile(file);
        QCoreApplication::processEvents(); // the view's relayout after the reset
    });
    if (list.Count() != kNames) {
        std::fprintf(stderr, "loaded %d entries, expected %d\n", list.Count(), kNames);
        return 1;
    }

    const double scrollMs = BestMs(3, [&] {
        list.scrollToBottom();
        list.viewport()->repaint();
        list.scrollToTop();
        list.viewport()->repaint();
    });
    const double markMs = BestMs(3, [&] {
        list.selectionModel()->select(list.model()->index(kNames / 2, 0),
                                      QItemSelectionModel::ClearAndSelect);
        list.viewport()->repaint();
    });
    const double markAllMs = BestMs(3, [&] {
        list.selectAll();
        list.viewport()->repaint();
    });

    std::printf("list load of %d names (read, sort, unique, view relayout): %.1f ms\n", kNames,
                loadMs);
    std::printf("LC_ALL=C sort -f -u on the same file:                      %.1f ms\n", sortMs);
    std::printf("ratio load / sort: %.2f (below 1 is faster than sort)\n", loadMs / sortMs);
    std::printf("scroll to end and back, with repaints: %.2f ms\n", scrollMs);
    std::printf("click-mark one row in the middle:      %.2f ms\n", markMs);
    std::printf("mark all rows (Ctrl+A):                %.2f ms\n", markAllMs);
    std::printf("peak memory: process %ld KiB (%ld KiB before loading), sort %ld KiB\n",
                PeakKiB(RUSAGE_SELF), baseKiB, PeakKiB(RUSAGE_CHILDREN));
    return 0;
}
