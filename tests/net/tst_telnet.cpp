#include "TestClient.h"
#include "net/TIpTelnetLayer.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"

#include <QTest>

#include <algorithm>

// A terminal whose name and size a test sets.
class FakeTerminal : public TIpTerminal {
public:
    std::string EmulationName() const override { return Name; }
    uint16_t WindowWidth() const override { return Width; }
    uint16_t WindowHeight() const override { return Height; }

    std::string Name;
    uint16_t Width = 80;
    uint16_t Height = 24;
};

// Receives the copies of received data that a socket posts to its listeners.
class ChunkListener : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != TIpWindowMessage::EventType())
            return QObject::event(event);
        auto* message = static_cast<TIpWindowMessage*>(event);
        if (message->Msg == TIpDataSocket::ReceivedChunk)
            Received += message->Text;
        return true;
    }
    std::string Received;
};

static QByteArray B(std::initializer_list<int> values) {
    QByteArray out;
    for (int value : values)
        out += static_cast<char>(value);
    return out;
}

enum : int { IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254 };

// The peer sends `chunks` apart from each other and then "mark"; once the client has that line it
// sends "END". Whatever the peer received before "END" is what the Telnet layer answered.
static std::string PlayChunks(TestClient& client, ScriptedPeer& peer,
                              const QByteArrayList& chunks) {
    std::vector<std::string> parts;
    for (const QByteArray& chunk : chunks)
        parts.push_back(chunk.toStdString());
    parts.push_back("mark\r\n");
    peer.SendChunks(parts, 40).WaitFor("END\r\n");
    peer.Start();
    client.Connect(peer.Address());
    if (!QTest::qWaitFor([&] { return !client.Lines.empty() && client.Lines.back() == "mark\r\n"; },
                         5000))
        return "(no mark line)";
    client.PutString(client.Handle(), "END\r\n", false);
    if (!QTest::qWaitFor([&] { return peer.Finished(); }, 5000))
        return "(no END)";
    const std::string received = peer.ReceivedOn(0);
    return received.substr(0, received.size() - 5);
}

class tst_telnet : public QObject {
    Q_OBJECT

private slots:
    void init();
    void receivedBytes_data();
    void receivedBytes();
    void doubledIacRoundTrips();
    void wholeOrByteByByteAlike_data();
    void wholeOrByteByByteAlike();
    void commandsAreLogged_data();
    void commandsAreLogged();
    void windowSizeResentAfterResize();
    void listenersGetDataWithoutCommands();

private:
    ReportedErrors FReported;
};

void tst_telnet::init() {
    FReported.Collect();
}

void tst_telnet::receivedBytes_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QString>("terminal"); // "name WxH", or empty for none
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArray>("answers");
    const QByteArrayList markOnly{"mark\r\n"};
    const QByteArray sbStatus = B({IAC, SB, 5, 1, IAC, SE});
    const QByteArray sbTermType = B({IAC, SB, 24, 1, IAC, SE});

    QTest::newRow("WILL echo is accepted")
        << QByteArrayList{B({IAC, WILL, 1})} << "" << markOnly << B({IAC, DO, 1});
    QTest::newRow("WILL echo twice is answered once")
        << QByteArrayList{B({IAC, WILL, 1, IAC, WILL, 1})} << "" << markOnly << B({IAC, DO, 1});
    QTest::newRow("WILL of an option not allowed is refused")
        << QByteArrayList{B({IAC, WILL, 24})} << "" << markOnly << B({IAC, DONT, 24});
    QTest::newRow("WON'T after WILL is confirmed")
        << QByteArrayList{B({IAC, WILL, 1, IAC, WONT, 1})} << "" << markOnly
        << B({IAC, DO, 1, IAC, DONT, 1});
    QTest::newRow("WON'T of an option never enabled gets nothing")
        << QByteArrayList{B({IAC, WONT, 1})} << "" << markOnly << QByteArray();
    QTest::newRow("DO status is accepted once")
        << QByteArrayList{B({IAC, DO, 5, IAC, DO, 5})} << "" << markOnly << B({IAC, WILL, 5});
    QTest::newRow("DO of an option not allowed is refused")
        << QByteArrayList{B({IAC, DO, 1})} << "" << markOnly << B({IAC, WONT, 1});
    QTest::newRow("DON'T after DO is confirmed")
        << QByteArrayList{B({IAC, DO, 5, IAC, DONT, 5})} << "" << markOnly
        << B({IAC, WILL, 5, IAC, WONT, 5});
    QTest::newRow("DON'T of an option never enabled gets nothing")
        << QByteArrayList{B({IAC, DONT, 0})} << "" << markOnly << QByteArray();
    QTest::newRow("other commands are dropped")
        << QByteArrayList{B({'a', IAC, 241, 'b', IAC, 249, '\r', '\n'})} << ""
        << QByteArrayList{"ab\r\n", "mark\r\n"} << QByteArray();
    QTest::newRow("DO window size without a terminal")
        << QByteArrayList{B({IAC, DO, 31})} << "" << markOnly << B({IAC, WILL, 31});
    QTest::newRow("DO window size sends the size before agreeing")
        << QByteArrayList{B({IAC, DO, 31})} << "vt100 80x24" << markOnly
        << B({IAC, SB, 31, 0, 80, 0, 24, IAC, SE, IAC, WILL, 31});
    QTest::newRow("a size byte of 255 goes out doubled")
        << QByteArrayList{B({IAC, DO, 31})} << "vt100 255x511" << markOnly
        << B({IAC, SB, 31, 0, 255, 255, 1, 255, 255, IAC, SE, IAC, WILL, 31});
    QTest::newRow("status lists the options enabled on both sides")
        << QByteArrayList{B({IAC, DO, 5, IAC, WILL, 1, IAC, DO, 24}), sbStatus} << "" << markOnly
        << B({IAC, WILL, 5,    IAC, DO,   1,  IAC, WILL, 24,  IAC, SB,
              5,   0,    WILL, 5,   WILL, 24, DO,  1,    IAC, SE});
    QTest::newRow("status is not answered unless enabled")
        << QByteArrayList{sbStatus} << "" << markOnly << QByteArray();
    QTest::newRow("terminal type without a terminal is dumb")
        << QByteArrayList{B({IAC, DO, 24}), sbTermType} << "" << markOnly
        << B({IAC, WILL, 24}) + B({IAC, SB, 24, 0}) + "dumb" + B({IAC, SE});
    QTest::newRow("terminal type names the emulation")
        << QByteArrayList{B({IAC, DO, 24}), sbTermType} << "vt100 80x24" << markOnly
        << B({IAC, WILL, 24}) + B({IAC, SB, 24, 0}) + "vt100" + B({IAC, SE});

    QTest::newRow("255 255 is one data byte")
        << QByteArrayList{B({'a', IAC, IAC, 'b', '\r', '\n'})} << ""
        << QByteArrayList{B({'a', 255, 'b', '\r', '\n'}), "mark\r\n"} << QByteArray();
    QTest::newRow("255 255 cut between chunks")
        << QByteArrayList{B({'a', IAC}), B({IAC, 'b', '\r', '\n'})} << ""
        << QByteArrayList{B({'a', 255, 'b', '\r', '\n'}), "mark\r\n"} << QByteArray();
    QTest::newRow("command cut at every byte")
        << QByteArrayList{B({'a', 'b', IAC}), B({DO}), B({5, 'c', 'd', '\r', '\n'})} << ""
        << QByteArrayList{"abcd\r\n", "mark\r\n"} << B({IAC, WILL, 5});
    QTest::newRow("subnegotiation cut over four chunks")
        << QByteArrayList{B({'x', IAC, DO, 24, IAC, SB}), B({24}), B({1, IAC}),
                          B({SE, 'y', '\r', '\n'})}
        << "" << QByteArrayList{"xy\r\n", "mark\r\n"}
        << B({IAC, WILL, 24}) + B({IAC, SB, 24, 0}) + "dumb" + B({IAC, SE});
    QTest::newRow("NUL after CR is dropped")
        << QByteArrayList{B({'a', '\r', 0, 'b', 0, '\r', '\n'})} << ""
        << QByteArrayList{B({'a', '\r', 'b', 0, '\r', '\n'}), "mark\r\n"} << QByteArray();
    QTest::newRow("NUL after a CR that ended the chunk is dropped")
        << QByteArrayList{B({'a', '\r'}), B({0, 'b', '\r', '\n'})} << ""
        << QByteArrayList{B({'a', '\r', 'b', '\r', '\n'}), "mark\r\n"} << QByteArray();
    QTest::newRow("NUL after CR is kept in binary")
        << QByteArrayList{B({IAC, WILL, 0}), B({'a', '\r', 0, 'b', '\r', '\n'})} << ""
        << QByteArrayList{B({'a', '\r', 0, 'b', '\r', '\n'}), "mark\r\n"} << B({IAC, DO, 0});
}

void tst_telnet::receivedBytes() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(QString, terminal);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, answers);
    FakeTerminal term;
    TestClient client;
    client.Settings().SocketOptions.Include(TIpSockOptions::soTelnet);
    client.CreateSocket();
    if (!terminal.isEmpty()) {
        const QStringList parts = terminal.split(' ');
        const QStringList size = parts[1].split('x');
        term.Name = parts[0].toStdString();
        term.Width = size[0].toUShort();
        term.Height = size[1].toUShort();
        client.Socket->SetTerminal(&term);
    }
    ScriptedPeer peer;
    const std::string answered = PlayChunks(client, peer, chunks);
    QCOMPARE(QByteArray::fromStdString(answered), answers);
    QByteArrayList got;
    for (const std::string& line : client.Lines)
        got << QByteArray::fromStdString(line);
    QCOMPARE(got, lines);
    QVERIFY(FReported.Texts().empty());
}

// The filter keeps the same bytes and sends the same answers however the input is cut.
void tst_telnet::wholeOrByteByByteAlike_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("kept");
    QTest::newRow("WILL BINARY, then CR NUL")
        << B({IAC, WILL, 0, 'a', '\r', 0, 'b'}) << B({'a', '\r', 0, 'b'});
    QTest::newRow("CR, WILL BINARY, NUL") << B({'\r', IAC, WILL, 0, 0}) << B({'\r', 0});
    QTest::newRow("WILL then WON'T BINARY, then CR NUL")
        << B({IAC, WILL, 0, IAC, WONT, 0, '\r', 0, 'c'}) << B({'\r', 'c'});
    QTest::newRow("CR NUL without binary") << B({'x', '\r', 0, 0}) << B({'x', '\r', 0});
    QTest::newRow("doubled 255 between CR and NUL") << B({'\r', IAC, IAC, 0}) << B({'\r', IAC, 0});
    QTest::newRow("found by fuzzing")
        << B({'\n', '\r', IAC, WILL, 0, 0, IAC, WILL, 0, IAC, 0x2b, 0xf6, 'G'})
        << B({'\n', '\r', 0, 0xf6, 'G'});
    QTest::newRow("subnegotiation with a doubled 255 inside")
        << B({'a', IAC, SB, 24, IAC, IAC, 1, IAC, SE, 'b'}) << B({'a', 'b'});
}

void tst_telnet::wholeOrByteByByteAlike() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, kept);
    const auto run = [&input](bool byteByByte, std::string& answers) {
        TIpTelnetLayer layer([&answers](const std::string& bytes) { answers += bytes; },
                             [](uint8_t, uint8_t, bool) {});
        QByteArray data = input;
        QByteArray out;
        const qsizetype step = byteByByte ? 1 : data.size();
        for (qsizetype at = 0; at < data.size(); at += step) {
            const uint32_t count = layer.Filter(data.data() + at, static_cast<uint32_t>(step));
            out += QByteArray(data.constData() + at, count);
        }
        return out;
    };
    std::string wholeAnswers;
    std::string byteAnswers;
    QCOMPARE(run(false, wholeAnswers), kept);
    QCOMPARE(run(true, byteAnswers), kept);
    QCOMPARE(QByteArray::fromStdString(wholeAnswers), QByteArray::fromStdString(byteAnswers));
}

void tst_telnet::doubledIacRoundTrips() {
    ScriptedPeer peer;
    peer.Send(B({'a', IAC, IAC, '\r', '\n'}).toStdString())
        .WaitFor(B({'a', IAC, IAC, '\r', '\n'}).toStdString());
    TestClient client;
    client.Settings().SocketOptions.Include(TIpSockOptions::soTelnet);
    peer.Start();
    client.Connect(peer.Address());
    QTRY_COMPARE(client.Lines.size(), size_t(1));
    QCOMPARE(client.Lines[0], B({'a', 255, '\r', '\n'}).toStdString());
    client.PutString(client.Handle(), client.Lines[0], false); // echo it back
    QTRY_VERIFY(peer.Finished());
    QVERIFY2(peer.Ok(), peer.Error().c_str());
    QCOMPARE(peer.ReceivedOn(0), B({'a', IAC, IAC, '\r', '\n'}).toStdString());
    const TIpSockStatRec stats = client.Socket->GetStatistics();
    QCOMPARE(stats.DataReceived, uint32_t(4));
    QCOMPARE(stats.RawReceived, uint32_t(5));
    QCOMPARE(stats.DataSent, uint32_t(4));
    QCOMPARE(stats.RawSent, uint32_t(5));
}

void tst_telnet::commandsAreLogged_data() {
    QTest::addColumn<bool>("logTelnet");
    QTest::newRow("loTelnet on") << true;
    QTest::newRow("loTelnet off") << false;
}

void tst_telnet::commandsAreLogged() {
    QFETCH(bool, logTelnet);
    TestClient client;
    client.Settings().SocketOptions.Include(TIpSockOptions::soTelnet);
    client.Settings().LogOptions =
        logTelnet ? TIpLogOptionSet{TIpLogOptions::loTelnet} : TIpLogOptionSet{};
    client.DebugLog().SetEnabled(true);
    client.CreateSocket();
    ScriptedPeer peer;
    PlayChunks(client, peer, {B({IAC, WILL, 1, IAC, DO, 24})});
    const std::string log = client.DebugLog().Text();
    std::string prefix = "[";
    prefix += std::to_string(client.Handle());
    prefix += "] Telnet ";
    std::vector<std::string> telnetLines;
    for (size_t at = log.find(prefix); at != std::string::npos; at = log.find(prefix, at + 1))
        telnetLines.push_back(
            log.substr(at + prefix.size(), log.find('\r', at) - at - prefix.size()));
    const std::vector<std::string> expected =
        logTelnet
            ? std::vector<std::string>{"WILL echo received.", "DO echo sent.",
                                       "DO terminal type received.", "WILL terminal type sent."}
            : std::vector<std::string>{};
    QCOMPARE(telnetLines, expected);
}

void tst_telnet::windowSizeResentAfterResize() {
    const std::string first = B({IAC, SB, 31, 0, 80, 0, 24, IAC, SE, IAC, WILL, 31}).toStdString();
    const std::string second = B({IAC, SB, 31, 0, 120, 0, 50, IAC, SE}).toStdString();
    ScriptedPeer peer;
    peer.Send(B({IAC, DO, 31}).toStdString()).WaitFor(first).WaitFor(second);
    FakeTerminal term;
    TestClient client;
    client.Settings().SocketOptions.Include(TIpSockOptions::soTelnet);
    client.CreateSocket();
    client.Socket->SetTerminal(&term);
    peer.Start();
    client.Connect(peer.Address());
    QTRY_COMPARE(peer.ReceivedOn(0), first);
    term.Width = 120;
    term.Height = 50;
    client.Socket->TerminalResized();
    QTRY_VERIFY(peer.Finished());
    QVERIFY2(peer.Ok(), peer.Error().c_str());
    QCOMPARE(peer.ReceivedOn(0), first + second);
}

void tst_telnet::listenersGetDataWithoutCommands() {
    TestClient client;
    client.Settings().SocketOptions.Include(TIpSockOptions::soTelnet);
    client.CreateSocket();
    ChunkListener listener;
    auto gone = std::make_unique<ChunkListener>();
    client.Socket->AddListener(&listener);
    client.Socket->AddListener(gone.get());
    gone.reset(); // a destroyed listener must simply drop out
    ScriptedPeer peer;
    PlayChunks(client, peer, {B({'h', 'i', IAC, WILL, 1, '\r', '\n'})});
    QTRY_COMPARE(listener.Received, std::string("hi\r\nmark\r\n"));
    QVERIFY(FReported.Texts().empty());
}

QTEST_GUILESS_MAIN(tst_telnet)
#include "tst_telnet.moc"
