#include "TestClient.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedPeer.h"

#include "net/TIpExceptionReporter.h"
#include "net/TIpWinSockAccess.h"

#include <QCoreApplication>
#include <QTest>

#include <sstream>

using Lines = std::vector<std::string>;

// Connects `client` to `peer` and waits for the connect to complete.
static bool ConnectTo(TestClient& client, ScriptedPeer& peer) {
    peer.Start();
    client.Connect(peer.Address());
    return QTest::qWaitFor([&] { return client.Connected(); }, 5000);
}

class tst_datasocket : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cutsLinesAcrossChunks_data();
    void cutsLinesAcrossChunks();
    void otherUnitKinds_data();
    void otherUnitKinds();
    void streamMode();
    void unitFillingTheBufferIsDelivered();
    void finalUnterminatedLineOnClose();
    void unitOutlivesNestedDelivery();
    void statusEventsInOrder();
    void queuedBeforeConnectGoOutInOrder();
    void slowReaderBlocksWritesPartway();
    void closeAfterItemEndsConnection();
    void refusedConnection();
    void triesAddressByAddress_data();
    void triesAddressByAddress();
    void resetIsReportedAndEndsConnection();
    void idleTimeout();
    void bufferSizeRule();

private:
    std::vector<std::string> FReported;
};

void tst_datasocket::init() {
    FReported.clear();
    SetIpExceptionReporter([this](const std::exception& e) { FReported.push_back(e.what()); });
}

void tst_datasocket::cutsLinesAcrossChunks_data() {
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<bool>("strip");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("two lines in one chunk") << QStringList{"200 ready\r\n211 group\r\n"} << true
                                            << QStringList{"200 ready", "211 group"};
    QTest::newRow("line split across chunks")
        << QStringList{"200 rea", "dy\r\n"} << true << QStringList{"200 ready"};
    QTest::newRow("CR at chunk end waits for LF")
        << QStringList{"200 ready\r", "\n21"} << true << QStringList{"200 ready"};
    QTest::newRow("bare LF stays inside the line")
        << QStringList{"a\nb\r\n"} << true << QStringList{"a\nb"};
    QTest::newRow("strip off keeps CR LF")
        << QStringList{"200 ready\r\n", "x\r\n"} << false << QStringList{"200 ready\r\n", "x\r\n"};
    QTest::newRow("empty line") << QStringList{"\r\n.\r\n"} << true << QStringList{"", "."};
    // Lines of varying length over several fillings of the receive buffer, so its unfinished
    // last line moves to the start again and again.
    QStringList many;
    QString text;
    for (int i = 0; i < 900; ++i) {
        many << QStringLiteral("%1 ").arg(i) + QString(i % 53, QLatin1Char('x'));
        text += many.back() + QStringLiteral("\r\n");
    }
    QTest::newRow("lines over several buffer fillings") << QStringList{text} << true << many;
}

void tst_datasocket::cutsLinesAcrossChunks() {
    QFETCH(QStringList, chunks);
    QFETCH(bool, strip);
    QFETCH(QStringList, lines);
    ScriptedPeer peer;
    std::vector<std::string> parts;
    for (const QString& chunk : chunks)
        parts.push_back(chunk.toStdString());
    peer.SendChunks(parts, 50);
    TestClient client;
    client.Settings().StripLineTerminator = strip;
    QVERIFY(ConnectTo(client, peer));
    QTRY_VERIFY(peer.Finished());
    QTRY_COMPARE(client.Lines.size(), size_t(lines.size()));
    QTest::qWait(50);
    QStringList got;
    for (const std::string& line : client.Lines)
        got << QString::fromStdString(line);
    QCOMPARE(got, lines);
    QVERIFY(FReported.empty());
}

void tst_datasocket::otherUnitKinds_data() {
    QTest::addColumn<int>("terminator");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("units");
    const int none = int(TIpLineTerminator::ltNone);
    const int line = int(TIpReceiveMode::rmLine);
    QTest::newRow("LF") << int(TIpLineTerminator::ltLF) << line << "a\nb\r\nc"
                        << QStringList{"a\n", "b\r\n"};
    QTest::newRow("CR") << int(TIpLineTerminator::ltCR) << line << "a\rb\n\r"
                        << QStringList{"a\r", "b\n\r"};
    QTest::newRow("other char") << int(TIpLineTerminator::ltOther) << line << "one;two;thr"
                                << QStringList{"one;", "two;"};
    QTest::newRow("fixed records of 4")
        << none << line << "abcdefghij" << QStringList{"abcd", "efgh"};
}

void tst_datasocket::otherUnitKinds() {
    QFETCH(int, terminator);
    QFETCH(int, mode);
    QFETCH(QString, input);
    QFETCH(QStringList, units);
    ScriptedPeer peer;
    peer.Send(input.toStdString());
    TestClient client;
    client.Settings().LineTerminator = TIpLineTerminator(terminator);
    client.Settings().ReceiveMode = TIpReceiveMode(mode);
    client.Settings().LineTermChar = ';';
    client.Settings().FixedLineLength = 4;
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(client.Lines.size(), size_t(units.size()));
    QTest::qWait(50);
    QStringList got;
    for (const std::string& unit : client.Lines)
        got << QString::fromStdString(unit);
    QCOMPARE(got, units);
}

void tst_datasocket::streamMode() {
    ScriptedPeer peer;
    peer.Send("raw\r\nbytes");
    TestClient client;
    client.Settings().ReceiveMode = TIpReceiveMode::rmStream;
    client.CreateSocket();
    std::ostringstream sink;
    client.Socket->Stream = &sink;
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(sink.str(), std::string("raw\r\nbytes"));
    QVERIFY(client.Lines.empty());

    // Without a stream the mode is misuse, reported rather than lost in the event loop.
    ScriptedPeer peer2;
    peer2.Send("x");
    TestClient client2;
    client2.Settings().ReceiveMode = TIpReceiveMode::rmStream;
    QVERIFY(ConnectTo(client2, peer2));
    QTRY_VERIFY(!FReported.empty());
    QCOMPARE(FReported.front(), std::string("Stream not assigned"));
}

void tst_datasocket::unitFillingTheBufferIsDelivered() {
    // 8192 bytes with no terminator, then a short line: reading must not stall.
    ScriptedPeer peer;
    peer.Send(std::string(8192, 'x') + "tail\r\n");
    TestClient client;
    client.Settings().StripLineTerminator = true;
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(client.Lines.size(), size_t(2));
    QCOMPARE(client.Lines[0], std::string(8192, 'x'));
    QCOMPARE(client.Lines[1], std::string("tail"));
}

void tst_datasocket::finalUnterminatedLineOnClose() {
    ScriptedPeer peer;
    peer.Send("205 bye\r\nno end").Close();
    TestClient client;
    client.Settings().StripLineTerminator = true;
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(client.Released, 1);
    QCOMPARE(client.Lines, (Lines{"205 bye", "no end"}));
    QCOMPARE(client.Events.back(), std::string("disconnect"));
    QCOMPARE(client.Statuses.back().Statistics.DataReceived2, uint32_t(15));
    QVERIFY(client.ErrorCodes.empty());
}

// A handler that waits in an event loop of its own meets the next units there; the unit it is
// handling must not be overwritten by them.
void tst_datasocket::unitOutlivesNestedDelivery() {
    struct TNestingClient : TestClient {
        void DeliverLine(int handle, const std::string& text) override {
            TestClient::DeliverLine(handle, text);
            if (text != "first")
                return;
            PutString(handle, "GO\r\n", false);
            if (!QTest::qWaitFor([this] { return Lines.size() == 3; }, 5000))
                Lines.push_back("no nested units");
            Lines.push_back("after: " + text);
        }
    };
    ScriptedPeer peer;
    peer.Send("first\r\n").WaitFor("GO\r\n").Send("second\r\nthird\r\n");
    TNestingClient client;
    client.Settings().StripLineTerminator = true;
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(client.Lines, (Lines{"first", "second", "third", "after: first"}));
}

void tst_datasocket::statusEventsInOrder() {
    ScriptedPeer peer;
    peer.Send("200 hello\r\n").WaitFor("QUIT\r\n").Send("205 bye\r\n").Close();
    TestClient client;
    client.Settings().StripLineTerminator = true;
    client.SetTimerInterval(40);
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(client.Lines.size(), size_t(1));
    // Progress comes from the timer, once, after the traffic.
    QTRY_COMPARE(client.Events.size(), size_t(3));
    client.PutString(client.Handle(), "QUIT\r\n", false);
    QTRY_COMPARE(client.Released, 1);
    QCOMPARE(client.Events,
             (Lines{"connect", "line 200 hello", "progress", "line 205 bye", "disconnect"}));

    const TestClient::Status& connect = client.Statuses.front();
    QCOMPARE(uint16_t{connect.Connection.RemotePort}, peer.Port());
    QCOMPARE(uint32_t{connect.Connection.RemoteAddress}, htonl(INADDR_LOOPBACK));
    QVERIFY(connect.Connection.LocalPort != 0);
    QCOMPARE(connect.Statistics, TIpSockStatRec{});

    const TIpSockStatRec& progress = client.Statuses[1].Statistics;
    QCOMPARE(progress.DataReceived, uint32_t(11));
    QCOMPARE(progress.DataReceived2, uint32_t(11));
    QCOMPARE(progress.RawReceived, uint32_t(11));
    QCOMPARE(progress.DataSent, uint32_t(0));

    const TIpSockStatRec& last = client.Statuses.back().Statistics;
    QCOMPARE(last.DataReceived2, uint32_t(20));
    QCOMPARE(last.DataSent, uint32_t(6));
    QCOMPARE(last.RawSent2, uint32_t(6));
    QCOMPARE(QString::fromStdString(peer.Received()), QString("QUIT\r\n"));
}

void tst_datasocket::queuedBeforeConnectGoOutInOrder() {
    ScriptedPeer peer;
    peer.WaitFor("THREE\r\n");
    TestClient client;
    peer.Start();
    const int handle = client.Connect(peer.Address());
    // Nothing may be written before the connection completes: the items wait with numbers.
    QCOMPARE(client.Socket->QueueSend("ONE\r\n", 5, nullptr, false, false, false), uint32_t(1));
    QCOMPARE(client.Socket->QueueSend("TWO\r\n", 5, nullptr, false, false, false), uint32_t(2));
    client.PutString(handle, "THREE\r\n", false);
    QCOMPARE(client.Socket->QueuedItems(), uint32_t(3));
    QTRY_VERIFY(peer.Finished());
    QVERIFY(peer.Ok());
    QCOMPARE(peer.Received(), std::string("ONE\r\nTWO\r\nTHREE\r\n"));
    QTRY_COMPARE(client.ItemsSent.size(), size_t(3));
    QCOMPARE(client.ItemsSent[0], (std::pair<uint32_t, uint32_t>{1, 2}));
    QCOMPARE(client.ItemsSent[2], (std::pair<uint32_t, uint32_t>{3, 0}));

    // Once writable, an item goes out within the call that queues it.
    QCOMPARE(client.Socket->QueueSend("NOW\r\n", 5, nullptr, false, false, false), uint32_t(0));
    QVERIFY(peer.WaitReceived("NOW\r\n"));
}

void tst_datasocket::slowReaderBlocksWritesPartway() {
    const std::string big(4 * 1024 * 1024, 'b');
    ScriptedPeer peer;
    // Reads nothing at first, then a little at a time, so writes keep blocking part-way.
    peer.ReadSlowly(0, 10).Pause(300).ReadSlowly(256 * 1024, 2).WaitForBytes(big.size() + 4);
    TestClient client;
    QVERIFY(ConnectTo(client, peer));
    QTRY_VERIFY(client.Socket->CanWrite());
    const uint32_t item =
        client.Socket->QueueSend(big.data(), uint32_t(big.size()), nullptr, false, false, false);
    QCOMPARE(item, uint32_t(1));
    QVERIFY(!client.Socket->CanWrite());
    QCOMPARE(client.Socket->QueueSend("end\n", 4, nullptr, false, false, false), uint32_t(2));
    QCOMPARE(client.Socket->GetStatistics(), TIpSockStatRec{});

    // The counters move only when a whole item has been written.
    std::vector<uint32_t> seen;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            seen.push_back(client.Socket->GetStatistics().DataSent);
            return client.ItemsSent.size() == 2;
        }(),
        20000);
    for (uint32_t value : seen)
        QVERIFY(value == 0 || value == big.size() || value == big.size() + 4);
    QCOMPARE(client.ItemsSent[0], (std::pair<uint32_t, uint32_t>{1, 1}));
    QCOMPARE(client.Socket->GetStatistics().DataSent, uint32_t(big.size() + 4));
    QCOMPARE(client.Socket->GetStatistics().RawSent2, uint32_t(big.size() + 4));
    QTRY_VERIFY(peer.Finished());
    QVERIFY(peer.Ok());
    QCOMPARE(peer.ReceivedBytes(), uint64_t(big.size() + 4));
    QVERIFY(peer.Received().ends_with("bbend\n"));
}

void tst_datasocket::closeAfterItemEndsConnection() {
    ScriptedPeer peer;
    peer.Send("hello\r\n");
    TestClient client;
    QVERIFY(ConnectTo(client, peer));
    QTRY_VERIFY(client.Socket->CanWrite());
    client.PutString(client.Handle(), "BYE\r\n", true);
    QVERIFY(!client.Connected());
    // The release is deferred to the event loop.
    QCOMPARE(client.Released, 0);
    QTRY_COMPARE(client.Released, 1);
    QTRY_VERIFY(peer.ClientClosed());
    QCOMPARE(peer.Received(), std::string("BYE\r\n"));
    QCOMPARE(client.Events.back(), std::string("disconnect"));
}

void tst_datasocket::refusedConnection() {
    TestClient client;
    client.Connect("127.0.0.1:" + std::to_string(ScriptedPeer::UnusedPort()));
    QTRY_COMPARE(client.ErrorCodes.size(), size_t(1));
    QCOMPARE(client.ErrorCodes[0], 10061);
    QCOMPARE(client.ErrorTexts[0],
             std::string("WinSock Error (10061): Connection refused, on API 'Fd_Connect'"));
    QTest::qWait(100);
    QVERIFY(client.Statuses.empty());
    QVERIFY(!client.Connected());
    // The failed socket stays with the client until it tries again.
    QVERIFY(client.Socket != nullptr);
    QCOMPARE(client.ErrorCodes.size(), size_t(1));
}

// Rows name the addresses in the order the host has them: "peer" answers, "refused4" and
// "refused6" refuse, "silent" never answers (its only place in the queue of connections waiting
// to be accepted is taken).
void tst_datasocket::triesAddressByAddress_data() {
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<bool>("peerIPv6");
    QTest::newRow("IPv6 alone") << QStringList{"peer"} << true;
    QTest::newRow("IPv6 refused, IPv4 answers") << QStringList{"refused6", "peer"} << false;
    QTest::newRow("IPv4 refused, IPv6 answers") << QStringList{"refused4", "peer"} << true;
    QTest::newRow("silent address gives way within its share of the timeout")
        << QStringList{"silent", "refused6", "peer"} << false;
}

void tst_datasocket::triesAddressByAddress() {
    QFETCH(QStringList, addresses);
    QFETCH(bool, peerIPv6);
    ScriptedPeer peer(peerIPv6);
    peer.Send("200 here\r\n");
    peer.Start();
    uint16_t silentPort = 0;
    const int silent = ListenOnLoopback(silentPort);
    ::listen(silent, 0);
    TestClient filler;
    filler.Connect("127.0.0.1:" + std::to_string(silentPort));
    QTRY_VERIFY(filler.Connected());

    std::vector<TIpSockAddr> destinations;
    for (const QString& name : addresses) {
        const std::string text = name == "peer"     ? peer.Address()
                                 : name == "silent" ? "127.0.0.1:" + std::to_string(silentPort)
                                 : name == "refused4"
                                     ? "127.0.0.1:" + std::to_string(ScriptedPeer::UnusedPort())
                                     : "[::1]:" + std::to_string(silentPort);
        destinations.push_back(filler.ResolveAddress(text, 119).front());
    }
    TestClient client;
    client.Settings().StripLineTerminator = true;
    client.Settings().ConnectTimeout = 3000;
    client.SetTimerInterval(100);
    client.CreateSocket();
    const int handle = client.Socket->Handle();
    client.Socket->ConnectTo(destinations, "news.example");
    QTRY_COMPARE_WITH_TIMEOUT(client.Lines, Lines{"200 here"}, 2500);
    QCOMPARE(client.Socket->Handle(), handle);
    QCOMPARE(client.Events.front(), std::string("connect"));
    const TIpConnRec connection = client.Statuses.front().Connection;
    QCOMPARE(bool{connection.IPv6}, peerIPv6);
    QCOMPARE(uint16_t{connection.RemotePort}, peer.Port());
    QCOMPARE(client.Socket->RemoteAddress().AddressText(), peerIPv6 ? "::1" : "127.0.0.1");
    QVERIFY(client.ErrorCodes.empty());
    ::close(silent);
}

void tst_datasocket::resetIsReportedAndEndsConnection() {
    ScriptedPeer peer;
    peer.Send("partial\r\n").Pause(50).Close(true);
    TestClient client;
    client.Settings().StripLineTerminator = true;
    QVERIFY(ConnectTo(client, peer));
    QTRY_COMPARE(client.Released, 1);
    QCOMPARE(client.Lines, (Lines{"partial"}));
    QCOMPARE(client.ErrorCodes, (std::vector<int32_t>{10054}));
    QCOMPARE(client.ErrorTexts[0],
             std::string("WinSock Error (10054): Connection reset by peer, on API 'Fd_Close'"));
    QCOMPARE(client.Events.back(), std::string("disconnect"));
    QVERIFY(FReported.empty());
}

void tst_datasocket::idleTimeout() {
    ScriptedPeer peer;
    TestClient client;
    client.Settings().IdleTimeout = 100;
    int idle = 0;
    bool reset = false;
    client.OnIdleTimeout = [&](TIpSockControl*, int, bool& r) {
        ++idle;
        r = reset;
    };
    QVERIFY(ConnectTo(client, peer));
    client.Socket->HandleTick(60);
    QCOMPARE(idle, 0);
    client.Socket->HandleTick(60);
    QCOMPARE(idle, 1);
    client.Socket->HandleTick(1);
    QCOMPARE(idle, 2); // not reset: repeats every tick
    reset = true;
    client.Socket->HandleTick(1);
    QCOMPARE(idle, 3);
    client.Socket->HandleTick(99);
    QCOMPARE(idle, 3);

    client.Socket->IdleTimeout = 0;
    client.Socket->HandleTick(100000);
    QCOMPARE(idle, 3);
}

void tst_datasocket::bufferSizeRule() {
    TestClient plain;
    plain.CreateSocket();
    int systemDefault = 0;
    TestClient small;
    small.Settings().ReceiveBufferSize = 1000;
    small.CreateSocket();
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    const int raw = access.Socket(1);
    QVERIFY(raw >= 0);
    QCOMPARE(access.GetSockOpt(raw, SOL_SOCKET, SO_RCVBUF, systemDefault), 0);
    access.CloseSocket(raw);
    int value = 0;
    QCOMPARE(access.GetSockOpt(small.Socket->Handle(), SOL_SOCKET, SO_RCVBUF, value), 0);
    QCOMPARE(value, systemDefault);
    // 4096 is applied (the system reports it doubled for its own bookkeeping).
    QCOMPARE(access.GetSockOpt(plain.Socket->Handle(), SOL_SOCKET, SO_RCVBUF, value), 0);
    QCOMPARE(value, 8192);
}

QTEST_GUILESS_MAIN(tst_datasocket)
#include "tst_datasocket.moc"
