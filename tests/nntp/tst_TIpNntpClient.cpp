#include "NntpRecorder.h"
#include "NntpTestText.h"
#include "net/EIpWinSockError.h"
#include "net/TIpExceptionReporter.h"
#include "nntp/EIpNntpException.h"
#include "nntp/TIpNntpClient.h"
#include "support/ScriptedPeer.h"

#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Lines = std::vector<std::string>;

static const char* const Greeting = "200 news.example ready\r\n";
static const char* const GreetingEvent = "response nsConnect 200 news.example ready";

// A small plain article; its composed text is HeaderLines(), an empty line, the body, ".".
static void FillArticle(TIpNewsArticle& article, const Lines& body,
                        const std::string& subject = "Hello") {
    article.NewMessage();
    article.From = "poster@example.com";
    article.Subject = subject;
    article.Newsgroups = {"misc.test"};
    article.Path = {"misc.test"};
    for (const std::string& line : body)
        article.Body.WriteLine(line);
}

static Lines HeaderLines(const std::string& subject = "Hello") {
    return {"Path: misc.test", "Newsgroups: misc.test", "From: poster@example.com",
            "Subject: " + subject, ""};
}

static Lines Concat(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class tst_TIpNntpClient : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stateText_data();
    void stateText();
    void replyParsing_data();
    void replyParsing();
    void listCollectsTheWholeReply_data();
    void listCollectsTheWholeReply();
    void listRefusedAtTheFirstLine_data();
    void listRefusedAtTheFirstLine();
    void postToRunsItsStepsAndStuffsPeriods();
    void emptyArticleStillEndsTheArticle();
    void largeArticleKeepsItsLinesAcrossPieces();
    void postToWithLogOnAndEmptyPassword();
    void authenticateWithoutUserID();
    void refusedPostSendsNoArticle();
    void greetingAnsweredWithPost();
    void refusedPostAnsweredWithNewPost();
    void nextPostFromTheVerdict_data();
    void nextPostFromTheVerdict();
    void connectAfterPostToRunsTheTaskAgain_data();
    void connectAfterPostToRunsTheTaskAgain();
    void quitLetsAMultiLineReplyFinish();
    void commandWhileReplyDue_data();
    void commandWhileReplyDue();
    void listStartsWithoutStaleLines();
    void replyLinesArriveWhole_data();
    void replyLinesArriveWhole();
    void quitWithAndWithoutConnection();
    void pendingStateChangesDieWithTheClient();
    void commandsNeedAConnection();
    void refusedConnectionIsPublished();
    void debugLogEntries();

private:
    Lines FErrors;
};

void tst_TIpNntpClient::init() {
    FErrors.clear();
    SetIpExceptionReporter([this](const std::exception& e) { FErrors.push_back(e.what()); });
}

void tst_TIpNntpClient::cleanup() {
    SetIpExceptionReporter({});
    QCOMPARE(FErrors, Lines());
}

void tst_TIpNntpClient::stateText_data() {
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<QString>("text");
    QTest::newRow("first") << 0 << "No operation";
    QTest::newRow("nsPost") << 13 << "Posting article";
    QTest::newRow("nsAuthPass") << 18 << "Authorizing password";
    QTest::newRow("nsDate") << 28 << "Retrieving server date";
    QTest::newRow("last") << 30 << "Starting encryption";
    QTest::newRow("beyond the states: text kept") << 31 << "caller's text";
}

void tst_TIpNntpClient::stateText() {
    QFETCH(int, ordinal);
    QFETCH(QString, text);
    std::string result = "caller's text";
    TIpNntpClient::StateText(static_cast<TIpNntpStates>(ordinal), result);
    QCOMPARE(QString::fromStdString(result), text);
}

void tst_TIpNntpClient::replyParsing_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("response");
    QTest::newRow("code and text")
        << QByteArray("200 news.example ready") << 200 << QByteArray("news.example ready");
    QTest::newRow("code alone") << QByteArray("205") << 205 << QByteArray();
    QTest::newRow("code and blank") << QByteArray("281 ") << 281 << QByteArray();
    // Code 0: no status line, so no reply; the connection is closed.
    QTest::newRow("not a number") << QByteArray("abc hello") << 0 << QByteArray();
    QTest::newRow("digit, letter, digit") << QByteArray("2x0 partial") << 0 << QByteArray();
    QTest::newRow("four digits") << QByteArray("2000 ready") << 0 << QByteArray();
    QTest::newRow("two digits") << QByteArray("20") << 0 << QByteArray();
    QTest::newRow("empty line") << QByteArray() << 0 << QByteArray();
}

void tst_TIpNntpClient::replyParsing() {
    QFETCH(QByteArray, line);
    QFETCH(int, code);
    QFETCH(QByteArray, response);
    ScriptedPeer peer;
    peer.Send(line.toStdString() + "\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.Connect(peer.Address());
    if (code == 0) {
        QTRY_COMPARE(
            rec.Matching("error"),
            Lines{"error " + std::to_string(TIpNntpErrorCode::NotAReply) +
                  " The news server sent a line that is not a reply: " + line.toStdString()});
        QCOMPARE(rec.Matching("response"), Lines{});
        QTRY_VERIFY(!client.Connected());
        return;
    }
    const std::string expected = "response nsConnect " + std::to_string(code) +
                                 (response.isEmpty() ? "" : " " + response.toStdString());
    QTRY_COMPARE(rec.Matching("response"), Lines{expected});
    QCOMPARE(client.LastLine(), line.toStdString());
    // No task was ever started: nothing follows the greeting.
    QTRY_COMPARE(rec.StateTrail(), std::string("nsConnect"));
    QCOMPARE(client.CommandsSent(), uint64_t(0));
}

// Data lines go to OnListLine when it is set, unstuffed; the lines it declines, and the status
// line, are collected as without it.
void tst_TIpNntpClient::listCollectsTheWholeReply_data() {
    QTest::addColumn<bool>("handler");
    QTest::addColumn<std::string>("taken"); // the prefix of the lines the handler takes
    QTest::addColumn<Lines>("collected");
    QTest::addColumn<Lines>("offered");
    const Lines data{"alt.test 3 1 y", ".hidden.group 0 1 y"};
    QTest::newRow("collected") << false << std::string()
                               << Lines{"215 list follows", data[0], data[1]} << Lines{};
    QTest::newRow("all taken") << true << std::string() << Lines{"215 list follows"} << data;
    QTest::newRow("one declined") << true << std::string("alt")
                                  << Lines{"215 list follows", data[1]} << data;
}

void tst_TIpNntpClient::listCollectsTheWholeReply() {
    QFETCH(bool, handler);
    QFETCH(std::string, taken);
    QFETCH(Lines, collected);
    QFETCH(Lines, offered);
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("LIST\r\n")
        .Send("215 list follows\r\nalt.test 3 1 y\r\n..hidden.group 0 1 y\r\n.\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (to == TIpNntpStates::nsConnect)
            client.List();
    };
    Lines seen;
    if (handler)
        client.OnListLine = [&](TIpCustomNntpClient*, std::string_view line) {
            seen.emplace_back(line);
            return line.starts_with(taken);
        };
    client.Connect(peer.Address());
    QTRY_COMPARE(rec.Lists.size(), size_t(1));
    QCOMPARE(rec.Lists[0], collected);
    QCOMPARE(seen, offered);
    QCOMPARE(rec.Matching("response"), Lines{"response nsConnect 200 news.example ready"});
    QCOMPARE(rec.Matching("multi"), Lines{"multi nsList " + std::to_string(collected.size())});
    QCOMPARE(client.State(), TIpNntpStates::nsList);
    QVERIFY(!client.MultiLine());
    QTRY_COMPARE(rec.StateTrail(), std::string("nsConnect nsList"));
}

void tst_TIpNntpClient::listRefusedAtTheFirstLine_data() {
    QTest::addColumn<bool>("handlerQuits");
    QTest::newRow("no handler action: nsNoOp") << false;
    QTest::newRow("handler sends QUIT: it keeps its state") << true;
}

void tst_TIpNntpClient::listRefusedAtTheFirstLine() {
    QFETCH(bool, handlerQuits);
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("LIST\r\n")
        .Send("480 authentication required\r\n")
        .Answer("QUIT", "205 bye\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    rec.AfterMultiLine = [&](TIpNntpStates) {
        if (handlerQuits)
            client.Quit();
    };
    client.Connect(peer.Address());
    QTRY_VERIFY(
        rec.Has(GreetingEvent)); // a command sent earlier would take the greeting as its reply
    client.List();
    QTRY_COMPARE(rec.Lists.size(), size_t(1));
    QCOMPARE(rec.Lists[0], Lines{"480 authentication required"});
    QCOMPARE(rec.Matching("multi"), Lines{"multi nsList 1"});
    QVERIFY(!client.MultiLine());
    if (handlerQuits) {
        QTRY_VERIFY(rec.Has("response nsQuit 205 bye"));
        QTRY_COMPARE(rec.StateTrail(), std::string("nsConnect nsList nsQuit nsNoOp"));
    } else {
        QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
        QTRY_COMPARE(rec.StateTrail(), std::string("nsConnect nsList nsNoOp"));
    }
}

void tst_TIpNntpClient::postToRunsItsStepsAndStuffsPeriods() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("GROUP misc.test\r\n")
        .Send("211 3 1 3 misc.test\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send article\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("240 article posted\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), {".", ".hidden", "plain", "..two"});
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(rec.Has("task ntPostTo"));
    QCOMPARE(peer.ReceivedLines(), Concat(Concat({"GROUP misc.test", "POST"}, HeaderLines()),
                                          {"..", "..hidden", "plain", "...two", "."}));
    QCOMPARE(
        rec.Matching("response"),
        (Lines{"response nsConnect 200 news.example ready", "response nsGroup 211 3 1 3 misc.test",
               "response nsPrePost 340 send article", "response nsPost 240 article posted"}));
    QVERIFY(rec.IndexOf("task ntPostTo") > rec.IndexOf("response nsPost 240 article posted"));
    QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
    QCOMPARE(client.Task(), TIpNntpTasks::ntPostTo);
    // Every intermediate state is told, in order, even though the client had moved on.
    QTRY_COMPARE(rec.StateTrail(), std::string("nsConnect nsGroup nsPrePost nsPost nsNoOp"));
}

void tst_TIpNntpClient::emptyArticleStillEndsTheArticle() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("GROUP")
        .Send("211 0 0 0 misc.test\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send article\r\n")
        .WaitFor(".\r\n")
        .Send("441 no headers\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.Article().NewMessage(); // every field empty: nothing is composed
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(rec.Has("response nsPost 441 no headers"));
    QCOMPARE(peer.ReceivedLines(), (Lines{"GROUP misc.test", "POST", "", "."}));
}

// An article of many pieces, read slowly by the server so that most of it waits in the send
// queue: every body line begins with "." (so pieces begin and end with such lines), one line is
// longer than a piece, and the final "." still ends the article exactly once.
void tst_TIpNntpClient::largeArticleKeepsItsLinesAcrossPieces() {
    Lines body;
    for (int i = 0; i < 5000; ++i) {
        std::string line(1 + static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26));
        line[0] = '.';
        body.push_back(std::move(line));
    }
    std::string longLine(1 + TIpCustomNntpClient::ArticleBatchBytes + 5000, 'L');
    longLine[0] = '.';
    body.push_back(std::move(longLine));
    body.push_back(".");
    body.push_back("last");
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("GROUP misc.test\r\n")
        .Send("211 3 1 3 misc.test\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send article\r\n")
        .ReadSlowly(32768, 5)
        .WaitFor("\r\nlast\r\n.\r\n")
        .Send("240 article posted\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), body);
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("response nsPost 240 article posted"), 20000);
    Lines expected = Concat({"GROUP misc.test", "POST"}, HeaderLines());
    for (size_t i = 0; i + 1 < body.size(); ++i)
        expected.push_back("." + body[i]);
    expected.insert(expected.end(), {"last", "."});
    QCOMPARE(peer.ReceivedLines(), expected);
    QCOMPARE(client.DataSocket()->QueuedItems(), 0u);
}

void tst_TIpNntpClient::postToWithLogOnAndEmptyPassword() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("AUTHINFO USER poster\r\n")
        .Send("381 password required\r\n")
        .WaitFor("AUTHINFO PASS \r\n")
        .Send("281 accepted\r\n")
        .WaitFor("GROUP alt.test\r\n")
        .Send("211 0 0 0 alt.test\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("240 posted\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.UserID = "poster";
    FillArticle(client.Article(), {"body"});
    client.PostTo(peer.Address(), "alt.test");
    QTRY_VERIFY(rec.Has("task ntPostTo"));
    const Lines received = peer.ReceivedLines();
    QCOMPARE(Lines(received.begin(), received.begin() + 4),
             (Lines{"AUTHINFO USER poster", "AUTHINFO PASS ", "GROUP alt.test", "POST"}));
    QTRY_COMPARE(rec.StateTrail(),
                 std::string("nsConnect nsAuthUser nsAuthPass nsGroup nsPrePost nsPost nsNoOp"));
}

void tst_TIpNntpClient::authenticateWithoutUserID() {
    ScriptedPeer peer;
    peer.Send(Greeting).WaitFor("QUIT\r\n").Send("205 bye\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.Authenticate(peer.Address());
    QTRY_VERIFY(rec.Has("task ntAuthenticate"));
    QCOMPARE(rec.IndexOf("task ntAuthenticate"),
             rec.IndexOf("response nsConnect 200 news.example ready") + 1);
    QCOMPARE(client.State(), TIpNntpStates::nsConnect);
    client.Quit();
    QTRY_VERIFY(rec.Has("response nsQuit 205 bye"));
    QCOMPARE(peer.ReceivedLines(), Lines{"QUIT"}); // nothing was sent before QUIT
}

void tst_TIpNntpClient::refusedPostSendsNoArticle() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("GROUP")
        .Send("211 0 0 0 misc.test\r\n")
        .WaitFor("POST\r\n")
        .Send("440 posting not allowed\r\n")
        .Answer("QUIT", "205 bye\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), {"quit", "body"});
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(rec.Has("response nsPrePost 440 posting not allowed"));
    QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
    client.Quit();
    QTRY_VERIFY(rec.Has("response nsQuit 205 bye"));
    // Any article line would have reached the peer before QUIT.
    QCOMPARE(peer.ReceivedLines(), (Lines{"GROUP misc.test", "POST", "QUIT"}));
    QVERIFY(!rec.Has("task ntPostTo"));
}

void tst_TIpNntpClient::greetingAnsweredWithPost() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("POST\r\n")
        .Pause(200)
        .Send("340 send article\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("240 posted\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), {"body"});
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (to == TIpNntpStates::nsConnect)
            client.Post();
    };
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(rec.Has("response nsPost 240 posted"));
    // The reply to POST is answered in nsPrePost: the article had not gone out before it.
    QVERIFY(rec.Has("response nsPrePost 340 send article"));
    QVERIFY(rec.IndexOf("state nsPost") > rec.IndexOf("response nsPrePost 340 send article"));
    QCOMPARE(peer.ReceivedLines(), Concat(Concat({"POST"}, HeaderLines()), {"body", "."}));
    QVERIFY(rec.Has("task ntPostTo"));
}

void tst_TIpNntpClient::refusedPostAnsweredWithNewPost() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("POST\r\n")
        .Send("440 try again\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send article\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("240 posted\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), {"body"});
    rec.AfterResponse = [&](TIpNntpStates to, int32_t code) {
        if (to == TIpNntpStates::nsConnect || (to == TIpNntpStates::nsPrePost && code == 440))
            client.Post();
    };
    client.Connect(peer.Address());
    QTRY_VERIFY(rec.Has("response nsPost 240 posted"));
    QCOMPARE(rec.Matching("response nsP"),
             (Lines{"response nsPrePost 440 try again", "response nsPrePost 340 send article",
                    "response nsPost 240 posted"}));
    QCOMPARE(peer.ReceivedLines(), Concat(Concat({"POST", "POST"}, HeaderLines()), {"body", "."}));
}

void tst_TIpNntpClient::nextPostFromTheVerdict_data() {
    QTest::addColumn<bool>("fromTaskComplete");
    QTest::newRow("from OnResponse") << false;
    QTest::newRow("from OnTaskComplete") << true;
}

void tst_TIpNntpClient::nextPostFromTheVerdict() {
    QFETCH(bool, fromTaskComplete);
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("GROUP")
        .Send("211 0 0 0 misc.test\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("240 first posted\r\n")
        .WaitFor("POST\r\n")
        .Send("340 send\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("240 second posted\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), {"one"}, "first");
    auto postSecond = [&] {
        // The article may change between two posts; the next POST composes it afresh.
        FillArticle(client.Article(), {"two"}, "second");
        client.Post();
    };
    rec.AfterResponse = [&](TIpNntpStates to, int32_t code) {
        if (!fromTaskComplete && to == TIpNntpStates::nsPost && code == 240 &&
            client.Article().Subject == "first")
            postSecond();
    };
    rec.AfterTask = [&](TIpNntpTasks) {
        if (fromTaskComplete && client.Article().Subject == "first")
            postSecond();
    };
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(rec.Has("response nsPost 240 second posted"));
    QCOMPARE(peer.ReceivedLines(),
             Concat(Concat(Concat(Concat({"GROUP misc.test", "POST"}, HeaderLines("first")),
                                  {"one", ".", "POST"}),
                           HeaderLines("second")),
                    {"two", "."}));
    QCOMPARE(rec.Matching("task").size(), size_t(fromTaskComplete ? 2 : 1));
    QTRY_COMPARE(rec.States.back(), TIpNntpStates::nsNoOp);
}

void tst_TIpNntpClient::connectAfterPostToRunsTheTaskAgain_data() {
    QTest::addColumn<QString>("userID");
    QTest::addColumn<bool>("handlerLists");
    QTest::addColumn<QString>("firstCommand");
    QTest::newRow("no log-on: GROUP with the old group") << "" << false << "GROUP old.group";
    QTest::newRow("log-on: AUTHINFO USER") << "poster" << false << "AUTHINFO USER poster";
    QTest::newRow("handler sends LIST first") << "" << true << "LIST";
}

void tst_TIpNntpClient::connectAfterPostToRunsTheTaskAgain() {
    QFETCH(QString, userID);
    QFETCH(bool, handlerLists);
    QFETCH(QString, firstCommand);
    ScriptedPeer peer;
    peer.Send(Greeting).Answer("LIST", "215 list\r\nalt.test 0 1 y\r\n.\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.UserID = userID.toStdString();
    // The earlier PostTo fails to connect, but it has set the task and the group.
    client.PostTo("127.0.0.1:" + std::to_string(ScriptedPeer::UnusedPort()), "old.group");
    QTRY_COMPARE(rec.Matching("error").size(), size_t(1));
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (handlerLists && to == TIpNntpStates::nsConnect)
            client.List();
    };
    client.Connect(peer.Address());
    QTRY_COMPARE(peer.ReceivedLines(), Lines{firstCommand.toStdString()});
    if (handlerLists)
        QTRY_COMPARE(rec.Matching("multi"), Lines{"multi nsList 2"});
    QCOMPARE(peer.ReceivedLines(), Lines{firstCommand.toStdString()});
}

void tst_TIpNntpClient::quitLetsAMultiLineReplyFinish() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("LIST\r\n")
        .Send("215 list follows\r\nalt.a 0 1 y\r\n")
        .WaitFor("QUIT\r\n")
        .Send("misc.b 0 1 y\r\n.\r\n205 bye\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.Connect(peer.Address());
    QTRY_VERIFY(rec.Has(GreetingEvent));
    client.List();
    QTRY_COMPARE(client.LastLine(), std::string("alt.a 0 1 y"));
    client.Quit();
    QTRY_VERIFY(rec.Has("response nsNoOp 205 bye"));
    QCOMPARE(rec.Matching("response"),
             (Lines{"response nsConnect 200 news.example ready", "response nsNoOp 205 bye"}));
    QCOMPARE(rec.Lists, (std::vector<Lines>{{"215 list follows", "alt.a 0 1 y", "misc.b 0 1 y"}}));
}

// A command sent while a reply is still due would be answered by that reply, or read by the
// server as a line of the article it asked for: the client refuses it and sends nothing.
void tst_TIpNntpClient::commandWhileReplyDue_data() {
    QTest::addColumn<QString>("due");
    QTest::addColumn<Lines>("sent");
    QTest::newRow("greeting") << "greeting" << Lines{};
    QTest::newRow("reply to POST") << "post" << Lines{"POST"};
    QTest::newRow("verdict on the article")
        << "article" << Concat(Concat({"POST"}, HeaderLines()), {"body", "."});
    QTest::newRow("LIST reply arriving") << "list" << Lines{"LIST"};
}

void tst_TIpNntpClient::commandWhileReplyDue() {
    QFETCH(QString, due);
    QFETCH(Lines, sent);
    ScriptedPeer peer;
    if (due != "greeting")
        peer.Send(Greeting);
    if (due == "article")
        peer.WaitFor("POST\r\n").Send("340 go\r\n");
    if (due == "list")
        peer.WaitFor("LIST\r\n").Send("215 list follows\r\nalt.a 0 1 y\r\n");
    peer.WaitFor("never sent");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), {"body"});
    client.Connect(peer.Address());
    if (due == "greeting") {
        QTRY_VERIFY(client.Connected());
    } else {
        QTRY_VERIFY(rec.Has(GreetingEvent));
        if (due == "list")
            client.List();
        else
            client.Post();
    }
    if (due == "article")
        QTRY_VERIFY(peer.Received().find("\r\n.\r\n") != std::string::npos);
    if (due == "list")
        QTRY_COMPARE(client.LastLine(), std::string("alt.a 0 1 y"));
    QTRY_VERIFY(peer.ReceivedLines().size() == sent.size());
    QVERIFY(client.ReplyDue());
    QVERIFY_THROWS_EXCEPTION(EIpNntpException, client.List());
    QVERIFY_THROWS_EXCEPTION(EIpNntpException, client.Post());
    QTest::qWait(50);
    QCOMPARE(peer.ReceivedLines(), sent);
}

void tst_TIpNntpClient::listStartsWithoutStaleLines() {
    ScriptedPeer peer;
    peer.Send(Greeting)
        .WaitFor("LIST\r\n")
        .Send("215 old list\r\nold.group 0 1 y\r\n")
        .WaitFor("QUIT\r\n")
        .Send(".\r\n")
        .WaitFor("LIST\r\n")
        .Send("215 new list\r\nnew.group 0 1 y\r\n.\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.Connect(peer.Address());
    QTRY_VERIFY(rec.Has(GreetingEvent));
    client.List();
    QTRY_COMPARE(client.LastLine(), std::string("old.group 0 1 y"));
    client.Quit();
    QTRY_COMPARE(rec.Lists.size(), size_t(1));
    client.List();
    QTRY_COMPARE(rec.Lists.size(), size_t(2));
    QCOMPARE(rec.Lists[0], (Lines{"215 old list", "old.group 0 1 y"}));
    QCOMPARE(rec.Lists[1], (Lines{"215 new list", "new.group 0 1 y"}));
}

// Lines longer than the data socket's receive buffer reach the states whole; a LIST line over
// 1 MiB is left out and counted; a status line over 1 MiB ends the operation through the error
// event, and the connection with it.
void tst_TIpNntpClient::replyLinesArriveWhole_data() {
    QTest::addColumn<bool>("post");
    QTest::addColumn<std::string>("reply");
    QTest::addColumn<std::string>("kind"); // of the events compared
    QTest::addColumn<Lines>("events");
    QTest::addColumn<Lines>("list");
    const std::string longText(3 * TIpDataSocket::ReceiveBufferCapacity, 'x');
    const std::string bigGroup = "big.group " + std::string(20000 - 10, '1');
    const std::string overlong(TIpReplyLineJoiner::MaxLineLength + 1, 'y');
    QTest::newRow("340 longer than the receive buffer")
        << true << "340 " + longText + "\r\n"
        << std::string("response")
        << Lines{"response nsPrePost 340 " + longText, "response nsPost 240 ok"} << Lines{};
    QTest::newRow("LIST line of 20,000 bytes")
        << false << "215 list\r\n" + bigGroup + "\r\nalt.test 1 1 y\r\n.\r\n"
        << std::string("multi") << Lines{"multi nsList 3"}
        << Lines{"215 list", bigGroup, "alt.test 1 1 y"};
    QTest::newRow("LIST line over 1 MiB")
        << false << "215 list\r\n" + overlong + "\r\nalt.test 1 1 y\r\n.\r\n"
        << std::string("multi") << Lines{"multi nsList 2 dropped 1"}
        << Lines{"215 list", "alt.test 1 1 y"};
    QTest::newRow("status line over 1 MiB")
        << true << "340 " + overlong + "\r\n"
        << std::string("error")
        << Lines{"error " + std::to_string(TIpNntpClient::ReplyTooLongCode) + " " +
                 TIpNntpClient::ReplyTooLongText}
        << Lines{};
    QTest::newRow("reply cut short by the close")
        << true << std::string("34") << std::string("error")
        << Lines{"error " + std::to_string(TIpNntpErrorCode::ReplyCut) +
                 " The connection was closed in the middle of a reply: 34"}
        << Lines{};
}

void tst_TIpNntpClient::replyLinesArriveWhole() {
    QFETCH(bool, post);
    QFETCH(std::string, reply);
    QFETCH(std::string, kind);
    QFETCH(Lines, events);
    QFETCH(Lines, list);
    const bool broken = kind == "error";
    ScriptedPeer peer;
    peer.Send(Greeting).WaitFor(post ? "POST\r\n" : "LIST\r\n").Send(reply);
    const bool cut = !reply.ends_with("\r\n");
    if (cut)
        peer.Close();
    if (post && !broken)
        peer.WaitFor("\r\n.\r\n").Send("240 ok\r\n");
    peer.Start();
    TIpNntpClient client;
    FillArticle(client.Article(), {"body"});
    NntpRecorder rec(client);
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (to == TIpNntpStates::nsConnect)
            post ? client.Post() : client.List();
    };
    client.Connect(peer.Address());
    QTRY_VERIFY(peer.Finished());
    const auto seen = [&rec, &kind] {
        Lines found = rec.Matching(kind);
        std::erase(found, std::string(GreetingEvent));
        return found;
    };
    QTRY_COMPARE(seen().size(), events.size());
    QCOMPARE(seen(), events);
    QCOMPARE(rec.Lists.empty() ? Lines{} : rec.Lists[0], list);
    if (broken) {
        QTRY_VERIFY(cut || peer.ClientClosed());
        QCOMPARE(rec.Matching("response"), Lines{GreetingEvent});
        QCOMPARE(peer.ReceivedLines(), Lines{"POST"});
    }
    QCOMPARE(client.Connected(), !broken);
}

void tst_TIpNntpClient::quitWithAndWithoutConnection() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.Quit();
    QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
    QTRY_COMPARE(rec.StateTrail(), std::string("nsQuit nsNoOp"));
    QCOMPARE(client.CommandsSent(), uint64_t(0));

    ScriptedPeer peer;
    peer.Send(Greeting).WaitFor("QUIT\r\n").Send("205 bye\r\n").Close();
    peer.Start();
    client.Connect(peer.Address());
    QTRY_VERIFY(rec.Has(GreetingEvent));
    client.Quit();
    QTRY_VERIFY(rec.Has("response nsQuit 205 bye"));
    QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
    // The server closes; the socket is released.
    QTRY_VERIFY(!client.IsActive());
    QCOMPARE(client.Handle(), -1);
    QVERIFY(!client.Connected());
}

void tst_TIpNntpClient::pendingStateChangesDieWithTheClient() {
    int told = 0;
    auto client = std::make_unique<TIpNntpClient>();
    client->OnStateChange = [&](TIpCustomNntpClient*, TIpNntpStates) { ++told; };
    client->Quit(); // two notifications queued
    client.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(told, 0);
}

void tst_TIpNntpClient::commandsNeedAConnection() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    QVERIFY_THROWS_EXCEPTION(EIpNntpException, client.List());
    QVERIFY_THROWS_EXCEPTION(EIpNntpException, client.Post());
    try {
        client.List();
    } catch (const EIpNntpException& e) {
        QCOMPARE(std::string(e.what()), std::string("Not connected"));
    }
    QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
    QVERIFY(!client.MultiLine());
    QCoreApplication::processEvents();
    QVERIFY(rec.States.empty());

    ScriptedPeer peer;
    peer.Send(Greeting);
    peer.Start();
    client.Connect(peer.Address());
    QTRY_VERIFY(rec.Has(GreetingEvent));
    try {
        client.PostTo(peer.Address(), "misc.test");
        QFAIL("PostTo on an open connection was accepted");
    } catch (const EIpWinSockError& e) {
        QCOMPARE(std::string(e.what()), std::string("Socket is already connected"));
    }
    QCOMPARE(client.State(), TIpNntpStates::nsConnect);
    QCOMPARE(client.Task(), TIpNntpTasks::ntPostTo);
    QCOMPARE(client.GroupName(), std::string("misc.test"));
    QVERIFY(client.Connected());
}

void tst_TIpNntpClient::refusedConnectionIsPublished() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.PostTo("127.0.0.1:" + std::to_string(ScriptedPeer::UnusedPort()), "misc.test");
    QTRY_COMPARE(
        rec.Matching("error"),
        Lines{"error 10061 WinSock Error (10061): Connection refused, on API 'Fd_Connect'"});
    QCOMPARE(client.State(), TIpNntpStates::nsConnect);
    QVERIFY(!client.Connected());
}

void tst_TIpNntpClient::debugLogEntries() {
    ScriptedPeer peer;
    peer.Send(Greeting).WaitFor("LIST\r\n").Send("215 list\r\n.\r\n");
    peer.Start();
    // The log writes its file when the client goes; keep it out of the working directory.
    const QTemporaryDir dir;
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.DebugLog().SetFileName(dir.filePath(QStringLiteral("debug.log")).toStdString());
    client.DebugLog().SetEnabled(true);
    client.Authenticate(peer.Address());
    QTRY_VERIFY(rec.Has("task ntAuthenticate"));
    client.List();
    QTRY_COMPARE(rec.Lists.size(), size_t(1));
    const std::string text = client.DebugLog().Text();
    for (const char* entry :
         {"[NNTP] Starting task: Authenticating (ntAuthenticate)\r\n",
          "[NNTP] State change: Connecting (nsConnect)\r\n",
          "[NNTP] Generating OnResponse event, Code = 200\r\n",
          "[NNTP] Generating OnTaskComplete event Authenticating (ntAuthenticate)\r\n",
          "[NNTP] State change: Retrieving list (nsList)\r\n",
          "[NNTP] Generating OnMultiLineResponse event\r\n"}) {
        QVERIFY2(text.find(entry) != std::string::npos, entry);
    }
    QVERIFY(text.find("[NNTP] Starting task") < text.find("[NNTP] State change: Connecting"));
}

QTEST_GUILESS_MAIN(tst_TIpNntpClient)
#include "tst_TIpNntpClient.moc"
