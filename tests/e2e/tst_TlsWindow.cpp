// The window over encrypted connections against the real news server: the certificate question,
// the trusted certificate in the settings file, and the box for a server that wants encryption.

#include "E2eWindow.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

static constexpr int RunTimeout = 60000;

class tst_TlsWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<NewsServer> FServer;
    ReportedErrors FErrors;

private slots:
    void initTestCase() { FServer = std::make_unique<NewsServer>(); }
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    void trustedCertificatePostsWithoutAskingAgain() {
        QVERIFY2(FServer->Start({"--fresh", "--tls-cert", "self-signed"}),
                 FServer->Output().constData());
        E2eWindow e2e(FServer->TlsHost());
        TfrmMain& window = *e2e.Window;
        window.cbSecurity->setCurrentIndex(1);
        window.SetTrustedAuthorities(FServer->CertificatePath());
        window.eSubject->setText(QStringLiteral("over TLS from the window"));
        window.dcMsgBody->SetLines({QStringLiteral("encrypted body")});
        e2e.SetGroups({"misc.test"});
        e2e.Prompts->QueueAnswer(true);
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.MessageCount("Finished Posting"), 1, RunTimeout);
        QCOMPARE(e2e.Prompts->Questions().size(), 1);
        const QString question = e2e.Prompts->Questions().first();
        QVERIFY2(question.contains("self-signed") && question.contains("SHA-256 fingerprint: ") &&
                     question.contains("Subject: CN=localhost"),
                 qPrintable(question));
        QVERIFY(e2e.Log().contains("Encrypted connection: TLSv1."));
        QVERIFY(window.StatusPanelText(1).startsWith("Encrypted: "));
        QFile ini(e2e.Dir() + "/frmsv.INI");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray stored = ini.readAll();
        const QByteArray key = "127.0.0.1:" + FServer->TlsHost().section(':', 1).toLatin1() + "=";
        QVERIFY2(stored.contains("[TrustedCertificates]") && stored.contains(key),
                 stored.constData());

        // The same certificate on a new connection goes through without a question.
        window.IpNntpClient1().Quit();
        QTRY_VERIFY_WITH_TIMEOUT(!window.IpNntpClient1().Connected(), RunTimeout);
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.MessageCount("Finished Posting"), 2, RunTimeout);
        QCOMPARE(e2e.Prompts->Questions().size(), 1);
        QCOMPARE(FServer->ArticlesWithSubject("misc.test", "over TLS from the window").size(), 2);
    }

    // Get group list takes the same connection settings as posting: here STARTTLS and a log-on.
    void groupListOverStartTls() {
        QVERIFY2(FServer->Start({"--tls", "--auth"}), FServer->Output().constData());
        E2eWindow e2e(FServer->Host());
        TfrmMain& window = *e2e.Window;
        window.cbSecurity->setCurrentIndex(2);
        window.SetTrustedAuthorities(FServer->CertificatePath());
        e2e.LogOn(QStringLiteral("poster"), QStringLiteral("secret"));
        QSignalSpy arrived(&window, &TfrmMain::GroupListArrived);
        window.findChild<QAction*>(QStringLiteral("Getgrouplist1"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(arrived.count(), 1, RunTimeout);
        QVERIFY(window.trcvNewsgroups->Items().IndexOf("misc.test") >= 0);
        QVERIFY(e2e.Log().contains("Encrypted connection: TLSv1."));
        QVERIFY(!e2e.Log().contains("in clear text"));
        QCOMPARE(e2e.Prompts->Messages(), QStringList());
    }

    void plainLogOnWhereEncryptionIsRequired() {
        QVERIFY2(FServer->Start({"--tls", "--auth"}), FServer->Output().constData());
        E2eWindow e2e(FServer->Host());
        e2e.LogOn(QStringLiteral("poster"), QStringLiteral("secret"));
        e2e.SetGroups({"misc.test"});
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 1, RunTimeout);
        QVERIFY2(e2e.Prompts->Messages().first().contains("Choose TLS or STARTTLS"),
                 qPrintable(e2e.Prompts->Messages().first()));
        QCOMPARE(e2e.Log().count("the password goes to the news server in clear text"), 1);
        QVERIFY(!e2e.Window->Posting());
    }
};

QTEST_MAIN(tst_TlsWindow)
#include "tst_TlsWindow.moc"
