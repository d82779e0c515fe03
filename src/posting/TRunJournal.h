#pragma once

#include "posting/TNewsOperation.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The journal of a posting run: one line per event (the run's start with its request, each
// article about to go out with its Message-ID, each group's answer, the end). A journal without
// its end line is a run that was cut short; the request to resume it holds the groups not yet
// answered, with their places in the run and the run's random part (from which each group's
// Message-ID follows), and for a group whose article went out, that article's Message-ID, so
// the resumed run asks the server before posting it again. The password is never written.
//
// Every write is checked: one that fails raises (its reason as the text), and every later one
// raises the same, so the run stops rather than post what it could not record.
//
// What a power cut must not take is synced once per run, when the run begins its file: the
// start line and, when the file was new, the directory that names it. Later lines are written
// without a sync: a line the machine lost leaves its group unanswered in the journal, and the
// resumed run asks the server for the article under the Message-ID it computes again.
//
// One run at a time: a run holds a lock on its journal (a POSIX record lock, so that a second
// process can be told which process holds it) from RunStarted (or Lock) until RunEnded, Release
// or the journal's destruction; a second run on it, in this process or another, is refused.
class TRunJournal : public TRunRecorder {
public:
    // The journal's name beside the window's settings file.
    static constexpr const char* FileName = "run.journal";

    explicit TRunJournal(std::string path);
    ~TRunJournal() override;
    TRunJournal(const TRunJournal&) = delete;
    TRunJournal& operator=(const TRunJournal&) = delete;

    // Takes the journal (Lock) for the run.
    void RunStarted(const TNewsRequest& request) override;
    void ArticleGoing(const std::string& group, const std::string& messageId) override;
    void CrosspostGoing(const std::vector<std::string>& groups,
                        const std::string& messageId) override;
    void CrosspostRefused(const std::vector<std::string>& groups,
                          const std::string& messageId) override;
    void GroupAnswered(const TGroupOutcome& outcome) override;
    // Writes the end line when the run wrote anything, and lets the journal go. An end line that
    // cannot be written is not raised: the run then looks cut short, and a resume of it asks the
    // server about every group left, which posts nothing twice.
    void RunEnded() override;

    // Takes the journal for a run, creating the file (empty) when there is none. Raises
    // ERunRefused when another run holds it ("Another Heraldix run is using <path> (process
    // N)"), and the reason when the file cannot be opened. Taking it again is a no-op.
    void Lock();
    // Lets go of the journal of a run that stopped without ending; it stays resumable.
    void Release();

    // A run the journal at path began and did not end.
    struct TInterrupted {
        // The run's request with the groups not yet answered (in their order), their places,
        // and SentBefore for those whose article went out; Resumed; without a password.
        TNewsRequest Request;
        // The groups of the run as it first began.
        size_t Total = 0;
        // The outcomes heard before the interruption, in the run's order, each Earlier.
        std::vector<TGroupOutcome> Answered;
    };
    // Nothing when there is no journal, it ended, nothing is left to post, or another process
    // has a run under way on it. With `answeredToo`, a run whose every group was answered but
    // whose end never reached the journal (cut short between its last answer and its end, its
    // last outcomes perhaps never shown) is found too, with no groups left.
    static std::optional<TInterrupted> FindInterrupted(const std::string& path,
                                                       bool answeredToo = false);
    // The same for a journal's text.
    static std::optional<TInterrupted> InterruptedIn(std::string_view text,
                                                     bool answeredToo = false);
    // Writes the end of the interrupted run once its outcomes have been shown: nothing of it was
    // left to post.
    void EndInterrupted();
    // Forgets an interrupted run the user chose not to resume (not one under way elsewhere).
    static void Discard(const std::string& path);
    // summary with the outcomes heard before an interruption in front, and counted.
    static TRunSummary WithEarlier(const std::vector<TGroupOutcome>& earlier,
                                   const TRunSummary& summary);

private:
    // Writes line (with its line end); the run's start line goes first.
    void Write(const std::string& line);
    // Begins the run's part of the file: afresh, or after the run it resumes; synced.
    void Begin();
    [[noreturn]] void Broke(int error);

    std::string FPath;
    // The open, locked file; -1 while the journal is not held.
    int FFile = -1;
    // The file was made by Lock and its directory entry is not yet synced.
    bool FCreated = false;
    // The run resumes the one the file holds: its lines go after that run's, which keeps the
    // answers heard before the interruption and the run to fall back on.
    bool FAppend = false;
    // The start line of a run that has not yet sent or heard anything: a run that ends before
    // it does (no connection) leaves the journal as it was, so an interrupted run it was to
    // resume stays resumable.
    std::string FStartLine;
    bool FBegun = false;
    // Why a write failed; empty while none has.
    std::string FBroken;
};
