#pragma once

#include "posting/TNewsOperation.h"

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

// The journal of a posting run: one line per event (the run's start with its request, each
// article about to go out with its Message-ID, each group's answer, the end), each on disk
// before the run goes on. A journal without its end line is a run that was cut short; the
// request to resume it holds the groups not yet answered, and for a group whose article may
// have gone out, that article's Message-ID, so the resumed run asks the server before posting
// it again. The password is never written.
class TRunJournal : public TRunRecorder {
public:
    // The journal's name in the program's file directory.
    static constexpr const char* FileName = "run.journal";

    explicit TRunJournal(std::string path);
    ~TRunJournal() override;
    TRunJournal(const TRunJournal&) = delete;
    TRunJournal& operator=(const TRunJournal&) = delete;

    void RunStarted(const TNewsRequest& request) override;
    void ArticleGoing(const std::string& group, const std::string& messageId) override;
    void GroupAnswered(const TGroupOutcome& outcome) override;
    void RunEnded() override;

    // A run the journal at path began and did not end.
    struct TInterrupted {
        // The run's request with the groups not yet answered (in their order) and SentBefore
        // for those whose article may be on the server; without a password.
        TNewsRequest Request;
        // The groups of the run as it began.
        size_t Total = 0;
    };
    // Nothing when there is no journal, it ended, or nothing is left to post.
    static std::optional<TInterrupted> FindInterrupted(const std::string& path);
    // Forgets an interrupted run the user chose not to resume.
    static void Discard(const std::string& path);

private:
    // Writes line (with its line end) and flushes it; the run's start line goes first, and the
    // file is begun afresh only then.
    void Write(const std::string& line);

    std::string FPath;
    std::FILE* FFile = nullptr;
    // The start line of a run that has not yet sent or heard anything: a run that ends before
    // it does (no connection) leaves the journal as it was, so an interrupted run it was to
    // resume stays resumable.
    std::string FStartLine;
};
