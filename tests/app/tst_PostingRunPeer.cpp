// The posting run and the group-list retrieval against a scripted loopback peer: the server
// behaviour a real server will not produce on demand (a connection lost mid-run, answers held
// back while the user presses Abort or Post, broken LIST lines).

#include "app/TCancelSecretKeeper.h"
#include "app/TfrmRunReport.h"
#include "e2e/E2eWindow.h"
#include "nntp/TIpReplyLineJoiner.h"
#include "posting/TArticleComposer.h"
#include "support/PostedArticles.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"
#include "support/TestFiles.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

static const QString Finished = QStringLiteral("Finished Posting");

Q_DECLARE_METATYPE(TPromptIcon)
Q_DECLARE_METATYPE(TChecksAnswer)
using WindowEdit = std::function<void(TfrmMain&)>;
Q_DECLARE_METATYPE(WindowEdit)

// Holds the peer's script at one point until the test opens it (or ten seconds pass).
struct Gate {
    std::atomic<bool> Open{false};
    void Wait() const {
        for (int i = 0; i < 1000 && !Open; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

// Opens a gate when it goes, so that no peer thread waits on a failed test.
struct GateOpener {
    Gate& Held;
    ~GateOpener() { Held.Open = true; }
};

// The point of an operation at which a command is pressed.
enum class TStep : uint8_t { None, BeforeGreeting, LogOn, AwaitPost, AwaitVerdict, ListArriving };

// A server for a run to a.one and b.two, or a retrieval of both names, with the log-on of user
// "u" with password "p" when `logOn`; the script waits at `held` until `gate` opens.
static void ScriptServer(ScriptedPeer& peer, bool run, bool logOn, TStep held, Gate& gate) {
    const auto holdAt = [&](TStep step) {
        if (step == held)
            peer.Do([&gate](int) { gate.Wait(); });
    };
    holdAt(TStep::BeforeGreeting);
    peer.Send("200 ready\r\n");
    if (logOn) {
        peer.WaitFor("AUTHINFO USER u\r\n");
        holdAt(TStep::LogOn);
        peer.Send("381 more\r\n").WaitFor("AUTHINFO PASS p\r\n").Send("281 ok\r\n");
    }
    if (!run) {
        peer.WaitFor("LIST\r\n").Send("215 list\r\na.one 1 1 y\r\n");
        holdAt(TStep::ListArriving);
        peer.Send("b.two 1 1 y\r\n.\r\n");
        return;
    }
    for (int group = 0; group < 2; ++group) {
        peer.WaitFor("POST\r\n");
        if (group == 0)
            holdAt(TStep::AwaitPost);
        peer.Send("340 go\r\n").WaitFor("\r\n.\r\n");
        if (group == 0)
            holdAt(TStep::AwaitVerdict);
        peer.Send("240 ok\r\n");
    }
}

// The lines a server received, each article (from the line after POST to its ".") as
// "<article GROUP>".
static QStringList CommandLines(const std::string& received) {
    QStringList lines;
    std::string article;
    bool inArticle = false;
    size_t at = 0;
    for (size_t end = received.find("\r\n"); end != std::string::npos;
         at = end + 2, end = received.find("\r\n", at)) {
        const std::string line = received.substr(at, end - at);
        if (inArticle && line == ".") {
            lines << QString::fromStdString("<article " + NewsgroupsOf(article) + ">");
            inArticle = false;
        } else if (inArticle) {
            article += line + "\r\n";
        } else {
            lines << QString::fromStdString(line);
            inArticle = line == "POST";
            article.clear();
        }
    }
    // An article never ended shows as the lines it had.
    if (inArticle && !article.empty())
        for (const QString& line :
             QString::fromStdString(article).split("\r\n", Qt::SkipEmptyParts))
            lines << line;
    return lines;
}

// The headers of the composed article and of its text part.
static std::string ComposedText(TfrmMain& window) {
    TIpNewsArticle& article = window.IpNntpClient1().Article();
    article.ComposeText();
    article.SetPosition(0);
    std::string text;
    while (!article.AtEndOfStream())
        text += article.ReadLine() + "\n";
    return text;
}

// What a box about a run that ended early adds: the run stays to be resumed.
static QString Left(int left, int total) {
    return QStringLiteral("\n%1 of %2 groups are left: Heraldix offers to finish the run when it "
                          "starts again")
        .arg(left)
        .arg(total);
}

class tst_PostingRunPeer : public QObject {
    Q_OBJECT

    ReportedErrors FErrors;

private slots:
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    // Each POST waits for the server's verdict on the article before it; with the log-on box
    // ticked and no user name there is nothing to log on with, and the run posts at once.
    // The window's part in a run: the progress in the status bar while it lasts, the counts in
    // the log and the box at the end, the status back to rest; each article locked.
    void runShowsItsProgressAndOutcome() {
        ScriptedPeer peer;
        ScriptThreeGroupRun(peer);
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TIniFileStore secretFile;
        secretFile.ExeDir = e2e.Dir();
        e2e.Window->LoadCancelSecret(std::make_unique<TCancelSecretKeeper>(secretFile, nullptr));
        e2e.Window->cbLogon->setChecked(true);
        e2e.Window->dcMsgBody->SetLines({"body"});
        e2e.SetGroups({"a.one", "b.two", "c.three"});
        e2e.PressPost();
        QTRY_VERIFY(peer.Received().find("\r\n.\r\n") != std::string::npos);
        auto* const progress = e2e.Window->findChild<QProgressBar*>(QStringLiteral("RunProgress"));
        QVERIFY(progress);
        QTRY_COMPARE(progress->text(), QStringLiteral("Posting 1 of 3"));
        QVERIFY(!progress->isHidden());
        // A screen reader reads the bar's words, not a bare number.
        const QAccessibleInterface* const reader = QAccessible::queryAccessibleInterface(progress);
        QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Posting progress"));
        QCOMPARE(reader->text(QAccessible::Description), QStringLiteral("Posting 1 of 3"));
        QTRY_COMPARE(e2e.Prompts->Messages().size(), 1);
        QVERIFY(progress->isHidden());
        QVERIFY(peer.Ok());
        QCOMPARE(ArticlesIn(peer.Received()).size(), size_t(2));
        for (const std::string& article : ArticlesIn(peer.Received()))
            QVERIFY(article.find("\r\nCancel-Lock: sha256:") != std::string::npos);
        QVERIFY(e2e.Log().contains("Finished Posting: 1 accepted, 2 refused"));
        QTRY_COMPARE(e2e.Window->StatusPanelText(1), QStringLiteral("No operation"));
    }

    // A long run reports lines faster than a person reads: the log gets them gathered, yet every
    // one, in the order the run reported them.
    void longRunLogsEveryLine() {
        ScriptedPeer peer;
        peer.Answer("POST", "340 go\r\n")
            .Answer(".", "240 ok\r\n")
            .Answer("QUIT", "205 bye\r\n")
            .Send("200 ready\r\n")
            .WaitFor("QUIT\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        std::vector<std::string> groups;
        for (int i = 0; i < 200; ++i)
            groups.push_back("test.group" + std::to_string(i));
        e2e.SetGroups(groups);
        e2e.Prompts->QueueChecksAnswer(TChecksAnswer::PostAnyway);
        QStringList reported;
        TNewsOperationEvents& events = e2e.Window->Operation().Events();
        events.Log = [shown = events.Log, &reported](const std::string& line) {
            reported << QString::fromStdString(line);
            shown(line);
        };
        events.GroupDone = [shown = events.GroupDone, &reported](const TGroupOutcome& outcome) {
            shown(outcome);
            reported << QString::fromStdString("Message-ID: " + outcome.MessageID);
        };
        events.Finished = [shown = events.Finished, &reported](const TRunSummary& summary) {
            reported
                << QStringLiteral("Finished Posting: %1 accepted, 0 refused").arg(summary.Accepted);
            shown(summary);
        };
        e2e.PressPost();
        QTRY_COMPARE(e2e.Prompts->Messages(), QStringList{Finished});
        QCOMPARE(reported.count(QStringLiteral("ok")), 200);
        QTRY_COMPARE(e2e.Log().split('\n'), reported);
    }

    // A connection lost while the verdict is awaited is opened again and the run goes on: the
    // server is asked for the article first (it does not have it), the article goes out again
    // under the same Message-ID, and the user sees the run finish, not an error.
    void connectionLostMidRunReconnects() {
        ScriptedPeer peer;
        peer.OnConnection(0)
            .Send("200 ready\r\n")
            .WaitFor("POST\r\n")
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Close();
        peer.OnConnection(1)
            .Answer("STAT ", "430 no such article\r\n")
            .Answer("POST", "340 go\r\n")
            .Answer(".", "240 ok\r\n")
            .Answer("QUIT", "205 bye\r\n")
            .Send("200 ready\r\n")
            .WaitFor("QUIT\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->Operation().SetReconnectDelays({20, 20, 20});
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.MessageCount(Finished), 1, 15000);
        QCOMPARE(e2e.Prompts->Messages(), QStringList{Finished});
        QVERIFY2(e2e.Log().contains("Reconnecting in 1 s"), qPrintable(e2e.Log()));
        const std::vector<std::string> articles = ArticlesIn(peer.Received());
        QCOMPARE(articles.size(), size_t(3));
        const auto messageId = [](const std::string& article) {
            const size_t at = article.find("Message-ID: ");
            return article.substr(at, article.find("\r\n", at) - at);
        };
        QCOMPARE(messageId(articles[1]), messageId(articles[0]));
        QVERIFY(peer.ReceivedOn(1).rfind("STAT <", 0) == 0);
    }

    // A server that turns every try to open the connection again away ends the run with the
    // box telling why and what is left, and the report has the answer held back behind the
    // group that was never answered; nothing is reported as finished.
    void connectionLostForGoodIsShown() {
        ScriptedPeer peer;
        peer.SetConcurrent(true);
        // The first connection is lost once the second has taken b.two.
        peer.Send("200 ready\r\n")
            .WaitFor("POST\r\n")
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Pause(500)
            .Close();
        peer.OnConnection(1).Send("200 ready\r\n").WaitFor("POST\r\n");
        peer.Send("441 refused\r\n").Close();
        for (size_t retry = 2; retry <= 2 + 3 * TNewsOperation::ReconnectDelaysMs.size(); ++retry)
            peer.OnConnection(retry).Close();
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->Operation().SetReconnectDelays({20, 20, 20});
        e2e.Window->seConnections->setValue(2);
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages(),
                                  QStringList{"Connection closed by the news server" + Left(1, 2)},
                                  10000);
        QVERIFY(!e2e.Window->Posting());
        QCOMPARE(e2e.MessageCount(Finished), 0);
        QVERIFY(e2e.Window->RunReport() && e2e.Window->RunReport()->isVisible());
        const QString report = e2e.Window->RunReport()->Text();
        QVERIFY2(report.startsWith("b.two\t") && report.contains("441 refused"),
                 qPrintable(report));
    }

    // A status line over 1 MiB ends the run with the client's error, and the connection with it.
    void overlongStatusLineEndsTheRun() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("POST\r\n")
            .Send("340 " + std::string(TIpReplyLineJoiner::MaxLineLength, 'x') + "\r\n")
            .Pause(300);
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        const QString error = QString::fromLatin1(TIpNntpClient::ReplyTooLongText);
        QTRY_COMPARE(e2e.Prompts->Messages(), QStringList{error + Left(2, 2)});
        QVERIFY(!e2e.Window->Posting());
        QVERIFY(e2e.Log().split('\n').contains(error));
        QTRY_VERIFY(peer.ClientClosed());
        QCOMPARE(ArticlesIn(peer.Received()).size(), size_t(0));
        QCOMPARE(e2e.MessageCount(Finished), 0);
    }

    // Abort gives the controls back at once; the connection gets QUIT and, when the server does
    // not answer it, is closed after a few seconds. Nothing more is posted.
    void abortClosesASilentConnection() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").WaitFor("POST\r\n").WaitFor("never sent");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_VERIFY(peer.Received().find("POST\r\n") != std::string::npos);
        QVERIFY(e2e.Window->spbAbort->isEnabled());
        e2e.PressAbort();
        QVERIFY(!e2e.Window->Posting());
        QVERIFY(e2e.Window->spdPost->isEnabled());
        QVERIFY(!e2e.Window->spbAbort->isEnabled());
        QVERIFY(e2e.Log().split('\n').contains("Aborted"));
        QTRY_VERIFY_WITH_TIMEOUT(peer.ClientClosed(), 10000);
        QCOMPARE(peer.ReceivedLines(), (std::vector<std::string>{"POST", "QUIT"}));
        QVERIFY(e2e.Prompts->Messages().isEmpty());
    }

    // An attachment that has gone by the time the next group is filled ends the run there.
    void vanishedAttachmentEndsTheRun() {
        QTemporaryDir files;
        const QString path = files.filePath("notes.txt");
        QVERIFY(WriteTestFile(path, "attached\r\n"));
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("POST\r\n")
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Do([&path](int) { QFile::remove(path); })
            .Send("240 ok\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->SetAttachmentPath(path);
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_COMPARE(e2e.Prompts->Messages().size(), 1);
        QVERIFY2(e2e.Prompts->Messages().first().startsWith("Cannot open file"),
                 qPrintable(e2e.Prompts->Messages().first()));
        QVERIFY(!e2e.Window->Posting());
        QTest::qWait(100);
        QCOMPARE(ArticlesIn(peer.Received()).size(), size_t(1));
    }

    void listLinesBecomeGroupNames() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("LIST\r\n")
            .Send("215 list follows\r\n")
            .Pause(1200)
            .Send("misc.test 3000 2000 y\r\nalt.test 10 1 y\r\nnospace\r\nALT.TEST 1 1 y\r\n"
                  "bad\x01name 1 1 y\r\n leading.blank 1 1 y\r\n" +
                  std::string(TIpReplyLineJoiner::MaxLineLength + 1, 'o') +
                  "\r\nnospace.either\r\n.\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        QSignalSpy arrived(&window, &TfrmMain::GroupListArrived);
        window.Getgrouplist1Click();
        // The timer reports the bytes while the reply is on its way.
        QTRY_VERIFY(window.StatusPanelText(1).startsWith("Bytes received: "));
        QTRY_COMPARE(arrived.count(), 1);
        QCOMPARE(window.trcvNewsgroups->Items().Entries().ToStrings(),
                 (std::vector<std::string>{"alt.test", "misc.test", "nospace", "nospace.either"}));
        QCOMPARE(window.StatusPanelText(0), QStringLiteral("Newsgroups: 4"));
        const QStringList log = e2e.Log().split('\n');
        const int first = log.indexOf("Group names received: 5");
        QVERIFY(first > 0);
        QCOMPARE(log.mid(first), (QStringList{"Group names received: 5",
                                              "Lines left out that hold no group name: 2",
                                              "Reply lines longer than 1 MiB left out: 1"}));
        QVERIFY(!log.contains("misc.test"));
        QVERIFY(!e2e.Log().contains("list follows"));
        QVERIFY(log.contains("Connecting"));
        QVERIFY(log.contains("Retrieving list"));
    }

    // A long list is one line of the log, however many names came; when the log's page is shown
    // (it was hidden while the list came) its end scrolls into view, and a second list while the
    // page is shown keeps the end in view.
    void longListIsOneLogLine() {
        QStringList names;
        std::string reply = "215 list follows\r\n";
        for (int i = 0; i < 300; ++i) {
            names << QStringLiteral("group.%1").arg(i, 3, 10, QLatin1Char('0'));
            reply += names.back().toStdString() + " 5 1 y\r\n";
        }
        reply += ".\r\n";
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").WaitFor("LIST\r\n").Send(reply).WaitFor("LIST\r\n").Send(reply);
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        QSignalSpy arrived(&window, &TfrmMain::GroupListArrived);
        window.Getgrouplist1Click();
        QTRY_COMPARE(arrived.count(), 1);
        QStringList log = e2e.Log().split('\n');
        QCOMPARE(log.mid(log.indexOf("Retrieving list") + 1),
                 QStringList{"Group names received: 300"});
        QCOMPARE(window.trcvNewsgroups->Count(), 300);
        window.mDisplay->selectAll();
        window.mDisplay->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), e2e.Log());

        const auto endInView = [&window] {
            QTextCursor end(window.mDisplay->document());
            end.movePosition(QTextCursor::End);
            return window.mDisplay->viewport()->rect().contains(window.mDisplay->cursorRect(end));
        };
        window.resize(600, 400);
        window.ShowPage(TMainPage::pgStatus);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.mDisplay->verticalScrollBar()->setValue(
            window.mDisplay->verticalScrollBar()->maximum());
        QVERIFY(endInView());

        window.Getgrouplist1Click();
        QTRY_COMPARE(arrived.count(), 2);
        log = e2e.Log().split('\n');
        QCOMPARE(log.count("Group names received: 300"), 2);
        QVERIFY(!log.contains("group.299"));
        QVERIFY(endInView());
    }

    void listRefusalKeepsTheList() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").WaitFor("LIST\r\n").Send("480 Authentication required\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        window.trcvNewsgroups->Items().Assign(std::vector<std::string>{"kept.group"});
        QSignalSpy arrived(&window, &TfrmMain::GroupListArrived);
        window.Getgrouplist1Click();
        QTRY_VERIFY(!window.ListingGroups());
        QCOMPARE(window.trcvNewsgroups->Count(), 1);
        QCOMPARE(arrived.count(), 0);
        QVERIFY(e2e.Log().split('\n').contains("480 Authentication required"));
    }

    // A reply that arrives after Abort replaces nothing; its lines are logged as they came.
    void listAfterAbortReplacesNothing() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("LIST\r\n")
            .Pause(300)
            .Send("215 list follows\r\nmisc.test 1 1 y\r\n.\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        window.trcvNewsgroups->Items().Assign(std::vector<std::string>{"kept.group"});
        window.Getgrouplist1Click();
        QTRY_VERIFY(peer.Received().find("LIST\r\n") != std::string::npos);
        window.spbAbortClick();
        QVERIFY(!window.ListingGroups());
        QTRY_VERIFY(e2e.Log().split('\n').contains("misc.test 1 1 y"));
        QCOMPARE(window.trcvNewsgroups->Items().Entries().ToStrings(), std::vector<std::string>{"kept.group"});
    }

    void greeting201SendsOnlyQuit() {
        ScriptedPeer peer;
        peer.Send("201 no posting\r\n").WaitFor("QUIT\r\n").Send("205 bye\r\n").Close();
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->Getgrouplist1Click();
        QTRY_COMPARE(e2e.Prompts->Messages(),
                     QStringList{"This news server does NOT allow posting!!"});
        QTRY_VERIFY(peer.Finished());
        QCOMPARE(peer.Received(), std::string("QUIT\r\n"));
        QVERIFY(e2e.Window->HideByteCount());
        QVERIFY(!e2e.Window->ListingGroups());
    }

    // An all-ASCII body keeps the plain text part as it always was; any other character makes
    // it UTF-8 and says so. A line broken with Shift+Enter goes out as two lines.
    void bodyCharacterSet_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("attached");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("sent");
        QTest::newRow("ascii") << "plain words" << false << "text/plain"
                               << "7bit"
                               << "plain words";
        QTest::newRow("utf-8") << QStringLiteral("Grüße") << false << "text/plain; charset=utf-8"
                               << "8bit" << QStringLiteral("Grüße");
        QTest::newRow("utf-8 with attachment")
            << QStringLiteral("Grüße") << true << "text/plain; charset=utf-8"
            << "8bit" << QStringLiteral("Grüße");
        QTest::newRow("line separator")
            << QStringLiteral("first line\u2028second line") << false << "text/plain"
            << "7bit"
            << "first line\nsecond line";
    }
    void bodyCharacterSet() {
        QFETCH(QString, line);
        QFETCH(bool, attached);
        QFETCH(QString, contentType);
        QFETCH(QString, encoding);
        QFETCH(QString, sent);
        QTemporaryDir files;
        E2eWindow e2e(QStringLiteral("127.0.0.1:1"));
        if (attached) {
            QVERIFY(WriteTestFile(files.filePath("a.bin"), "\x01\x02"));
            e2e.Window->SetAttachmentPath(files.filePath("a.bin"));
        }
        e2e.SetGroups({"a.one"});
        e2e.Window->dcMsgBody->SetLines({line});
        // The article the run would send: the window's fields as the engine composes them.
        TArticleComposer().Compose(e2e.Window->ArticleRequest(), "a.one",
                                   e2e.Window->IpNntpClient1().Article());
        const QString text = QString::fromStdString(ComposedText(*e2e.Window));
        const int part = text.indexOf("Content-Type: text/plain");
        QVERIFY2(part > 0, qPrintable(text));
        const QStringList headers = text.mid(part).split('\n');
        QCOMPARE(headers[0], "Content-Type: " + contentType);
        QCOMPARE(headers[1], "Content-Transfer-Encoding: " + encoding);
        QVERIFY2(text.contains("\n\n" + sent + "\n"), qPrintable(text));
    }

    // One operation at a time: each command pressed while a run or a retrieval waits at each of
    // its steps. Post and Get group list are off then and change nothing; Abort ends the
    // operation at once with QUIT, and a Post after it goes to a new connection (here to
    // another server, so that a second POST down the old connection would show).
    void oneOperationAtATime_data() {
        QTest::addColumn<bool>("run");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QStringList>("received");
        const QStringList logOn{"AUTHINFO USER u", "AUTHINFO PASS p"};
        const QStringList run{"POST", "<article a.one>", "POST", "<article b.two>"};
        const struct {
            const char* name;
            bool run;
            TStep step;
            QStringList full;
            QStringList beforeQuit;
        } steps[] = {
            {"run before greeting", true, TStep::BeforeGreeting, run, {}},
            {"run logging on", true, TStep::LogOn, logOn + run, {"AUTHINFO USER u"}},
            {"run awaiting 340", true, TStep::AwaitPost, run, {"POST"}},
            {"run awaiting verdict", true, TStep::AwaitVerdict, run, {"POST", "<article a.one>"}},
            {"list before greeting", false, TStep::BeforeGreeting, {"LIST"}, {}},
            {"list logging on",
             false,
             TStep::LogOn,
             logOn + QStringList{"LIST"},
             {"AUTHINFO USER u"}},
            {"list arriving", false, TStep::ListArriving, {"LIST"}, {"LIST"}},
        };
        for (const auto& at : steps) {
            const QStringList aborted = at.beforeQuit + QStringList{"QUIT"};
            for (const char* press : {"post", "list"})
                QTest::addRow("%s: %s", at.name, press)
                    << at.run << int(at.step) << QString(press) << at.full;
            for (const char* press : {"abort", "abort then post"})
                QTest::addRow("%s: %s", at.name, press)
                    << at.run << int(at.step) << QString(press) << aborted;
        }
    }
    void oneOperationAtATime() {
        QFETCH(bool, run);
        QFETCH(int, step);
        QFETCH(QString, press);
        QFETCH(QStringList, received);
        const auto held = static_cast<TStep>(step);
        const bool logOn = held == TStep::LogOn;
        Gate gate;
        ScriptedPeer peer;
        ScriptServer(peer, run, logOn, held, gate);
        peer.Answer("QUIT", "205 bye\r\n");
        peer.Start();
        const GateOpener opener{gate};
        Gate unused;
        ScriptedPeer other;
        ScriptServer(other, true, logOn, TStep::None, unused);
        other.Start();

        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        if (logOn)
            e2e.LogOn("u", "p");
        e2e.SetGroups({"a.one", "b.two"});
        auto* const getGroupList = window.findChild<QAction*>(QStringLiteral("Getgrouplist1"));
        QVERIFY(getGroupList);
        QVERIFY(!window.spbAbort->isEnabled());
        if (run)
            e2e.PressPost();
        else
            getGroupList->trigger();
        switch (held) {
        case TStep::BeforeGreeting:
            QTRY_VERIFY(window.IpNntpClient1().Connected());
            break;
        case TStep::LogOn:
            QTRY_VERIFY(peer.Received().find("AUTHINFO USER") != std::string::npos);
            break;
        case TStep::AwaitPost:
            QTRY_VERIFY(peer.Received().find("POST\r\n") != std::string::npos);
            break;
        case TStep::AwaitVerdict:
            QTRY_VERIFY(peer.Received().find("\r\n.\r\n") != std::string::npos);
            break;
        case TStep::ListArriving:
            QTRY_COMPARE(window.IpNntpClient1().LastLine(), std::string("a.one 1 1 y"));
            break;
        case TStep::None:
            break;
        }
        QVERIFY(window.Busy());
        QVERIFY(!window.spdPost->isEnabled());
        QVERIFY(!getGroupList->isEnabled());
        QVERIFY(window.spbAbort->isEnabled());

        const bool abort = press.startsWith("abort");
        if (press == "post")
            e2e.PressPost();
        else if (press == "list")
            getGroupList->trigger();
        else
            e2e.PressAbort();
        if (abort) {
            QVERIFY(!window.Busy());
            QVERIFY(window.spdPost->isEnabled());
            QVERIFY(e2e.Log().split('\n').contains("Aborted"));
        }
        if (press == "abort then post") {
            window.eHost->setText(QString::fromStdString(other.Address()));
            e2e.PressPost();
        }
        gate.Open = true;

        if (abort)
            QTRY_VERIFY_WITH_TIMEOUT(peer.ClientClosed(), 10000);
        if (run || press == "abort then post") {
            QTRY_COMPARE(e2e.Prompts->Messages().size(), abort && press == "abort" ? 0 : 1);
        } else if (!abort) {
            QTRY_VERIFY(!window.Busy());
            QCOMPARE(window.trcvNewsgroups->Items().Entries().ToStrings(),
                     (std::vector<std::string>{"a.one", "b.two"}));
        }
        if (press == "abort then post") {
            QCOMPARE(e2e.Prompts->Messages(), QStringList{Finished});
            const QStringList posted{"POST", "<article a.one>", "POST", "<article b.two>"};
            const QStringList loggedOn{"AUTHINFO USER u", "AUTHINFO PASS p"};
            QCOMPARE(CommandLines(other.Received()), logOn ? loggedOn + posted : posted);
        } else if (run && !abort) {
            QCOMPARE(e2e.Prompts->Messages(), QStringList{Finished});
        }
        QCOMPARE(CommandLines(peer.Received()), received);
        QCOMPARE(peer.Connections(), size_t(1));
    }

    // The closing box says how the run went: the plain "Finished Posting" only when every group
    // was accepted, otherwise the counts and the first refusal, with an icon that tells how bad.
    void finishedBoxTellsTheOutcome_data() {
        QTest::addColumn<QStringList>("postReplies");
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<QString>("box");
        QTest::addColumn<TPromptIcon>("icon");
        QTest::newRow("all accepted")
            << QStringList{"340 go", "340 go"} << QStringList{"240 ok", "240 ok"} << Finished
            << TPromptIcon::Information;
        QTest::newRow("one refused")
            << QStringList{"340 go", "340 go"} << QStringList{"240 ok", "441 Duplicate"}
            << "Finished Posting: 1 accepted, 1 refused\n441 Duplicate" << TPromptIcon::Warning;
        QTest::newRow("none accepted")
            << QStringList{"481 Authentication failed", "340 go"} << QStringList{"", "441 no"}
            << "Finished Posting: 0 accepted, 2 refused\n481 Authentication failed"
            << TPromptIcon::Critical;
        // A reply is shown, never obeyed: markup as its characters, control characters and a
        // line separator as escapes, and nothing lost after a NUL.
        QTest::newRow("hostile reply")
            << QStringList{"340 go", "340 go"}
            << QStringList{"240 ok",
                           QString::fromUtf8(
                               "441 <b>busy</b> \x1b]52;c;aGk=\x07 \xe2\x80\xa8G-START alpha") +
                               QChar(0) + "rest"}
            << "Finished Posting: 1 accepted, 1 refused\n441 <b>busy</b> \\x1b]52;c;aGk=\\x07 "
               "\\u2028G-START alpha\\x00rest"
            << TPromptIcon::Warning;
    }
    void finishedBoxTellsTheOutcome() {
        QFETCH(QStringList, postReplies);
        QFETCH(QStringList, verdicts);
        QFETCH(QString, box);
        QFETCH(TPromptIcon, icon);
        ScriptedPeer peer;
        peer.Send("200 ready\r\n");
        for (int group = 0; group < postReplies.size(); ++group) {
            peer.WaitFor("POST\r\n").Send(postReplies[group].toStdString() + "\r\n");
            if (!verdicts[group].isEmpty())
                peer.WaitFor("\r\n.\r\n").Send(verdicts[group].toStdString() + "\r\n");
        }
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_COMPARE(e2e.Prompts->Messages().size(), 1);
        QCOMPARE(e2e.Prompts->Messages().first(), box);
        QCOMPARE(e2e.Prompts->Icons(), std::vector<TPromptIcon>{icon});
        // Each article the server gave a verdict on is named in the log by its Message-ID.
        const QString log = e2e.Log();
        const std::vector<std::string>& ids = e2e.Window->MessageIDs();
        QCOMPARE(ids.size(), size_t(2));
        for (int group = 0; group < verdicts.size(); ++group)
            QCOMPARE(log.contains("Message-ID: " + QString::fromStdString(ids[size_t(group)])),
                     !verdicts[group].isEmpty());
        // The refusal reads the same in the log (after its code) and the report, its tooltip too.
        if (!box.contains('\n'))
            return;
        const QString refusal = box.section('\n', 1);
        QVERIFY2(log.contains('\n' + refusal.mid(4) + '\n'), qPrintable(log));
        const auto* report = e2e.Window->findChild<TfrmRunReport*>();
        QVERIFY(report);
        const int row = report->Rows()[0][1] == "refused" ? 0 : 1;
        QCOMPARE(report->Rows()[size_t(row)][2], refusal);
        QTextDocument tip;
        tip.setHtml(report->tblGroups->item(row, 2)->toolTip());
        QCOMPARE(tip.toPlainText(), refusal);
    }

    // The checks before any connection: errors in a box that posts nothing, warnings in one
    // whose answer decides; "Cross-post instead" switches the Options page and posts.
    void checksBeforeConnecting_data() {
        QTest::addColumn<WindowEdit>("edit");
        QTest::addColumn<TChecksAnswer>("answer");
        QTest::addColumn<QStringList>("boxes");
        const TChecksAnswer anyway = TChecksAnswer::PostAnyway;
        QTest::newRow("no address")
            << WindowEdit([](TfrmMain& w) { w.eAddress->setText(" "); }) << anyway
            << QStringList{"You haven't entered an email address"};
        QTest::newRow("errors and a warning in one box")
            << WindowEdit([](TfrmMain& w) {
                   w.eAddress->setText("p@x.org,q@y.org");
                   w.eSubject->clear();
                   w.dcMsgBody->clear();
               })
            << anyway
            << QStringList{"You haven't entered a subject\n\"p@x.org,q@y.org\" is not an email "
                           "address (local@domain, without blanks)\nThe message body is empty"};
        const WindowEdit noBody = [](TfrmMain& w) { w.dcMsgBody->clear(); };
        QTest::newRow("empty body, cancelled")
            << noBody << TChecksAnswer::Cancel << QStringList{"?The message body is empty"};
        QTest::newRow("empty body, posted anyway")
            << noBody << anyway << QStringList{"?The message body is empty", Finished};
        QTest::newRow("group not in the fetched list") << WindowEdit([](TfrmMain& w) {
            w.trcvNewsgroups->Items().Assign(std::vector<std::string>{"a.one", "c.three"});
        }) << anyway << QStringList{"?1 group is not in the server's list: b.two", Finished};
        QTest::newRow("many separate copies, cross-posted instead")
            << WindowEdit([](TfrmMain& w) {
                   for (int i = 0; i < 20; ++i)
                       w.trcvToPost->Items().Add("g.n" + std::to_string(i));
               })
            << TChecksAnswer::CrossPostInstead
            << QStringList{"?+Posting the same text separately to 22 groups is treated as spam by "
                           "many servers; cross-posting sends one article to several groups",
                           Finished};
    }
    // The boxes as the user met them: "?" marks one asking whether to post, "?+" one that also
    // offered to cross-post.
    void checksBeforeConnecting() {
        QFETCH(WindowEdit, edit);
        QFETCH(TChecksAnswer, answer);
        QFETCH(QStringList, boxes);
        ScriptedPeer peer;
        peer.Answer("POST", "340 go\r\n").Answer(".", "240 ok\r\n").Answer("QUIT", "205 bye\r\n");
        peer.Send("200 ready\r\n").WaitFor("never sent");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        edit(*e2e.Window);
        e2e.Prompts->QueueChecksAnswer(answer);
        e2e.PressPost();
        const bool posted = boxes.endsWith(Finished);
        if (posted)
            QTRY_VERIFY(e2e.Prompts->Messages().endsWith(Finished));
        QStringList met;
        for (size_t i = 0; i < e2e.Prompts->CrossPostOffers().size(); ++i)
            met << (e2e.Prompts->CrossPostOffers()[i] ? "?+" : "?") +
                       e2e.Prompts->ChecksBoxes()[qsizetype(i)];
        QCOMPARE(met + e2e.Prompts->Messages(), boxes);
        QCOMPARE(peer.Received().find("POST\r\n") != std::string::npos, posted);
        QCOMPARE(e2e.Window->cbSendAs->currentIndex(),
                 answer == TChecksAnswer::CrossPostInstead ? 1 : 0);
    }

    // The run posts to the groups chosen when Post was pressed; the list stays free to edit and
    // keeps the edit for the next run.
    void listEditedDuringTheRun_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("countAfter");
        QTest::newRow("group double-clicked in") << "add" << 4;
        QTest::newRow("list cleared") << "clear" << 0;
    }
    void listEditedDuringTheRun() {
        QFETCH(QString, edit);
        QFETCH(int, countAfter);
        Gate gate;
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").WaitFor("POST\r\n").Send("340 go\r\n");
        peer.WaitFor("\r\n.\r\n").Do([&gate](int) { gate.Wait(); }).Send("240 ok\r\n");
        for (int group = 1; group < 3; ++group)
            peer.WaitFor("POST\r\n").Send("340 go\r\n").WaitFor("\r\n.\r\n").Send("240 ok\r\n");
        peer.Start();
        const GateOpener opener{gate};
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        e2e.SetGroups({"a.one", "b.two", "c.three"});
        e2e.PressPost();
        QTRY_VERIFY(peer.Received().find("\r\n.\r\n") != std::string::npos);
        if (edit == "add") {
            window.trcvNewsgroups->Items().Assign(std::vector<std::string>{"a.zero"});
            window.trcvNewsgroups->SetItemIndex(0);
            window.trcvNewsgroupsDblClick();
        } else {
            window.trcvToPost->Items().Clear();
        }
        gate.Open = true;
        QTRY_COMPARE(e2e.Prompts->Messages(), QStringList{Finished});
        std::vector<std::string> groups;
        for (const std::string& article : ArticlesIn(peer.Received()))
            groups.push_back(NewsgroupsOf(article));
        QCOMPARE(groups, (std::vector<std::string>{"a.one", "b.two", "c.three"}));
        QCOMPARE(window.trcvToPost->Count(), countAfter);
    }

    // The Timeout field on Options bounds the wait for the server.
    void timeoutFromTheOptionsPage() {
        ScriptedPeer peer;
        peer.WaitFor("never sent");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->seTimeout->setValue(1);
        e2e.SetGroups({"a.one"});
        e2e.PressPost();
        // What is left to resume depends on what the journal held when the run failed.
        QTRY_COMPARE(e2e.Prompts->Messages().size(), 1);
        QVERIFY(e2e.Prompts->Messages().first().startsWith(
            "The news server did not answer within 1 second (waiting for the greeting)"));
        QVERIFY(e2e.Window->spdPost->isEnabled());
        QTRY_VERIFY(peer.ClientClosed());
    }
};

QTEST_MAIN(tst_PostingRunPeer)
#include "tst_PostingRunPeer.moc"
