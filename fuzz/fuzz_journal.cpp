// Any bytes as a run journal: whatever the reader makes of them is a run it could resume (a
// place and a Message-ID rule for every group left). Then the input as a writer's events (articles
// going, answers, resumes), and the journal it wrote cut anywhere: no group of the run is lost
// and no answer invented.

#include "posting/TRunJournal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckRead(std::string_view text) {
    const auto found = TRunJournal::InterruptedIn(text);
    if (!found)
        return;
    const TNewsRequest& request = found->Request;
    Check(!request.Groups.empty() && request.Resumed);
    Check(request.Places.size() == request.Groups.size());
    Check(found->Total == request.Groups.size() + found->Answered.size());
    for (const TGroupOutcome& outcome : found->Answered)
        Check(outcome.Earlier);
}

const std::string& JournalPath() {
    static const std::string path = [] {
        // On a memory file system, where the journal's one sync per run costs nothing.
        char name[] = "/dev/shm/fuzz_journal.XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        return std::string(name);
    }();
    return path;
}

// Writer events taken from an input: enough for resumes of resumes, few enough to stay fast.
constexpr size_t MaxEvents = 48;

size_t Count(std::string_view text, std::string_view what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckRead(std::string_view(reinterpret_cast<const char*>(data), size));
    if (size == 0)
        return 0;

    static const std::vector<std::string> names{"a.one", "b.two",      "de.caf\xe9",
                                                "a.one", "de.caf\xe8", "c.three"};
    TNewsRequest request;
    request.Host = "news.example:119";
    request.Groups.assign(names.begin(), names.begin() + 1 + data[0] % names.size());
    request.RunId = "f00d";
    std::vector<std::string> all = request.Groups;
    std::sort(all.begin(), all.end());
    std::ofstream(JournalPath(), std::ios::trunc);
    {
        TRunJournal journal(JournalPath());
        journal.RunStarted(request);
        for (size_t i = 1; i < std::min(size, MaxEvents); ++i) {
            const std::string& group = names[data[i] / 3 % names.size()];
            const std::string id = "<" + std::to_string(i) + "@x>";
            switch (data[i] % 3) {
            case 0:
                journal.ArticleGoing(group, id);
                break;
            case 1:
                journal.GroupAnswered(TGroupOutcome{group, (data[i] & 8) != 0 ? 240 : 441, "reply",
                                                    id, true, (data[i] & 8) != 0});
                break;
            case 2: {
                // Cut short here, and resumed.
                journal.Release();
                const auto left = TRunJournal::FindInterrupted(JournalPath());
                if (!left)
                    return 0;
                journal.RunStarted(left->Request);
                break;
            }
            }
        }
    }
    std::ifstream file(JournalPath(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const size_t firstLine = text.find('\n');
    // A line cut anywhere inside is the same torn line to the reader: every line is cut at its
    // start, one byte in, just before and at its line end.
    std::vector<size_t> cuts;
    for (size_t start = 0; start <= text.size(); start = text.find('\n', start) + 1) {
        const size_t end = std::min(text.find('\n', start), text.size());
        cuts.insert(cuts.end(),
                    {start, std::min(start + 1, end), end > start ? end - 1 : end, end});
        if (end == text.size())
            break;
    }
    for (const size_t cut : cuts) {
        const std::string_view prefix = std::string_view(text).substr(0, cut);
        CheckRead(prefix);
        const auto found = TRunJournal::InterruptedIn(prefix);
        const size_t answers = Count(prefix, "\"group-answered\"");
        if (!found) {
            // Nothing to resume only before the run's start is whole, or once every group has
            // an answer.
            Check(firstLine == std::string::npos || cut < firstLine || answers >= all.size());
            continue;
        }
        std::vector<std::string> groups = found->Request.Groups;
        for (const TGroupOutcome& outcome : found->Answered)
            groups.push_back(outcome.Group);
        std::sort(groups.begin(), groups.end());
        Check(groups == all);
        Check(found->Answered.size() <= answers);
    }
    return 0;
}
