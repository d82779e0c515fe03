// Resuming a run cut short from the main window, against the real news server: the run the
// journal left is completed, every group ends with exactly one article, and the resumed run logs
// on with the window's password.

#include "E2eWindow.h"
#include "app/TMainSettings.h"
#include "app/TfrmRunReport.h"
#include "posting/TRunJournal.h"
#include "support/GatedRelay.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

static constexpr int RunTimeout = 30000;
static constexpr int BulkGroups = 30;

class tst_ResumeWindow : public QObject {
    Q_OBJECT

    NewsServer FServer;
    ReportedErrors FErrors;

    static QString UniqueSubject() {
        return QStringLiteral("resume %1").arg(QRandomGenerator::global()->generate64(), 0, 16);
    }

    // How many articles each group holds with `subject`, as "group=count" in the groups' order.
    QStringList ArticleCounts(const QStringList& groups, const QString& subject) {
        QStringList counts;
        for (const QString& group : groups)
            counts << group + '=' +
                          QString::number(FServer.ArticlesWithSubject(group, subject).size());
        return counts;
    }

private slots:
    void initTestCase() {
        QVERIFY2(FServer.Start({"--fresh", "--auth-post", "--groups", QString::number(BulkGroups)}),
                 FServer.Output().constData());
    }
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    // A run to four groups was cut short after the first was answered and while the second's
    // article was going out (it never reached the server). The journal holds no password: the
    // resumed run logs on with the window's.
    void resumedRunPostsWhatIsLeft() {
        const QString subject = UniqueSubject();
        const QStringList groups{"alt.test", "misc.test", "rec.arts.books", "comp.lang.c"};
        E2eWindow e2e(FServer.Host());
        e2e.LogOn(QStringLiteral("poster"), QStringLiteral("secret"));
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Resumed."});
        e2e.SetGroups({"alt.test"});
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 1, RunTimeout);
        QCOMPARE(e2e.Window->PostsAccepted(), 1);

        const QString neverArrived = "<never-arrived." + subject.mid(7) + "@resume.test>";
        TNewsRequest request;
        request.Host = FServer.Host().toStdString();
        request.LogOn = true;
        request.UserID = "poster";
        request.Password = "secret";
        request.Article = e2e.Window->ArticleRequest();
        for (const QString& group : groups)
            request.Groups.push_back(group.toStdString());
        {
            TRunJournal journal(QFile::encodeName(e2e.Window->JournalPath()).toStdString());
            journal.RunStarted(request);
            TGroupOutcome first;
            first.Group = "alt.test";
            first.Code = 240;
            first.MessageID = e2e.Window->MessageIDs().at(0);
            first.ArticleSent = first.Accepted = true;
            journal.ArticleGoing(first.Group, first.MessageID);
            journal.GroupAnswered(first);
            journal.ArticleGoing("misc.test", neverArrived.toStdString());
        }
        const QByteArray journal = ReadTestFile(e2e.Window->JournalPath(), "<missing>");
        QVERIFY2(journal.contains("misc.test") && !journal.contains("secret"), journal.constData());

        e2e.Prompts->QueueAnswer(true);
        e2e.Window->OfferInterruptedRun();
        QCOMPARE(e2e.Prompts->Questions(),
                 QStringList{"Resume the interrupted run to 3 of 4 groups?"});
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 2, RunTimeout);
        // The report and the counts take in the group answered before the interruption.
        QVERIFY2(e2e.Log().contains("Finished Posting: 4 accepted, 0 refused"),
                 qPrintable(e2e.Log()));
        QCOMPARE(e2e.Window->RunReport()->Rows().size(), size_t(4));
        QCOMPARE(e2e.Window->RunReport()->Rows()[0].mid(0, 2),
                 (QStringList{"alt.test", "accepted (before the interruption)"}));
        QCOMPARE(ArticleCounts(groups, subject),
                 (QStringList{"alt.test=1", "misc.test=1", "rec.arts.books=1", "comp.lang.c=1"}));
        // The server did not have the article that went out: it is posted under its Message-ID.
        QCOMPARE(FServer.ArticlesWithSubject("misc.test", subject)[0]
                     .toObject()
                     .value("message_id")
                     .toString(),
                 neverArrived);
        // The run ended: nothing is offered at the next start.
        QVERIFY(!TRunJournal::FindInterrupted(
            QFile::encodeName(e2e.Window->JournalPath()).toStdString()));
    }

    // The command line killed while the server holds the 21st article, its verdict never heard.
    // The window started on the same directory, as the program starts (settings restored, then
    // the offer), counts what is left, and resuming asks the server for that article before
    // posting it: every group ends with exactly one article.
    void killedCommandLineRunResumesInTheWindow() {
        constexpr int answered = 20;
        QTemporaryDir dir;
        const QString subject = UniqueSubject();
        QStringList groups;
        for (int i = 1; i <= BulkGroups; ++i)
            groups << QStringLiteral("test.bulk.%1").arg(i, 6, 10, QLatin1Char('0'));
        GatedRelay relay(FServer.Port());
        relay.HoldFrom("240 ", answered + 1);
        QVERIFY(relay.Start());
        const QString settings = dir.filePath("frmsv.INI");
        QVERIFY(WriteTestFile(
            settings, "[TfrmMain]\r\neHost.Text=" + QByteArray::fromStdString(relay.Address()) +
                          "\r\ncbSecurity.CurrentIndex=0\r\nseConnections.Value=1\r\n"
                          "cbLogon.Checked=True\r\neUserName.Text=poster\r\nePassword.Text=secret"
                          "\r\neAddress.Text=poster@example.com\r\neSubject.Text=" +
                          subject.toUtf8() +
                          "\r\n[TfrmMain.dcMsgBody.Lines]\r\nCount=1\r\nItem0=Killed.\r\n"));
        QVERIFY(WriteTestFile(dir.filePath("groups.txt"), groups.join('\n').toLatin1()));

        QProcess process;
        process.setProcessEnvironment(CommandLineEnvironment(QStringLiteral("secret")));
        process.start(
            QStringLiteral(HERALDIX_EXECUTABLE),
            {"post", "--settings", settings, "--groups-file", dir.filePath("groups.txt")});
        QTRY_VERIFY_WITH_TIMEOUT(relay.Holding(), RunTimeout);
        process.kill();
        QVERIFY(process.waitForFinished(RunTimeout));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        const QJsonArray held = FServer.ArticlesWithSubject(groups[answered], subject);
        QCOMPARE(held.size(), 1);
        relay.Release();

        E2eWindow e2e(QString(), dir.path());
        TMainSettings restored(*e2e.Window);
        restored.Restore();
        e2e.Prompts->QueueAnswer(true);
        restored.AfterSecretStore([&e2e] { e2e.Window->OfferInterruptedRun(); });
        QTRY_COMPARE(e2e.Prompts->Questions(),
                     QStringList{QStringLiteral("Resume the interrupted run to %1 of %2 groups?")
                                     .arg(BulkGroups - answered)
                                     .arg(BulkGroups)});
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 1, RunTimeout);
        QVERIFY2(e2e.Log().contains(
                     QStringLiteral("Finished Posting: %1 accepted, 0 refused").arg(BulkGroups)),
                 qPrintable(e2e.Log()));
        QCOMPARE(e2e.Window->MessageIDs().front(),
                 held[0].toObject().value("message_id").toString().toStdString());
        QCOMPARE(ArticleCounts(groups, subject),
                 QStringList(groups).replaceInStrings(QRegularExpression("$"), "=1"));
    }
};

QTEST_MAIN(tst_ResumeWindow)
#include "tst_ResumeWindow.moc"
