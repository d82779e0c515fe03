#include "TestClient.h"
#include "net/EIpWinSockError.h"
#include "net/TIpWinSockAccess.h"

#include <QCoreApplication>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>

class tst_winsockaccess : public QObject {
    Q_OBJECT

private slots:
    void errorTexts_data();
    void errorTexts();
    void messages();
    void errnoMapping_data();
    void errnoMapping();
    void resolveAddress_data();
    void resolveAddress();
    void resolveAddressWithoutHost_data();
    void resolveAddressWithoutHost();
    void badPort();
    void unknownHostIsRaisedNotZero();
};

void tst_winsockaccess::errorTexts_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("first row") << 10004 << "Interrupted function call";
    QTest::newRow("would block") << 10035 << "Resource temporarily unavailable";
    QTest::newRow("bad option") << 10042 << "Bad protocol option";
    QTest::newRow("not connected") << 10057 << "Socket is not connected";
    QTest::newRow("refused") << 10061 << "Connection refused";
    QTest::newRow("stale") << 10070 << "Stale NFS file handle";
    QTest::newRow("no more data 1") << 10102 << "No more data available";
    QTest::newRow("no more data 2") << 10110 << "No more data available";
    QTest::newRow("host not found") << 11001 << "Host not found";
    QTest::newRow("credentials") << 11011
                                 << "Rejected for administrative reasons - bad credentials";
    QTest::newRow("last row") << 11015 << "General error";
}

void tst_winsockaccess::errorTexts() {
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(TIpWinSockAccess::ErrorText(code)), text);
}

void tst_winsockaccess::messages() {
    QCOMPARE(EIpWinSockError(10061, "Connect").what(),
             "WinSock Error (10061): Connection refused, on API 'Connect'");
    QCOMPARE(EIpWinSockError(10061, "Connect").ErrorCode(), 10061);

    // Outside the table the system's own text stands in, inside the same message.
    const std::string system = TIpWinSockAccess::ErrorText(10000);
    QVERIFY(!system.empty());
    QCOMPARE(EIpWinSockError(10000, "Recv").what(),
             "WinSock Error (10000): " + system + ", on API 'Recv'");
    QCOMPARE(QString::fromStdString(TIpWinSockAccess::ErrorText(ENOENT)),
             QString::fromLocal8Bit(std::strerror(ENOENT)));

    const EIpWinSockError textOnly("Destination address required");
    QCOMPARE(textOnly.ErrorCode(), 0);
    QCOMPARE(textOnly.what(), "Destination address required");
}

void tst_winsockaccess::errnoMapping_data() {
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("code");
    QTest::newRow("refused") << ECONNREFUSED << 10061;
    QTest::newRow("timed out") << ETIMEDOUT << 10060;
    QTest::newRow("reset") << ECONNRESET << 10054;
    QTest::newRow("aborted") << ECONNABORTED << 10053;
    QTest::newRow("would block") << EWOULDBLOCK << 10035;
    QTest::newRow("in progress is would block") << EINPROGRESS << 10035;
    QTest::newRow("not connected") << ENOTCONN << 10057;
    QTest::newRow("bad option") << ENOPROTOOPT << 10042;
    QTest::newRow("invalid") << EINVAL << 10022;
    QTest::newRow("unreachable") << ENETUNREACH << 10051;
}

void tst_winsockaccess::errnoMapping() {
    QFETCH(int, err);
    QFETCH(int, code);
    QCOMPARE(TIpWinSockAccess::MapErrno(err), code);
}

void tst_winsockaccess::resolveAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::newRow("dotted quad") << "10.1.2.3"
                                 << "10.1.2.3" << 119;
    QTest::newRow("dotted quad with port") << "10.1.2.3:119"
                                           << "10.1.2.3" << 119;
    QTest::newRow("other port") << "127.0.0.1:8119"
                                << "127.0.0.1" << 8119;
    QTest::newRow("short numeric form") << "127.1"
                                        << "127.0.0.1" << 119;
    QTest::newRow("host name") << "localhost"
                               << "127.0.0.1" << 119;
    QTest::newRow("dotless name with port") << "localhost:8119"
                                            << "127.0.0.1" << 8119;
    QTest::newRow("scheme and slashes") << "nntp://127.0.0.1:563/x"
                                        << "127.0.0.1" << 563;
    QTest::newRow("scheme without slashes") << "news:127.0.0.2"
                                            << "127.0.0.2" << 119;
    QTest::newRow("empty port keeps default") << "127.0.0.1:"
                                              << "127.0.0.1" << 119;
    QTest::newRow("IPv6 in brackets with port") << "[2001:db8::1]:563"
                                                << "2001:db8::1" << 563;
    QTest::newRow("IPv6 in brackets") << "[::1]"
                                      << "::1" << 119;
    QTest::newRow("bare IPv6 has no port") << "2001:db8::119"
                                           << "2001:db8::119" << 119;
    QTest::newRow("scheme and IPv6") << "nntps://[::1]:8563/x"
                                     << "::1" << 8563;
}

void tst_winsockaccess::resolveAddress() {
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(int, port);
    TestClient client;
    const std::vector<TIpSockAddr> resolved = client.ResolveAddress(text.toStdString(), 119);
    QCOMPARE(resolved.size(), size_t(1));
    QCOMPARE(resolved[0].IsV6(), address.contains(':'));
    QCOMPARE(QString::fromStdString(resolved[0].AddressText()), address);
    QCOMPARE(int(resolved[0].Port()), port);
}

void tst_winsockaccess::resolveAddressWithoutHost_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("leading dot") << ".example";
    QTest::newRow("leading slash") << "/news";
    QTest::newRow("scheme and path before the first dot") << "nntp://news/a.b";
    QTest::newRow("scheme only") << "nntp://";
    QTest::newRow("empty brackets") << "[]:563";
}

void tst_winsockaccess::resolveAddressWithoutHost() {
    QFETCH(QString, text);
    TestClient client;
    try {
        client.ResolveAddress(text.toStdString(), 119);
        QFAIL("no exception");
    } catch (const EIpWinSockError& error) {
        QCOMPARE(error.what(), "Destination address required");
        QCOMPARE(error.ErrorCode(), 0);
    }
}

void tst_winsockaccess::badPort() {
    TestClient client;
    QVERIFY_THROWS_EXCEPTION(EIpBaseException, client.ResolveAddress("10.0.0.1:x9", 119));
    QVERIFY_THROWS_EXCEPTION(EIpBaseException, client.ResolveAddress("10.0.0.1:70000", 119));
}

void tst_winsockaccess::unknownHostIsRaisedNotZero() {
    TestClient client;
    try {
        client.ResolveHost("no-such-host.invalid");
        QFAIL("an unknown host resolved");
    } catch (const EIpWinSockError& error) {
        QCOMPARE(error.ErrorCode(), 11001);
        QCOMPARE(error.what(), "WinSock Error (11001): Host not found, on API 'gethostbyname'");
    }
}

QTEST_GUILESS_MAIN(tst_winsockaccess)
#include "tst_winsockaccess.moc"
