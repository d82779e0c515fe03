#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

// Gathers what an operation reports for the window (status-log lines, the status bar's text, the
// run's progress) and hands it to the widgets at the pace a person reads, never one widget update
// per protocol line. Every change of a widget is also an accessibility event, which on a desktop
// with the accessibility bus on (a screen reader) goes out over D-Bus while the server waits: a
// run to 200 groups reports about a thousand lines in a fraction of a second.
//
// Nothing is dropped from the log: its lines are handed on in order, all of them. Of the status
// text and the progress only the latest counts, as only the latest would have stayed on screen.
//
// States and transitions:
//   Idle     --event-->          Holding  (timer set to show it Interval after the last showing,
//                                          or at the next turn of the event loop if that is past)
//   Holding  --event-->          Holding  (held with the others)
//   Holding  --timer / Flush()-> Idle     (everything held shown: log, then status, then progress)
//   Idle     --Flush()-->        Idle
// The window calls Flush() whenever what shows must be whole: the operation has ended, a box
// comes up, the user aborts, turns to the log or reads a panel.
class TEventPacer {
public:
    struct TViews {
        // Appends the lines, in order, to the log: one call for every line held.
        std::function<void(const QStringList& lines)> AppendLog;
        std::function<void(const QString& text)> ShowStatus;
        std::function<void(int value, int maximum)> ShowProgress;
    };
    static constexpr int DefaultIntervalMs = 80;

    explicit TEventPacer(TViews views, int intervalMs = DefaultIntervalMs);

    void AddLogLine(const QString& line);
    void SetStatus(const QString& text);
    void SetProgress(int value, int maximum);
    void Flush();
    bool Holding() const { return FTimer.isActive(); }

private:
    void Hold();

    TViews FViews;
    int FIntervalMs = DefaultIntervalMs;
    QTimer FTimer;
    // Since the last showing; invalid before the first.
    QElapsedTimer FSinceShown;
    QStringList FLines;
    std::optional<QString> FStatus;
    std::optional<std::pair<int, int>> FProgress;
};
