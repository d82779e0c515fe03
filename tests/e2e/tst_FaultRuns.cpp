// The command line through a relay that breaks the connection at each step of a run, over one
// connection and four, and killed at a few wire events and resumed: whatever happens, every
// group ends with exactly one article and every outcome printed says what the server did. With
// SOAK_RUNS set (make soak) random mixes of faults are played instead and counted in a table.

#include "support/FaultRun.h"
#include "support/NewsServer.h"

#include <QTest>

#include <cstdio>
#include <memory>
#include <random>
#include <tuple>

Q_DECLARE_METATYPE(TFaultPlay)

namespace {
using TFault = FaultRelay::TFault;
using TKind = FaultRelay::TKind;
using TStep = FaultRelay::TStep;

constexpr int OpenGroups = 4;
constexpr int SoakGroups = 6;

int SoakRuns() {
    return qEnvironmentVariableIntValue("SOAK_RUNS");
}
} // namespace

class tst_FaultRuns : public QObject {
    Q_OBJECT

    NewsServer FServer;
    std::unique_ptr<FaultRun> FRun;

private slots:
    void initTestCase() {
        const int groups = std::max(400, SoakRuns() * SoakGroups);
        QVERIFY2(FServer.Start({"--fresh", "--groups", QString::number(groups)}),
                 FServer.Output().constData());
        FRun = std::make_unique<FaultRun>(FServer, QStringLiteral(HERALDIX_EXECUTABLE));
    }

    void faultAtEachStep_data() {
        QTest::addColumn<TFaultPlay>("play");
        const TFault swallowed{TKind::Close, TStep::Verdict, 0, 0, 2};
        for (const int connections : {1, 4}) {
            const auto row = [connections](const QString& name, std::vector<TFault> faults,
                                           bool kill = false) {
                QTest::addRow("%d connection(s), %s", connections, qPrintable(name))
                    << TFaultPlay{std::move(faults), connections, kill, {}};
            };
            for (const TStep step : {TStep::Greeting, TStep::LogOn, TStep::Post, TStep::Go,
                                     TStep::Article, TStep::Verdict, TStep::Stat})
                for (const TKind kind : {TKind::Reset, TKind::Close, TKind::Stall}) {
                    // Opening a connection breaks on the first (a later one may come after
                    // the run needs it); the rest breaks mid-run, on the second group.
                    const bool opens = step == TStep::Greeting || step == TStep::LogOn;
                    const TFault fault{kind, step, step == TStep::Article ? 100u : 2u, 0,
                                       opens || step == TStep::Stat ? 1 : 2};
                    // A STAT comes only after a verdict that went missing.
                    if (step == TStep::Stat)
                        row(FaultRun::Describe(fault), {swallowed, fault});
                    else
                        row(FaultRun::Describe(fault), {fault});
                }
            row("refused twice", {{TKind::Reset, TStep::Connect, 0, 0, 1, 2}});
            row("400 greeting", {{TKind::Say400, TStep::Greeting, 0, 0, 1}});
            row("swallowed verdict", {swallowed});
            row("every verdict swallowed",
                {{TKind::Close, TStep::Verdict, 0, 0, 1, FaultRelay::Always}});
            row("killed at 340", {{TKind::Stall, TStep::Go, 0, 0, 2}}, true);
            row("killed in the article", {{TKind::Stall, TStep::Article, 100, 0, 2}}, true);
            row("killed at the verdict", {{TKind::Stall, TStep::Verdict, 0, 0, 2}}, true);
        }
        // One cross-post to every group, the refusing one among them: split under the faults.
        for (const auto& [name, fault, kill] :
             {std::tuple{"swallowed verdict", swallowed, false},
              std::tuple{"reset in the article", TFault{TKind::Reset, TStep::Article, 100, 0, 2},
                         false},
              std::tuple{"killed at 340", TFault{TKind::Stall, TStep::Go, 0, 0, 2}, true},
              std::tuple{"killed at the verdict", TFault{TKind::Stall, TStep::Verdict, 0, 0, 2},
                         true}})
            QTest::addRow("cross-posted, %s", name)
                << TFaultPlay{{fault}, 1, kill, {}, OpenGroups + 1};
        // The resume asks for the article, then loses its connection before a POST of its own
        // and is refused from then on: it has to stay resumable.
        QTest::newRow("resume cut short before its own article")
            << TFaultPlay{{{TKind::Stall, TStep::Verdict, 0, 0, 2}},
                          1,
                          true,
                          {{TKind::Close, TStep::Post, 0},
                           {TKind::Reset, TStep::Connect, 0, 0, 2, FaultRelay::Always}}};
    }
    void faultAtEachStep() {
        QFETCH(TFaultPlay, play);
        const TFaultTally tally = FRun->Play(play, OpenGroups);
        QVERIFY2(tally.FaultsActed() >= static_cast<int>(play.Faults.size()),
                 "a fault of the play never acted");
        QVERIFY2(tally.Clean(), qPrintable(tally.Problems.join(u'\n')));
    }

    void soak() {
        if (SoakRuns() <= 0)
            QSKIP("SOAK_RUNS is not set");
        const unsigned seed = qEnvironmentVariableIsSet("SOAK_SEED")
                                  ? static_cast<unsigned>(qEnvironmentVariableIntValue("SOAK_SEED"))
                                  : 1u;
        std::mt19937 random(seed);
        TFaultTally total;
        for (int i = 0; i < SoakRuns(); ++i) {
            const TFaultTally tally = FRun->Play(FaultRun::RandomPlay(random), SoakGroups);
            for (const QString& problem : tally.Problems)
                std::printf("play %d: %s\n", i + 1, qPrintable(problem));
            std::fflush(stdout);
            total += tally;
        }
        std::printf("seed %u\n%s", seed, qPrintable(total.Table()));
        QVERIFY(total.Clean());
    }
};

QTEST_GUILESS_MAIN(tst_FaultRuns)
#include "tst_FaultRuns.moc"
