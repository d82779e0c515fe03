#include "TestClient.h"
#include "net/TIpHostPort.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"
#include "support/SocksProxyServer.h"

#include <QTest>

#include <arpa/inet.h>

// A client whose socket tunnels through a SOCKS proxy.
class ProxyClient : public TestClient {
public:
    void CreateSocket() override {
        Socket = std::make_unique<TIpDataSocket>(*this, &Proxy, &Settings(), BindAddress());
    }
    // Starts a connect to 127.0.0.1:`port`, to `host` when it is an address, or to `host`
    // unresolved (address 0.0.0.0).
    void ConnectThrough(uint16_t port, const std::string& host = {}) {
        CreateSocket();
        const std::string name = host.empty() ? "127.0.0.1" : host;
        TIpSockAddr destination;
        TIpSockAddr::FromText(name, destination);
        destination.SetPort(port);
        Socket->ConnectTo(destination, TIpHostPort::Join(name, port));
    }
    bool Contains(const std::string& event) const {
        return std::find(Events.begin(), Events.end(), event) != Events.end();
    }

    TIpSocksServerInfo Proxy;
};

static std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int value : values)
        out += static_cast<char>(value);
    return out;
}

static std::string PortBytes(uint16_t port) {
    return Bytes({port >> 8, port & 0xFF});
}

class tst_socks : public QObject {
    Q_OBJECT

private slots:
    void init();
    void linesBothWaysThroughRealProxy_data();
    void linesBothWaysThroughRealProxy();
    void refusalsAreReportedAsErrors_data();
    void refusalsAreReportedAsErrors();
    void repliesSplitOverChunks_data();
    void repliesSplitOverChunks();

private:
    ReportedErrors FReported;
};

void tst_socks::init() {
    FReported.Collect();
}

void tst_socks::linesBothWaysThroughRealProxy_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("ipv6");
    QTest::newRow("SOCKS4 through danted") << "danted" << int(TIpSocksVersion::svSocks4) << "me"
                                           << "" << false;
    QTest::newRow("SOCKS5 without log-on through danted")
        << "danted" << int(TIpSocksVersion::svSocks5) << ""
        << "" << false;
    QTest::newRow("SOCKS5 with user name and password through microsocks")
        << "microsocks" << int(TIpSocksVersion::svSocks5) << "poster"
        << "s3cret" << false;
    QTest::newRow("SOCKS5 to an IPv6 destination through microsocks")
        << "microsocks" << int(TIpSocksVersion::svSocks5) << "poster"
        << "s3cret" << true;
}

void tst_socks::linesBothWaysThroughRealProxy() {
    QFETCH(QString, server);
    QFETCH(int, version);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, ipv6);
    SocksProxyServer proxy;
    const bool started = server == "danted" ? proxy.StartDante(ScriptedPeer::UnusedPort())
                                            : proxy.StartMicrosocks("poster", "s3cret");
    QVERIFY2(started, proxy.Error().c_str());

    ScriptedPeer peer(ipv6);
    peer.Send("200 ready\r\n").WaitFor("HELLO\r\n").Send("250 hello yourself\r\n");
    peer.Start();
    ProxyClient client;
    client.Proxy.Address = "127.0.0.1";
    client.Proxy.Port = proxy.Port();
    client.Proxy.SocksVersion = TIpSocksVersion(version);
    client.Proxy.UserCode = user.toStdString();
    client.Proxy.Password = password.toStdString();
    client.Settings().StripLineTerminator = true;
    client.ConnectThrough(peer.Port(), ipv6 ? "::1" : "");
    // Queued before the tunnel exists: it must reach the destination, not the proxy.
    client.PutString(client.Handle(), "EARLY\r\n", false);

    QTRY_VERIFY_WITH_TIMEOUT(client.Contains("line 200 ready"), 10000);
    QCOMPARE(client.Events.front(), std::string("connect"));
    QCOMPARE(client.Socket->ProxyState(), uint8_t(5));
    // The peer the status names is the destination, not the proxy's own outgoing connection.
    const TIpConnRec connection = client.Statuses.front().Connection;
    const uint16_t remotePort = connection.RemotePort; // packed fields are compared by value
    QCOMPARE(remotePort, peer.Port());
    QCOMPARE(client.Socket->RemoteAddress().AddressText(), ipv6 ? "::1" : "127.0.0.1");

    client.PutString(client.Handle(), "HELLO\r\n", false);
    QTRY_VERIFY(client.Contains("line 250 hello yourself"));
    QCOMPARE(peer.ReceivedOn(0), std::string("EARLY\r\nHELLO\r\n"));
    const TIpSockStatRec stats = client.Socket->GetStatistics();
    QCOMPARE(stats.DataReceived, uint32_t(11 + 20));
    QCOMPARE(stats.DataSent, uint32_t(7 + 7));
    QVERIFY(stats.RawReceived > stats.DataReceived); // the proxy's replies are not data
    QVERIFY(stats.RawSent > stats.DataSent);
    QVERIFY(client.ErrorCodes.empty());
    QVERIFY(FReported.Texts().empty());
}

void tst_socks::refusalsAreReportedAsErrors_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("code");
    QTest::newRow("wrong password")
        << "microsocks" << int(TIpSocksVersion::svSocks5) << "wrong" << 2;
    QTest::newRow("SOCKS4 destination blocked")
        << "danted" << int(TIpSocksVersion::svSocks4) << "" << 91;
    QTest::newRow("SOCKS5 destination blocked")
        << "danted" << int(TIpSocksVersion::svSocks5) << "" << 2;
}

void tst_socks::refusalsAreReportedAsErrors() {
    QFETCH(QString, server);
    QFETCH(int, version);
    QFETCH(QString, password);
    QFETCH(int, code);
    ScriptedPeer peer; // blocked by danted's rules; microsocks is refused the log-on first
    peer.Send("200 ready\r\n");
    peer.Start();
    SocksProxyServer proxy;
    const bool started = server == "danted" ? proxy.StartDante(peer.Port())
                                            : proxy.StartMicrosocks("poster", "s3cret");
    QVERIFY2(started, proxy.Error().c_str());

    ProxyClient client;
    client.Proxy.Address = "127.0.0.1";
    client.Proxy.Port = proxy.Port();
    client.Proxy.SocksVersion = TIpSocksVersion(version);
    client.Proxy.UserCode = "poster";
    client.Proxy.Password = password.toStdString();
    client.ConnectThrough(peer.Port());
    QTRY_VERIFY_WITH_TIMEOUT(!client.ErrorCodes.empty(), 10000);
    QCOMPARE(client.ErrorCodes.front(), code);
    QCOMPARE(client.ErrorTexts.front(), "SOCKS request refused - " + std::to_string(code));
    QTest::qWait(100);
    QVERIFY(!client.Contains("connect"));
    QVERIFY(client.Lines.empty());
    QCOMPARE(peer.Connections(), size_t(0));
    QVERIFY(FReported.Texts().empty());
}

// Steps of a scripted proxy: wait for these request bytes, or send this reply chunk.
static QByteArray Wait(const std::string& bytes) {
    return "W" + QByteArray::fromStdString(bytes);
}
static QByteArray Reply(const std::string& bytes) {
    return "S" + QByteArray::fromStdString(bytes);
}

void tst_socks::repliesSplitOverChunks_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArrayList>("script");
    const uint16_t dest = 2119;
    const std::string loopback = Bytes({127, 0, 0, 1});
    const std::string data = "first line\r\n";
    const std::string granted4 = Bytes({0, 90, 0, 0, 0, 0, 0, 0});

    const std::string socks4 = Bytes({4, 1}) + PortBytes(dest) + loopback + "me" + Bytes({0});
    QTest::newRow("SOCKS4 reply cut after four bytes, data behind it")
        << int(TIpSocksVersion::svSocks4) << ""
        << QByteArrayList{Wait(socks4), Reply(granted4.substr(0, 4)),
                          Reply(granted4.substr(4) + data)};
    QTest::newRow("SOCKS4a with an address is plain SOCKS4")
        << int(TIpSocksVersion::svSocks4a) << ""
        << QByteArrayList{Wait(socks4), Reply(granted4 + data)};
    const std::string socks4a = Bytes({4, 1}) + PortBytes(dest) + Bytes({0, 0, 0, 1}) + "me" +
                                Bytes({0}) + "news.invalid" + Bytes({0});
    QTest::newRow("SOCKS4a passes an unresolved name to the proxy")
        << int(TIpSocksVersion::svSocks4a) << "news.invalid"
        << QByteArrayList{Wait(socks4a), Reply(granted4 + data)};

    const std::string greeting = Bytes({5, 2, 0, 2});
    const std::string credentials = Bytes({1, 2}) + "me" + Bytes({2}) + "pw";
    const std::string connect = Bytes({5, 1, 0, 1}) + loopback + PortBytes(dest);
    QTest::newRow("SOCKS5 log-on, every reply split, domain-form bound address")
        << int(TIpSocksVersion::svSocks5) << ""
        << QByteArrayList{Wait(greeting),
                          Reply(Bytes({5})),
                          Reply(Bytes({2})),
                          Wait(credentials),
                          Reply(Bytes({1})),
                          Reply(Bytes({0})),
                          Wait(connect),
                          Reply(Bytes({5, 0, 0, 3, 5})),
                          Reply("proxy" + Bytes({4, 56}) + data)};
    QTest::newRow("SOCKS5 with an IPv6 destination and bound address")
        << int(TIpSocksVersion::svSocks5) << "::1"
        << QByteArrayList{
               Wait(greeting), Reply(Bytes({5, 0})),
               Wait(Bytes({5, 1, 0, 4}) + std::string(15, '\0') + Bytes({1}) + PortBytes(dest)),
               Reply(Bytes({5, 0, 0, 4}) + std::string(15, '\0') + Bytes({1, 4, 56}) + data)};
    QTest::newRow("SOCKS5 without log-on, reply and data in one chunk")
        << int(TIpSocksVersion::svSocks5) << ""
        << QByteArrayList{Wait(greeting), Reply(Bytes({5, 0})), Wait(connect),
                          Reply(Bytes({5, 0, 0, 1}) + loopback + Bytes({4, 56}) + data)};
}

// A scripted peer plays the proxy: it waits for each request byte for byte and cuts its replies
// where the rows say, then carries on as the destination.
void tst_socks::repliesSplitOverChunks() {
    QFETCH(int, version);
    QFETCH(QString, host);
    QFETCH(QByteArrayList, script);
    ScriptedPeer proxy;
    QByteArray requests;
    for (const QByteArray& step : script) {
        const std::string bytes = step.mid(1).toStdString();
        if (step.startsWith('W')) {
            proxy.WaitFor(bytes);
            requests += step.mid(1);
        } else {
            proxy.Send(bytes).Pause(40);
        }
    }
    proxy.WaitFor("BYE\r\n");
    proxy.Start();

    ProxyClient client;
    client.Proxy.Address = "127.0.0.1";
    client.Proxy.Port = proxy.Port();
    client.Proxy.SocksVersion = TIpSocksVersion(version);
    client.Proxy.UserCode = "me";
    client.Proxy.Password = "pw";
    client.Settings().StripLineTerminator = true;
    client.ConnectThrough(2119, host.toStdString());

    QTRY_VERIFY(client.Contains("line first line"));
    QCOMPARE(client.Events, (std::vector<std::string>{"connect", "line first line"}));
    QCOMPARE(client.Socket->ProxyState(), uint8_t(5));
    QCOMPARE(client.Socket->GetStatistics().DataReceived, uint32_t(12));
    client.PutString(client.Handle(), "BYE\r\n", false);
    QTRY_VERIFY(proxy.Finished());
    QVERIFY2(proxy.Ok(), proxy.Error().c_str());
    QCOMPARE(QByteArray::fromStdString(proxy.ReceivedOn(0)), requests + "BYE\r\n");
    QVERIFY(client.ItemsSent.empty()); // the proxy's requests are not the owner's items
    QVERIFY(FReported.Texts().empty());
}

QTEST_GUILESS_MAIN(tst_socks)
#include "tst_socks.moc"
