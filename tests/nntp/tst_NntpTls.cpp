#include "NntpRecorder.h"
#include "net/TIpTlsContext.h"
#include "nntp/TIpNntpClient.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"
#include "support/SocksProxyServer.h"

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/ssl.h>

#include <atomic>
#include <csignal>
#include <map>
#include <memory>
#include <set>

using Lines = std::vector<std::string>;

static constexpr int ServerTimeout = 20000;

Q_DECLARE_METATYPE(TIpNntpSecurity)
Q_DECLARE_METATYPE(TIpCertProblem)

// Encrypted connections against the real server (implicit TLS and STARTTLS, from the test
// authority, which the client trusts through its own file) and, for replies the real server does
// not give, against a scripted peer.
class tst_NntpTls : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void postAndListEncrypted_data();
    void postAndListEncrypted();
    void plainLogOnWhereEncryptionIsRequired();
    void passwordOnlyAfter381_data();
    void passwordOnlyAfter381();
    void startTlsUnavailable_data();
    void startTlsUnavailable();
    void quitBefore382ClosesInstead();
    void tlsThroughSocksProxy();
    void badCertificateRefused_data();
    void badCertificateRefused();
    void trustedCertificateGoesThroughUntilItChanges();
    void laterConnectionsResumeAndAreStillChecked_data();
    void laterConnectionsResumeAndAreStillChecked();
    void namesSentOnlyForHostNames_data();
    void namesSentOnlyForHostNames();
    void handshakeFailuresInWords_data();
    void handshakeFailuresInWords();

private:
    void Prepare(TIpNntpClient& client, TIpNntpSecurity security);
    std::string HostFor(TIpNntpSecurity security) const;
    std::string Fresh(const char* what) const;

    std::unique_ptr<NewsServer> FServer;
    std::string FAuthority;
    ReportedErrors FErrors;
};

void tst_NntpTls::initTestCase() {
    FServer = std::make_unique<NewsServer>();
    QVERIFY2(FServer->Start({"--fresh", "--tls", "--auth-post"}), FServer->Output().constData());
    FAuthority = FServer->CertificatePath().toStdString();
    QVERIFY(!FAuthority.empty());
}

void tst_NntpTls::init() {
    FErrors.Collect();
}

void tst_NntpTls::cleanup() {
    FErrors.Release();
    QCOMPARE(FErrors.Texts(), Lines());
}

void tst_NntpTls::Prepare(TIpNntpClient& client, TIpNntpSecurity security) {
    client.SetSecurity(security);
    client.Settings().Tls.CaFile = FAuthority;
}

std::string tst_NntpTls::HostFor(TIpNntpSecurity security) const {
    return (security == TIpNntpSecurity::nySecTls ? FServer->TlsHost() : FServer->Host())
        .toStdString();
}

std::string tst_NntpTls::Fresh(const char* what) const {
    return what + (" " + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString());
}

void tst_NntpTls::postAndListEncrypted_data() {
    QTest::addColumn<TIpNntpSecurity>("security");
    QTest::addColumn<bool>("logOn");
    QTest::addColumn<QString>("trail");
    QTest::newRow("TLS, log-on, post") << TIpNntpSecurity::nySecTls << true
                                       << "nsConnect nsAuthUser nsAuthPass nsGroup nsPrePost "
                                          "nsPost nsList";
    QTest::newRow("STARTTLS, log-on, post")
        << TIpNntpSecurity::nySecStartTls << true
        << "nsConnect nsCapabilities nsStartTls nsCapabilities nsConnect nsAuthUser nsAuthPass "
           "nsGroup nsPrePost nsPost nsList";
    QTest::newRow("TLS, no log-on, list")
        << TIpNntpSecurity::nySecTls << false << "nsConnect nsList";
    QTest::newRow("STARTTLS, no log-on, list")
        << TIpNntpSecurity::nySecStartTls << false
        << "nsConnect nsCapabilities nsStartTls nsCapabilities nsConnect nsList";
}

void tst_NntpTls::postAndListEncrypted() {
    QFETCH(TIpNntpSecurity, security);
    QFETCH(bool, logOn);
    QFETCH(QString, trail);
    TIpNntpClient client;
    NntpRecorder rec(client);
    Prepare(client, security);
    const std::string subject = Fresh("encrypted post");
    if (logOn) {
        client.UserID = "poster";
        client.Password = "secret";
        TIpNewsArticle& article = client.Article();
        article.NewMessage();
        article.From = "poster@example.com";
        article.Subject = subject;
        article.Newsgroups = {"misc.test"};
        article.Path = {"misc.test"};
        article.PlainTextPart(true)->Body.WriteLine("Sent over an encrypted connection.");
        rec.AfterTask = [&](TIpNntpTasks) { client.List(); };
        client.PostTo(HostFor(security), "misc.test");
    } else {
        rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
            if (to == TIpNntpStates::nsConnect)
                client.List();
        };
        client.Connect(HostFor(security));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!rec.Matching("multi nsList").empty(), ServerTimeout);
    QVERIFY(rec.Lists.back().front().rfind("215", 0) == 0);
    QTRY_COMPARE(QString::fromStdString(rec.StateTrail()), trail);
    QVERIFY(client.Encrypted());
    QCOMPARE(rec.Peers.size(), size_t(1));
    const TIpTlsPeer& peer = rec.Peers[0];
    QVERIFY(peer.Accepted);
    QCOMPARE(peer.Problem, TIpCertProblem::cpNone);
    QVERIFY2(peer.Protocol == "TLSv1.3" || peer.Protocol == "TLSv1.2", peer.Protocol.c_str());
    QVERIFY(!peer.Cipher.empty());
    QCOMPARE(peer.Subject, std::string("CN=localhost,O=news-server"));
    QCOMPARE(peer.Fingerprint.size(), size_t(32 * 3 - 1));
    // STARTTLS is asked for before anything else, and no log-on goes out before the handshake.
    QVERIFY(rec.Matching("error").empty());
    if (logOn) {
        QCOMPARE(rec.Matching("response nsAuthUser 381").size(), size_t(1));
        QCOMPARE(rec.Matching("response nsPost 240").size(), size_t(1));
        const QJsonArray stored =
            FServer->ArticlesWithSubject("misc.test", QString::fromStdString(subject));
        QCOMPARE(stored.size(), 1);
        QVERIFY(
            stored[0].toObject()["body"].toString().contains("Sent over an encrypted connection."));
    }
    client.Quit();
    QTRY_VERIFY_WITH_TIMEOUT(!client.IsActive(), ServerTimeout);
}

void tst_NntpTls::plainLogOnWhereEncryptionIsRequired() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.UserID = "poster";
    client.Password = "secret";
    client.Article().NewMessage();
    client.PostTo(FServer->Host().toStdString(), "misc.test");
    QTRY_COMPARE_WITH_TIMEOUT(rec.Matching("error").size(), size_t(1), ServerTimeout);
    QVERIFY(rec.Matching("error")[0].rfind("error 20102 ", 0) == 0);
    QCOMPARE(rec.Matching("response nsAuthUser 483").size(), size_t(1));
    QVERIFY(!rec.Has("state nsAuthPass"));
    QVERIFY(!rec.Has("state nsPrePost"));
    QCOMPARE(client.CommandsSent(), uint64_t(1));
    QTRY_VERIFY(!client.Connected());
}

void tst_NntpTls::passwordOnlyAfter381_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("received");
    QTest::newRow("483 encryption required")
        << "483 Encryption required" << 20102 << "AUTHINFO USER poster";
    QTest::newRow("481 refused") << "481 No such user" << 20103 << "AUTHINFO USER poster";
    QTest::newRow("502 not allowed") << "502 Not for you" << 20103 << "AUTHINFO USER poster";
    QTest::newRow("281 already logged on")
        << "281 Welcome back" << 0 << "AUTHINFO USER poster|GROUP misc.test";
}

void tst_NntpTls::passwordOnlyAfter381() {
    QFETCH(QString, reply);
    QFETCH(int, error);
    QFETCH(QString, received);
    ScriptedPeer peer;
    peer.Send("200 ready\r\n")
        .WaitFor("AUTHINFO USER poster\r\n")
        .Send(reply.toStdString() + "\r\n")
        .Pause(300)
        .Close();
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.UserID = "poster";
    client.Password = "secret";
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(peer.Finished());
    QStringList lines;
    for (const std::string& line : peer.ReceivedLines())
        lines << QString::fromStdString(line);
    QCOMPARE(lines.join('|'), received);
    const Lines errors = rec.Matching("error");
    if (error == 0) {
        QVERIFY(errors.empty());
    } else {
        QCOMPARE(errors.size(), size_t(1));
        QVERIFY2(errors[0].rfind("error " + std::to_string(error) + " ", 0) == 0,
                 errors[0].c_str());
        if (error == 20103) // the box shows the server's reply
            QVERIFY(errors[0].find(reply.toStdString()) != std::string::npos);
    }
}

void tst_NntpTls::startTlsUnavailable_data() {
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<QString>("capabilities");
    QTest::addColumn<QString>("startTlsReply");
    QTest::addColumn<QString>("received");
    QTest::newRow("not listed") << "200 ready"
                                << "101 Capability list:\r\nVERSION 2\r\nREADER\r\nPOST\r\n.\r\n"
                                << ""
                                << "CAPABILITIES";
    QTest::newRow("listed, refused") << "200 ready"
                                     << "101 Capability list:\r\nVERSION 2\r\nstarttls\r\n.\r\n"
                                     << "580 Can not initiate TLS negotiation"
                                     << "CAPABILITIES|STARTTLS";
    QTest::newRow("no CAPABILITIES command") << "200 ready"
                                             << "500 What?\r\n"
                                             << ""
                                             << "CAPABILITIES";
    QTest::newRow("382, then a byte in the same write")
        << "200 ready"
        << "101 Capability list:\r\nSTARTTLS\r\n.\r\n"
        << "382 go ahead\r\n5"
        << "CAPABILITIES|STARTTLS";
    QTest::newRow("382, then another 382 in the same write")
        << "200 ready"
        << "101 Capability list:\r\nSTARTTLS\r\n.\r\n"
        << "382 go ahead\r\n382 go ahead"
        << "CAPABILITIES|STARTTLS";
    QTest::newRow("service unavailable: nothing sent") << "502 Permission denied"
                                                       << ""
                                                       << ""
                                                       << "";
}

void tst_NntpTls::startTlsUnavailable() {
    QFETCH(QString, greeting);
    QFETCH(QString, capabilities);
    QFETCH(QString, startTlsReply);
    QFETCH(QString, received);
    ScriptedPeer peer;
    peer.Send(greeting.toStdString() + "\r\n");
    if (!capabilities.isEmpty())
        peer.WaitFor("CAPABILITIES\r\n").Send(capabilities.toStdString());
    if (!startTlsReply.isEmpty())
        peer.WaitFor("STARTTLS\r\n").Send(startTlsReply.toStdString() + "\r\n");
    peer.Pause(300).Close();
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.SetSecurity(TIpNntpSecurity::nySecStartTls);
    client.UserID = "poster";
    client.Password = "secret";
    client.PostTo(peer.Address(), "misc.test");
    QTRY_VERIFY(peer.Finished());
    QTRY_VERIFY(peer.ClientClosed());
    QStringList lines;
    for (const std::string& line : peer.ReceivedLines())
        lines << QString::fromStdString(line);
    QCOMPARE(lines.join('|'), received);
    const std::string expected =
        capabilities.isEmpty()
            ? "error 20104 The news server refused the connection: " + greeting.toStdString()
        : startTlsReply.startsWith("382")
            ? "error 20107 The news server sent data it should not have before encryption began"
            : "error 20101 This news server does not offer encryption (STARTTLS)";
    QCOMPARE(rec.Matching("error"), Lines{expected});
    // The greeting never reached the application: it would have started the log-on.
    QVERIFY(rec.Matching("response nsConnect").empty());
}

// A QUIT sent after STARTTLS would go out in clear, into what the server reads as the handshake.
void tst_NntpTls::quitBefore382ClosesInstead() {
    ScriptedPeer peer;
    peer.Send("200 ready\r\n")
        .WaitFor("CAPABILITIES\r\n")
        .Send("101 Capability list:\r\nSTARTTLS\r\n.\r\n");
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.SetSecurity(TIpNntpSecurity::nySecStartTls);
    client.Connect(peer.Address());
    QTRY_VERIFY(rec.Has("state nsStartTls"));
    client.Quit();
    QTRY_VERIFY(peer.ClientClosed());
    QCOMPARE(peer.Received(), std::string("CAPABILITIES\r\nSTARTTLS\r\n"));
}

void tst_NntpTls::tlsThroughSocksProxy() {
    SocksProxyServer proxy;
    QVERIFY2(proxy.StartDante(ScriptedPeer::UnusedPort()), proxy.Error().c_str());
    TIpNntpClient client;
    NntpRecorder rec(client);
    Prepare(client, TIpNntpSecurity::nySecTls);
    client.SocksServer().Address = "127.0.0.1";
    client.SocksServer().Port = proxy.Port();
    client.SocksServer().SocksVersion = TIpSocksVersion::svSocks5;
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (to == TIpNntpStates::nsConnect)
            client.List();
    };
    client.Connect(FServer->TlsHost().toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(rec.Lists.size(), size_t(1), ServerTimeout);
    QVERIFY(rec.Lists[0].front().rfind("215", 0) == 0);
    QCOMPARE(rec.Matching("tls accepted").size(), size_t(1));
    QVERIFY(client.Encrypted());
    QCOMPARE(client.DataSocket()->ProxyState(), uint8_t(5));
}

void tst_NntpTls::badCertificateRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<TIpNntpSecurity>("security");
    QTest::addColumn<TIpCertProblem>("problem");
    QTest::addColumn<QString>("reason");
    QTest::newRow("mismatch") << "mismatch" << TIpNntpSecurity::nySecTls
                              << TIpCertProblem::cpNameMismatch << "does not name this server";
    QTest::newRow("expired") << "expired" << TIpNntpSecurity::nySecTls << TIpCertProblem::cpExpired
                             << "has expired";
    QTest::newRow("self-signed") << "self-signed" << TIpNntpSecurity::nySecTls
                                 << TIpCertProblem::cpUntrusted << "self-signed";
    QTest::newRow("self-signed, STARTTLS") << "self-signed" << TIpNntpSecurity::nySecStartTls
                                           << TIpCertProblem::cpUntrusted << "self-signed";
}

void tst_NntpTls::badCertificateRefused() {
    QFETCH(QString, kind);
    QFETCH(TIpNntpSecurity, security);
    QFETCH(TIpCertProblem, problem);
    QFETCH(QString, reason);
    QVERIFY2(FServer->Start({"--tls-cert", kind, "--auth-post"}), FServer->Output().constData());
    TIpNntpClient client;
    NntpRecorder rec(client);
    Prepare(client, security);
    client.UserID = "poster";
    client.Password = "secret";
    client.PostTo(HostFor(security), "misc.test");
    QTRY_COMPARE_WITH_TIMEOUT(rec.Matching("error").size(), size_t(1), ServerTimeout);
    const std::string error = rec.Matching("error")[0];
    QVERIFY2(error.rfind("error 20002 ", 0) == 0, error.c_str());
    QVERIFY2(error.find(reason.toStdString()) != std::string::npos, error.c_str());
    QCOMPARE(rec.Peers.size(), size_t(1));
    QCOMPARE(rec.Peers[0].Problem, problem);
    QVERIFY(!rec.Peers[0].Accepted);
    QVERIFY(!rec.Peers[0].Issuer.empty() && !rec.Peers[0].ValidUntil.empty());
    QTRY_VERIFY(!client.Connected());
    // Nothing of the protocol went either way after the handshake: no greeting reached the
    // application, and only what was sent before STARTTLS counts as sent.
    QVERIFY(rec.Matching("response").size() == 0 || security == TIpNntpSecurity::nySecStartTls);
    QVERIFY(!rec.Has("state nsAuthUser"));
    const uint64_t beforeHandshake = security == TIpNntpSecurity::nySecStartTls ? 2 : 0;
    QCOMPARE(client.CommandsSent(), beforeHandshake);
    QCOMPARE(
        client.DataSocket()->GetStatistics().DataSent,
        uint32_t(beforeHandshake == 0 ? 0 : std::string("CAPABILITIES\r\nSTARTTLS\r\n").size()));
}

void tst_NntpTls::trustedCertificateGoesThroughUntilItChanges() {
    QVERIFY2(FServer->Start({"--tls-cert", "self-signed"}), FServer->Output().constData());
    std::set<std::string> trusted;
    int asked = 0;
    TIpNntpClient client;
    NntpRecorder rec(client);
    Prepare(client, TIpNntpSecurity::nySecTls);
    client.Settings().Tls.IsTrusted = [&](const TIpTlsPeer& peer) {
        ++asked;
        return trusted.count(peer.Host + ":" + std::to_string(peer.Port) + " " + peer.Fingerprint) >
               0;
    };
    const auto connectAndList = [&] {
        rec.Events.clear();
        rec.Lists.clear();
        rec.Peers.clear();
        rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
            if (to == TIpNntpStates::nsConnect)
                client.List();
        };
        client.Connect(FServer->TlsHost().toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!rec.Lists.empty() || !rec.Matching("error").empty(),
                                 ServerTimeout);
    };

    connectAndList();
    QCOMPARE(rec.Matching("error").size(), size_t(1));
    QCOMPARE(asked, 1);
    const TIpTlsPeer first = rec.Peers.at(0);
    QCOMPARE(first.Host, std::string("127.0.0.1"));
    trusted.insert(first.Host + ":" + std::to_string(first.Port) + " " + first.Fingerprint);

    connectAndList();
    QVERIFY(rec.Matching("error").empty());
    QCOMPARE(rec.Lists.size(), size_t(1));
    QCOMPARE(asked, 2);
    client.Quit();
    QTRY_VERIFY_WITH_TIMEOUT(!client.IsActive(), ServerTimeout);

    // Another certificate on the same host and port is asked about again, and refused.
    QVERIFY2(FServer->Start({"--tls-cert", "expired"}), FServer->Output().constData());
    connectAndList();
    QCOMPARE(rec.Matching("error").size(), size_t(1));
    QCOMPARE(asked, 3);
    QVERIFY(rec.Peers.at(0).Fingerprint != first.Fingerprint);
}

// Connections one after another to a TLS peer that keeps its session tickets for the whole
// test, each row listing per connection the certificate the peer shows, whether the user's pin
// on the first connection's certificate is in force, and what the client saw: resumed ('r') and
// accepted ('a'), '-' where not. The CA file is a fresh copy, so the connections' one shared
// context is the only one made.
void tst_NntpTls::laterConnectionsResumeAndAreStillChecked_data() {
    QTest::addColumn<QStringList>("certificates");
    QTest::addColumn<QString>("pinned");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("resumed");
    QTest::addColumn<QString>("accepted");
    QTest::addColumn<bool>("dropped");
    const QStringList good{"good", "good", "good"};
    const QStringList self{"self-signed", "self-signed", "self-signed", "self-signed"};
    QTest::newRow("authority, TLS 1.3") << good << "nnn" << TLS1_3_VERSION << "-rr"
                                        << "aaa" << false;
    QTest::newRow("authority, TLS 1.2") << good << "nnn" << TLS1_2_VERSION << "-rr"
                                        << "aaa" << false;
    QTest::newRow("pinned") << self << "yyyy" << TLS1_3_VERSION << "-rrr"
                            << "aaaa" << false;
    QTest::newRow("pin withdrawn, then given again") << self << "yyny" << TLS1_3_VERSION << "-rr-"
                                                     << "aa-a" << false;
    // TLS 1.2 issues the session within the handshake, before the verdict.
    QTest::newRow("refused, then pinned, TLS 1.2") << self << "nyyy" << TLS1_2_VERSION << "--rr"
                                                   << "-aaa" << false;
    // Closed by the client's end without the close_notify alerts, as a run may drop them.
    QTest::newRow("dropped, TLS 1.3") << good << "nnn" << TLS1_3_VERSION << "-rr"
                                      << "aaa" << true;
    QTest::newRow("dropped, TLS 1.2") << good << "nnn" << TLS1_2_VERSION << "-rr"
                                      << "aaa" << true;
    QTest::newRow("another certificate on the same port")
        << QStringList{"self-signed", "self-signed", "expired"} << "yyy" << TLS1_3_VERSION << "-r-"
        << "aa-" << false;
}

void tst_NntpTls::laterConnectionsResumeAndAreStillChecked() {
    QFETCH(QStringList, certificates);
    QFETCH(QString, pinned);
    QFETCH(int, version);
    QFETCH(QString, resumed);
    QFETCH(QString, accepted);
    QFETCH(bool, dropped);
    const std::string key =
        FAuthority.substr(0, FAuthority.rfind('/')) + "/key.pem"; // one key for every kind
    std::map<QString, TIpSslCtxPtr> served;
    for (const QString& kind : certificates) {
        TIpSslCtxPtr& context = served[kind];
        if (context)
            continue;
        context.reset(SSL_CTX_new(TLS_server_method()));
        SSL_CTX_set_max_proto_version(context.get(), version);
        SSL_CTX_use_certificate_file(context.get(), FServer->CertificatePath(kind).toUtf8(),
                                     SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(context.get(), key.c_str(), SSL_FILETYPE_PEM);
    }
    // The peer writes with write(2), which would kill the test where the client refused and left.
    std::signal(SIGPIPE, SIG_IGN);
    std::atomic<int> connection{0};
    ScriptedPeer peer;
    peer.Do([&](int fd) {
        const TIpSslPtr ssl(SSL_new(served[certificates[connection++]].get()));
        SSL_set_fd(ssl.get(), fd);
        char command[64] = {};
        if (SSL_accept(ssl.get()) != 1 || SSL_write(ssl.get(), "200 ready\r\n", 11) != 11 ||
            SSL_read(ssl.get(), command, sizeof command) <= 0)
            return;
        SSL_write(ssl.get(), "205 bye\r\n", 9);
        SSL_shutdown(ssl.get());
    });
    peer.Start();

    QTemporaryDir dir;
    const QString authority = dir.filePath("ca.pem");
    QVERIFY(QFile::copy(QString::fromStdString(FAuthority), authority));
    const uint64_t contextsBefore = TIpTlsContext::Made();
    std::string pin;
    QString sawResumed;
    QString sawAccepted;
    for (int i = 0; i < certificates.size(); ++i) {
        {
            TIpNntpClient client;
            NntpRecorder rec(client);
            Prepare(client, TIpNntpSecurity::nySecTls);
            client.Settings().Tls.CaFile = authority.toStdString();
            client.Settings().Tls.IsTrusted = [&](const TIpTlsPeer& shown) {
                if (pin.empty())
                    pin = shown.Fingerprint;
                return pinned[i] == 'y' && shown.Fingerprint == pin;
            };
            rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
                if (to == TIpNntpStates::nsConnect && !dropped)
                    client.Quit();
            };
            client.Connect(peer.Address());
            QTRY_COMPARE_WITH_TIMEOUT(rec.Peers.size(), size_t(1), ServerTimeout);
            if (dropped)
                QTRY_VERIFY_WITH_TIMEOUT(!rec.Matching("response nsConnect").empty(),
                                         ServerTimeout);
            else
                QTRY_VERIFY_WITH_TIMEOUT(!client.Connected(), ServerTimeout);
            sawResumed += rec.Peers[0].Resumed ? 'r' : '-';
            sawAccepted += rec.Peers[0].Accepted ? 'a' : '-';
            QCOMPARE(rec.Matching("response nsConnect 200").size(), size_t(rec.Peers[0].Accepted));
        }
        QTRY_VERIFY(peer.ClientClosed());
    }
    QCOMPARE(sawResumed, resumed);
    QCOMPARE(sawAccepted, accepted);
    QCOMPARE(TIpTlsContext::Made() - contextsBefore, uint64_t(1));
    // Edited on disk, the file is read again.
    TIpTlsSettings edited;
    edited.CaFile = authority.toStdString();
    const std::shared_ptr<TIpTlsContext> shared = TIpTlsContext::For(edited);
    QFile file(authority);
    QVERIFY(file.open(QIODevice::Append) && file.write("\n") == 1);
    file.close();
    QVERIFY(TIpTlsContext::For(edited) != shared);
}

// A peer on loopback (IPv4 or IPv6) that completes a TLS handshake with the test server's
// certificate and records the name the client sent (SNI), "(none)" without one.
void tst_NntpTls::namesSentOnlyForHostNames_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QString>("sni");
    QTest::addColumn<TIpCertProblem>("problem");
    QTest::newRow("host name") << "localhost" << false << "localhost" << TIpCertProblem::cpNone;
    QTest::newRow("IPv4 address") << "127.0.0.1" << false << "(none)" << TIpCertProblem::cpNone;
    // The certificate names 127.0.0.1 but not ::1.
    QTest::newRow("IPv6 address") << "[::1]" << true << "(none)" << TIpCertProblem::cpNameMismatch;
}

void tst_NntpTls::namesSentOnlyForHostNames() {
    QFETCH(QString, host);
    QFETCH(bool, ipv6);
    QFETCH(QString, sni);
    QFETCH(TIpCertProblem, problem);
    const std::string certificate = FServer->CertificatePath("good").toStdString();
    const std::string key = certificate.substr(0, certificate.rfind('/')) + "/key.pem";
    std::string received = "(handshake failed)";
    ScriptedPeer peer(ipv6);
    peer.Do([&](int fd) {
        const TIpSslCtxPtr context(SSL_CTX_new(TLS_server_method()));
        SSL_CTX_use_certificate_file(context.get(), certificate.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(context.get(), key.c_str(), SSL_FILETYPE_PEM);
        // No session tickets: the client that refuses the certificate has gone by then.
        SSL_CTX_set_num_tickets(context.get(), 0);
        const TIpSslPtr ssl(SSL_new(context.get()));
        SSL_set_fd(ssl.get(), fd);
        if (SSL_accept(ssl.get()) != 1)
            return;
        const char* name = SSL_get_servername(ssl.get(), TLSEXT_NAMETYPE_host_name);
        received = name != nullptr ? name : "(none)";
    });
    peer.Start();
    TIpNntpClient client;
    NntpRecorder rec(client);
    Prepare(client, TIpNntpSecurity::nySecTls);
    client.Connect(host.toStdString() + ":" + std::to_string(peer.Port()));
    QTRY_COMPARE_WITH_TIMEOUT(rec.Peers.size(), size_t(1), ServerTimeout);
    QCOMPARE(rec.Peers[0].Problem, problem);
    QCOMPARE(rec.Peers[0].Address, std::string(ipv6 ? "::1" : "127.0.0.1"));
    QTRY_VERIFY(peer.Finished());
    QCOMPARE(QString::fromStdString(received), sni);
}

// What the user reads when the handshake fails: the cause in words, and for a plain server on
// the port TLS was chosen for, what to do about it. "%1" stands for the server's host:port.
void tst_NntpTls::handshakeFailuresInWords_data() {
    QTest::addColumn<bool>("realServer");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain server on the TLS port")
        << true << QByteArray()
        << "%1 did not answer with TLS. If this server offers no encryption on this port, choose "
           "STARTTLS or None on Options (`--security starttls|none`), or use its TLS port "
           "(usually 563)";
    QTest::newRow("closed") << false << QByteArray()
                            << "%1 closed the connection during the TLS handshake.";
    // TLS alerts: fatal, protocol_version (70) and bad_certificate (42).
    QTest::newRow("protocol version") << false << QByteArray("\x15\x03\x03\x00\x02\x02\x46", 7)
                                      << "%1 and this program have no TLS version in common";
    QTest::newRow("certificate") << false << QByteArray("\x15\x03\x03\x00\x02\x02\x2a", 7)
                                 << "%1 ended the TLS handshake over a certificate";
}

void tst_NntpTls::handshakeFailuresInWords() {
    QFETCH(bool, realServer);
    QFETCH(QByteArray, answer);
    QFETCH(QString, expected);
    ScriptedPeer peer;
    peer.WaitForBytes(1).Send(answer.toStdString()).Close();
    peer.Start();
    const std::string host = realServer ? FServer->Host().toStdString() : peer.Address();
    TIpNntpClient client;
    NntpRecorder rec(client);
    Prepare(client, TIpNntpSecurity::nySecTls);
    client.Connect(host);
    QTRY_COMPARE_WITH_TIMEOUT(rec.Matching("error").size(), size_t(1), ServerTimeout);
    const std::string error = rec.Matching("error")[0];
    const std::string words = expected.arg(QString::fromStdString(host)).toStdString();
    QVERIFY2(error.rfind("error 20001 " + words, 0) == 0, error.c_str());
    QVERIFY(rec.Matching("response").empty());
    QTRY_VERIFY(!client.Connected());
}

QTEST_GUILESS_MAIN(tst_NntpTls)
#include "tst_NntpTls.moc"
