// The posting run and the group-list retrieval against a scripted peer: a server that stops
// answering, a connection kept or replaced between operations, a greeting that forbids posting.

#include "RecordedOperation.h"
#include "support/PostedArticles.h"
#include "support/ScriptedPeer.h"

#include <QTest>

static TNewsRequest Request(const ScriptedPeer& peer, bool logOn = false) {
    return Request(peer.Address(), logOn);
}

// A server that answers every command as a willing one would, on any number of connections.
static void WillingServer(ScriptedPeer& peer) {
    peer.SetTimeout(60000);
    peer.Answer("AUTHINFO USER", "381 more\r\n")
        .Answer("AUTHINFO PASS", "281 ok\r\n")
        .Answer("POST", "340 go\r\n")
        .Answer(".", "240 ok\r\n")
        .Answer("QUIT", "205 bye\r\n");
    peer.Send("200 ready\r\n").WaitFor("never sent");
}

class tst_TNewsOperation : public QObject {
    Q_OBJECT

private slots:
    // POST must not be pipelined: each group's POST waits for the verdict on the article before
    // it, and a refused POST is answered by the next group's POST, not by an article.
    void runWaitsForEveryVerdict() {
        ScriptedPeer peer;
        ScriptThreeGroupRun(peer);
        peer.Start();
        RecordedOperation recorded;
        TNewsRequest request = Request(peer);
        request.Groups = {"a.one", "b.two", "c.three"};
        recorded.Operation.StartPost(std::move(request));
        QTRY_VERIFY(peer.Received().find("\r\n.\r\n") != std::string::npos);
        QTest::qWait(100);
        // The first verdict is held back: no second POST yet.
        QCOMPARE(ArticlesIn(peer.Received()).size(), size_t(1));
        QTRY_COMPARE(recorded.Summaries.size(), size_t(1));
        QVERIFY(peer.Ok());
        const std::vector<std::string> articles = ArticlesIn(peer.Received());
        QCOMPARE(articles.size(), size_t(2));
        QCOMPARE(NewsgroupsOf(articles[0]), std::string("a.one"));
        QCOMPARE(NewsgroupsOf(articles[1]), std::string("b.two"));
        // c.three's POST was refused, so no article followed it.
        QVERIFY(peer.Received().size() >= 6);
        QCOMPARE(peer.Received().substr(peer.Received().size() - 6), std::string("POST\r\n"));
        QCOMPARE(recorded.Outcomes.size(), size_t(3));
        const std::vector<bool> sent{recorded.Outcomes[0].ArticleSent,
                                     recorded.Outcomes[1].ArticleSent,
                                     recorded.Outcomes[2].ArticleSent};
        QCOMPARE(sent, (std::vector<bool>{true, true, false}));
        QCOMPARE(recorded.Summaries[0].Accepted, 1);
        QCOMPARE(recorded.Summaries[0].Refused, 2);
        QCOMPARE(recorded.Summaries[0].FirstRefusal, std::string("441 refused"));
    }

    // The timeout bounds every wait before a run is under way, and the retrieval's; the box
    // names the step, and the connection is closed.
    void silentServer_data() {
        QTest::addColumn<QString>("silentAt");
        QTest::addColumn<bool>("logOn");
        QTest::addColumn<bool>("run");
        QTest::addColumn<QString>("step");
        QTest::newRow("greeting") << "greeting" << false << true << "waiting for the greeting";
        QTest::newRow("log-on") << "log-on" << true << true
                                << "waiting for the reply to AUTHINFO USER";
        QTest::newRow("LIST") << "LIST" << false << false << "waiting for the reply to LIST";
    }
    void silentServer() {
        QFETCH(QString, silentAt);
        QFETCH(bool, logOn);
        QFETCH(bool, run);
        QFETCH(QString, step);
        ScriptedPeer peer;
        if (silentAt != "greeting")
            peer.Send("200 ready\r\n");
        peer.WaitFor("never sent");
        peer.Start();
        RecordedOperation recorded;
        TNewsOperation& operation = recorded.Operation;
        if (run)
            operation.StartPost(Request(peer, logOn));
        else
            operation.StartList(Request(peer, logOn));
        QVERIFY(operation.Busy());
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Failures.size(), size_t(1), 10000);
        QCOMPARE(QString::fromStdString(recorded.Failures[0]),
                 "The news server did not answer within 1 second (" + step + ")");
        QVERIFY(!operation.Busy());
        QTRY_VERIFY(peer.ClientClosed());
        QVERIFY(recorded.Summaries.empty());
    }

    // An open connection serves the next operation only when it goes to the same server with
    // the same log-on; otherwise the next one connects afresh.
    void connectionKeptOrReplaced_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<size_t>("firstConnections");
        QTest::addColumn<size_t>("otherConnections");
        QTest::newRow("nothing") << "" << size_t(1) << size_t(0);
        QTest::newRow("server") << "server" << size_t(1) << size_t(1);
        QTest::newRow("user") << "user" << size_t(2) << size_t(0);
        QTest::newRow("password") << "password" << size_t(2) << size_t(0);
        QTest::newRow("log-on off") << "log-on off" << size_t(2) << size_t(0);
    }
    void connectionKeptOrReplaced() {
        QFETCH(QString, change);
        QFETCH(size_t, firstConnections);
        QFETCH(size_t, otherConnections);
        ScriptedPeer first;
        WillingServer(first);
        first.Start();
        ScriptedPeer other;
        WillingServer(other);
        other.Start();
        RecordedOperation recorded;
        TNewsOperation& operation = recorded.Operation;
        operation.StartPost(Request(first, true));
        QTRY_COMPARE(recorded.Summaries.size(), size_t(1));
        QVERIFY(operation.Client().Connected());

        TNewsRequest next = Request(first, true);
        next.Groups = {"b.two"};
        if (change == "server")
            next.Host = other.Address();
        else if (change == "user")
            next.UserID = "v";
        else if (change == "password")
            next.Password = "q";
        else if (change == "log-on off")
            next.LogOn = false;
        operation.StartPost(next);
        QTRY_COMPARE(recorded.Summaries.size(), size_t(2));
        QCOMPARE(recorded.Summaries[1].Accepted, 1);
        QCOMPARE(first.Connections(), firstConnections);
        QCOMPARE(other.Connections(), otherConnections);
        if (change == "server")
            QTRY_VERIFY(first.ClientClosed());
        QCOMPARE(recorded.Outcomes.size(), size_t(2));
        QCOMPARE(recorded.Outcomes[1].Group, std::string("b.two"));
        QCOMPARE(recorded.Outcomes[1].Reply, std::string("240 ok"));
        QCOMPARE(recorded.Outcomes[1].MessageID, std::string("<b.two@example.com>"));
    }

    // After a 201 greeting only a log-on can open the server to posting: without one QUIT
    // follows; with one the run goes on only when the log-on is accepted.
    void greetingWithoutPosting_data() {
        QTest::addColumn<bool>("logOn");
        QTest::addColumn<QString>("passReply");
        QTest::addColumn<Lines>("received");
        QTest::addColumn<int>("refused");
        QTest::newRow("no log-on") << false << "" << Lines{"QUIT"} << -1;
        QTest::newRow("log-on refused")
            << true << "481 Authentication failed"
            << Lines{"AUTHINFO USER u", "AUTHINFO PASS p", "QUIT"} << -1;
        QTest::newRow("log-on accepted")
            << true << "281 ok" << Lines{"AUTHINFO USER u", "AUTHINFO PASS p", "POST"} << 1;
    }
    void greetingWithoutPosting() {
        QFETCH(bool, logOn);
        QFETCH(QString, passReply);
        QFETCH(Lines, received);
        QFETCH(int, refused);
        ScriptedPeer peer;
        peer.SetTimeout(60000);
        peer.Answer("AUTHINFO USER", "381 more\r\n")
            .Answer("AUTHINFO PASS", passReply.toStdString() + "\r\n")
            .Answer("POST", "440 posting not allowed\r\n")
            .Answer("QUIT", "205 bye\r\n");
        peer.Send("201 no posting\r\n").WaitFor("never sent");
        peer.Start();
        RecordedOperation recorded;
        recorded.Operation.StartPost(Request(peer, logOn));
        if (refused < 0) {
            QTRY_VERIFY(peer.ClientClosed());
            QVERIFY(recorded.Summaries.empty());
        } else {
            QTRY_COMPARE(recorded.Summaries.size(), size_t(1));
            QCOMPARE(recorded.Summaries[0].Refused, refused);
            QCOMPARE(recorded.Summaries[0].FirstRefusal, std::string("440 posting not allowed"));
        }
        QVERIFY(!recorded.Operation.Busy());
        QCOMPARE(recorded.Notices, Lines{"This news server does NOT allow posting!!"});
        QVERIFY(recorded.Failures.empty());
        QCOMPARE(peer.ReceivedLines(), received);
    }

    // A refused log-on goes on to the first command, whose refusal the user then sees, unless
    // the request asks to end there (the command line, which then reports a log-on failure).
    void refusedLogOn_data() {
        QTest::addColumn<bool>("endOnRefusal");
        QTest::addColumn<bool>("run");
        QTest::addColumn<Lines>("received");
        QTest::newRow("run goes on")
            << false << true << Lines{"AUTHINFO USER u", "AUTHINFO PASS p", "POST"};
        QTest::newRow("run ends") << true << true
                                  << Lines{"AUTHINFO USER u", "AUTHINFO PASS p", "QUIT"};
        QTest::newRow("list ends")
            << true << false << Lines{"AUTHINFO USER u", "AUTHINFO PASS p", "QUIT"};
    }
    void refusedLogOn() {
        QFETCH(bool, endOnRefusal);
        QFETCH(bool, run);
        QFETCH(Lines, received);
        ScriptedPeer peer;
        peer.SetTimeout(60000);
        peer.Answer("AUTHINFO USER", "381 more\r\n")
            .Answer("AUTHINFO PASS", "481 Authentication failed\r\n")
            .Answer("POST", "480 log on first\r\n")
            .Answer("QUIT", "205 bye\r\n");
        peer.Send("200 ready\r\n").WaitFor("never sent");
        peer.Start();
        RecordedOperation recorded;
        TNewsRequest request = Request(peer, true);
        request.EndOnRefusedLogOn = endOnRefusal;
        if (run)
            recorded.Operation.StartPost(std::move(request));
        else
            recorded.Operation.StartList(std::move(request));
        if (endOnRefusal) {
            QTRY_COMPARE(recorded.Failures.size(), size_t(1));
            QCOMPARE(recorded.Failures[0],
                     std::string("The news server refused the log-on: 481 Authentication failed"));
            QTRY_VERIFY(peer.ClientClosed());
            QVERIFY(recorded.Outcomes.empty());
        } else {
            QTRY_COMPARE(recorded.Summaries.size(), size_t(1));
            QCOMPARE(recorded.Outcomes.at(0).Reply, std::string("480 log on first"));
        }
        QVERIFY(!recorded.Operation.Busy());
        QCOMPARE(peer.ReceivedLines(), received);
    }

    // Without a ComposeArticle of its own the run composes each group's article from the
    // request's article, and reports each group as it starts on it.
    void composesFromTheArticleRequest() {
        ScriptedPeer peer;
        WillingServer(peer);
        peer.Start();
        RecordedOperation recorded;
        std::vector<std::pair<size_t, size_t>> started;
        recorded.Operation.Events().GroupStarted = [&](size_t index, size_t count) {
            started.emplace_back(index, count);
        };
        uint8_t next = 0;
        const TArticleComposer composer(
            [] {
                return TArticleTime{1'800'000'000, 60};
            },
            [&next](uint8_t* bytes, size_t count) {
                for (size_t i = 0; i < count; ++i)
                    bytes[i] = next++;
            });
        recorded.Operation.SetComposer(composer);
        TNewsRequest request = Request(peer);
        request.ComposeArticle = nullptr;
        request.Groups = {"a.one", "b.two"};
        request.Article.Address = "poster@example.com";
        request.Article.Subject = "composed";
        request.Article.BodyLines = {"first", "second"};
        recorded.Operation.StartPost(std::move(request));
        QTRY_COMPARE(recorded.Summaries.size(), size_t(1));
        QCOMPARE(recorded.Summaries[0].Accepted, 2);
        QCOMPARE((started), (std::vector<std::pair<size_t, size_t>>{{0, 2}, {1, 2}}));
        const std::string received = peer.Received();
        for (const TGroupOutcome& outcome : recorded.Outcomes) {
            QVERIFY(outcome.MessageID.ends_with("@example.com>"));
            QVERIFY(received.find("Message-ID: " + outcome.MessageID + "\r\n") !=
                    std::string::npos);
            QVERIFY(received.find("Newsgroups: " + outcome.Group + "\r\n") != std::string::npos);
        }
        QVERIFY(recorded.Outcomes[0].MessageID != recorded.Outcomes[1].MessageID);
        QVERIFY(received.find("Subject: composed\r\n") != std::string::npos);
        QVERIFY(received.find("Date: Fri, 15 Jan 2027 09:00:00 +0100\r\n") != std::string::npos);
        QVERIFY(received.find("\r\nfirst\r\nsecond\r\n.\r\n") != std::string::npos);
    }
};

QTEST_GUILESS_MAIN(tst_TNewsOperation)
#include "tst_TNewsOperation.moc"
