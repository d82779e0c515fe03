#include "net/TIpExceptionReporter.h"

#include <cstdio>
#include <mutex>

static std::mutex reporterLock;
static std::function<void(const std::exception&)>& Reporter() {
    static std::function<void(const std::exception&)> reporter;
    return reporter;
}

void SetIpExceptionReporter(std::function<void(const std::exception&)> reporter) {
    std::scoped_lock lock(reporterLock);
    Reporter() = std::move(reporter);
}

void ReportIpException(const std::exception& error) {
    std::function<void(const std::exception&)> reporter;
    {
        std::scoped_lock lock(reporterLock);
        reporter = Reporter();
    }
    if (reporter) {
        try {
            reporter(error);
            return;
        } catch (...) {
            // A reporter that fails itself must not take the event loop down; fall back to stderr.
        }
    }
    std::fprintf(stderr, "%s\n", error.what());
}
