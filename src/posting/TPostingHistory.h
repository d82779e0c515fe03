#pragma once

#include "nntp/TIpCustomNntpClient.h"
#include "posting/TNewsOperation.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What became of one group's article in a finished run.
enum class THistoryOutcome : uint8_t {
    // Posting runs: the server took the article; it refused it (or refused POST); it took it but
    // STAT found no such article afterwards.
    hoAccepted,
    hoRefused,
    hoMissing,
    // Cancel runs (a refused cancel is hoRefused): the article is gone; the server answered the
    // cancel but keeps the article (it had no Cancel-Lock, or not ours).
    hoCancelled,
    hoKept,
};

struct THistoryGroup {
    std::string Group;
    THistoryOutcome Outcome = THistoryOutcome::hoRefused;
    // The server's reply line to the article or the cancel.
    std::string Reply;
    // The article's Message-ID; in a cancel run, the article the cancel withdrew.
    std::string MessageID;
    // The Message-ID of the article this one replaces; empty when it replaces none.
    std::string Supersedes;

    // The line of a posting run's outcome.
    static THistoryGroup Of(const TGroupOutcome& outcome, std::string supersedes = {});

    bool operator==(const THistoryGroup&) const = default;
};


enum class THistoryKind : uint8_t { hkPost, hkCancel };

// The word the history file keeps for an outcome ("accepted", "refused", "missing", "cancelled",
// "kept") and for a kind ("post", "cancel"); the command line prints the same words.
std::string OutcomeName(THistoryOutcome outcome);
std::string KindName(THistoryKind kind);

// One finished run as the history keeps it: enough to show its report again, and to withdraw or
// replace its articles later over the same server and log-on. Never the password.
struct THistoryRun {
    // The run's id (the engine's run id, lower-case hex), unique in the history.
    std::string RunID;
    // When it finished, in seconds since the epoch (UTC).
    int64_t Time = 0;
    THistoryKind Kind = THistoryKind::hkPost;
    std::string Server;
    TIpNntpSecurity Security = TIpNntpSecurity::nySecNone;
    bool LogOn = false;
    std::string UserID;
    // The sender's address, as the articles' From gave it (a cancel goes out from the same).
    std::string Address;
    std::string Subject;
    // A cancel run: the id of the run whose articles it withdrew.
    std::string Target;
    // In the run's order.
    std::vector<THistoryGroup> Groups;

    // The line a finished run leaves: a cancel run (the request's Cancels) by the articles it
    // withdrew, a posting run by its articles and those they replaced. `time` is when it ended.
    static THistoryRun Of(const TNewsRequest& request, const TRunSummary& summary, int64_t time);
    // The groups whose article (or cancel) the server refused; the server took the others.
    size_t Refused() const;

    bool operator==(const THistoryRun&) const = default;
};

// The history of finished runs, in the file history.jsonl beside the settings file: one JSON
// line per run, appended as each run finishes, so it outlives the run journal (which the next
// run replaces). Readable by the user alone, as the settings are: it names the server, the
// log-on user and the subjects.
//
// A program killed while appending leaves at most a torn last line; the reader skips any line
// it cannot read, and the next append starts on a line of its own. The file keeps the newest
// MaxRuns runs: an append that finds more rewrites it without the oldest, into a temporary file
// that then replaces it, so the history is never seen half written. Appends and that rewrite
// hold a lock on the file (the window and a command-line run may finish at once); readers need
// none.
class TPostingHistory {
public:
    static constexpr const char* FileName = "history.jsonl";
    static constexpr size_t MaxRuns = 1000;

    explicit TPostingHistory(std::string path);

    // Raises EIpBaseException (the system's reason) when the file cannot be written.
    void Append(const THistoryRun& run) const;
    // Every run the file holds, newest first; none when there is no file.
    std::vector<THistoryRun> Runs() const;
    // The run named by `which`: "last" for the newest posting run, else a run id or a prefix of
    // exactly one run's id. Nothing when no run, or more than one, fits.
    std::optional<THistoryRun> Find(std::string_view which) const;
    // The newest posting run with this subject on the same server: the run a new post of the
    // same subject would replace.
    std::optional<THistoryRun> Previous(const std::string& server, TIpNntpSecurity security,
                                        const std::string& subject) const;

    // The line that keeps run (without its line end), and the run a line keeps; the latter
    // gives nothing for a line it cannot read whole.
    static std::string LineOf(const THistoryRun& run);
    static std::optional<THistoryRun> RunOf(std::string_view line);

private:
    std::string FPath;
};
