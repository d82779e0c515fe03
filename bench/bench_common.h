#pragma once

// What the benchmarks measure with (best-of-N wall time, peak resident memory) and run on.

#include <QByteArray>
#include <QElapsedTimer>
#include <QtGlobal>

#include <algorithm>
#include <sys/resource.h>

// Peak resident set of this process (RUSAGE_SELF) or of its waited-for children
// (RUSAGE_CHILDREN), in KiB.
inline long PeakKiB(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// The fastest of `runs` calls of `run`, in milliseconds.
template <typename F> double BestMs(int runs, F&& run) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// Windows are drawn off screen unless the caller chose a platform: call before QApplication.
inline void PreferOffscreenPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
