#include "support/FaultRun.h"

#include "support/NewsServer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>

namespace {

using TStep = FaultRelay::TStep;
using TKind = FaultRelay::TKind;

// A run that has not ended by then never will: its retries do not end.
constexpr int HangMs = 30000;
constexpr int Resumes = 4;

QString StepName(TStep step) {
    switch (step) {
    case TStep::None:
        return QStringLiteral("none");
    case TStep::Connect:
        return QStringLiteral("connect");
    case TStep::Greeting:
        return QStringLiteral("greeting");
    case TStep::LogOn:
        return QStringLiteral("log-on");
    case TStep::Post:
        return QStringLiteral("POST");
    case TStep::Go:
        return QStringLiteral("340");
    case TStep::Article:
        return QStringLiteral("article");
    case TStep::Verdict:
        return QStringLiteral("verdict");
    case TStep::Stat:
        return QStringLiteral("STAT");
    }
    return {};
}

QString DescribeFaults(const std::vector<FaultRelay::TFault>& faults) {
    QStringList texts;
    for (const FaultRelay::TFault& fault : faults)
        texts << FaultRun::Describe(fault) +
                     QStringLiteral(" (connection %1, from the %2th, %3 times)")
                         .arg(fault.Connection)
                         .arg(fault.Occurrence)
                         .arg(fault.Times);
    return texts.join(QStringLiteral("; "));
}

QString DescribePlay(const TFaultPlay& play) {
    return QStringLiteral("%1 connection(s)%2: %3%4")
        .arg(play.Connections)
        .arg((play.GroupsPerArticle > 1
                  ? QStringLiteral(", %1 groups to an article").arg(play.GroupsPerArticle)
                  : QString()) +
             (play.Kill ? QStringLiteral(", killed") : QString()))
        .arg(DescribeFaults(play.Faults))
        .arg(play.ResumeFaults.empty()
                 ? QString()
                 : QStringLiteral("; in the resume: ") + DescribeFaults(play.ResumeFaults));
}

} // namespace

int TFaultTally::FaultsActed() const {
    int acted = 0;
    for (const auto& [kind, count] : Faults)
        acted += kind == "kill" ? 0 : count;
    return acted;
}

TFaultTally& TFaultTally::operator+=(const TFaultTally& other) {
    Runs += other.Runs;
    for (const auto& [kind, count] : other.Faults)
        Faults[kind] += count;
    Duplicates += other.Duplicates;
    Missing += other.Missing;
    FalseReports += other.FalseReports;
    Unreported += other.Unreported;
    Hangs += other.Hangs;
    Crashes += other.Crashes;
    Problems += other.Problems;
    return *this;
}

QString TFaultTally::Table() const {
    QStringList faults;
    for (const auto& [kind, count] : Faults)
        faults << QStringLiteral("%1 %2").arg(QString::fromStdString(kind)).arg(count);
    QString table;
    const auto row = [&table](const char* name, const QString& value) {
        table += QStringLiteral("%1  %2\n").arg(QString::fromLatin1(name), -20).arg(value);
    };
    row("runs", QString::number(Runs));
    row("faults by kind", faults.join(QStringLiteral(", ")));
    row("duplicates", QString::number(Duplicates));
    row("missing groups", QString::number(Missing));
    row("false reports", QString::number(FalseReports));
    row("unreported outcomes", QString::number(Unreported));
    row("hangs", QString::number(Hangs));
    row("crashes", QString::number(Crashes));
    return table;
}

FaultRun::FaultRun(NewsServer& server, QString executable)
    : FServer(server), FExecutable(std::move(executable)) {}

std::string FaultRun::KindName(const FaultRelay::TFault& fault) {
    switch (fault.Kind) {
    case TKind::Reset:
        return fault.Step == TStep::Connect ? "refused" : "reset";
    case TKind::Close:
        if (fault.Step == TStep::Verdict && fault.Byte == 0)
            return "swallowed verdict";
        return FaultRelay::FromServer(fault.Step) && fault.Byte > 0 ? "cut reply" : "close";
    case TKind::Stall:
        return "stall";
    case TKind::Say400:
        return fault.Step == TStep::Greeting ? "400 greeting" : "400 reply";
    }
    return {};
}

QString FaultRun::Describe(const FaultRelay::TFault& fault) {
    return QStringLiteral("%1 at %2 byte %3")
        .arg(QString::fromStdString(KindName(fault)), StepName(fault.Step))
        .arg(fault.Byte);
}

TFaultPlay FaultRun::RandomPlay(std::mt19937& random) {
    const auto below = [&random](unsigned bound) { return static_cast<int>(random() % bound); };
    TFaultPlay play;
    play.Connections = 1 + below(8);
    const auto mix = [&]() {
        std::vector<FaultRelay::TFault> faults(static_cast<size_t>(1 + below(3)));
        for (FaultRelay::TFault& fault : faults) {
            fault.Kind = static_cast<TKind>(below(4));
            fault.Step = static_cast<TStep>(1 + below(8));
            fault.Byte = static_cast<size_t>(fault.Step == TStep::Article ? below(400) : below(8));
            fault.Connection =
                below(2) == 0 ? 0 : 1 + below(static_cast<unsigned>(play.Connections));
            fault.Occurrence = 1 + below(3);
            fault.Times = below(10) == 0 ? FaultRelay::Always : 1 + below(2);
        }
        return faults;
    };
    play.Faults = mix();
    play.Kill = below(7) == 0;
    if (below(4) == 0)
        play.ResumeFaults = mix();
    return play;
}

FaultRun::TRun FaultRun::RunProgram(const QStringList& arguments,
                                    const std::function<bool()>& killWhen) {
    QProcess process;
    // The relay plays the log-on and takes any password.
    process.setProcessEnvironment(CommandLineEnvironment(QStringLiteral("secret")));
    process.start(FExecutable, arguments);
    process.closeWriteChannel();
    TRun run;
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(10)) {
        run.Killed = killWhen && killWhen();
        run.Hung = clock.elapsed() > HangMs;
        if (run.Killed || run.Hung || process.state() == QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            break;
        }
    }
    run.Crashed = !run.Killed && !run.Hung && process.exitStatus() == QProcess::CrashExit;
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Err = process.readAllStandardError();
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.contains(QStringLiteral("accepted")) && object.contains(QStringLiteral("group")))
            run.Reports.emplace_back(object.value(QStringLiteral("group")).toString(),
                                     object.value(QStringLiteral("accepted")).toBool());
    }
    return run;
}

TFaultTally FaultRun::Play(const TFaultPlay& play, int openGroups) {
    TFaultTally tally;
    tally.Runs = 1;
    const int number = ++FPlays;
    QStringList groups;
    for (int i = 0; i < openGroups; ++i)
        groups << QStringLiteral("test.bulk.%1").arg(FNextGroup++, 6, 10, QLatin1Char('0'));
    groups << QString::fromLatin1(RefusingGroup);
    const QString subject = QStringLiteral("fault play %1 %2")
                                .arg(number)
                                .arg(QRandomGenerator::global()->generate64(), 0, 16);

    FaultRelay relay(FServer.Port());
    relay.AnswerLogOn(true);
    relay.SetFaults(play.Faults);
    const QString dir = FDir.filePath(QStringLiteral("play%1").arg(number));
    const QString settings = dir + QStringLiteral("/frmsv.INI");
    // A killed run waits longer for its stalled reply, so that the other connections are
    // answered before the kill.
    const int timeout = play.Kill ? 5 * TimeoutSeconds : TimeoutSeconds;
    if (!relay.Start() || !QDir().mkpath(dir) ||
        !WriteTestFile(settings,
                       QStringLiteral("[TfrmMain]\r\neHost.Text=%1\r\ncbSecurity.CurrentIndex=0\r\n"
                                      "eAddress.Text=p@example.com\r\neSubject.Text=%2\r\n"
                                      "cbLogon.Checked=True\r\neUserName.Text=poster\r\n"
                                      "seTimeout.Value=%3\r\nseConnections.Value=%4\r\n"
                                      "cbSendAs.CurrentIndex=%5\r\nseGroupsPerArticle.Value=%6\r\n"
                                      "[TfrmMain.dcMsgBody.Lines]\r\nCount=1\r\nItem0=Body\r\n")
                           .arg(QString::fromStdString(relay.Address()), subject)
                           .arg(timeout)
                           .arg(play.Connections)
                           .arg(play.GroupsPerArticle > 1 ? 1 : 0)
                           .arg(play.GroupsPerArticle)
                           .toUtf8())) {
        tally.Problems << QStringLiteral("the play could not be set up in %1").arg(dir);
        return tally;
    }

    const std::vector<TRun> runs = RunUntilDone(relay, play, settings, groups);
    for (const FaultRelay::TFault& fault : relay.Fired())
        ++tally.Faults[KindName(fault)];
    const QString exits = Judge(runs, groups, subject, tally);
    if (!tally.Clean())
        tally.Problems.prepend(DescribePlay(play) + QStringLiteral("; runs: ") + exits);
    return tally;
}

std::vector<FaultRun::TRun> FaultRun::RunUntilDone(FaultRelay& relay, const TFaultPlay& play,
                                                   const QString& settings,
                                                   const QStringList& groups) {
    const auto post = [&](const QStringList& to, const std::function<bool()>& killWhen) {
        QStringList arguments{QStringLiteral("post"), QStringLiteral("--json"),
                              QStringLiteral("--settings"), settings};
        for (const QString& group : to)
            arguments << QStringLiteral("--group") << group;
        TRun run = RunProgram(arguments, killWhen);
        run.Groups = to;
        return run;
    };
    QElapsedTimer sinceFault;
    const auto killWhen = [&]() {
        if (!play.Kill || relay.Fired().empty())
            return false;
        if (!sinceFault.isValid())
            sinceFault.start();
        return play.Connections == 1 ||
               relay.Seen(TStep::Verdict) >= static_cast<int>(groups.size()) - 1 ||
               sinceFault.elapsed() > 1000 * TimeoutSeconds;
    };
    std::vector<TRun> runs{post(groups, killWhen)};
    relay.SetFaults(play.ResumeFaults);
    const auto unreported = [&]() {
        QStringList left = groups;
        for (const TRun& run : runs)
            for (const auto& report : run.Reports)
                left.removeAll(report.first);
        return left;
    };
    const QStringList resume{QStringLiteral("post"), QStringLiteral("--resume"),
                             QStringLiteral("--json"), QStringLiteral("--settings"), settings};
    while (runs.size() <= Resumes) {
        if (runs.size() == 2)
            relay.SetFaults({});
        const TRun& last = runs.back();
        if (last.Killed || last.Hung || last.Crashed || last.Exit == 3) {
            const QStringList resumed = last.Groups;
            runs.push_back(RunProgram(resume));
            TRun& run = runs.back();
            run.Resumed = true;
            // A run that had ended before its kill leaves nothing to resume, and the resume
            // answers for no group.
            if (!(run.Exit == 2 && run.Err.contains("No interrupted run to resume")))
                run.Groups = resumed;
        } else if (last.Exit == 2 && last.Err.contains("No interrupted run to resume") &&
                   !runs[runs.size() - 2].Resumed && !unreported().isEmpty()) {
            runs.push_back(post(unreported(), {}));
        } else {
            break;
        }
    }
    return runs;
}

QString FaultRun::Judge(const std::vector<TRun>& runs, const QStringList& groups,
                        const QString& subject, TFaultTally& tally) {
    // What every run said of each group, and whether the last run for it (the one that finished
    // it, resumed or not) did: that one has to report it, whenever it was answered.
    std::map<QString, std::vector<bool>> reports;
    std::map<QString, bool> reportedLast;
    QStringList exits;
    for (const TRun& run : runs) {
        tally.Hangs += run.Hung ? 1 : 0;
        tally.Crashes += run.Crashed ? 1 : 0;
        if (run.Killed)
            ++tally.Faults["kill"];
        exits << (run.Killed ? QStringLiteral("killed")
                  : run.Hung ? QStringLiteral("hung")
                             : QStringLiteral("exit %1").arg(run.Exit)) +
                     QStringLiteral(" [%1]").arg(QString::fromUtf8(run.Err).trimmed());
        for (const QString& group : run.Groups)
            reportedLast[group] = false;
        for (const auto& [group, accepted] : run.Reports) {
            reports[group].push_back(accepted);
            reportedLast[group] = true;
        }
    }
    for (const QString& group : groups) {
        const auto stored = FServer.ArticlesWithSubject(group, subject).size();
        const std::vector<bool>& said = reports[group];
        const bool refusing = group == QLatin1String(RefusingGroup);
        QStringList wrong;
        if (stored > 1) {
            ++tally.Duplicates;
            wrong << QStringLiteral("%1 articles").arg(stored);
        } else if (stored == 0 && !refusing) {
            ++tally.Missing;
            wrong << QStringLiteral("no article");
        }
        if (!reportedLast[group]) {
            ++tally.Unreported;
            wrong << QStringLiteral("not reported by the last run");
        }
        if (std::count(said.begin(), said.end(), stored == 0) > 0) {
            ++tally.FalseReports;
            wrong << (stored == 0 ? QStringLiteral("reported accepted")
                                  : QStringLiteral("reported refused"));
        }
        if (!wrong.isEmpty())
            tally.Problems << group + QStringLiteral(": ") + wrong.join(QStringLiteral(", "));
    }
    for (const TRun& run : runs)
        if (run.Hung || run.Crashed)
            tally.Problems << (run.Hung ? QStringLiteral("a run hung")
                                        : QStringLiteral("a run crashed"));
    return exits.join(QStringLiteral(", "));
}
