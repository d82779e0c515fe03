// The command line as a user runs it: the real executable, without a display, against the real
// news server.

#include "E2eWindow.h"
#include "support/NewsServer.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

static constexpr int RunTimeout = 30000;

struct CliResult {
    int Exit = -1;
    QByteArray Out;
    QByteArray Err;
};

class tst_CommandLine : public QObject {
    Q_OBJECT

    std::unique_ptr<NewsServer> FServer;
    QTemporaryDir FDir;

    static QString UniqueSubject(const char* what) {
        return QStringLiteral("%1 %2").arg(what).arg(QRandomGenerator::global()->generate64(), 0,
                                                     16);
    }

    // Runs `heraldix` with no display and no password in its environment unless given.
    static CliResult Run(const QStringList& arguments, const QByteArray& input = {},
                         const QString& password = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "HERALDIX_PASSWORD"})
            environment.remove(QString::fromLatin1(name));
        if (!password.isEmpty())
            environment.insert(QStringLiteral("HERALDIX_PASSWORD"), password);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(HERALDIX_EXECUTABLE), arguments);
        process.write(input);
        process.closeWriteChannel();
        CliResult result;
        if (!process.waitForFinished(RunTimeout) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.Exit = process.exitCode();
        result.Out = process.readAllStandardOutput();
        result.Err = process.readAllStandardError();
        return result;
    }

    QString Path(const QString& name) const { return FDir.filePath(name); }

    // The stored article of `group` with `subject`, as the reader's view of its parts.
    QJsonObject Stored(const QString& group, const QString& subject) {
        const QJsonArray found = FServer->ArticlesWithSubject(group, subject);
        if (found.size() != 1)
            return {};
        return ReadArticleParts(found[0].toObject().value("raw").toString());
    }

    QStringList ServerOptions() const {
        return {QStringLiteral("--server"), FServer->Host(), QStringLiteral("--security"),
                QStringLiteral("none")};
    }

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        FServer = std::make_unique<NewsServer>();
        QVERIFY2(FServer->Start({"--fresh"}), FServer->Output().constData());
    }
    void cleanupTestCase() {
        QVERIFY(FServer->Stop());
        FServer.reset();
    }

    // Three groups, named by options alone or taken from a settings file and a groups file the
    // window would have written; the body from standard input or from the settings.
    void postsToThreeGroups_data() {
        QTest::addColumn<bool>("fromSettings");
        QTest::newRow("options alone, body from standard input") << false;
        QTest::newRow("settings file and groups file") << true;
    }
    void postsToThreeGroups() {
        QFETCH(bool, fromSettings);
        const QString subject = UniqueSubject("three");
        const QStringList groups{"alt.test", "comp.lang.c", "misc.test"};
        const QStringList body{"Hello groups,", ".", ".leading period", "", "Bye."};
        QStringList arguments{"post"};
        QByteArray input;
        if (fromSettings) {
            QByteArray ini = "[TfrmMain]\r\neHost.Text=" + FServer->Host().toLatin1() +
                             "\r\ncbSecurity.CurrentIndex=0\r\neAddress.Text=poster@example.com"
                             "\r\neSubject.Text=" +
                             subject.toLatin1() + "\r\n[TfrmMain.dcMsgBody.Lines]\r\nCount=5\r\n";
            for (int i = 0; i < body.size(); ++i)
                ini += "Item" + QByteArray::number(i) + "=" + body[i].toLatin1() + "\r\n";
            QVERIFY(WriteTestFile(Path("cron.INI"), ini));
            QVERIFY(WriteTestFile(Path("groups.txt"), groups.join("\n").toLatin1() + "\n"));
            arguments << "--settings" << Path("cron.INI") << "--groups-file" << Path("groups.txt");
        } else {
            arguments << ServerOptions() << "--from"
                      << "poster@example.com"
                      << "--subject" << subject << "--body"
                      << "-";
            for (const QString& group : groups)
                arguments << "--group" << group;
            input = body.join("\n").toLatin1() + "\n";
        }
        const CliResult result = Run(arguments, input);
        QCOMPARE(result.Exit, 0);
        const QStringList lines = QString::fromUtf8(result.Out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < groups.size(); ++i) {
            QVERIFY2(lines[i].startsWith("accepted  " + groups[i] + "  <"), qPrintable(lines[i]));
            const QJsonArray parts = Stored(groups[i], subject).value("parts").toArray();
            QCOMPARE(parts.size(), 1);
            QCOMPARE(parts[0].toObject().value("text").toString(), body.join("\r\n") + "\r\n");
        }
        QCOMPARE(lines[3], QStringLiteral("Finished Posting: 3 accepted, 0 refused"));
    }

    void refusedGroupExitsWithOne() {
        const CliResult result =
            Run(QStringList{"post"} << ServerOptions() << "--from"
                                    << "p@example.com"
                                    << "--subject" << UniqueSubject("refused") << "--body"
                                    << "-"
                                    << "--group"
                                    << "alt.test"
                                    << "--group"
                                    << "mod.test",
                "text\n");
        QCOMPARE(result.Exit, 1);
        const QStringList lines = QString::fromUtf8(result.Out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("accepted  alt.test  <"));
        QVERIFY2(lines[1].startsWith("refused  mod.test  441 "), qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("Finished Posting: 1 accepted, 1 refused"));
    }

    void jsonLinesParse() {
        const CliResult result =
            Run(QStringList{"post", "--json"} << ServerOptions() << "--from"
                                              << "p@example.com"
                                              << "--subject" << UniqueSubject("json") << "--body"
                                              << "-"
                                              << "--group"
                                              << "misc.test"
                                              << "--group"
                                              << "mod.test",
                "text\n");
        QCOMPARE(result.Exit, 1);
        QList<QJsonObject> objects;
        for (const QByteArray& line : result.Out.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(),
                     line.constData());
            objects << document.object();
        }
        QCOMPARE(objects.size(), 3);
        QCOMPARE(objects[0].value("group").toString(), QStringLiteral("misc.test"));
        QVERIFY(objects[0].value("accepted").toBool());
        QCOMPARE(objects[0].value("code").toInt(), 240);
        QVERIFY(objects[0].value("message_id").toString().startsWith('<'));
        QVERIFY(!objects[1].value("accepted").toBool());
        QCOMPARE(objects[1].value("code").toInt(), 441);
        QCOMPARE(objects[2].value("accepted").toInt(), 1);
        QCOMPARE(objects[2].value("refused").toInt(), 1);
    }

    // Nothing goes out when the command is wrong; the error is in words on standard error.
    void usageErrorsExitWithTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        const QStringList base{"--from", "p@example.com", "--body", "-"};
        QTest::newRow("unknown option") << (QStringList{"--colour"} << base);
        QTest::newRow("no subject") << (QStringList{"--group", "misc.test"} << base);
        QTest::newRow("unreadable body") << QStringList{
            "--group", "misc.test", "--subject", "s", "--body", "/nonexistent/body.txt"};
        QTest::newRow("unreadable attachment")
            << (QStringList{"--group", "misc.test", "--subject", "s", "--attach",
                            "/nonexistent/file.bin"}
                << base);
        QTest::newRow("no groups")
            << (QStringList{"--subject", "s", "--groups-file", "/dev/null"} << base);
        QTest::newRow("unknown security")
            << (QStringList{"--group", "misc.test", "--subject", "s", "--security", "ssl"} << base);
        QTest::newRow("password as an argument")
            << (QStringList{"--group", "misc.test", "--subject", "s", "--password", "x"} << base);
        QTest::newRow("unknown command") << QStringList{};
    }
    void usageErrorsExitWithTwo() {
        QFETCH(QStringList, arguments);
        const QString subcommand = QTest::currentDataTag() == QByteArray("unknown command")
                                       ? QStringLiteral("postt")
                                       : QStringLiteral("post");
        QStringList all{subcommand, "--server", FServer->Host()};
        if (!arguments.contains("--security"))
            all << "--security"
                << "none";
        const CliResult result = Run(all << arguments, "text\n");
        QCOMPARE(result.Exit, 2);
        QCOMPARE(result.Out, QByteArray());
        QVERIFY(result.Err.startsWith("heraldix: "));
    }

    void connectionFailuresExitWithThree_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("error");
        QTest::newRow("wrong password")
            << QStringList{"--user", "poster"} << QStringLiteral("refused the log-on: 481");
        QTest::newRow("refused connection")
            << QStringList{"--server", "127.0.0.1:1"} << QStringLiteral("heraldix: ");
    }
    void connectionFailuresExitWithThree() {
        QFETCH(QStringList, options);
        QFETCH(QString, error);
        NewsServer authServer;
        QVERIFY2(authServer.Start({"--auth"}), authServer.Output().constData());
        const CliResult result = Run(
            QStringList{"post", "--server", authServer.Host(), "--security", "none", "--from",
                        "p@example.com", "--subject", "s", "--body", "-", "--group", "misc.test"}
                << options,
            "text\n", QStringLiteral("wrong"));
        QVERIFY(authServer.Stop());
        QCOMPARE(result.Exit, 3);
        QVERIFY2(result.Err.contains(error.toUtf8()), result.Err.constData());
        QVERIFY(!result.Out.contains("accepted"));
    }

    // A certificate that fails the check is refused with its reason and fingerprint, and
    // accepted once the settings file trusts that very certificate.
    void certificateRefusedUnlessTrusted() {
        NewsServer tlsServer;
        QVERIFY2(tlsServer.Start({"--tls"}), tlsServer.Output().constData());
        const QStringList arguments{
            "post",   "--security",    "tls",       "--settings", Path("tls.INI"),
            "--from", "p@example.com", "--subject", "tls",        "--body",
            "-",      "--group",       "misc.test"};
        const QByteArray host = tlsServer.TlsHost().toLatin1();
        QVERIFY(WriteTestFile(Path("tls.INI"), "[TfrmMain]\r\neHost.Text=" + host + "\r\n"));
        const CliResult refused = Run(arguments, "text\n");
        QCOMPARE(refused.Exit, 3);
        QVERIFY2(refused.Err.contains("The certificate of the news server " + host +
                                      " was not accepted: "),
                 refused.Err.constData());
        const qsizetype at = refused.Err.indexOf("SHA-256 fingerprint: ");
        QVERIFY(at >= 0);
        const QByteArray fingerprint = refused.Err.mid(at + 21).split('\n').first();
        QVERIFY(!fingerprint.isEmpty());
        QVERIFY(WriteTestFile(Path("tls.INI"), "[TfrmMain]\r\neHost.Text=" + host +
                                                   "\r\n[TrustedCertificates]\r\n" + host + "=" +
                                                   fingerprint + "\r\n"));
        const CliResult trusted = Run(arguments, "text\n");
        QVERIFY(tlsServer.Stop());
        QCOMPARE(trusted.Exit, 0);
        QVERIFY(trusted.Out.startsWith("accepted  misc.test  <"));
    }

    void listPrintsTheGroupsAndSavesThem() {
        QVERIFY(WriteTestFile(Path("list.INI"),
                              "[TfrmMain]\r\neHost.Text=" + FServer->Host().toLatin1() +
                                  "\r\ncbSecurity.CurrentIndex=0\r\n"));
        const CliResult result = Run({"list", "--settings", Path("list.INI"), "--save"});
        QCOMPARE(result.Exit, 0);
        const QList<QByteArray> names = result.Out.split('\n');
        for (const char* group : {"alt.test", "misc.test", "mod.test", "comp.lang.c"})
            QVERIFY2(names.contains(group), result.Out.constData());
        QVERIFY(!result.Out.contains(' '));
        QByteArray saved = ReadTestFile(Path("newsgrps.txt"));
        QCOMPARE(saved.replace("\r\n", "\n").split('\n').size(), names.size());
    }

    // The window and the command line send the same article for the same input.
    void sameArticleAsTheWindow() {
        QByteArray bytes;
        for (int value = 0; value < 4096; ++value)
            bytes.append(static_cast<char>(value * 31));
        const QString attachment = Path("Résumé, v2.bin");
        QVERIFY(WriteTestFile(attachment, bytes));
        const QStringList body{QStringLiteral("Schöne Grüße,"), QString("abcd ").repeated(300), ".",
                               "Bye."};
        const QString subject = UniqueSubject("same");
        {
            E2eWindow e2e(FServer->Host());
            e2e.Window->SetAttachmentPath(attachment);
            e2e.Window->eSubject->setText(subject);
            e2e.Window->dcMsgBody->SetLines(body);
            e2e.SetGroups({"alt.test"});
            e2e.PressPost();
            QTRY_COMPARE_WITH_TIMEOUT(e2e.MessageCount(QStringLiteral("Finished Posting")), 1,
                                      RunTimeout);
        }
        QVERIFY(WriteTestFile(Path("body.txt"), body.join("\n").toUtf8()));
        const CliResult result =
            Run(QStringList{"post"} << ServerOptions() << "--from"
                                    << "poster@example.com"
                                    << "--subject" << subject << "--body" << Path("body.txt")
                                    << "--attach" << attachment << "--group"
                                    << "misc.test");
        QCOMPARE(result.Exit, 0);
        const QJsonArray fromWindow = Stored("alt.test", subject).value("parts").toArray();
        const QJsonArray fromCommandLine = Stored("misc.test", subject).value("parts").toArray();
        QCOMPARE(fromWindow.size(), 2);
        QCOMPARE(fromCommandLine, fromWindow);
        QCOMPARE(QByteArray::fromBase64(
                     fromCommandLine[1].toObject().value("payload").toString().toLatin1()),
                 bytes);
    }
};

QTEST_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
