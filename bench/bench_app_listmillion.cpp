// LIST of 1,000,000 distinct groups (about 43 MB of reply) from a loopback peer through the main
// window, from Get group list until the all-groups list holds them, next to a plain blocking loop
// that reads the same reply from a socket into a vector of strings, one a line. The window meets
// the names once in list order (the order a server that keeps its active file sorted sends) and
// once scrambled, which the list has to sort. Each measurement runs in a process of its own (this
// program started again with --window or --plain and the peer's port), so that its memory is its
// own: the figure is the growth of the peak resident set (VmHWM) over the measurement.

#include "bench_app_common.h"
#include "bench_plain_list.h"

#include "support/LoopbackSockets.h"
#include "support/ScriptedPeer.h"

#include <chrono>
#include <fstream>
#include <string>
#include <unistd.h>

static constexpr int GroupCount = 1000000;
static constexpr int Rounds = 7;

struct Figures {
    double Seconds = 0;
    long GrowthKiB = 0;
    long Groups = 0;
};

static long HighWaterKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// alt.bulk.g0000000 .. alt.bulk.g0999999, in order or scrambled.
static std::string ListReply(bool scrambled) {
    std::string reply;
    reply.reserve(size_t(GroupCount) * 44);
    char line[64];
    for (long i = 0; i < GroupCount; ++i) {
        const long name = scrambled ? i * 611953 % GroupCount : i;
        reply.append(line,
                     static_cast<size_t>(std::snprintf(
                         line, sizeof line, "alt.bulk.g%07ld 0000001234 0000000001 y\r\n", name)));
    }
    return reply;
}

static Figures WindowRun(int argc, char** argv, const QString& host) {
    UseOffscreen();
    QApplication app(argc, argv);
    TBenchWindow bench(host);
    TfrmMain& window = *bench.Window;
    window.show();
    // A person clicks on a window already on screen: its first painting is not part of the list.
    QApplication::processEvents();
    window.repaint();
    QObject::connect(&window, &TfrmMain::GroupListArrived, &bench.Loop, &QEventLoop::quit);
    const long before = HighWaterKiB();
    Figures figures;
    figures.Seconds = bench.Time([&window] { window.Getgrouplist1Click(); },
                                 [&window] { return window.ListingGroups(); });
    figures.GrowthKiB = HighWaterKiB() - before;
    figures.Groups = window.trcvNewsgroups->Count();
    if (!bench.Prompts->Messages().isEmpty())
        std::fprintf(stderr, "unexpected: %s\n", qPrintable(bench.Prompts->Messages().join(" | ")));
    return figures;
}

static Figures PlainRun(uint16_t port) {
    const long before = HighWaterKiB();
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return {};
    const std::vector<std::string> lines = PlainListRead(fd);
    ::close(fd);
    Figures figures;
    figures.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.GrowthKiB = HighWaterKiB() - before;
    figures.Groups = static_cast<long>(lines.size()) - 1; // the status line
    return figures;
}

// Runs this program again as `mode` against the peer; its figures, or zeros when it failed.
static Figures InChild(const char* mode, uint16_t port) {
    const std::string command =
        "/proc/" + std::to_string(::getpid()) + "/exe " + mode + " " + std::to_string(port);
    Figures figures;
    if (FILE* child = ::popen(command.c_str(), "r")) {
        if (std::fscanf(child, "%lf %ld %ld", &figures.Seconds, &figures.GrowthKiB,
                        &figures.Groups) != 3)
            figures = {};
        ::pclose(child);
    }
    return figures;
}

int main(int argc, char** argv) {
    if (argc == 3) {
        const auto port = static_cast<uint16_t>(std::stoi(argv[2]));
        const Figures figures =
            std::strcmp(argv[1], "--window") == 0
                ? WindowRun(argc, argv, QStringLiteral("127.0.0.1:%1").arg(port))
                : PlainRun(port);
        std::printf("%.6f %ld %ld\n", figures.Seconds, figures.GrowthKiB, figures.Groups);
        return 0;
    }
    struct Reply {
        const char* Name;
        std::string Text;
        ScriptedPeer Peer{false};
        Figures Window{1e300, 0, 0};
    };
    Reply replies[] = {{"names in list order", ListReply(false)},
                       {"names scrambled", ListReply(true)}};
    for (Reply& reply : replies) {
        reply.Peer.SetTimeout(120000);
        reply.Peer.Send("200 bench ready\r\n")
            .WaitFor("LIST\r\n")
            .Send("215 list follows\r\n")
            .Send(reply.Text)
            .Send(".\r\n");
        reply.Peer.Start();
    }

    Figures plain{1e300, 0, 0};
    int status = 0;
    const auto measure = [&status](const char* mode, uint16_t port, Figures& best) {
        const Figures run = InChild(mode, port);
        if (run.Groups != GroupCount) {
            std::fprintf(stderr, "%s: %ld groups of %d\n", mode, run.Groups, GroupCount);
            status = 1;
        }
        best.Seconds = std::min(best.Seconds, run.Seconds);
        best.GrowthKiB = std::max(best.GrowthKiB, run.GrowthKiB);
    };
    for (int round = 0; round < Rounds; ++round) {
        measure("--plain", replies[0].Peer.Port(), plain);
        for (Reply& reply : replies)
            measure("--window", reply.Peer.Port(), reply.Window);
    }
    const double replyKiB = double(replies[0].Text.size()) / 1024;
    std::printf("LIST of 1,000,000 groups, %.1f MB reply (best of %d rounds)\n",
                double(replies[0].Text.size()) / 1e6, Rounds);
    std::printf("  plain read into a vector:         %.3f s, peak growth %6.1f MB\n", plain.Seconds,
                plain.GrowthKiB / 1024.0);
    for (const Reply& reply : replies)
        std::printf("  window, %-25s %.3f s, peak growth %6.1f MB; time ratio %.2f (goal "
                    "<= 1.0), peak growth / reply %.2f (goal <= 3)\n",
                    (reply.Name + std::string(":")).c_str(), reply.Window.Seconds,
                    reply.Window.GrowthKiB / 1024.0, reply.Window.Seconds / plain.Seconds,
                    double(reply.Window.GrowthKiB) / replyKiB);
    return status;
}
