// Resuming a run cut short from the main window, against the real news server: the run the
// journal left is completed, every group ends with exactly one article, and the resumed run logs
// on with the window's password.

#include "E2eWindow.h"
#include "app/TMainSettings.h"
#include "posting/TRunJournal.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

static constexpr int RunTimeout = 30000;

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
        QVERIFY2(FServer.Start({"--fresh", "--auth-post"}), FServer.Output().constData());
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
            journal.ArticleGoing("misc.test", "<never-arrived." + subject.mid(7).toStdString() +
                                                  "@resume.test>");
        }
        const QByteArray journal = ReadTestFile(e2e.Window->JournalPath(), "<missing>");
        QVERIFY2(journal.contains("misc.test") && !journal.contains("secret"), journal.constData());

        e2e.Prompts->QueueAnswer(true);
        e2e.Window->OfferInterruptedRun();
        QCOMPARE(e2e.Prompts->Questions(),
                 QStringList{"Resume the interrupted run to 3 of 4 groups?"});
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 2, RunTimeout);
        QVERIFY2(e2e.Log().contains("Finished Posting: 3 accepted, 0 refused"),
                 qPrintable(e2e.Log()));
        QCOMPARE(ArticleCounts(groups, subject),
                 (QStringList{"alt.test=1", "misc.test=1", "rec.arts.books=1", "comp.lang.c=1"}));
        // The run ended: nothing is offered at the next start.
        QVERIFY(!TRunJournal::FindInterrupted(
            QFile::encodeName(e2e.Window->JournalPath()).toStdString()));
    }
};

QTEST_MAIN(tst_ResumeWindow)
#include "tst_ResumeWindow.moc"
