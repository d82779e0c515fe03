// The command line as a user runs it: the real executable, without a display, against the real
// news server.

#include "E2eWindow.h"
#include "posting/TCancelLock.h"
#include "posting/TPostingHistory.h"
#include "support/GatedRelay.h"
#include "support/NewsServer.h"
#include "support/ScriptedPeer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

static constexpr int RunTimeout = 30000;
// Groups the server has beyond its usual ones, test.bulk.000001 on.
static constexpr int BulkGroups = 50;

static QStringList BulkGroupNames(int count) {
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << QStringLiteral("test.bulk.%1").arg(i, 6, 10, QLatin1Char('0'));
    return names;
}

// One NNTP session with the server on loopback, for what a test asks of it directly.
class NntpSession {
public:
    explicit NntpSession(uint16_t port) : FFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval timeout{RunTimeout / 1000, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        FConnected = ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     Line().startsWith("20");
    }
    ~NntpSession() {
        if (FConnected)
            Command("QUIT\r\n");
        ::close(FFd);
    }
    NntpSession(const NntpSession&) = delete;
    NntpSession& operator=(const NntpSession&) = delete;

    bool Connected() const { return FConnected; }
    QByteArray Line() {
        qsizetype end = -1;
        char buffer[8192] = {};
        ssize_t got = 1;
        while ((end = FReceived.indexOf("\r\n")) < 0 &&
               (got = ::recv(FFd, buffer, sizeof buffer, 0)) > 0)
            FReceived.append(buffer, got);
        const QByteArray text = FReceived.left(end < 0 ? 0 : end);
        FReceived.remove(0, end < 0 ? FReceived.size() : end + 2);
        return text;
    }
    QByteArray Command(const QByteArray& text) {
        ::send(FFd, text.constData(), static_cast<size_t>(text.size()), MSG_NOSIGNAL);
        return Line();
    }

private:
    int FFd = -1;
    bool FConnected = false;
    QByteArray FReceived;
};

// How many articles each group holds with `subject`, read over one NNTP session (XOVER) rather
// than one tool run per group; -1 for a group the server would not read out.
static QList<int> SubjectCounts(uint16_t port, const QStringList& groups, const QString& subject) {
    QList<int> counts;
    NntpSession session(port);
    if (!session.Connected())
        return counts;
    for (const QString& group : groups) {
        const QList<QByteArray> reply =
            session.Command("GROUP " + group.toLatin1() + "\r\n").split(' ');
        int count = -1;
        if (reply.size() >= 4 && reply[0] == "211")
            count = reply[1] == "0" ? 0 : -1;
        if (count < 0 && reply.size() >= 4 && reply[0] == "211" &&
            session.Command("XOVER " + reply[2] + "-" + reply[3] + "\r\n").startsWith("224")) {
            count = 0;
            for (QByteArray over = session.Line(); over != "." && !over.isEmpty();
                 over = session.Line())
                count += over.split('\t').value(1) == subject.toUtf8() ? 1 : 0;
        }
        counts << count;
    }
    return counts;
}

// What STAT answers (its code) for each Message-ID.
static QList<int> StatCodes(uint16_t port, const QStringList& messageIds) {
    QList<int> codes;
    NntpSession session(port);
    for (const QString& id : messageIds)
        codes << session.Command("STAT " + id.toLatin1() + "\r\n").left(3).toInt();
    return codes;
}

static QStringList OutputLines(const QByteArray& out) {
    return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
}

// The Cancel-Lock (or with "-k" the Cancel-Key) the canlock tool computes for the secret and the
// article's Message-ID.
static QString ToolLock(const QByteArray& secret, const QString& messageId,
                        const QString& option = QStringLiteral("-l")) {
    QProcess tool;
    tool.start(QStringLiteral("canlock"), {"-a", "sha256", option, messageId});
    tool.write(secret);
    tool.closeWriteChannel();
    return tool.waitForFinished(RunTimeout) ? tool.readAllStandardOutput().trimmed() : "none";
}

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
    static void Start(QProcess& process, const QStringList& arguments,
                      const QString& password = {}) {
        process.setProcessEnvironment(CommandLineEnvironment(password));
        process.start(QStringLiteral(HERALDIX_EXECUTABLE), arguments);
    }

    static CliResult Run(const QStringList& arguments, const QByteArray& input = {},
                         const QString& password = {}) {
        QProcess process;
        Start(process, arguments, password);
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

    // A settings file of its own directory (the run journal lives beside it) for a post of
    // `subject` to `host` in clear; `extra` are more [TfrmMain] lines.
    QString Settings(const QString& name, const QString& host, const QString& subject,
                     const QByteArray& extra = {}) {
        QDir(FDir.path()).mkpath(name);
        const QString path = Path(name + "/frmsv.INI");
        const bool written =
            WriteTestFile(path, "[TfrmMain]\r\neHost.Text=" + host.toLatin1() +
                                    "\r\ncbSecurity.CurrentIndex=0\r\neAddress.Text=p@example.com"
                                    "\r\neSubject.Text=" +
                                    subject.toUtf8() + "\r\n" + extra +
                                    "[TfrmMain.dcMsgBody.Lines]\r\nCount=1\r\nItem0=Body\r\n");
        return written ? path : QString();
    }

    // Every group holds exactly one article with `subject`.
    void OneArticleEach(const QStringList& groups, const QString& subject) {
        QCOMPARE(SubjectCounts(FServer->Port(), groups, subject), QList<int>(groups.size(), 1));
    }

    // Two runs of the settings file "history" (a post with a refusal, then a post to one group)
    // with a dry run between them, made once; their run ids, oldest first.
    QStringList FHistoryRuns;
    QString FHistorySubject;
    void PostHistoryRuns() {
        if (!FHistoryRuns.isEmpty())
            return;
        FHistorySubject = UniqueSubject("history");
        const QString settings = Settings("history", FServer->Host(), FHistorySubject);
        for (const QStringList& groups : {QStringList{"--group", "alt.test", "--group", "mod.test"},
                                          QStringList{"--dry-run", "--group", "misc.test"},
                                          QStringList{"--group", "misc.test"}}) {
            const CliResult result = Run(QStringList{"post", "--settings", settings} << groups);
            if (!groups.contains("--dry-run")) // a run's id starts its articles' Message-IDs
                FHistoryRuns << result.Out.split('<').value(1).split('.').value(0);
        }
    }

    // The run that posted `posted` (group, Message-ID) of `subject` over `host` in clear, in the
    // posting history beside `settings` as a finished run leaves it.
    static void AddToHistory(const QString& settings, const QString& host, const QString& subject,
                             const QList<std::pair<QString, QString>>& posted) {
        TNewsRequest request;
        request.Host = host.toStdString();
        request.Article.Address = "p@example.com";
        request.Article.Subject = subject.toStdString();
        TRunSummary summary;
        summary.RunId =
            QByteArray::number(QRandomGenerator::global()->generate64(), 16).toStdString();
        for (const auto& [group, id] : posted)
            summary.Outcomes.push_back(
                {group.toStdString(), 240, "240 article posted", id.toStdString(), true, true});
        TPostingHistory(QFileInfo(settings).dir().filePath("history.jsonl").toStdString())
            .Append(THistoryRun::Of(request, summary, std::time(nullptr)));
    }

    // The groups and Message-IDs of the accepted lines of a post.
    static QList<std::pair<QString, QString>> Posted(const QByteArray& out) {
        QList<std::pair<QString, QString>> posted;
        for (const QString& line : OutputLines(out).filter(QRegularExpression("^accepted  ")))
            posted.append({line.section("  ", 1, 1), line.section("  ", 2, 2)});
        return posted;
    }

    QStringList ServerOptions() const {
        return {QStringLiteral("--server"), FServer->Host(), QStringLiteral("--security"),
                QStringLiteral("none")};
    }

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        FServer = std::make_unique<NewsServer>();
        QVERIFY2(FServer->Start({"--fresh", "--groups", QString::number(BulkGroups)}),
                 FServer->Output().constData());
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
            // As an editor may save it: a byte-order mark first, blanks around the names.
            QVERIFY(WriteTestFile(Path("groups.txt"),
                                  "\xef\xbb\xbf" + groups.join(" \n\t").toLatin1() + "\n"));
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
        QTest::newRow("plain server on the TLS port")
            << QStringList{"--security", "tls"}
            << QStringLiteral(" did not answer with TLS. If this server offers no encryption on "
                              "this port, choose STARTTLS or None on Options (`--security "
                              "starttls|none`), or use its TLS port (usually 563)");
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

    // STARTTLS on the plain port, the test authority trusted through OpenSSL's own variable.
    void startTlsPostsAndLists() {
        NewsServer tlsServer;
        QVERIFY2(tlsServer.Start({"--tls"}), tlsServer.Output().constData());
        qputenv("SSL_CERT_FILE", tlsServer.CertificatePath().toLocal8Bit());
        const QStringList server{"--server", tlsServer.Host(), "--security", "starttls"};
        const CliResult posted = Run(QStringList{"post", "--from", "p@example.com", "--subject",
                                                 "s", "--body", "-", "--group", "misc.test"}
                                         << server,
                                     "text\n");
        const CliResult listed = Run(QStringList{"list"} << server);
        qunsetenv("SSL_CERT_FILE");
        QVERIFY(tlsServer.Stop());
        QVERIFY2(posted.Exit == 0 && posted.Out.startsWith("accepted  misc.test  <"),
                 posted.Err.constData());
        QVERIFY2(listed.Exit == 0 && listed.Err.isEmpty() && listed.Out.contains("\nmisc.test\n"),
                 listed.Err.constData());
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

    // Options the shared run journal would not take, or a journal with nothing to resume.
    void postOptionErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("no connections") << QStringList{"--connections", "0"}
                                        << "--connections takes a number from 1 to 8, not \"0\"";
        QTest::newRow("too many connections")
            << QStringList{"--connections", "9"}
            << "--connections takes a number from 1 to 8, not \"9\"";
        QTest::newRow("connections not a number")
            << QStringList{"--connections", "x"}
            << "--connections takes a number from 1 to 8, not \"x\"";
        QTest::newRow("unknown way to send")
            << QStringList{"--send-as", "both"}
            << "--send-as takes separate or crosspost, not \"both\"";
        QTest::newRow("21 groups per article")
            << QStringList{"--crosspost-max", "21"}
            << "--crosspost-max takes a number from 1 to 20, not \"21\"";
        QTest::newRow("resume with a request option")
            << QStringList{"--resume", "--group", "misc.test"} << "--resume takes no --group";
        QTest::newRow("resume without a journal")
            << QStringList{"--resume", "--quiet"} << "No interrupted run to resume";
        QTest::newRow("no address") << QStringList{"--group", "a.b", "--from", ""}
                                    << "You haven't entered an email address: give --from ADDRESS";
        QTest::newRow("address too long")
            << QStringList{"--group", "a.b", "--from", "p@" + QString(1000, 'd')}
            << "The address is too long for a news article";
        QTest::newRow("no subject")
            << QStringList{"--group", "a.b", "--subject", ""} << "No subject: give --subject TEXT";
        QTest::newRow("attachment unreadable")
            << QStringList{"--group", "a.b", "--attach", "/no/file"}
            << "Cannot read the attachment /no/file";
        QTest::newRow("no groups") << QStringList{}
                                   << "No groups to post to: give --group NAME or --groups-file "
                                      "FILE";
        QTest::newRow("group name with a blank")
            << QStringList{"--group", "a.b", "--group", "a b"} << "\"a b\" is no group name";
        QTest::newRow("warning under --strict")
            << QStringList{"--group", "a.b", "--group", "a.b", "--strict"}
            << "a.b is in the list more than once; each group is posted once";
    }
    void postOptionErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        const QString settings = Settings("options", FServer->Host(), "s");
        const CliResult result = Run(QStringList{"post", "--settings", settings} << arguments);
        QCOMPARE(result.Exit, 2);
        QCOMPARE(result.Out, QByteArray());
        QVERIFY2(result.Err.startsWith("heraldix: " + error.toUtf8()), result.Err.constData());
    }

    // Warnings go to standard error and the run goes on: a group named twice gets one article,
    // and one missing from the list kept beside the settings is named.
    void postWarnings() {
        const QString subject = UniqueSubject("warnings");
        const QString settings = Settings("warnings", FServer->Host(), subject);
        QVERIFY(WriteTestFile(Path("warnings/newsgrps.txt"), "alt.test\r\ncomp.lang.c\r\n"));
        const CliResult result =
            Run({"post", "--settings", settings, "--group", "misc.test", "--group", "misc.test"});
        QCOMPARE(result.Err, QByteArray("heraldix: warning: misc.test is in the list more than "
                                        "once; each group is posted once\nheraldix: warning: 1 "
                                        "group is not in the server's list: misc.test\n"));
        QCOMPARE(result.Exit, 0);
        OneArticleEach({"misc.test"}, subject);
    }

    // What the options leave out comes from the window's keys: a file from before the choice
    // posts over one connection, a new one over two.
    void connectionsAndVerifyFromSettings_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("connections");
        QTest::addColumn<bool>("verify");
        QTest::newRow("keys read")
            << QByteArray("seConnections.Value=3\r\ncbVerify.Checked=True\r\n") << QStringList{}
            << 3 << true;
        QTest::newRow("file without the keys") << QByteArray() << QStringList{} << 1 << false;
        QTest::newRow("options win over keys")
            << QByteArray("seConnections.Value=3\r\ncbVerify.Checked=False\r\n")
            << QStringList{"--connections", "2", "--verify"} << 2 << true;
        QTest::newRow("new settings file") << QByteArray("none") << QStringList{} << 2 << false;
    }
    void connectionsAndVerifyFromSettings() {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, options);
        QFETCH(int, connections);
        QFETCH(bool, verify);
        GatedRelay relay(FServer->Port());
        QVERIFY(relay.Start());
        const QString subject = UniqueSubject("keys");
        const QString relayHost = QString::fromStdString(relay.Address());
        const QString path = Settings("keys", relayHost, subject, settings);
        if (settings == "none")
            QVERIFY(WriteTestFile(path, {}));
        const QStringList groups = BulkGroupNames(6);
        QStringList arguments{"post",       "--settings", path,     "--server",      relayHost,
                              "--security", "none",       "--from", "p@example.com", "--subject",
                              subject,      "--body",     "-"};
        arguments << options;
        for (const QString& group : groups)
            arguments << "--group" << group;
        const CliResult result = Run(arguments, "text\n");
        QCOMPARE(result.Exit, 0);
        // The relay may take the last connection in after the program has ended.
        QTRY_COMPARE(relay.Accepted(), connections);
        QCOMPARE(OutputLines(result.Out).filter(QRegularExpression("^verified  ")).size(),
                 verify ? groups.size() : 0);
    }

    // What STAT says of each accepted article after the run, by a server that lost or kept it.
    void verificationLines_data() {
        QTest::addColumn<QByteArray>("statReply");
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("exit");
        QTest::newRow("found") << QByteArray("223 0 <x>\r\n") << false << "verified" << 0;
        QTest::newRow("missing") << QByteArray("430 no such article\r\n") << false << "missing"
                                 << 1;
        QTest::newRow("missing, json")
            << QByteArray("430 no such article\r\n") << true << "missing" << 1;
    }
    void verificationLines() {
        QFETCH(QByteArray, statReply);
        QFETCH(bool, json);
        QFETCH(QString, word);
        QFETCH(int, exit);
        ScriptedPeer peer;
        peer.SetTimeout(RunTimeout);
        peer.Answer("POST", "340 go\r\n")
            .Answer(".", "240 ok\r\n")
            .Answer("STAT", statReply.toStdString())
            .Answer("QUIT", "205 bye\r\n");
        peer.Send("200 ready\r\n").WaitFor("never sent");
        peer.Start();
        QStringList arguments{"post",
                              "--settings",
                              Settings("verify", QString::fromStdString(peer.Address()), "v"),
                              "--connections",
                              "1",
                              "--verify",
                              "--group",
                              "a.one"};
        if (json)
            arguments << "--json";
        const CliResult result = Run(arguments);
        QCOMPARE(result.Exit, exit);
        const QStringList lines = OutputLines(result.Out);
        QCOMPARE(lines.size(), 3);
        if (json) {
            const QJsonObject accepted = QJsonDocument::fromJson(lines[0].toUtf8()).object();
            const QJsonObject verified = QJsonDocument::fromJson(lines[1].toUtf8()).object();
            QCOMPARE(verified.value("group").toString(), QStringLiteral("a.one"));
            QCOMPARE(verified.value("verification").toString(), word);
            QCOMPARE(verified.value("message_id"), accepted.value("message_id"));
            QCOMPARE(QJsonDocument::fromJson(lines[2].toUtf8()).object().value(word).toInt(), 1);
        } else {
            const QString id = lines[0].section("  ", 2);
            QVERIFY2(lines[0].startsWith("accepted  a.one  <"), qPrintable(lines[0]));
            QCOMPARE(lines[1], word + "  a.one  " + id);
            QVERIFY2(lines[2].endsWith(exit == 0 ? "; 1 verified, 0 missing"
                                                 : "; 0 verified, 1 missing"),
                     qPrintable(lines[2]));
        }
        QVERIFY(peer.Received().find("STAT <") != std::string::npos);
    }

    // The server's words are printed, not obeyed: a terminal would act on ESC (OSC 52 writes the
    // clipboard), and a NUL would end the line early.
    void serverTextShownNotObeyed() {
        ScriptedPeer peer;
        peer.SetTimeout(RunTimeout);
        peer.Answer("POST", "340 go\r\n")
            .Answer(".", std::string("441 \x1b]52;c;aGk=\x07 <b>x</b>\0 \xc2\x9bK\r\n", 32))
            .Answer("QUIT", "205 bye\r\n");
        peer.Send("200 ready\r\n").WaitFor("never sent");
        peer.Start();
        const CliResult result = Run(QStringList{
            "post", "--settings", Settings("hostile", QString::fromStdString(peer.Address()), "h"),
            "--connections", "1", "--group", "a.one"});
        QCOMPARE(result.Exit, 1);
        QCOMPARE(OutputLines(result.Out).value(0),
                 QStringLiteral("refused  a.one  441 \\x1b]52;c;aGk=\\x07 <b>x</b>\\x00 \\u009bK"));
    }

    // Four connections to the real server: every group gets its article once, each line in the
    // groups' order, and every article is there when asked after the run.
    void fourConnectionsAllVerified() {
        const QString subject = UniqueSubject("four");
        const QStringList groups = BulkGroupNames(BulkGroups);
        QStringList arguments =
            QStringList{"post",          "--settings", Settings("four", FServer->Host(), subject),
                        "--connections", "4",          "--verify"};
        for (const QString& group : groups)
            arguments << "--group" << group;
        const CliResult result = Run(arguments);
        QCOMPARE(result.Exit, 0);
        const QStringList lines = OutputLines(result.Out);
        QCOMPARE(lines.size(), 2 * groups.size() + 1);
        for (int i = 0; i < groups.size(); ++i) {
            QVERIFY2(lines[i].startsWith("accepted  " + groups[i] + "  <"), qPrintable(lines[i]));
            QCOMPARE(lines[groups.size() + i],
                     "verified  " + groups[i] + "  " + lines[i].section("  ", 2));
        }
        QCOMPARE(lines.last(), QStringLiteral("Finished Posting: 50 accepted, 0 refused; 50 "
                                              "verified, 0 missing"));
        OneArticleEach(groups, subject);
    }

    // `history` lists the runs newest first (the dry run sent nothing and is not one);
    // `history RUN` prints a run's groups. TIME and REPLY stand for any time and reply text.
    void historyPrintsFinishedRuns_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QStringList>("lines");
        const QString run = "  TIME  post  HOST  ";
        QTest::newRow("runs") << QStringList{"history"} << 0
                              << QStringList{"RUN2" + run + "1 accepted  0 refused  SUBJECT",
                                             "RUN1" + run + "1 accepted  1 refused  SUBJECT"};
        QTest::newRow("runs, json")
            << QStringList{"history", "--json"} << 0
            << QStringList{"{\"accepted\":1,\"groups\":1,\"kind\":\"post\",\"refused\":0,"
                           "\"run\":\"RUN2\",\"server\":\"HOST\",\"subject\":\"SUBJECT\","
                           "\"time\":\"TIME\"}",
                           "{\"accepted\":1,\"groups\":2,\"kind\":\"post\",\"refused\":1,"
                           "\"run\":\"RUN1\",\"server\":\"HOST\",\"subject\":\"SUBJECT\","
                           "\"time\":\"TIME\"}"};
        QTest::newRow("a run by its id")
            << QStringList{"history", "RUN1"} << 0
            << QStringList{"alt.test  accepted  <RUN1.0@example.com>  240 REPLY",
                           "mod.test  refused  <RUN1.1@example.com>  441 REPLY"};
        QTest::newRow("last, json")
            << QStringList{"history", "last", "--json"} << 0
            << QStringList{"{\"group\":\"misc.test\",\"message_id\":\"<RUN2.0@example.com>\","
                           "\"outcome\":\"accepted\",\"reply\":\"240 REPLY\"}"};
        QTest::newRow("a start of an id")
            << QStringList{"history", "PREFIX2"} << 0
            << QStringList{"misc.test  accepted  <RUN2.0@example.com>  240 REPLY"};
        QTest::newRow("no such run") << QStringList{"history", "nope"} << 2 << QStringList{};
    }
    void historyPrintsFinishedRuns() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit);
        QFETCH(QStringList, lines);
        PostHistoryRuns();
        QCOMPARE(FHistoryRuns.size(), 2);
        const auto named = [this](QString text) {
            return text.replace("RUN1", FHistoryRuns[0])
                .replace("RUN2", FHistoryRuns[1])
                .replace("PREFIX2", FHistoryRuns[1].left(6));
        };
        for (QString& argument : arguments)
            argument = named(argument);
        const CliResult result = Run(arguments << "--settings" << Path("history/frmsv.INI"));
        QCOMPARE(result.Exit, exit);
        QCOMPARE(result.Err.isEmpty(), exit == 0);
        const QStringList printed = OutputLines(result.Out);
        QCOMPARE(printed.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString pattern =
                QRegularExpression::escape(named(lines[i])
                                               .replace("HOST", FServer->Host())
                                               .replace("SUBJECT", FHistorySubject))
                    .replace("TIME", "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")
                    .replace("REPLY", ".*");
            QVERIFY2(QRegularExpression("^" + pattern + "$").match(printed[i]).hasMatch(),
                     qPrintable(printed[i] + "\n" + pattern));
        }
    }

    // A history that cannot be written costs the run nothing but a line on standard error.
    void unwritableHistoryLeavesTheRunAlone() {
        const QString settings = Settings("no-history", FServer->Host(), UniqueSubject("kept"));
        QVERIFY(QDir().mkpath(Path("no-history/history.jsonl")));
        const CliResult result = Run({"post", "--settings", settings, "--group", "misc.test"});
        QCOMPARE(result.Exit, 0);
        QCOMPARE(OutputLines(result.Out).size(), 2);
        QVERIFY2(result.Err.contains("heraldix: The run was not added to the posting history: "),
                 result.Err.constData());
    }

    // The program killed while the server holds articles whose verdicts it never heard: the
    // journal beside the settings resumes the groups not answered, asking first for those
    // articles, and no group gets a second one. Over one connection the point of the kill is
    // exact (20 answered, the 21st stored); over three, answers still in flight make it vary.
    // Cross-posting 5 groups to an article, the fifth article is stored and never answered.
    void killedRunResumes_data() {
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("perArticle");
        QTest::newRow("one connection") << 1 << 1;
        QTest::newRow("three connections") << 3 << 1;
        QTest::newRow("cross-posting, one connection") << 1 << 5;
        QTest::newRow("cross-posting, three connections") << 3 << 5;
    }
    void killedRunResumes() {
        QFETCH(int, connections);
        QFETCH(int, perArticle);
        constexpr int answered = 20;
        const QString dir = QStringLiteral("killed-%1-%2").arg(connections).arg(perArticle);
        GatedRelay relay(FServer->Port());
        // The verdicts from the 21st accepted group on are held back.
        relay.HoldFrom("240 ", answered / perArticle + 1);
        QVERIFY(relay.Start());
        const QString subject = UniqueSubject("killed");
        const QStringList groups = BulkGroupNames(BulkGroups);
        const QByteArray crossPosting =
            perArticle > 1 ? "cbSendAs.CurrentIndex=1\r\nseGroupsPerArticle.Value=" +
                                 QByteArray::number(perArticle) + "\r\n"
                           : QByteArray();
        const QByteArray secret = ("lock of " + dir.toLatin1()).leftJustified(32, '.');
        const QString settings =
            Settings(dir, QString::fromStdString(relay.Address()), subject,
                     "seConnections.Value=" + QByteArray::number(connections) + "\r\n" +
                         crossPosting + "[CancelLock]\r\nSecret=" + secret.toBase64() + "\r\n");
        QVERIFY(WriteTestFile(Path(dir + "/groups.txt"), groups.join('\n').toLatin1()));
        QProcess process;
        Start(process,
              {"post", "--settings", settings, "--groups-file", Path(dir + "/groups.txt")});
        QTRY_VERIFY_WITH_TIMEOUT(relay.Holding(), RunTimeout);
        if (connections == 1) {
            // While it runs, a second run on its journal is refused; a settings file of another
            // name has a journal of its own.
            const CliResult second = Run({"post", "--settings", settings, "--group", "misc.test"});
            QCOMPARE(second.Exit, 3);
            QCOMPARE(QString::fromUtf8(second.Err),
                     QStringLiteral("heraldix: Another Heraldix run is using %1 (process %2)\n")
                         .arg(Path(dir + "/run.journal"))
                         .arg(process.processId()));
            QVERIFY(QFile::copy(settings, Path(dir + "/faq.INI")));
            QCOMPARE(Run(QStringList{"post", "--settings", Path(dir + "/faq.INI"), "--group",
                                     "misc.test"}
                         << ServerOptions())
                         .Exit,
                     0);
            QVERIFY(QFile::exists(Path(dir + "/faq.journal")));
        }
        process.kill();
        QVERIFY(process.waitForFinished(RunTimeout));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        const QStringList before = OutputLines(process.readAllStandardOutput());

        // A resume that finds the server away posts nothing and leaves the run resumable.
        relay.SetRefusing(true);
        const CliResult away = Run({"post", "--resume", "--settings", settings});
        QCOMPARE(away.Exit, 3);
        QVERIFY2(
            away.Err.contains(" of 50 groups are left: heraldix post --resume finishes the run"),
            away.Err.constData());
        relay.SetRefusing(false);
        relay.Release();
        const CliResult resumed = Run({"post", "--resume", "--settings", settings});
        QCOMPARE(resumed.Exit, 0);
        const QRegularExpressionMatch counted =
            QRegularExpression("Resuming the interrupted run to (\\d+) of 50 groups\n")
                .match(QString::fromUtf8(resumed.Err));
        QVERIFY2(counted.hasMatch(), resumed.Err.constData());
        const int left = counted.captured(1).toInt();
        // The groups answered before the kill come first, marked, whether or not the killed run
        // had printed them; the summary counts the whole run.
        QStringList lines = OutputLines(resumed.Out);
        QCOMPARE(lines.size(), BulkGroups + 1);
        QCOMPARE(lines.last(), QStringLiteral("Finished Posting: 50 accepted, 0 refused"));
        const QStringList earlier = lines.mid(0, BulkGroups - left);
        for (const QString& line : before)
            QVERIFY2(earlier.contains(line + "  (before the interruption)"), qPrintable(line));
        QCOMPARE(earlier.filter("  (before the interruption)").size(), earlier.size());
        lines = lines.mid(earlier.size());
        if (connections == 1) {
            QCOMPARE(before.size(), answered);
            QCOMPARE(left, BulkGroups - answered);
            // The stored article counts, under the Message-ID it was stored with.
            QCOMPARE(FServer->ArticlesWithSubject(groups[answered], subject)[0]
                         .toObject()
                         .value("message_id")
                         .toString(),
                     lines[0].section("  ", 2));
        }
        QVERIFY(left >= BulkGroups - answered && left <= BulkGroups - before.size());
        // Accepted before the kill or after the resume, never both, each in the groups' order.
        QStringList posted;
        for (const QString& line : before + lines.mid(0, left))
            posted << line.section("  ", 1, 1);
        QVERIFY2(std::is_sorted(posted.begin(), posted.begin() + before.size()) &&
                     std::is_sorted(posted.begin() + before.size(), posted.end()) &&
                     QSet<QString>(posted.begin(), posted.end()).size() == posted.size(),
                 qPrintable(posted.join(' ')));
        OneArticleEach(groups, subject);
        // Articles posted before the kill, across it and after the resume are locked alike.
        for (const QString& group : {groups.first(), groups[answered], groups.last()}) {
            const QJsonObject headers =
                FServer->ArticlesWithSubject(group, subject)[0].toObject()["headers"].toObject();
            QCOMPARE(headers["Cancel-Lock"].toString(),
                     ToolLock(secret, headers["Message-ID"].toString()));
        }
        // The history keeps the resumed run whole, the groups before the kill included.
        const QStringList kept = OutputLines(Run({"history", "last", "--settings", settings}).Out);
        QCOMPARE(kept.size(), BulkGroups);
        QCOMPARE(kept.filter(QRegularExpression("^test\\.bulk\\.\\d+  accepted  <")).size(),
                 BulkGroups);
        // The run has ended: nothing is left to resume.
        QCOMPARE(Run({"post", "--resume", "--settings", settings}).Exit, 2);
    }

    // A journal that cannot be written (its file size capped, as on a full disk) stops the run
    // with the reason; the resume then posts what is left, and no group gets two articles.
    void journalFullStopsTheRun() {
        const QString subject = UniqueSubject("full");
        const QStringList groups = BulkGroupNames(10);
        const QString settings = Settings("full", FServer->Host(), subject);
        QVERIFY(WriteTestFile(Path("full/groups.txt"), groups.join('\n').toLatin1()));
        QProcess process;
        process.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit capped{1500, 1500};
            ::setrlimit(RLIMIT_FSIZE, &capped);
        });
        Start(process, {"post", "--settings", settings, "--groups-file", Path("full/groups.txt")});
        QVERIFY(process.waitForFinished(RunTimeout));
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 3);
        QVERIFY2(QRegularExpression("^heraldix: The run journal cannot be written \\(File too "
                                    "large\\); stopped after \\d groups so that no group is "
                                    "posted twice\n")
                     .match(errors)
                     .hasMatch(),
                 qPrintable(errors));
        QCOMPARE(Run({"post", "--resume", "--settings", settings}).Exit, 0);
        OneArticleEach(groups, subject);
    }

    // A password saved in the settings goes only to its own user and server (host and port): a
    // run as alice, resumed or named by --server and --user, finds no other log-on's.
    void savedPasswordOnlyForItsServer_data() {
        QTest::addColumn<bool>("resume");
        QTest::addColumn<QByteArray>("saved"); // the settings' user@host; %1: the run's port
        QTest::addColumn<bool>("sent");
        QTest::newRow("resumed, bob on B") << true << QByteArray("bob@news.b.example") << false;
        QTest::newRow("resumed, other port") << true << QByteArray("alice@127.0.0.1:1") << false;
        QTest::newRow("resumed, same server") << true << QByteArray("alice@127.0.0.1:%1") << true;
        QTest::newRow("--server, bob on B") << false << QByteArray("bob@news.b.example") << false;
    }
    void savedPasswordOnlyForItsServer() {
        QFETCH(bool, resume);
        QFETCH(QByteArray, saved);
        QFETCH(bool, sent);
        ScriptedPeer peer;
        peer.Send("200 ready\r\n").Answer("AUTHINFO USER", "381 more\r\n");
        peer.Answer("AUTHINFO PASS", "281 ok\r\n").Answer("POST", "340 go\r\n").Start();
        const QString host = QString::fromStdString(peer.Address());
        const QString dir = QStringLiteral("saved-%1").arg(peer.Port());
        const QString settings =
            Settings(dir, host, "saved", "cbLogon.Checked=True\r\neUserName.Text=alice\r\n");
        QStringList arguments{"post", "--resume", "--settings", settings};
        if (resume) {
            // Killed while its article awaits the verdict: the journal has the run to resume.
            QProcess first;
            Start(first, {"post", "--settings", settings, "--group", "misc.test"}, "first-pw");
            QVERIFY(peer.WaitReceived("\r\n.\r\n", RunTimeout));
            first.kill();
            QVERIFY(first.waitForFinished(RunTimeout));
        } else {
            arguments = QStringList{"post",   "--settings", settings,  "--server", host,
                                    "--user", "alice",      "--group", "misc.test"};
        }
        const QList<QByteArray> logOn =
            saved.replace("%1", QByteArray::number(peer.Port())).split('@');
        Settings(dir, QString::fromLatin1(logOn[1]), "saved",
                 "cbLogon.Checked=True\r\neUserName.Text=" + logOn[0] +
                     "\r\nePassword.Text=saved-pw\r\n");
        const size_t connections = peer.Connections();
        QProcess process;
        Start(process, arguments);
        if (sent) {
            QVERIFY(peer.WaitReceived("AUTHINFO PASS saved-pw\r\n", RunTimeout));
            process.kill();
        }
        QVERIFY(process.waitForFinished(RunTimeout));
        if (!sent) {
            QCOMPARE(process.exitCode(), 3);
            QVERIFY(process.readAllStandardError().contains(
                "heraldix: No password for alice on " + host.toLatin1() +
                ": set HERALDIX_PASSWORD or --password-file\n"));
            QCOMPARE(peer.Connections(), connections);
        }
    }

    // A dry run composes every article of the run and prints it, connecting to nothing (the
    // server given cannot be reached) and writing no journal. Cross-posting is chosen by the
    // settings or by the options, and --send-as separate overrides the settings.
    void dryRunPrintsEveryArticle_data() {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QByteArray>("sendAs");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("groups");
        QTest::addColumn<QList<int>>("batches");
        const QByteArray crossPost = "cbSendAs.CurrentIndex=1\r\nseGroupsPerArticle.Value=5\r\n";
        const QStringList followupTo{"--followup-to", "misc.test"};
        QTest::newRow("separate") << false << QByteArray() << QStringList() << 3
                                  << QList<int>{1, 1, 1};
        QTest::newRow("cross-post by the settings")
            << false << crossPost << followupTo << 12 << QList<int>{5, 5, 2};
        QTest::newRow("cross-post by the options, json")
            << true << QByteArray() << QStringList{"--crosspost-max", "4"} + followupTo << 9
            << QList<int>{4, 4, 1};
        QTest::newRow("--send-as separate over the settings")
            << false << crossPost << QStringList{"--send-as", "separate"} << 3
            << QList<int>{1, 1, 1};
    }
    void dryRunPrintsEveryArticle() {
        QFETCH(bool, json);
        QFETCH(QByteArray, sendAs);
        QFETCH(QStringList, options);
        QFETCH(int, groups);
        QFETCH(QList<int>, batches);
        const QString dir = QStringLiteral("dry %1").arg(QTest::currentDataTag());
        QStringList arguments = QStringList{"post", "--dry-run", "--settings",
                                            Settings(dir, "127.0.0.1:1", "Dry", sendAs)} +
                                options;
        if (json)
            arguments << "--json";
        const QStringList names = BulkGroupNames(groups);
        for (const QString& group : names)
            arguments << "--group" << group;
        const CliResult result = Run(arguments);
        QCOMPARE(result.Exit, 0);
        QCOMPARE(result.Err, QByteArray());
        QCOMPARE(QDir(Path(dir)).entryList(QDir::Files), QStringList{"frmsv.INI"});
        QStringList newsgroups;
        for (const QString& line : OutputLines(result.Out)) {
            if (json) {
                const QJsonObject article = QJsonDocument::fromJson(line.toUtf8()).object();
                newsgroups << article["newsgroups"].toVariant().toStringList().join(',');
                QVERIFY(article["size"].toInt() > 0);
                QVERIFY(article["headers"].toArray().contains(QStringLiteral("Subject: Dry")));
            } else if (line.startsWith(QStringLiteral("Article %1 of %2: ")
                                           .arg(newsgroups.size() + 1)
                                           .arg(batches.size()))) {
                newsgroups << line.section(' ', 4, 4);
            }
        }
        QStringList expected;
        for (qsizetype first = 0; const int size : batches) {
            expected << names.mid(first, size).join(',');
            first += size;
        }
        QCOMPARE(newsgroups, expected);
        const QString summary =
            QStringLiteral("Dry run: %1 articles to %2 groups").arg(batches.size()).arg(groups);
        QVERIFY(json || OutputLines(result.Out).constLast().startsWith(summary));
    }

    // A post that replaces the last run, with the server withdrawing nothing but what it
    // should: each old article whose key the new one carries is gone (STAT 430) and its group
    // holds the new article alone; a cross-post that replaces separate articles supersedes its
    // first group's, and the other groups keep their old ones beside it.
    void supersedeReplacesTheLastRun_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("replaced");
        const QByteArray separate = "cbSendAs.CurrentIndex=0\r\n";
        const QByteArray crossPost = "cbSendAs.CurrentIndex=1\r\n";
        QTest::newRow("separate articles") << separate << separate << 5;
        QTest::newRow("one cross-post") << crossPost << crossPost << 5;
        QTest::newRow("a cross-post over separate ones") << separate << crossPost << 1;
    }
    void supersedeReplacesTheLastRun() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, replaced);
        const QString dir = QStringLiteral("supersede %1").arg(QTest::currentDataTag());
        const QString subject = UniqueSubject("replaced");
        const QByteArray secret = ("lock of " + dir.toLatin1()).leftJustified(32, '.', true);
        const QString settings =
            Settings(dir, FServer->Host(), subject,
                     before + "[CancelLock]\r\nSecret=" + secret.toBase64() + "\r\n");
        const QStringList groups = BulkGroupNames(5);
        QStringList posting{"post", "--settings", settings};
        for (const QString& group : groups)
            posting << "--group" << group;
        const CliResult first = Run(posting);
        QCOMPARE(first.Exit, 0);
        QStringList oldIds;
        for (const QString& line : OutputLines(first.Out).mid(0, groups.size()))
            oldIds << line.section("  ", 2, 2);
        QVERIFY(WriteTestFile(settings, ReadTestFile(settings).replace(before, after)));
        posting << "--supersede=last";
        const CliResult dry = Run(QStringList(posting) << "--dry-run");
        const std::string key = TCancelLock::Key(secret.toStdString(), oldIds[0].toStdString());
        QVERIFY2(dry.Out.contains("\nSupersedes: " + oldIds[0].toLatin1() + "\n") &&
                     dry.Out.contains("\nCancel-Key: " + QByteArray::fromStdString(key) + "\n"),
                 dry.Out.constData());
        const CliResult second = Run(posting);
        QCOMPARE(second.Exit, 0);
        // The history keeps, per group, the article replaced.
        const std::optional<THistoryRun> run =
            TPostingHistory(Path(dir + "/history.jsonl").toStdString()).Find("last");
        QVERIFY(run && run->Groups.size() == size_t(groups.size()));
        QList<int> stat;
        for (int i = 0; i < groups.size(); ++i) {
            const QJsonArray stored = FServer->ArticlesWithSubject(groups[i], subject);
            QCOMPARE(stored.size(), i < replaced ? 1 : 2);
            QCOMPARE(stored.last()["headers"]["Supersedes"].toString(),
                     oldIds[i < replaced ? i : 0]);
            QCOMPARE(QString::fromStdString(run->Groups[size_t(i)].Supersedes),
                     i < replaced ? oldIds[i] : QString());
            stat << (i < replaced ? 430 : 223);
        }
        QCOMPARE(StatCodes(FServer->Port(), oldIds), stat);
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
            e2e.Window->eFollowupTo->setText(QStringLiteral("misc.test, alt.test"));
            e2e.Window->eReplyTo->setText(QStringLiteral("replies@example.com"));
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
                                    << "misc.test"
                                    << QStringList{"--followup-to", "misc.test,alt.test",
                                                   "--reply-to", "replies@example.com"});
        QCOMPARE(result.Exit, 0);
        const QJsonArray fromWindow = Stored("alt.test", subject).value("parts").toArray();
        const QJsonArray fromCommandLine = Stored("misc.test", subject).value("parts").toArray();
        QCOMPARE(fromWindow.size(), 2);
        QCOMPARE(fromCommandLine, fromWindow);
        for (const QString group : {"alt.test", "misc.test"}) {
            const QJsonValue headers =
                FServer->ArticlesWithSubject(group, subject).at(0)["headers"];
            QCOMPARE(headers["Followup-To"].toString(), QStringLiteral("misc.test,alt.test"));
            QCOMPARE(headers["Reply-To"].toString(), QStringLiteral("replies@example.com"));
        }
        QCOMPARE(QByteArray::fromBase64(
                     fromCommandLine[1].toObject().value("payload").toString().toLatin1()),
                 bytes);
    }

    // A run of the posting history withdrawn by `cancel last`: each article gets one cancel,
    // keyed as the canlock tool keys it, and is gone (STAT 430); its line says cancelled.
    // Articles another program posted without a Cancel-Lock get their cancels too, but the
    // server keeps them (STAT 223), and their lines say so instead of claiming success.
    void cancelsARun_data() {
        QTest::addColumn<bool>("locked");
        QTest::newRow("posted by heraldix, locked") << true;
        QTest::newRow("posted elsewhere without a lock") << false;
    }
    void cancelsARun() {
        QFETCH(bool, locked);
        const QString dir =
            locked ? QStringLiteral("cancel-locked") : QStringLiteral("cancel-bare");
        const QString subject = UniqueSubject("withdrawn");
        const QStringList groups =
            QStringList{"alt.test", "comp.lang.c", "misc.test"} + BulkGroupNames(2);
        const QByteArray secret = ("lock of " + dir.toLatin1()).leftJustified(32, '.');
        const QString settings = Settings(dir, FServer->Host(), subject,
                                          "[CancelLock]\r\nSecret=" + secret.toBase64() + "\r\n");
        QList<std::pair<QString, QString>> posted;
        if (locked) {
            QStringList arguments{"post", "--settings", settings};
            for (const QString& group : groups)
                arguments << "--group" << group;
            posted = Posted(Run(arguments).Out);
        } else {
            NntpSession other(FServer->Port());
            for (const QString& group : groups) {
                const QString id = "<" + subject.section(' ', 1) + "." + group + "@else.example>";
                QVERIFY(other.Command("POST\r\n").startsWith("340"));
                QVERIFY(other
                            .Command("From: o@else.example\r\nNewsgroups: " + group.toLatin1() +
                                     "\r\nSubject: " + subject.toLatin1() +
                                     "\r\nMessage-ID: " + id.toLatin1() + "\r\n\r\nBody\r\n.\r\n")
                            .startsWith("240"));
                posted.append({group, id});
            }
            AddToHistory(settings, FServer->Host(), subject, posted);
        }
        QCOMPARE(posted.size(), groups.size());

        const CliResult cancelled = Run({"cancel", "last", "--settings", settings});
        QVERIFY2(cancelled.Exit == (locked ? 0 : 1), cancelled.Err.constData());
        QStringList expected;
        QStringList ids;
        for (const auto& [group, id] : posted) {
            expected << (locked ? "cancelled  " + group + "  " + id
                                : "kept  " + group + "  " + id +
                                      "  not withdrawn: the server withdraws only articles that "
                                      "carry a Cancel-Lock");
            ids << id;
        }
        expected << QStringLiteral("Finished Cancelling: %1 cancelled, %2 not withdrawn, 0 refused")
                        .arg(locked ? 5 : 0)
                        .arg(locked ? 0 : 5);
        QCOMPARE(OutputLines(cancelled.Out), expected);
        QCOMPARE(StatCodes(FServer->Port(), ids), QList<int>(ids.size(), locked ? 430 : 223));
        // The cancel run is the history's newest line; "last" still means the posting run.
        QCOMPARE(
            OutputLines(Run({"history", "--settings", settings}).Out).value(0).section("  ", 2, 2),
            "cancel");
        for (const auto& [group, id] : posted) {
            const QJsonArray cancels =
                FServer->ArticlesWithSubject("control.cancel", "cmsg cancel " + id);
            QCOMPARE(cancels.size(), 1);
            const QJsonObject headers = cancels[0].toObject()["headers"].toObject();
            QCOMPARE(headers["Control"].toString(), "cancel " + id);
            QCOMPARE(headers["Newsgroups"].toString(), group);
            QCOMPARE(headers["Cancel-Key"].toString(), ToolLock(secret, id, "-k"));
        }
    }

    // A cancel run of 50 articles killed while the server holds a cancel whose verdict it never
    // heard: `cancel --resume` asks for the cancels already sent instead of sending them again,
    // then for every withdrawn article. All are gone, and each got exactly one cancel.
    void killedCancelRunResumes() {
        const QString dir = QStringLiteral("cancel-killed");
        const QString subject = UniqueSubject("withdrawn in two");
        const QStringList groups = BulkGroupNames(BulkGroups);
        const QString settings =
            Settings(dir, FServer->Host(), subject,
                     "[CancelLock]\r\nSecret=" + QByteArray(32, 'k').toBase64() + "\r\n");
        QVERIFY(WriteTestFile(Path(dir + "/groups.txt"), groups.join('\n').toLatin1()));
        const QList<std::pair<QString, QString>> posted = Posted(
            Run({"post", "--settings", settings, "--groups-file", Path(dir + "/groups.txt")}).Out);
        QCOMPARE(posted.size(), BulkGroups);
        GatedRelay relay(FServer->Port());
        relay.HoldFrom("240 ", 21);
        QVERIFY(relay.Start());
        AddToHistory(settings, QString::fromStdString(relay.Address()), subject, posted);
        QProcess process;
        Start(process, {"cancel", "last", "--settings", settings});
        QTRY_VERIFY_WITH_TIMEOUT(relay.Holding(), RunTimeout);
        process.kill();
        QVERIFY(process.waitForFinished(RunTimeout));
        relay.Release();

        const CliResult resumed = Run({"cancel", "--resume", "--settings", settings});
        QCOMPARE(resumed.Exit, 0);
        QStringList expected;
        QStringList ids;
        for (const auto& [group, id] : posted) {
            expected << "cancelled  " + group + "  " + id;
            ids << id;
        }
        expected << QStringLiteral("Finished Cancelling: 50 cancelled, 0 not withdrawn, 0 refused");
        QCOMPARE(OutputLines(resumed.Out), expected);
        QCOMPARE(StatCodes(FServer->Port(), ids), QList<int>(BulkGroups, 430));
        // One cancel stored for each article. A cancel sent again under its own Message-ID
        // would be refused as a duplicate, and its line above would say refused.
        QMap<QString, int> cancels;
        for (const QString& id : ids)
            cancels["cmsg cancel " + id] = 0;
        for (const QJsonValue cancel : FServer->Articles("control.cancel"))
            if (const QString subjectOf = cancel["headers"]["Subject"].toString();
                cancels.contains(subjectOf))
                ++cancels[subjectOf];
        QCOMPARE(QList<int>(cancels.values()), QList<int>(BulkGroups, 1));
        QCOMPARE(Run({"cancel", "--resume", "--settings", settings}).Exit, 2);
    }
};

QTEST_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
