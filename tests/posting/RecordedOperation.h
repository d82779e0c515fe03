#pragma once

// An operation whose events and recorder calls are recorded, the request the posting tests
// start it with, and what a server received cut into commands.

#include "posting/TNewsOperation.h"

#include <stdexcept>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// The recorder's calls, one line each ("ArticleGoing a.one <a.one@example.com>"); from call
// FailAt on (when not 0), each raises as a full disk would.
struct RecordedCalls : TRunRecorder {
    Lines Calls;
    size_t FailAt = 0;
    void Add(const std::string& call) {
        if (FailAt > 0 && Calls.size() + 1 >= FailAt)
            throw std::runtime_error("No space left on device");
        Calls.push_back(call);
    }
    void RunStarted(const TNewsRequest& request) override {
        Calls.push_back("RunStarted " + std::to_string(request.Groups.size()));
    }
    void ArticleGoing(const std::string& group, const std::string& messageId) override {
        Add("ArticleGoing " + group + " " + messageId);
    }
    void GroupAnswered(const TGroupOutcome& outcome) override {
        Add("GroupAnswered " + outcome.Group + " " + std::to_string(outcome.Code));
    }
    void RunEnded() override { Calls.push_back("RunEnded"); }
};

struct RecordedOperation {
    TNewsOperation Operation;
    RecordedCalls Recorder;
    Lines Log;
    Lines Notices;
    Lines Failures;
    std::vector<TGroupOutcome> Outcomes;
    std::vector<TGroupOutcome> Verified;
    std::vector<TRunSummary> Summaries;

    RecordedOperation() {
        TNewsOperationEvents& events = Operation.Events();
        events.Log = [this](const std::string& line) { Log.push_back(line); };
        events.Notice = [this](const std::string& text) { Notices.push_back(text); };
        events.Failed = [this](const std::string& text) { Failures.push_back(text); };
        events.GroupDone = [this](const TGroupOutcome& outcome) { Outcomes.push_back(outcome); };
        events.GroupVerified = [this](const TGroupOutcome& outcome) {
            Verified.push_back(outcome);
        };
        events.Finished = [this](const TRunSummary& summary) { Summaries.push_back(summary); };
        Operation.SetRecorder(&Recorder);
    }

    // The log, a line feed after each line.
    std::string LogText() const {
        std::string text;
        for (const std::string& line : Log)
            text += line + "\n";
        return text;
    }

    Lines Groups() const {
        Lines groups;
        for (const TGroupOutcome& outcome : Outcomes)
            groups.push_back(outcome.Group);
        return groups;
    }
};

// Group a.one's article has Message-ID <a.one@example.com>.
inline TNewsRequest Request(const std::string& host, bool logOn = false) {
    TNewsRequest request;
    request.Host = host;
    request.LogOn = logOn;
    request.UserID = "u";
    request.Password = "p";
    request.TimeoutSeconds = 1;
    request.Groups = {"a.one"};
    request.ComposeArticle = [](const std::string& group, TIpNewsArticle& article) {
        article.NewMessage();
        article.From = "poster@example.com";
        article.Subject = "test";
        article.Newsgroups = {group};
        article.MessageID = "<" + group + "@example.com>";
        article.Body.WriteLine("body");
    };
    return request;
}

// The lines received, an article after POST given as "article <Newsgroups> <Message-ID>" (every
// POST is taken to have been answered with 340).
inline Lines Commands(const std::string& received) {
    Lines commands;
    bool inArticle = false;
    std::string group;
    std::string id;
    size_t start = 0;
    for (size_t end = received.find("\r\n"); end != std::string::npos;
         end = received.find("\r\n", start)) {
        const std::string line = received.substr(start, end - start);
        start = end + 2;
        if (!inArticle) {
            commands.push_back(line);
            inArticle = line == "POST";
            continue;
        }
        if (line == ".") {
            commands.push_back("article " + group + " " + id);
            inArticle = false;
        } else if (line.starts_with("Newsgroups: ")) {
            group = line.substr(12);
        } else if (line.starts_with("Message-ID: ")) {
            id = line.substr(12);
        }
    }
    return commands;
}
