#pragma once

// What the components hand to the application-wide exception reporter while a test runs, in
// the order they reported it. A test calls Collect in init() and Release in cleanup().
//
// Header-only on purpose: the support library is linked after each layer's library, so only the
// test's own objects may call into the network layer.

#include "net/TIpExceptionReporter.h"

#include <string>
#include <vector>

class ReportedErrors {
public:
    ReportedErrors() = default;
    ReportedErrors(const ReportedErrors&) = delete;
    ReportedErrors& operator=(const ReportedErrors&) = delete;
    ~ReportedErrors() { Release(); }

    // Forgets what was reported so far and takes every later report.
    void Collect() {
        FTexts.clear();
        FInstalled = true;
        SetIpExceptionReporter(
            [this](const std::exception& error) { FTexts.push_back(error.what()); });
    }
    // Hands reporting back to the default reporter; the texts stay readable.
    void Release() {
        if (FInstalled)
            SetIpExceptionReporter({});
        FInstalled = false;
    }
    const std::vector<std::string>& Texts() const { return FTexts; }

private:
    std::vector<std::string> FTexts;
    bool FInstalled = false;
};
