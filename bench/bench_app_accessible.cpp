// The main window posting a 1 KB message to 200 groups of the local news server with
// accessibility on, as on a desktop where a screen reader may listen: a real X display (Xvfb),
// a private session bus with the accessibility bus running on it, and Qt's bridge to it switched
// on. Next to Python's nntplib posting the same articles on one connection in the same run.
//
// The figure is the wire time, from the first POST to the server's 240 for the last article:
// connection set-up and the window's start are left out on both sides, so that what is measured
// is what the window's handling of the run's events adds while the server waits on it.
//
// The program starts itself again inside the desktop it needs (xvfb-run, dbus-run-session).

#include "bench_app_common.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <cstdlib>
#include <unistd.h>

static constexpr int Groups = 200;
static constexpr int Rounds = 9;
static const char DesktopMark[] = "HERALDIX_BENCH_DESKTOP";

// Runs this program again under its own X display and session bus; returns only on failure.
static int StartInDesktop(char* self) {
    setenv(DesktopMark, "1", 1);
    char xvfb[] = "xvfb-run";
    char any[] = "-a";
    char screenOption[] = "-s";
    char screen[] = "-screen 0 1280x1024x24";
    char session[] = "dbus-run-session";
    char dashes[] = "--";
    char* arguments[] = {xvfb, any, screenOption, screen, session, dashes, self, nullptr};
    execvp(xvfb, arguments);
    std::perror("xvfb-run");
    return 1;
}

// A desktop session starts the accessibility bus at log-in; asking the session bus for its
// address starts it here, before the application looks for it.
static bool StartAccessibilityBus() {
    QProcess send;
    send.start(QStringLiteral("dbus-send"), {"--session", "--print-reply", "--dest=org.a11y.Bus",
                                             "/org/a11y/bus", "org.a11y.Bus.GetAddress"});
    return send.waitForFinished(10000) && send.exitCode() == 0;
}

// One run of the shown window; the seconds from its first POST to its last 240.
static double WindowRun(NewsServer& server, const QStringList& body, const QString& subject,
                        int& accepted) {
    TBenchWindow bench(server.Host());
    TfrmMain& window = *bench.Window;
    window.eAddress->setText(QStringLiteral("poster@example.com"));
    window.eSubject->setText(subject);
    window.dcMsgBody->SetLines(body);
    window.trcvToPost->Items().Assign(BulkGroupNames(Groups));
    // The checks before the run warn of the same text posted separately to many groups.
    bench.Prompts->QueueChecksAnswer(TChecksAnswer::PostAnyway);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "the window was not exposed\n");

    QElapsedTimer clock;
    clock.start();
    qint64 firstPost = -1;
    qint64 lastVerdict = -1;
    TNewsOperationEvents& events = window.Operation().Events();
    // The log says when a POST goes out; a group is done when its verdict has come.
    events.Log = [shown = events.Log, &clock, &firstPost](const std::string& line) {
        if (firstPost < 0 && line == "Preparing to post article")
            firstPost = clock.nsecsElapsed();
        shown(line);
    };
    events.GroupDone = [shown = events.GroupDone, &clock,
                        &lastVerdict](const TGroupOutcome& outcome) {
        lastVerdict = clock.nsecsElapsed();
        shown(outcome);
    };
    bench.Time([&window] { window.spdPostClick(); }, [&window] { return window.Posting(); });
    if (bench.Prompts->Messages() != QStringList{"Finished Posting"})
        std::fprintf(stderr, "unexpected: %s\n", qPrintable(bench.Prompts->Messages().join(" | ")));
    accepted = window.PostsAccepted();
    return firstPost < 0 || lastVerdict < firstPost ? 0 : (lastVerdict - firstPost) / 1e9;
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty(DesktopMark))
        return StartInDesktop(argv[0]);
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    if (!StartAccessibilityBus()) {
        std::fprintf(stderr, "the accessibility bus did not start\n");
        return 1;
    }
    QApplication app(argc, argv);
    // The bridge connects to the accessibility bus without blocking the start.
    for (int waited = 0; waited < 10000 && !QAccessible::isActive(); waited += 50)
        QTest::qWait(50);
    if (!QAccessible::isActive()) {
        std::fprintf(stderr, "accessibility is not active\n");
        return 1;
    }
    NewsServer server;
    if (!server.Start({"--fresh", "--groups", QString::number(Groups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    QTemporaryDir files;
    const QStringList body = KilobyteBody();
    const QString bodyFile = files.filePath("body.txt");
    WriteBodyFile(bodyFile, body);

    std::vector<double> ours;
    std::vector<double> theirs;
    int status = 0;
    for (int round = 0; round < Rounds; ++round) {
        const QString subject = QStringLiteral("bench accessible %1").arg(round);
        int accepted = 0;
        ours.push_back(WindowRun(server, body, subject, accepted));
        QStringList arguments{"post", QString::number(server.Port()), subject + " nntplib",
                              bodyFile};
        for (const std::string& group : BulkGroupNames(Groups))
            arguments << QString::fromStdString(group);
        const QJsonObject baseline = RunNntplib(arguments);
        theirs.push_back(baseline.value("wire_seconds").toDouble());
        if (accepted != Groups || baseline.value("accepted").toInt() != Groups) {
            std::fprintf(stderr, "accepted heraldix %d, nntplib %d of %d\n", accepted,
                         baseline.value("accepted").toInt(), Groups);
            status = 1;
        }
    }
    // On a busy machine both sides of a round meet the same load; the ratio of each round,
    // their median taken, varies less than the ratio of the medians.
    std::vector<double> ratios;
    for (size_t round = 0; round < ours.size(); ++round)
        if (theirs[round] > 0)
            ratios.push_back(ours[round] / theirs[round]);
    std::printf("accessibility active: %s\n", QAccessible::isActive() ? "yes" : "no");
    PrintRatio("1 KB to 200 groups, accessibility on (wire)", Median(ours), Median(theirs),
               "<= 1.2");
    std::printf("%-44s median of the rounds' ratios %.2f (goal <= 1.2)\n", "", Median(ratios));
    return status;
}
