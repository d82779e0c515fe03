// The report a finished run shows, against the real news server: a row per group as the server
// answered, the same rows copied as text, and a run to just the refused groups.

#include "E2eWindow.h"
#include "app/TfrmHistory.h"
#include "app/TCancelSecretKeeper.h"
#include "app/TIniFileStore.h"
#include "app/TfrmRunReport.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

static constexpr int RunTimeout = 30000;

class tst_RunReport : public QObject {
    Q_OBJECT

    NewsServer FServer;
    ReportedErrors FErrors;

    static QString UniqueSubject() {
        return QStringLiteral("report %1").arg(QRandomGenerator::global()->generate64(), 0, 16);
    }

    // Posts to `groups` and waits for the run's closing box.
    static void Post(E2eWindow& e2e, const std::vector<std::string>& groups) {
        e2e.Window->dcMsgBody->SetLines({"Reported."});
        e2e.SetGroups(groups);
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 1, RunTimeout);
        QVERIFY(!e2e.Window->Posting());
    }

    // The Message-ID of the one article `group` holds with `subject`; empty when there is not
    // exactly one.
    QString StoredMessageID(const QString& group, const QString& subject) {
        const QJsonArray found = FServer.ArticlesWithSubject(group, subject);
        return found.size() == 1 ? found[0].toObject().value("message_id").toString() : QString();
    }

private slots:
    void initTestCase() { QVERIFY2(FServer.Start({"--fresh"}), FServer.Output().constData()); }
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    // Each row: the group, its outcome, the reply's code, whether the article is on the server
    // under the row's Message-ID, and the verification column's word ("" when not verifying).
    void rowsAndCopiedText_data() {
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QStringList>("verification");
        QTest::newRow("accepted and refused")
            << QStringList{"alt.test", "mod.test"} << false << QStringList{"accepted", "refused"}
            << QStringList{"240", "441"} << QStringList{};
        QTest::newRow("verified over two connections")
            << QStringList{"alt.test", "misc.test", "rec.arts.books"} << true
            << QStringList{"accepted", "accepted", "accepted"} << QStringList{"240", "240", "240"}
            << QStringList{"verified", "verified", "verified"};
    }
    void rowsAndCopiedText() {
        QFETCH(QStringList, groups);
        QFETCH(bool, verify);
        QFETCH(QStringList, outcomes);
        QFETCH(QStringList, codes);
        QFETCH(QStringList, verification);
        E2eWindow e2e(FServer.Host());
        const QString subject = UniqueSubject();
        e2e.Window->eSubject->setText(subject);
        e2e.Window->seConnections->setValue(2);
        e2e.Window->cbVerify->setChecked(verify);
        std::vector<std::string> run;
        for (const QString& group : groups)
            run.push_back(group.toStdString());
        Post(e2e, run);

        TfrmRunReport* const report = e2e.Window->RunReport();
        QVERIFY(report && report->isVisible());
        const std::vector<QStringList>& rows = report->Rows();
        QCOMPARE(rows.size(), size_t(groups.size()));
        QStringList lines;
        for (qsizetype i = 0; i < groups.size(); ++i) {
            const QStringList& row = rows[i];
            QCOMPARE(row.size(), verify ? 5 : 4);
            QCOMPARE(row[0], groups[i]);
            QCOMPARE(row[1], outcomes[i]);
            QVERIFY2(row[2].startsWith(codes[i] + ' '), qPrintable(row[2]));
            QVERIFY2(row[3].startsWith('<') && row[3].endsWith('>'), qPrintable(row[3]));
            const bool accepted = outcomes[i] == "accepted";
            QCOMPARE(StoredMessageID(groups[i], subject), accepted ? row[3] : QString());
            if (verify)
                QCOMPARE(row[4], verification[i]);
            lines << row.join('\t');
        }
        QCOMPARE(report->btnPostAgain->isEnabled(), outcomes.contains("refused"));
        QTest::mouseClick(report->btnCopy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), lines.join('\n') + '\n');
    }

    // The refused group gets a run of its own, with the same message under a new Message-ID;
    // the accepted group is not posted to again.
    void postAgainToTheRefusedGroups() {
        E2eWindow e2e(FServer.Host());
        const QString subject = UniqueSubject();
        e2e.Window->eSubject->setText(subject);
        Post(e2e, {"alt.test", "mod.test", "misc.test"});
        TfrmRunReport* const report = e2e.Window->RunReport();
        QVERIFY(report);
        QCOMPARE(report->RefusedGroups(), std::vector<std::string>{"mod.test"});
        const QString firstID = report->Rows()[1][3];
        // What the window would post next changes nothing for this run.
        e2e.Window->eSubject->setText(QStringLiteral("changed"));
        e2e.SetGroups({"comp.lang.c"});

        QTest::mouseClick(report->btnPostAgain, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 2, RunTimeout);
        QCOMPARE(report->Rows().size(), size_t(1));
        const QStringList row = report->Rows()[0];
        QCOMPARE(row[0], QStringLiteral("mod.test"));
        QCOMPARE(row[1], QStringLiteral("refused"));
        QVERIFY(!row[3].isEmpty());
        QVERIFY(row[3] != firstID);
        QVERIFY2(e2e.Log().contains("Finished Posting: 0 accepted, 1 refused"),
                 qPrintable(e2e.Log()));
        for (const QString group : {"alt.test", "misc.test"})
            QVERIFY(!StoredMessageID(group, subject).isEmpty());
        QCOMPARE(FServer.ArticlesWithSubject("comp.lang.c", subject).size(), 0);
        QCOMPARE(FServer.ArticlesWithSubject("comp.lang.c", "changed").size(), 0);

        // Both runs are in the history, newest first; the first opens with its articles.
        e2e.Window->Postinghistory1Click();
        TfrmHistory* const history = e2e.Window->HistoryWindow();
        QCOMPARE(history->Rows().size(), size_t(2));
        QCOMPARE(history->Rows()[0].mid(3), (QStringList{subject, "0", "1"}));
        QCOMPARE(history->Rows()[1].mid(3), (QStringList{subject, "2", "1"}));
        history->tblRuns->setCurrentCell(1, 0);
        history->btnOpenClick();
        QCOMPARE(report->Rows().size(), size_t(3));
        // The list of groups to post to keeps its names sorted.
        QCOMPARE(report->Rows()[0][3], StoredMessageID("alt.test", subject));
        QCOMPARE(report->Rows()[1][3], StoredMessageID("misc.test", subject));
        QCOMPARE(report->Rows()[2].mid(0, 2), (QStringList{"mod.test", "refused"}));
    }

    // "Cancel these articles" asks once for the run's accepted articles; yes withdraws each of
    // them over the run's server (the refused group has none), and the report then says of
    // each group that its article is gone. No leaves every article where it is.
    void cancelTheseArticles_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("withdrawn") << true;
        QTest::newRow("not asked for") << false;
    }
    void cancelTheseArticles() {
        QFETCH(bool, yes);
        E2eWindow e2e(FServer.Host());
        TIniFileStore secretFile;
        secretFile.ExeDir = e2e.Dir();
        e2e.Window->LoadCancelSecret(std::make_unique<TCancelSecretKeeper>(secretFile, nullptr));
        const QString subject = UniqueSubject();
        e2e.Window->eSubject->setText(subject);
        const QStringList accepted{"alt.test", "comp.lang.c", "misc.test", "rec.arts.books"};
        Post(e2e, {"alt.test", "comp.lang.c", "mod.test", "misc.test", "rec.arts.books"});
        TfrmRunReport* const report = e2e.Window->RunReport();
        QVERIFY(report && report->btnCancelArticles->isEnabled());
        QStringList ids;
        for (const QString& group : accepted)
            ids << StoredMessageID(group, subject);

        e2e.Prompts->QueueAnswer(yes);
        QTest::mouseClick(report->btnCancelArticles, Qt::LeftButton);
        QCOMPARE(e2e.Prompts->Questions(),
                 QStringList{"Withdraw the 4 articles of this run from the server? Readers who "
                             "already fetched them keep their copy."});
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), yes ? 2 : 1, RunTimeout);
        QStringList rows;
        for (const QStringList& row : report->Rows())
            rows << row[0] + ' ' + row[1] + ' ' + row[3];
        QStringList expected;
        for (qsizetype i = 0; i < accepted.size(); ++i) {
            QCOMPARE(StoredMessageID(accepted[i], subject), yes ? QString() : ids[i]);
            expected << accepted[i] + " cancelled " + ids[i];
        }
        if (yes) {
            QCOMPARE(rows, expected);
            QCOMPARE(
                e2e.Prompts->Messages().last(),
                QStringLiteral("Finished Cancelling: 4 cancelled, 0 not withdrawn, 0 refused"));
        }
        // The report of a cancel run has nothing left to withdraw.
        QCOMPARE(report->btnCancelArticles->isEnabled(), !yes);
    }
};

QTEST_MAIN(tst_RunReport)
#include "tst_RunReport.moc"
