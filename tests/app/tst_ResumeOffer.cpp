// The main window's offer, at start, to resume a run its journal says was cut short: the
// numbers it names, what declining does, and when it is not made.

#include "MainWindowFixture.h"
#include "app/TfrmMain.h"
#include "posting/TRunJournal.h"
#include "selection/TBodyEditor.h"
#include "selection/trcvListbox.h"
#include "support/ScriptedPeer.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>

#include <unistd.h>

class tst_ResumeOffer : public QObject, private MainWindowFixture {
    Q_OBJECT

    std::string JournalFile() const { return QFile::encodeName(Path("run.journal")).toStdString(); }

    // A run to `groups` groups of which the first `answered` were answered; with `going` the
    // next one's article went out unanswered; with `ended` the run ended. The run logged on to
    // `host` as ann.
    void WriteJournal(int groups, int answered, bool going, bool ended,
                      const std::string& host = "127.0.0.1:1") const {
        TRunJournal journal(JournalFile());
        TNewsRequest request;
        request.Host = host;
        request.LogOn = true;
        request.UserID = "ann";
        for (int i = 0; i < groups; ++i)
            request.Groups.push_back("group" + std::to_string(i) + ".test");
        journal.RunStarted(request);
        for (int i = 0; i < answered; ++i) {
            const std::string id = "<" + std::to_string(i) + "@resume.test>";
            journal.ArticleGoing(request.Groups[i], id);
            TGroupOutcome outcome;
            outcome.Group = request.Groups[i];
            outcome.Code = 240;
            outcome.Reply = "240 article posted";
            outcome.MessageID = id;
            outcome.ArticleSent = outcome.Accepted = true;
            journal.GroupAnswered(outcome);
        }
        if (going)
            journal.ArticleGoing(request.Groups[answered], "<going@resume.test>");
        if (ended)
            journal.RunEnded();
    }

private slots:
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    // groups -1: no journal. An empty question: no offer is made. Declining forgets the run;
    // accepting with a cancelled log-on box keeps it for the next start.
    void offerAndAnswer_data() {
        QTest::addColumn<int>("groups");
        QTest::addColumn<int>("answered");
        QTest::addColumn<bool>("going");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<bool>("resume");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("kept");
        const QString threeOfFive = QStringLiteral("Resume the interrupted run to 3 of 5 groups?");
        QTest::newRow("first article going, declined")
            << 3 << 0 << true << false << false << "Resume the interrupted run to 3 of 3 groups?"
            << false;
        QTest::newRow("two of five answered, declined")
            << 5 << 2 << false << false << false << threeOfFive << false;
        QTest::newRow("an article without its answer is left")
            << 5 << 2 << true << false << false << threeOfFive << false;
        QTest::newRow("resumed, log-on box cancelled")
            << 5 << 2 << true << false << true << threeOfFive << true;
        QTest::newRow("every group answered") << 3 << 3 << false << false << false << "" << true;
        QTest::newRow("run ended") << 3 << 1 << false << true << false << "" << true;
        QTest::newRow("no journal") << -1 << 0 << false << false << false << "" << false;
    }
    void offerAndAnswer() {
        QFETCH(int, groups);
        QFETCH(int, answered);
        QFETCH(bool, going);
        QFETCH(bool, ended);
        QFETCH(bool, resume);
        QFETCH(QString, question);
        QFETCH(bool, kept);
        if (groups >= 0)
            WriteJournal(groups, answered, going, ended);
        const std::optional<TRunJournal::TInterrupted> before =
            TRunJournal::FindInterrupted(JournalFile());
        TfrmMain window(FDir->path());
        QCOMPARE(window.JournalPath(), Path("run.journal"));
        // The stored password could not be had: a log-on asks for it, and the box is cancelled.
        window.cbLogon->setChecked(true);
        window.eUserName->setText(QStringLiteral("ann"));
        window.SetAskPasswordAtLogon(true);
        FPrompts->QueueAnswer(resume);
        window.OfferInterruptedRun();

        QCOMPARE(FPrompts->Questions(), question.isEmpty() ? QStringList() : QStringList{question});
        QVERIFY(!window.Busy());
        QCOMPARE(FPrompts->LogonBoxes().size(), resume ? 1 : 0);
        QCOMPARE(QFile::exists(Path("run.journal")), kept);
        const std::optional<TRunJournal::TInterrupted> after =
            TRunJournal::FindInterrupted(JournalFile());
        QCOMPARE(after.has_value(), before.has_value() && resume);
    }

    // A run while another run holds the journal is refused with a box, before anything is sent.
    void runRefusedWhileTheJournalIsHeld() {
        TfrmMain window(FDir->path());
        TRunJournal other(JournalFile());
        other.Lock();
        window.eHost->setText(QStringLiteral("127.0.0.1:1"));
        window.eAddress->setText(QStringLiteral("me@example.org"));
        window.eSubject->setText(QStringLiteral("Held"));
        window.dcMsgBody->SetLines({QStringLiteral("Held.")});
        window.trcvToPost->Items().Add("alt.test");
        window.spdPostClick();
        QCOMPARE(FPrompts->Messages(),
                 QStringList{QStringLiteral("Another Heraldix run is using %1 (process %2)")
                                 .arg(Path("run.journal"))
                                 .arg(::getpid())});
        QVERIFY(!window.Busy());
    }

    // The Options page's password goes only to its own user and server (host and port); a run
    // that logged on as another gets the password typed into the log-on box, which names the
    // journal's user and server.
    void resumeSendsOnlyItsServersPassword_data() {
        // The Options' user and server (%1: the journal's port), and the password the run sends.
        QTest::addColumn<QStringList>("logOn");
        QTest::newRow("the Options' log-on") << QStringList{"ann", "127.0.0.1:%1", "pw-options"};
        QTest::newRow("another user") << QStringList{"bob", "127.0.0.1:%1", "pw-typed"};
        QTest::newRow("another port") << QStringList{"ann", "127.0.0.1:1", "pw-typed"};
        QTest::newRow("another server") << QStringList{"ann", "news.b.example", "pw-typed"};
    }
    void resumeSendsOnlyItsServersPassword() {
        QFETCH(QStringList, logOn);
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").WaitFor("AUTHINFO USER").Send("381 more\r\n");
        peer.Start();
        WriteJournal(2, 1, false, false, peer.Address());
        TfrmMain window(FDir->path());
        window.cbLogon->setChecked(true);
        window.eHost->setText(QString(logOn[1]).replace(QStringLiteral("%1"),
                                                        QString::number(peer.Port())));
        window.eUserName->setText(logOn[0]);
        window.ePassword->setText(QStringLiteral("pw-options"));
        FPrompts->QueueAnswer(true);
        FPrompts->QueuePassword(QStringLiteral("pw-typed"));
        window.OfferInterruptedRun();
        QTRY_COMPARE(peer.ReceivedLines(),
                     (std::vector<std::string>{"AUTHINFO USER ann",
                                               "AUTHINFO PASS " + logOn[2].toStdString()}));
        QCOMPARE(FPrompts->LogonServers(), logOn[2] == QLatin1String("pw-typed")
                                               ? QStringList{QString::fromStdString(peer.Address())}
                                               : QStringList());
        QCOMPARE(window.ePassword->text(), QStringLiteral("pw-options"));
    }

    // The question waits for the start wizard to close.
    void offerWaitsForTheStartWizard() {
        WriteJournal(2, 1, false, false);
        TfrmMain window(FDir->path());
        QDialog wizard(&window);
        window.SetStartWizard(&wizard);
        wizard.show();
        window.OfferInterruptedRun();
        QTest::qWait(50);
        QCOMPARE(FPrompts->Questions(), QStringList());
        wizard.reject();
        QTRY_COMPARE(FPrompts->Questions(),
                     QStringList{"Resume the interrupted run to 1 of 2 groups?"});
    }
};

QTEST_MAIN(tst_ResumeOffer)
#include "tst_ResumeOffer.moc"
