// Throughput of the attachment path: loading a 64 MiB file into an article's part as base64, and
// composing the article, each next to `base64 -w 76` on the same file, measured in the same run.
// Ratios above 1 mean faster than the baseline. Also prints the peak memory against the size of
// the encoded text.

#include "mime/TIpMimeEntity.h"
#include "mime/TIpNewsArticle.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int64_t FileSize = int64_t(64) << 20;
constexpr int Rounds = 7;

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

double Best(std::vector<double> times) {
    return *std::min_element(times.begin(), times.end());
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t middle = times.size() / 2;
    return times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
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

    // The baseline runs base64 itself (no shell in between) with its output going to /dev/null:
    // it pays for reading and encoding but, unlike the entity, never for keeping its text.
    const auto runBaseline = [&path] {
        const pid_t child = fork();
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            execlp("base64", "base64", "-w", "76", path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::fprintf(stderr, "base64 failed\n");
    };
    runBaseline(); // warm the page cache

    // Each round is a post: the article is made afresh, the file is loaded into its part, and
    // the article is composed. The three measurements take turns, so a busy moment of the
    // machine hits all of them alike; the best and the median round are shown.
    TIpNewsArticle article;
    TIpMimeEntity* part = nullptr;
    std::vector<double> baseline;
    std::vector<double> load;
    std::vector<double> compose;
    std::vector<double> both;
    for (int round = 0; round < Rounds; ++round) {
        article.NewMessage();
        article.From = article.Sender = "bench@example.com";
        article.Subject = "bench";
        article.Newsgroups = article.Path = {"alt.test"};
        article.PlainTextPart(true)->Body.WriteLine(std::string("body"));
        part = article.AddChild();
        part->DispositionType = "Attachment";
        part->ContentName = "random.bin";

        baseline.push_back(Time(runBaseline));
        load.push_back(Time([&] { part->LoadFromFile(path); }));
        compose.push_back(Time([&] { article.ComposeText(); }));
        both.push_back(load.back() + compose.back());
    }
    const int64_t encodedSize = part->Body.Size();
    const int64_t composedSize = article.Size();

    std::printf("file: %lld bytes, encoded body: %lld bytes, composed article: %lld bytes, "
                "%d rounds\n",
                (long long)FileSize, (long long)encodedSize, (long long)composedSize, Rounds);
    std::printf(
        "                           best: ms     MB/s  ratio   median: ms     MB/s  ratio\n");
    const auto row = [&](const char* name, std::vector<double>& times) {
        std::printf("%-26s %8.1f %8.1f %6.2f   %10.1f %8.1f %6.2f\n", name, 1e3 * Best(times),
                    MBps(Best(times)), Best(baseline) / Best(times), 1e3 * Median(times),
                    MBps(Median(times)), Median(baseline) / Median(times));
    };
    row("base64 -w 76 (baseline)", baseline);
    row("LoadFromFile (base64)", load);
    row("ComposeText", compose);
    row("load + compose", both);
    std::printf("ComposeText adds %.0f %% (best) / %.0f %% (median) to the load time\n",
                100.0 * Best(compose) / Best(load), 100.0 * Median(compose) / Median(load));
    std::printf("peak memory: %.1f MiB = %.2f x the encoded size\n", PeakKiB() / 1024.0,
                PeakKiB() * 1024.0 / double(encodedSize));

    std::remove(path.c_str());
    rmdir(dir);
    return 0;
}
