#pragma once

// One posting run of a fresh engine, timed from StartPost to its end, as the posting benchmarks
// measure it.

#include "posting/TNewsOperation.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// A run of the body to groups on host from one poster, under subject.
inline TNewsRequest BenchRequest(const std::string& host, const std::vector<std::string>& groups,
                                 const std::vector<std::string>& body, const std::string& subject) {
    TNewsRequest request;
    request.Host = host;
    request.Groups = groups;
    request.Article.Address = "poster@example.com";
    request.Article.Subject = subject;
    request.Article.BodyLines = body;
    return request;
}

// Runs request on operation (whose other events the caller may have set) to its end: the
// seconds it took; nullopt, said on standard error, when it failed or a group was not accepted.
inline std::optional<double> TimedRun(TNewsOperation& operation, TNewsRequest request) {
    QEventLoop loop;
    std::optional<std::string> failure;
    bool finished = false;
    operation.Events().Finished = [&](const TRunSummary&) {
        finished = true;
        loop.quit();
    };
    operation.Events().Failed = [&](const std::string& message) {
        failure = message;
        loop.quit();
    };
    const std::string subject = request.Article.Subject;
    const size_t groups = request.Groups.size();
    QElapsedTimer timer;
    timer.start();
    operation.StartPost(std::move(request));
    while (!finished && !failure)
        loop.exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (failure) {
        std::fprintf(stderr, "%s: run failed: %s\n", subject.c_str(), failure->c_str());
        return std::nullopt;
    }
    if (operation.Summary().Accepted != static_cast<int>(groups)) {
        std::fprintf(stderr, "%s: %d of %zu groups accepted\n", subject.c_str(),
                     operation.Summary().Accepted, groups);
        return std::nullopt;
    }
    return seconds;
}
