#include "TestClient.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"

#include "net/TIpTickCount.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <sstream>

static uint32_t fakeTick = 0;

class TickCounter : public TestClient {
public:
    void Tick(uint32_t elapsed) override {
        Elapsed.push_back(elapsed);
        if (Throw)
            throw EIpBaseException("tick failed");
    }
    std::vector<uint32_t> Elapsed;
    bool Throw = false;
};

class tst_sockcontrol : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void initialState();
    void timerIntervalAndWrap();
    void timerRunsTicks();
    void exceptionInTickStopsTimer();
    void exceptionInHandlerReachesReporter();
    void postedLinesArriveLater();
    void statusFilterAndEventLog();
    void unknownHandles();
    void protocolRefusedWhileActive();
    void lookupReplies();

private:
    ReportedErrors FReported;
};

void tst_sockcontrol::init() {
    FReported.Collect();
}

void tst_sockcontrol::cleanup() {
    SetIpTickSource({});
}

void tst_sockcontrol::initialState() {
    TestClient client;
    QCOMPARE(TIpSockControl::Version(), std::string("v1.02"));
    QCOMPARE(client.TimerInterval(), uint32_t(500));
    QVERIFY(client.TimerActive());
    QCOMPARE(client.ProtocolName(), std::string("tcp"));
    QCOMPARE(client.SocketType(), 1);
    QCOMPARE(client.EventLog().DateTimeFormat(), std::string("yyyy.mm.dd hh:nn:ss"));
    QCOMPARE(client.EventLog().FileName(), std::string("event.log"));
    QCOMPARE(client.DebugLog().FileName(), std::string("debug.log"));
    QVERIFY(!client.DebugLog().Enabled() && !client.EventLog().Enabled());
    QVERIFY(client.StatusFilter.Contains(TIpStatusType::stProgress));
    const TIpDataInits& s = client.Settings();
    QCOMPARE(s.FixedLineLength, uint32_t(80));
    QCOMPARE(s.LineTerminator, TIpLineTerminator::ltCRLF);
    QCOMPARE(s.ReceiveBufferSize, 4096);
    QVERIFY(s.LogOptions.Contains(TIpLogOptions::loHighData) &&
            !s.LogOptions.Contains(TIpLogOptions::loLowData));
    QVERIFY(!s.StripLineTerminator);
    QCOMPARE(client.Handle(), -1);
}

void tst_sockcontrol::timerIntervalAndWrap() {
    fakeTick = 1000;
    SetIpTickSource([] { return fakeTick; });
    TickCounter client;
    fakeTick = 1300;
    // The same value neither restarts the timer nor moves the last tick.
    client.SetTimerInterval(500);
    fakeTick = 1500;
    client.TimerTick();
    QCOMPARE(client.Elapsed.back(), uint32_t(500));

    fakeTick = 4294967000u;
    client.TimerTick();
    fakeTick = 200;
    client.TimerTick();
    QCOMPARE(client.Elapsed.back(), uint32_t((4294967295u - 4294967000u) + 200));

    client.SetTimerInterval(0);
    QVERIFY(!client.TimerActive());
    fakeTick = 900;
    client.SetTimerInterval(20);
    QVERIFY(client.TimerActive());
    fakeTick = 950;
    client.TimerTick();
    QCOMPARE(client.Elapsed.back(), uint32_t(50));
}

void tst_sockcontrol::timerRunsTicks() {
    TickCounter client;
    client.SetTimerInterval(20);
    QTRY_VERIFY(client.Elapsed.size() >= 3);
    client.SetTimerInterval(0);
    const size_t ticks = client.Elapsed.size();
    QTest::qWait(100);
    QCOMPARE(client.Elapsed.size(), ticks);
}

void tst_sockcontrol::exceptionInTickStopsTimer() {
    TickCounter client;
    client.Throw = true;
    client.SetTimerInterval(10);
    QTRY_COMPARE(FReported.Texts().size(), size_t(1));
    QCOMPARE(FReported.Texts()[0], std::string("tick failed"));
    QCOMPARE(client.TimerInterval(), uint32_t(0));
    QVERIFY(!client.TimerActive());
    QTest::qWait(50);
    QCOMPARE(client.Elapsed.size(), size_t(1));
}

void tst_sockcontrol::exceptionInHandlerReachesReporter() {
    ScriptedPeer peer;
    peer.Send("boom\r\nafter\r\n");
    peer.Start();
    TestClient client;
    client.OnStatus = [](TIpSockControl*, int, TIpStatusType type, const TIpConnRec&,
                         const TIpSockStatRec&) {
        if (type == TIpStatusType::stConnect)
            throw EIpBaseException("handler failed");
    };
    client.Connect(peer.Address());
    QTRY_COMPARE(FReported.Texts().size(), size_t(1));
    QCOMPARE(FReported.Texts()[0], std::string("handler failed"));
    // The loop goes on: the lines still arrive.
    QTRY_COMPARE(client.Lines.size(), size_t(2));
}

void tst_sockcontrol::postedLinesArriveLater() {
    // The component's own DeliverLine defers each line to the event loop, in order.
    class Deferring : public TestClient {
    public:
        void DeliverLine(int handle, const std::string& text) override {
            TIpSockControl::DeliverLine(handle, text);
        }
    } client;
    std::vector<std::string> received;
    client.OnLineReceived = [&](TIpSockControl*, int, const std::string& line) {
        received.push_back(line);
    };
    client.CreateSocket();
    client.TIpSockControl::DeliverLine(client.Handle(), "one");
    client.TIpSockControl::DeliverLine(client.Handle(), std::string("t\0o", 3));
    QVERIFY(received.empty());
    QTRY_COMPARE(received.size(), size_t(2));
    QCOMPARE(received[0], std::string("one"));
    QCOMPARE(received[1], std::string("t\0o", 3));
}

void tst_sockcontrol::statusFilterAndEventLog() {
    QTemporaryDir dir;
    ScriptedPeer peer;
    peer.Send("x\r\n").Close();
    TestClient client;
    client.EventLog().SetFileName(dir.filePath("event.log").toStdString());
    client.EventLog().SetEnabled(true);
    client.StatusFilter = {TIpStatusType::stProgress};
    peer.Start();
    client.Connect(peer.Address());
    QTRY_COMPARE(client.Released, 1);
    QVERIFY(client.Statuses.empty());

    std::ifstream file(dir.filePath("event.log").toStdString(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    const QString log = QString::fromStdString(text.str());
    const QStringList lines = log.split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QRegularExpression connect(
        R"(^\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d Connect: Loc: 127\.0\.0\.1:\d+ Rem: 127\.0\.0\.1:)" +
        QString::number(peer.Port()) + "$");
    QVERIFY2(connect.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    QVERIFY2(lines[1].contains(" Close:   Loc: 127.0.0.1:"), qPrintable(lines[1]));
}

void tst_sockcontrol::unknownHandles() {
    TestClient client;
    client.CreateSocket();
    const int other = client.Handle() + 100;
    TIpWindowMessage close(TIpWm::Socket, other,
                           TIpWindowMessage::MakeSelectReply(TIpFd::Close, 0));
    QVERIFY(client.WindowProcedure(close));
    QVERIFY(client.Socket != nullptr);
    QCOMPARE(client.Released, 0);
    try {
        client.PutString(other, "x", false);
        QFAIL("no exception");
    } catch (const EIpNoSocketError& error) {
        QCOMPARE(error.what(), "Socket not assigned");
    }
    TIpWindowMessage query(TIpWm::QueryEndSession);
    QVERIFY(client.WindowProcedure(query));
    QCOMPARE(query.Result, intptr_t(1));
    TIpWindowMessage unknown(TIpWm::User + 5);
    QVERIFY(!client.WindowProcedure(unknown));
}

void tst_sockcontrol::protocolRefusedWhileActive() {
    TestClient client;
    client.SetProtocol(TIpProtocol::ptUDP);
    QCOMPARE(client.ProtocolName(), std::string("udp"));
    QCOMPARE(client.SocketType(), 2);
    client.SetProtocol(TIpProtocol::ptTCP);
    client.CreateSocket();
    try {
        client.SetProtocol(TIpProtocol::ptUDP);
        QFAIL("no exception");
    } catch (const EIpActiveError& error) {
        QCOMPARE(error.what(), "Cannot set property on an active socket");
    }
    QCOMPARE(client.ProtocolName(), std::string("tcp"));
}

void tst_sockcontrol::lookupReplies() {
    class Looking : public TestClient {
    public:
        using TIpSockControl::AddPendingLookup;
        using TIpSockControl::PendingLookups;
    } client;
    std::vector<std::string> replies;
    client.OnNameReply = [&](TIpSockControl*, uint32_t task, const std::string& name) {
        replies.push_back(std::to_string(task) + " " + name);
    };
    client.OnErrorReply = [&](TIpSockControl*, uint32_t task, int32_t, const std::string& text) {
        replies.push_back(std::to_string(task) + " " + text);
    };
    client.AddPendingLookup({7, 1, 0, "news.example", 0});
    client.AddPendingLookup({8, 0, 0, "", 0});
    client.PostMessage(TIpWm::LookupReply, 9, 0);
    client.PostMessage(TIpWm::LookupReply, 7, 0);
    client.PostMessage(TIpWm::LookupReply, 8, TIpWindowMessage::MakeSelectReply(0, 11001));
    QTRY_COMPARE(replies.size(), size_t(2));
    QCOMPARE(replies[0], std::string("7 news.example"));
    QCOMPARE(replies[1], std::string("8 WinSock Error (11001): Host not found, on API "
                                     "'WsaAsyncGetHostByName'"));
    QCOMPARE(client.PendingLookups(), size_t(0));
}

QTEST_GUILESS_MAIN(tst_sockcontrol)
#include "tst_sockcontrol.moc"
