// The posting run and the group-list retrieval against a scripted loopback peer: the server
// behaviour a real server will not produce on demand (a connection lost mid-run, answers held
// back while the user presses Abort or Post, broken LIST lines).

#include "e2e/E2eWindow.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"
#include "support/TestFiles.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>

static const QString Finished = QStringLiteral("Finished Posting");

// The article lines between each POST and the "." that ends it, one string per article.
static std::vector<std::string> ArticlesIn(const std::string& received) {
    std::vector<std::string> articles;
    size_t at = 0;
    while ((at = received.find("POST\r\n", at)) != std::string::npos) {
        at += 6;
        const size_t end = received.find("\r\n.\r\n", at);
        if (end == std::string::npos)
            break;
        articles.push_back(received.substr(at, end - at));
        at = end + 5;
    }
    return articles;
}

static std::string NewsgroupsOf(const std::string& article) {
    const size_t at = article.find("Newsgroups: ");
    return at == std::string::npos ? std::string()
                                   : article.substr(at + 12, article.find("\r\n", at) - at - 12);
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
    // ticked and no user name the client's own task selects the group first.
    void runWaitsForEveryVerdict() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("GROUP a.one\r\n")
            .Send("211 1 1 1 a.one\r\n")
            .WaitFor("POST\r\n")
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Pause(200)
            .Send("240 ok\r\n")
            .WaitFor("POST\r\n")
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Send("441 refused\r\n")
            .WaitFor("POST\r\n")
            .Send("440 no\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->cbLogon->setChecked(true);
        e2e.Window->dcMsgBody->SetLines({"body"});
        e2e.SetGroups({"a.one", "b.two", "c.three"});
        e2e.PressPost();
        QTRY_VERIFY(peer.Received().find("\r\n.\r\n") != std::string::npos);
        QTest::qWait(100);
        // The first verdict is held back: no second POST yet.
        QCOMPARE(ArticlesIn(peer.Received()).size(), size_t(1));
        QTRY_COMPARE(e2e.MessageCount(Finished), 1);
        QVERIFY(peer.Ok());
        const std::vector<std::string> articles = ArticlesIn(peer.Received());
        QCOMPARE(articles.size(), size_t(2));
        QCOMPARE(NewsgroupsOf(articles[0]), std::string("a.one"));
        QCOMPARE(NewsgroupsOf(articles[1]), std::string("b.two"));
        // c.three's POST was refused, so no article followed it.
        QVERIFY(peer.Received().size() >= 6);
        QCOMPARE(peer.Received().substr(peer.Received().size() - 6), std::string("POST\r\n"));
        QVERIFY(e2e.Log().contains("Finished Posting: 1 accepted, 2 refused"));
        QTRY_COMPARE(e2e.Window->StatusPanelText(1), QStringLiteral("No operation"));
    }

    void connectionLostMidRunIsShown() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("POST\r\n")
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Close();
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_COMPARE(e2e.Prompts->Messages(), QStringList{"Connection closed by the news server"});
        QVERIFY(!e2e.Window->Posting());
        QCOMPARE(e2e.Window->StatusPanelText(1),
                 QStringLiteral("Connection closed by the news server"));
        QTest::qWait(100);
        QCOMPARE(e2e.MessageCount(Finished), 0);
    }

    // QUIT must not reach a server that is about to ask for the article: it waits for the
    // answer to POST and for the article's verdict.
    void abortWhileThePostIsUnanswered() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n")
            .WaitFor("POST\r\n")
            .Pause(300)
            .Send("340 go\r\n")
            .WaitFor("\r\n.\r\n")
            .Send("240 ok\r\n")
            .WaitFor("QUIT\r\n")
            .Send("205 bye\r\n")
            .Close();
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        e2e.PressPost();
        QTRY_VERIFY(peer.Received().find("POST\r\n") != std::string::npos);
        e2e.PressAbort();
        QTRY_VERIFY(peer.Finished());
        QVERIFY(peer.Ok());
        const std::string received = peer.Received();
        QCOMPARE(ArticlesIn(received).size(), size_t(1));
        QCOMPARE(received.substr(received.size() - 11), std::string("\r\n.\r\nQUIT\r\n"));
        QTRY_VERIFY(e2e.Log().contains("bye"));
        QCOMPARE(e2e.Window->PostsAccepted(), 0);
        QVERIFY(e2e.Prompts->Messages().isEmpty());
    }

    // Post pressed again mid-run starts over at the first group once the server has answered
    // what is on its way.
    void postAgainRestartsAtTheFirstGroup() {
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").WaitFor("POST\r\n").Pause(300).Send("340 go\r\n");
        for (int article = 0; article < 3; ++article) {
            if (article > 0)
                peer.WaitFor("POST\r\n").Send("340 go\r\n");
            peer.WaitFor("\r\n.\r\n").Send("240 ok\r\n");
        }
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.SetGroups({"a.one", "b.two"});
        e2e.Window->dcMsgBody->SetLines({"body"});
        e2e.PressPost();
        QTRY_VERIFY(peer.Received().find("POST\r\n") != std::string::npos);
        e2e.PressPost();
        QTRY_COMPARE(e2e.MessageCount(Finished), 1);
        std::vector<std::string> groups;
        for (const std::string& article : ArticlesIn(peer.Received()))
            groups.push_back(NewsgroupsOf(article));
        QCOMPARE(groups, (std::vector<std::string>{"a.one", "a.one", "b.two"}));
        QVERIFY(e2e.Log().contains("Finished Posting: 2 accepted, 0 refused"));
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
                  "nospace.either\r\n.\r\n");
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        TfrmMain& window = *e2e.Window;
        QSignalSpy arrived(&window, &TfrmMain::GroupListArrived);
        window.Getgrouplist1Click();
        // The timer reports the bytes while the reply is on its way.
        QTRY_VERIFY(window.StatusPanelText(1).startsWith("Bytes received: "));
        QTRY_COMPARE(arrived.count(), 1);
        QCOMPARE(window.trcvNewsgroups->Items().Entries(),
                 (std::vector<std::string>{"", "alt.test", "misc.test"}));
        QCOMPARE(window.StatusPanelText(0), QStringLiteral("Newsgroups: 3"));
        const QStringList log = e2e.Log().split('\n');
        const int first = log.indexOf("misc.test");
        QVERIFY(first > 0);
        QCOMPARE(log.mid(first, 5), (QStringList{"misc.test", "alt.test", "", "ALT.TEST", ""}));
        QVERIFY(!e2e.Log().contains("list follows"));
        QVERIFY(log.contains("Connecting"));
        QVERIFY(log.contains("Retrieving list"));
    }

    // A long reply goes into the log at once: it reads and copies line by line, and when the
    // log's page is shown (it was hidden while the lines came) its end scrolls into view; a second
    // reply while the page is shown keeps the end in view.
    void longListInTheLog() {
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
        QCOMPARE(log.mid(log.indexOf("group.000")), names);
        QVERIFY(log.indexOf("Retrieving list") < log.indexOf("group.000"));
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
        QCOMPARE(log.mid(log.lastIndexOf("group.000")), names);
        QCOMPARE(log.count("group.299"), 2);
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
        window.SetAborted(true);
        QTRY_VERIFY(!window.ListingGroups());
        QCOMPARE(window.trcvNewsgroups->Items().Entries(), std::vector<std::string>{"kept.group"});
        QVERIFY(e2e.Log().split('\n').contains("misc.test 1 1 y"));
    }

    void greeting201SendsNothing() {
        ScriptedPeer peer;
        peer.Send("201 no posting\r\n").Pause(300);
        peer.Start();
        E2eWindow e2e(QString::fromStdString(peer.Address()));
        e2e.Window->Getgrouplist1Click();
        QTRY_COMPARE(e2e.Prompts->Messages(),
                     QStringList{"This news server does NOT allow posting!!"});
        QTRY_VERIFY(peer.Finished());
        QCOMPARE(peer.Received(), std::string());
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
        e2e.Window->FillArticle();
        QCOMPARE(e2e.Window->PostIndex(), 1);
        const QString text = QString::fromStdString(ComposedText(*e2e.Window));
        const int part = text.indexOf("Content-Type: text/plain");
        QVERIFY2(part > 0, qPrintable(text));
        const QStringList headers = text.mid(part).split('\n');
        QCOMPARE(headers[0], "Content-Type: " + contentType);
        QCOMPARE(headers[1], "Content-Transfer-Encoding: " + encoding);
        QVERIFY2(text.contains("\n\n" + sent + "\n"), qPrintable(text));
    }
};

QTEST_MAIN(tst_PostingRunPeer)
#include "tst_PostingRunPeer.moc"
