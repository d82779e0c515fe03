#include "NntpTestText.h"
#include "net/EIpWinSockError.h"
#include "nntp/TIpCustomClient.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"

#include <QCoreApplication>
#include <QObject>
#include <QTest>

// A bare line client: what the base gives a protocol class, with received lines collected.
class LineClient : public TIpCustomEmailClass {
public:
    explicit LineClient(uint16_t defaultPort) {
        SetDefaultPort(defaultPort);
        Settings().StripLineTerminator = true;
    }
    void DeliverLine(int handle, const std::string& text) override {
        if (handle == Handle())
            Lines.push_back(text);
    }
    std::vector<std::string> Lines;
};

// A window that listens for connect and disconnect notifications.
class Listener : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != TIpWindowMessage::EventType())
            return QObject::event(event);
        auto* message = static_cast<TIpWindowMessage*>(event);
        if (message->Msg == TIpCustomClient::ListenerMessage)
            Codes.push_back(message->SelectEvent());
        return true;
    }
    std::vector<int> Codes;
};

class tst_TIpCustomClient : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noSocketBeforeConnect();
    void connectsToDefaultOrGivenPort_data();
    void connectsToDefaultOrGivenPort();
    void secondConnectWhileConnectingReusesSocket();
    void connectWhileConnectedIsRefused();
    void releasedAfterPeerClosesAndConnectsAnew();
    void refusedConnectionIsReportedAndRetryWorks();
    void statusAndListenersSeeConnectAndClose();
    void tickReachesTheSocket();
    void closeSocketEndsTheConnection();

private:
    ReportedErrors FErrors;
};

void tst_TIpCustomClient::init() {
    FErrors.Collect();
}

void tst_TIpCustomClient::cleanup() {
    FErrors.Release();
    QCOMPARE(FErrors.Texts(), std::vector<std::string>());
}

void tst_TIpCustomClient::noSocketBeforeConnect() {
    LineClient client(119);
    QCOMPARE(client.Handle(), -1);
    QVERIFY(!client.Connected());
    QVERIFY(!client.IsActive());
    QVERIFY(client.FindSocket(-1, false) == nullptr);
    try {
        client.FindSocket(3, true);
        QFAIL("FindSocket with raise found a socket that does not exist");
    } catch (const EIpNoSocketError& e) {
        QCOMPARE(std::string(e.what()), std::string("Socket not assigned"));
    }
    QVERIFY_THROWS_EXCEPTION(EIpNoSocketError, client.PutString(-1, "LIST\r\n", false));
    client.Tick(1000); // nothing to pass the tick to
}

void tst_TIpCustomClient::connectsToDefaultOrGivenPort_data() {
    QTest::addColumn<bool>("portInAddress");
    QTest::newRow("host alone: default port") << false;
    QTest::newRow("host:port overrides the default") << true;
}

void tst_TIpCustomClient::connectsToDefaultOrGivenPort() {
    QFETCH(bool, portInAddress);
    ScriptedPeer peer;
    peer.Send("200 hello\r\n");
    peer.Start();
    LineClient client(portInAddress ? ScriptedPeer::UnusedPort() : peer.Port());
    const int handle = client.Connect(portInAddress ? peer.Address() : "127.0.0.1");
    QVERIFY(handle >= 0);
    QCOMPARE(client.Handle(), handle);
    QVERIFY(client.FindSocket(handle, true) != nullptr);
    QVERIFY(client.FindSocket(handle + 1, false) == nullptr);
    QTRY_COMPARE(client.Lines, std::vector<std::string>{"200 hello"});
    QVERIFY(client.Connected());
}

void tst_TIpCustomClient::secondConnectWhileConnectingReusesSocket() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n");
    peer.Start();
    LineClient client(119);
    const int handle = client.Connect(peer.Address());
    // The event loop has not run: the first connect has not completed yet.
    try {
        QCOMPARE(client.Connect(peer.Address()), handle);
    } catch (const EIpWinSockError&) {
        // The socket layer may refuse a second connect on the same socket; that is its answer.
    }
    QCOMPARE(client.Handle(), handle);
    QTRY_COMPARE(client.Lines.size(), size_t(1));
    QCOMPARE(peer.Connections(), size_t(1));
}

void tst_TIpCustomClient::connectWhileConnectedIsRefused() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n").WaitFor("BYE\r\n").Send("205 bye\r\n");
    peer.Start();
    LineClient client(119);
    const int handle = client.Connect(peer.Address());
    QTRY_VERIFY(client.Connected());
    try {
        client.Connect(peer.Address());
        QFAIL("a second Connect on an open connection was accepted");
    } catch (const EIpWinSockError& e) {
        QCOMPARE(std::string(e.what()), std::string("Socket is already connected"));
    }
    QVERIFY(client.Connected());
    QCOMPARE(client.Handle(), handle);
    client.PutString(handle, "BYE\r\n", false);
    QTRY_COMPARE(client.Lines, (std::vector<std::string>{"200 hello", "205 bye"}));
    QCOMPARE(peer.Connections(), size_t(1));
}

void tst_TIpCustomClient::releasedAfterPeerClosesAndConnectsAnew() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n").Close();
    peer.Start();
    LineClient client(119);
    client.Connect(peer.Address());
    QTRY_VERIFY(client.Lines.size() == 1 && !client.IsActive());
    QCOMPARE(client.Handle(), -1);
    QVERIFY(!client.Connected());

    client.Connect(peer.Address());
    QVERIFY(client.IsActive());
    QTRY_COMPARE(client.Lines.size(), size_t(2));
    QCOMPARE(peer.Connections(), size_t(2));
}

void tst_TIpCustomClient::refusedConnectionIsReportedAndRetryWorks() {
    std::vector<std::string> errors;
    LineClient client(119);
    client.OnSocketError = [&](TIpSockControl*, int, int32_t code, const std::string& text) {
        errors.push_back(std::to_string(code) + " " + text);
    };
    const int handle = client.Connect("127.0.0.1:" + std::to_string(ScriptedPeer::UnusedPort()));
    QTRY_COMPARE(errors.size(), size_t(1));
    QCOMPARE(errors[0],
             std::string("10061 WinSock Error (10061): Connection refused, on API 'Fd_Connect'"));
    QVERIFY(!client.Connected());
    QCOMPARE(client.Handle(), handle);

    // The system will not connect a socket whose connect failed: the next attempt gets a new one.
    ScriptedPeer peer;
    peer.Send("200 hello\r\n");
    peer.Start();
    client.Connect(peer.Address());
    QTRY_COMPARE(client.Lines, std::vector<std::string>{"200 hello"});
    QVERIFY(client.Connected());
}

void tst_TIpCustomClient::statusAndListenersSeeConnectAndClose() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n").WaitFor("BYE\r\n").Close();
    peer.Start();
    LineClient client(119);
    std::vector<TIpStatusType> statuses;
    client.OnStatus = [&](TIpSockControl*, int, TIpStatusType type, const TIpConnRec&,
                          const TIpSockStatRec&) {
        if (type != TIpStatusType::stProgress)
            statuses.push_back(type);
    };
    Listener early;
    Listener late;
    client.AddListener(&early);
    const int handle = client.Connect(peer.Address());
    QTRY_VERIFY(client.Connected());
    client.AddListener(&late); // told of the open connection at once
    client.PutString(handle, "BYE\r\n", false);
    QTRY_VERIFY(!client.IsActive());
    QTRY_COMPARE(early.Codes, (std::vector<int>{1, 2}));
    QTRY_COMPARE(late.Codes, (std::vector<int>{1, 2}));
    QCOMPARE(statuses,
             (std::vector<TIpStatusType>{TIpStatusType::stConnect, TIpStatusType::stDisconnect}));
}

void tst_TIpCustomClient::tickReachesTheSocket() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n");
    peer.Start();
    LineClient client(119);
    client.SetTimerInterval(0); // only the ticks below
    client.Settings().IdleTimeout = 100;
    int idle = 0;
    client.OnIdleTimeout = [&](TIpSockControl*, int, bool&) { ++idle; };
    client.Connect(peer.Address());
    QTRY_COMPARE(client.Lines.size(), size_t(1));
    client.Tick(60);
    QCOMPARE(idle, 0);
    client.Tick(60);
    QCOMPARE(idle, 1);
}

void tst_TIpCustomClient::closeSocketEndsTheConnection() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n");
    peer.Start();
    LineClient client(119);
    const int handle = client.Connect(peer.Address());
    QTRY_VERIFY(client.Connected());
    client.CloseSocket(handle + 1); // not ours: nothing
    QVERIFY(client.Connected());
    client.CloseSocket(handle);
    QVERIFY(!client.IsActive());
    QCOMPARE(client.Handle(), -1);
    QTRY_VERIFY(peer.ClientClosed());
}

QTEST_GUILESS_MAIN(tst_TIpCustomClient)
#include "tst_TIpCustomClient.moc"
