// Throughput of the attachment path: loading a 64 MiB file into an entity as base64, and
// composing an article that carries it, each next to `base64 -w 76` on the same file, measured
// in the same run. Also prints the peak memory against the size of the encoded text.

#include "mime/TIpMimeEntity.h"
#include "mime/TIpNewsArticle.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int64_t FileSize = int64_t(64) << 20;
constexpr int Rounds = 5;

double Seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename F> double Time(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return Seconds(start);
}

double MBps(double seconds) {
    return double(FileSize) / 1e6 / seconds;
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
} // namespace

int main() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : P_tmpdir) + "/heraldix-bench-XXXXXX";
    char* dir = pattern.data();
    if (!mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = std::string(dir) + "/random.bin";
    {
        std::vector<uint32_t> data(size_t(FileSize / 4));
        std::mt19937 generator(1);
        for (uint32_t& word : data)
            word = generator();
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(data.data(), 1, size_t(FileSize), file) != size_t(FileSize)) {
            std::perror("write test file");
            return 1;
        }
        std::fclose(file);
    }

    const std::string command = "base64 -w 76 '" + path + "' > /dev/null";
    std::system(command.c_str()); // warm the page cache

    TIpNewsArticle article;
    article.NewMessage();
    article.From = article.Sender = "bench@example.com";
    article.Subject = "bench";
    article.Newsgroups = article.Path = {"alt.test"};
    article.PlainTextPart(true)->Body.WriteLine(std::string("body"));
    TIpMimeEntity* part = article.AddChild();
    part->DispositionType = "Attachment";
    part->ContentName = "random.bin";
    part->LoadFromFile(path);

    // The three measurements take turns, so a busy moment of the machine hits all of them alike;
    // the best round of each counts.
    double baseline = 1e9;
    double load = 1e9;
    double compose = 1e9;
    int64_t encodedSize = 0;
    for (int round = 0; round < Rounds; ++round) {
        baseline = std::min(baseline, Time([&] {
                                if (std::system(command.c_str()) != 0)
                                    std::fprintf(stderr, "base64 failed\n");
                            }));
        load = std::min(load, Time([&] {
                            TIpMimeEntity parent;
                            TIpMimeEntity* loaded = parent.AddChild();
                            loaded->LoadFromFile(path);
                            encodedSize = loaded->Body.Size();
                        }));
        compose = std::min(compose, Time([&] { article.ComposeText(); }));
    }
    const int64_t composedSize = article.Size();

    std::printf("file: %lld bytes, encoded body: %lld bytes, composed article: %lld bytes\n",
                (long long)FileSize, (long long)encodedSize, (long long)composedSize);
    std::printf("base64 -w 76 (baseline)     %8.1f MB/s\n", MBps(baseline));
    std::printf("LoadFromFile (base64)       %8.1f MB/s   ratio to baseline %.2f\n", MBps(load),
                MBps(load) / MBps(baseline));
    std::printf("ComposeText                 %8.1f MB/s   adds %.0f %% to the load time\n",
                MBps(compose), 100.0 * compose / load);
    std::printf("load + compose              %8.1f MB/s   ratio to baseline %.2f\n",
                MBps(load + compose), MBps(load + compose) / MBps(baseline));
    std::printf("peak memory: %.1f MiB = %.2f x the encoded size\n", PeakKiB() / 1024.0,
                PeakKiB() * 1024.0 / double(encodedSize));

    std::remove(path.c_str());
    rmdir(dir);
    return 0;
}
