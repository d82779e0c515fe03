// Get group list against the real news server, and connections that fail.

#include "E2eWindow.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

static constexpr int ListTimeout = 120000;
// The groups every server of the tool carries.
static constexpr int ServerGroups = 13;

class tst_GroupList : public QObject {
    Q_OBJECT

    std::unique_ptr<NewsServer> FServer;
    ReportedErrors FErrors;

    static void TriggerGetGroupList(TfrmMain& window) {
        QAction* const action = window.findChild<QAction*>(QStringLiteral("Getgrouplist1"));
        QVERIFY(action);
        action->trigger();
    }

    static QString RefusedText() {
        return QStringLiteral("WinSock Error (10061): Connection refused, on API 'Fd_Connect'");
    }

private slots:
    void initTestCase() {
        FServer = std::make_unique<NewsServer>();
        QVERIFY2(FServer->Start({"--fresh"}), FServer->Output().constData());
    }
    void cleanupTestCase() {
        QVERIFY(FServer->Stop());
        FServer.reset();
    }
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    void serverGroupsFillTheList() {
        E2eWindow e2e(FServer->Host());
        TfrmMain& window = *e2e.Window;
        QSignalSpy arrived(&window, &TfrmMain::GroupListArrived);
        TriggerGetGroupList(window);
        QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, ListTimeout);
        QCOMPARE(window.trcvNewsgroups->Count(), ServerGroups);
        QCOMPARE(window.trcvNewsgroups->Items()[0], std::string("alt.test"));
        QVERIFY(window.trcvNewsgroups->Items().IndexOf("mod.test") >= 0);
        QCOMPARE(window.StatusPanelText(0), QStringLiteral("Newsgroups: %1").arg(ServerGroups));
        // The log counts the names instead of holding them.
        const QStringList log = e2e.Log().split('\n');
        QVERIFY(log.contains(QStringLiteral("Group names received: %1").arg(ServerGroups)));
        QVERIFY(!e2e.Log().contains("misc.test"));
        QVERIFY(e2e.Prompts->Messages().isEmpty());

        // Again on the open connection: the list is replaced once more.
        window.trcvNewsgroups->Items().Assign(std::vector<std::string>{"stale.group"});
        TriggerGetGroupList(window);
        QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 2, ListTimeout);
        QCOMPARE(window.trcvNewsgroups->Count(), ServerGroups);
        QCOMPARE(window.trcvNewsgroups->Items().IndexOf("stale.group"), -1);
    }

    void refusedConnectionIsShown() {
        E2eWindow e2e(QStringLiteral("127.0.0.1:%1").arg(ScriptedPeer::UnusedPort()));
        TfrmMain& window = *e2e.Window;
        window.trcvNewsgroups->Items().Assign(std::vector<std::string>{"kept.group"});
        TriggerGetGroupList(window);
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages(), QStringList{RefusedText()}, 10000);
        QCOMPARE(window.StatusPanelText(1), RefusedText());
        QVERIFY(e2e.Log().contains(RefusedText()));
        QVERIFY(!window.ListingGroups());
        QCOMPARE(window.trcvNewsgroups->Count(), 1);

        // A posting run to the same nowhere ends the same way.
        e2e.SetGroups({"misc.test"});
        e2e.Prompts->QueueChecksAnswer(TChecksAnswer::PostAnyway);
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 2, 10000);
        QCOMPARE(e2e.Prompts->Messages().last(), RefusedText());
        QVERIFY(!window.Posting());
    }

    // A server that wants a log-on first: the refusal leaves the list alone, the log-on fills it.
    void logOnBeforeTheList() {
        QVERIFY2(FServer->Start({"--auth"}), FServer->Output().constData());
        {
            E2eWindow e2e(FServer->Host());
            TfrmMain& window = *e2e.Window;
            window.trcvNewsgroups->Items().Assign(std::vector<std::string>{"kept.group"});
            TriggerGetGroupList(window);
            QTRY_VERIFY_WITH_TIMEOUT(!window.ListingGroups(), ListTimeout);
            QCOMPARE(window.trcvNewsgroups->Count(), 1);
            QVERIFY2(e2e.Log().contains("Authentication required"), qPrintable(e2e.Log()));
        }
        E2eWindow e2e(FServer->Host());
        e2e.LogOn("poster", "secret");
        TriggerGetGroupList(*e2e.Window);
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Window->trcvNewsgroups->Count(), ServerGroups, ListTimeout);
    }

    void hundredThousandGroups() {
        QVERIFY2(FServer->Start({"--groups", "100000"}), FServer->Output().constData());
        E2eWindow e2e(FServer->Host());
        TfrmMain& window = *e2e.Window;
        TriggerGetGroupList(window);
        QTRY_VERIFY_WITH_TIMEOUT(!window.ListingGroups(), ListTimeout);
        QCOMPARE(window.trcvNewsgroups->Count(), 100000 + ServerGroups);
        QCOMPARE(window.trcvNewsgroups->Items()[100000 + ServerGroups - 1],
                 std::string("test.bulk.100000"));
        QCOMPARE(window.StatusPanelText(0),
                 QStringLiteral("Newsgroups: %1").arg(100000 + ServerGroups));
        QVERIFY(e2e.Prompts->Messages().isEmpty());
    }
};

QTEST_MAIN(tst_GroupList)
#include "tst_GroupList.moc"
