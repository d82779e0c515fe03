#pragma once

// What the posting and group-list benchmarks share: the real news server, a main window driven
// as a user drives it, and the nntplib baseline run on the same server.

#include "e2e/E2eWindow.h"
#include "support/NewsServer.h"

#include "bench_baseline.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

// Scripted prompts that also end a waiting event loop when a message box would appear.
class TBenchPrompts : public TScriptedPrompts {
public:
    // Every box the window shows comes through here, whatever its icon.
    void ShowIconMessage(QWidget* parent, const QString& text, TPromptIcon icon) override {
        TScriptedPrompts::ShowIconMessage(parent, text, icon);
        if (Loop)
            Loop->quit();
    }
    QEventLoop* Loop = nullptr;
};

// A main window for one timed command, in a directory of its own, with benchmark prompts.
class TBenchWindow {
public:
    explicit TBenchWindow(const QString& host) {
        auto prompts = std::make_unique<TBenchPrompts>();
        Prompts = prompts.get();
        Prompts->Loop = &Loop;
        TPrompts::Install(std::move(prompts));
        Window = std::make_unique<TfrmMain>(FDir.path());
        Window->eHost->setText(host);
        // The server's plain port, unless the benchmark chooses encryption.
        Window->cbSecurity->setCurrentIndex(0);
        // One connection, as the baseline it is measured against uses.
        Window->seConnections->setValue(1);
    }
    ~TBenchWindow() {
        Window.reset();
        TPrompts::Install(nullptr);
    }
    // Seconds from `command` until `running` turns false (the loop is quit by a message box or
    // by whatever the caller connected to Loop).
    template <typename Command, typename Running> double Time(Command command, Running running) {
        QElapsedTimer timer;
        timer.start();
        command();
        while (running() && Prompts->Messages().isEmpty())
            Loop.exec();
        return timer.nsecsElapsed() / 1e9;
    }

    TBenchPrompts* Prompts = nullptr;
    std::unique_ptr<TfrmMain> Window;
    QEventLoop Loop;

private:
    QTemporaryDir FDir;
};

inline void UseOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
