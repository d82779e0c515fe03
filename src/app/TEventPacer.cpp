#include "app/TEventPacer.h"

#include <algorithm>
#include <utility>

TEventPacer::TEventPacer(TViews views, int intervalMs)
    : FViews(std::move(views)), FIntervalMs(intervalMs) {
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Flush(); });
}

void TEventPacer::AddLogLine(const QString& line) {
    FLines.append(line);
    Hold();
}

void TEventPacer::SetStatus(const QString& text) {
    FStatus = text;
    Hold();
}

void TEventPacer::SetProgress(int value, int maximum) {
    FProgress = std::make_pair(value, maximum);
    Hold();
}

// The first event after a quiet spell still waits for the loop's next turn, so that the lines
// one reply brings (a burst from one read) are shown together.
void TEventPacer::Hold() {
    if (FTimer.isActive())
        return;
    const qint64 since = FSinceShown.isValid() ? FSinceShown.elapsed() : FIntervalMs;
    FTimer.start(static_cast<int>(std::max<qint64>(0, FIntervalMs - since)));
}

void TEventPacer::Flush() {
    FTimer.stop();
    if (FLines.isEmpty() && !FStatus && !FProgress)
        return;
    FSinceShown.start();
    // Taken out first: a view may run code that reports again.
    const QStringList lines = std::exchange(FLines, {});
    const std::optional<QString> status = std::exchange(FStatus, std::nullopt);
    const auto progress = std::exchange(FProgress, std::nullopt);
    if (!lines.isEmpty())
        FViews.AppendLog(lines);
    if (status)
        FViews.ShowStatus(*status);
    if (progress)
        FViews.ShowProgress(progress->first, progress->second);
}
