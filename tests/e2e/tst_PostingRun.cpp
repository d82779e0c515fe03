// Posting runs of the main window against the real news server: what the server stored, what
// the user was told.

#include "E2eWindow.h"
#include "support/ArticleReader.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"
#include "support/ScriptedPeer.h"
#include "support/TestFiles.h"

#include <QJsonArray>

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>

static constexpr int RunTimeout = 30000;
static constexpr int BulkGroups = 40;
static const QString Finished = QStringLiteral("Finished Posting");

class tst_PostingRun : public QObject {
    Q_OBJECT

    std::unique_ptr<NewsServer> FServer;
    QString FServerMode;
    ReportedErrors FErrors;

    // Every start names the same group set, so switching modes keeps the articles.
    void UseServer(const QString& mode) {
        if (FServerMode == mode)
            return;
        QStringList options{"--groups", QString::number(BulkGroups)};
        if (!mode.isEmpty())
            options << mode;
        QVERIFY2(FServer->Start(options), FServer->Output().constData());
        FServerMode = mode;
    }

    static QString UniqueSubject(const char* what) {
        return QStringLiteral("%1 %2").arg(what).arg(QRandomGenerator::global()->generate64(), 0,
                                                     16);
    }

    // Waits for the run's closing box and checks that it comes once.
    static void WaitFinished(E2eWindow& e2e) {
        QTRY_COMPARE_WITH_TIMEOUT(e2e.MessageCount(Finished), 1, RunTimeout);
        QTest::qWait(200);
        QCOMPARE(e2e.MessageCount(Finished), 1);
        QVERIFY(!e2e.Window->Posting());
    }

    // The one article `group` holds with `subject`, as the reader's view of its parts.
    QJsonObject StoredArticle(const QString& group, const QString& subject) {
        const QJsonArray found = FServer->ArticlesWithSubject(group, subject);
        if (found.size() != 1) {
            qWarning("%s holds %d articles with the subject", qPrintable(group),
                     static_cast<int>(found.size()));
            return {};
        }
        const QJsonObject article = found[0].toObject();
        QJsonObject parts = ReadArticleParts(article.value("raw").toString());
        parts.insert("headers", article.value("headers"));
        return parts;
    }

private slots:
    void initTestCase() {
        FServer = std::make_unique<NewsServer>();
        QVERIFY2(FServer->Start({"--fresh", "--groups", QString::number(BulkGroups)}),
                 FServer->Output().constData());
    }
    void cleanupTestCase() {
        QVERIFY(FServer->Stop());
        FServer.reset();
    }
    void init() { FErrors.Collect(); }
    void cleanup() {
        FErrors.Release();
        QCOMPARE(FErrors.Texts(), std::vector<std::string>());
    }

    // The whole road: fetch the list, pick three groups, post, read the three articles back.
    void threeGroupsWithoutLogOn() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        TfrmMain& window = *e2e.Window;
        window.Getgrouplist1Click();
        QTRY_VERIFY_WITH_TIMEOUT(window.trcvNewsgroups->Count() > 0, RunTimeout);
        for (const char* group : {"alt.test", "comp.lang.c", "misc.test"})
            window.trcvNewsgroups->SetSelection(window.trcvNewsgroups->Items().IndexOf(group),
                                                true);
        QTest::mouseClick(window.sbSelectGroups, Qt::LeftButton);
        QCOMPARE(window.trcvToPost->Count(), 3);

        const QString subject = UniqueSubject("three groups");
        window.eSubject->setText(subject);
        const QStringList body{"Hello groups,", ".", ".a line with a leading period", "", "Bye."};
        window.dcMsgBody->SetLines(body);
        e2e.PressPost();
        WaitFinished(e2e);
        QVERIFY(e2e.Log().contains("Finished Posting: 3 accepted, 0 refused"));
        QCOMPARE(window.PostsAccepted(), 3);

        for (const QString group : {"alt.test", "comp.lang.c", "misc.test"}) {
            const QJsonObject article = StoredArticle(group, subject);
            const QJsonObject headers = article.value("headers").toObject();
            QCOMPARE(headers.value("Newsgroups").toString(), group);
            QCOMPARE(headers.value("From").toString(), QStringLiteral("poster@example.com"));
            const QJsonArray parts = article.value("parts").toArray();
            QCOMPARE(parts.size(), 1);
            const QJsonObject text = parts[0].toObject();
            QCOMPARE(text.value("type").toString(), QStringLiteral("text/plain"));
            // Without an attachment the article is the text itself, every line ended.
            QVERIFY(!article.value("multipart").toBool());
            QCOMPARE(text.value("text").toString(), body.join("\r\n") + "\r\n");
        }
    }

    // A refused group in the middle does not stop the run, and the summary counts it.
    void refusedGroupInTheMiddle() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        const QString subject = UniqueSubject("refused middle");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"middle"});
        e2e.SetGroups({"alt.test", "mod.test", "rec.arts.books"});
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 1, RunTimeout);
        // The box names the counts and the server's reason for the refusal.
        const QString box = e2e.Prompts->Messages().first();
        QVERIFY2(box.startsWith("Finished Posting: 2 accepted, 1 refused\n4"), qPrintable(box));
        QVERIFY2(box.contains("No mailing address for \"mod.test\""), qPrintable(box));
        QCOMPARE(e2e.Prompts->Icons(), std::vector<TPromptIcon>{TPromptIcon::Warning});
        QVERIFY2(e2e.Log().contains("Finished Posting: 2 accepted, 1 refused"),
                 qPrintable(e2e.Log()));
        QVERIFY(e2e.Log().contains("No mailing address for \"mod.test\""));
        QCOMPARE(FServer->ArticlesWithSubject("alt.test", subject).size(), 1);
        QCOMPARE(FServer->ArticlesWithSubject("rec.arts.books", subject).size(), 1);
        QCOMPARE(FServer->ArticlesWithSubject("mod.test", subject).size(), 0);
    }

    void gifAttachmentDecodesToTheFile() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        // A small picture followed by every byte value, so that no byte escapes the encoding.
        QByteArray bytes =
            QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7");
        for (int round = 0; round < 40; ++round)
            for (int value = 0; value < 256; ++value)
                bytes.append(static_cast<char>(value ^ round));
        const QString path = e2e.Dir() + "/picture.gif";
        QVERIFY(WriteTestFile(path, bytes));
        e2e.Prompts->QueueFileName(path);
        QTest::mouseClick(e2e.Window->btnAttach, Qt::LeftButton);
        QCOMPARE(e2e.Window->AttachmentPath(), path);

        const QString subject = UniqueSubject("picture");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"A picture."});
        e2e.SetGroups({"misc.test", "rec.arts.books"});
        e2e.PressPost();
        WaitFinished(e2e);
        QVERIFY(e2e.Log().contains("Finished Posting: 2 accepted, 0 refused"));

        for (const QString group : {"misc.test", "rec.arts.books"}) {
            const QJsonArray parts = StoredArticle(group, subject).value("parts").toArray();
            QCOMPARE(parts.size(), 2);
            QCOMPARE(parts[0].toObject().value("text").toString(), QStringLiteral("A picture."));
            const QJsonObject picture = parts[1].toObject();
            QCOMPARE(picture.value("type").toString(), QStringLiteral("image/gif"));
            QCOMPARE(picture.value("filename").toString(), QStringLiteral("picture.gif"));
            QCOMPARE(picture.value("disposition").toString(), QStringLiteral("attachment"));
            QCOMPARE(QByteArray::fromBase64(picture.value("payload").toString().toLatin1()), bytes);
        }
    }

    void nonAsciiBodyArrivesAsUtf8() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        const QString subject = UniqueSubject("utf8");
        const QStringList body{QStringLiteral("Grüße aus Köln"), QStringLiteral("naïve café — ☃"),
                               QStringLiteral("Ελληνικά, русский, 日本語")};
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines(body);
        e2e.SetGroups({"misc.test"});
        e2e.PressPost();
        WaitFinished(e2e);
        const QJsonObject text =
            StoredArticle("misc.test", subject).value("parts").toArray()[0].toObject();
        QCOMPARE(text.value("charset").toString(), QStringLiteral("utf-8"));
        QCOMPARE(text.value("encoding").toString(), QStringLiteral("8bit"));
        QCOMPARE(text.value("text").toString(), body.join("\r\n") + "\r\n");
    }

    // What was typed and attached comes back from the server as it was: a subject and a name
    // outside ASCII, a paragraph of 3,000 octets, an attachment named with accents, quotes and
    // a comma. The stored article has one of each identity header, and its Message-ID is the
    // one the status log shows.
    void typedArticleReadsBackAsTyped() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        QByteArray bytes;
        for (int value = 0; value < 256 * 8; ++value)
            bytes.append(static_cast<char>(value * 37));
        const QString fileName = QStringLiteral("Résumé \"final\", v2.pdf");
        const QString path = e2e.Dir() + "/" + fileName;
        QVERIFY(WriteTestFile(path, bytes));
        e2e.Window->SetAttachmentPath(path);
        const QString subject = UniqueSubject("Grüße aus Köln, Ελληνικά");
        const QStringList body{QStringLiteral("Schöne Grüße,"), QString("abcd ").repeated(600),
                               "Bye."};
        QCOMPARE(body[1].toUtf8().size(), 3000);
        e2e.Window->eName->setText(QStringLiteral("Jürgen Müller"));
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines(body);
        e2e.SetGroups({"misc.test"});
        e2e.PressPost();
        WaitFinished(e2e);
        QVERIFY2(e2e.Log().contains("Finished Posting: 1 accepted, 0 refused"),
                 qPrintable(e2e.Log()));

        QStringList shown;
        for (const QString& line : e2e.Log().split('\n'))
            if (line.startsWith("Message-ID: "))
                shown << line.mid(12);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(e2e.Window->MessageIDs(), std::vector<std::string>{shown[0].toStdString()});
        QJsonObject stored;
        for (const QJsonValue& article : FServer->Articles("misc.test"))
            if (article.toObject().value("message_id").toString() == shown[0])
                stored = article.toObject();
        QVERIFY2(!stored.isEmpty(), qPrintable(shown[0]));

        const QJsonObject read = ReadArticle(stored.value("raw").toString().toUtf8());
        QCOMPARE(read.value("defects").toArray(), QJsonArray());
        QCOMPARE(read.value("subject").toString(), subject);
        QCOMPARE(read.value("name").toString(), QStringLiteral("Jürgen Müller"));
        QCOMPARE(read.value("address").toString(), QStringLiteral("poster@example.com"));
        QCOMPARE(read.value("user_agent").toString(), TfrmMain::DefaultNewsreader());
        QCOMPARE(read.value("message_id").toString(), shown[0]);
        QStringList text;
        for (const QJsonValue& line : read.value("text").toArray())
            text << line.toString();
        QCOMPARE(text, body);
        const QJsonObject attachment = read.value("attachment").toObject();
        QCOMPARE(attachment.value("filename").toString(), fileName);
        QCOMPARE(QByteArray::fromBase64(attachment.value("payload").toString().toLatin1()), bytes);
        QVERIFY(read.value("longest_line").toInt() <= 998);
        const QJsonObject headers = read.value("headers").toObject();
        for (const char* name : {"Date", "From", "Message-ID", "Newsgroups", "Path", "Subject"})
            QVERIFY2(headers.value(name).toInt() == 1, name);
    }

    void withLogOn() {
        UseServer("--auth");
        E2eWindow e2e(FServer->Host());
        const QString subject = UniqueSubject("log-on");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Logged on."});
        e2e.SetGroups({"alt.test", "misc.test"});
        e2e.LogOn("poster", "secret");
        e2e.PressPost();
        WaitFinished(e2e);
        QVERIFY2(e2e.Log().contains("Finished Posting: 2 accepted, 0 refused"),
                 qPrintable(e2e.Log()));
        QCOMPARE(FServer->ArticlesWithSubject("alt.test", subject).size(), 1);
        QCOMPARE(FServer->ArticlesWithSubject("misc.test", subject).size(), 1);
    }

    // The server refuses the log-on and then every POST; the run counts the refusals and ends.
    void wrongPasswordReportsTheRefusals() {
        UseServer("--auth");
        E2eWindow e2e(FServer->Host());
        const QString subject = UniqueSubject("wrong password");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Never stored."});
        e2e.SetGroups({"alt.test", "misc.test"});
        e2e.LogOn("poster", "wrong");
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages().size(), 1, RunTimeout);
        const QString box = e2e.Prompts->Messages().first();
        QVERIFY2(box.startsWith("Finished Posting: 0 accepted, 2 refused\n4"), qPrintable(box));
        QCOMPARE(e2e.Prompts->Icons(), std::vector<TPromptIcon>{TPromptIcon::Critical});
        QVERIFY2(e2e.Log().contains("Authentication failed"), qPrintable(e2e.Log()));
        QVERIFY2(e2e.Log().contains("Finished Posting: 0 accepted, 2 refused"),
                 qPrintable(e2e.Log()));
        QCOMPARE(e2e.Window->PostsAccepted(), 0);
        QCOMPARE(FServer->ArticlesWithSubject("alt.test", subject).size(), 0);
    }

    // A server that greets with 201 gets no article: the box says why.
    void readOnlyServerGetsNoArticle() {
        UseServer("--read-only");
        E2eWindow e2e(FServer->Host());
        const QString subject = UniqueSubject("read-only");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"From: not a header", "quit"});
        e2e.SetGroups({"alt.test", "misc.test"});
        e2e.PressPost();
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Prompts->Messages(),
                                  QStringList{"This news server does NOT allow posting!!"},
                                  RunTimeout);
        QVERIFY(!e2e.Window->Posting());
        // Nothing but QUIT follows: no article line, which the server would have answered as
        // an unknown command.
        QTRY_COMPARE_WITH_TIMEOUT(e2e.Window->IpNntpClient1().State(), TIpNntpStates::nsNoOp,
                                  RunTimeout);
        QTest::qWait(300);
        QVERIFY2(!e2e.Log().contains("What?"), qPrintable(e2e.Log()));
        QCOMPARE(e2e.MessageCount(Finished), 0);
        QCOMPARE(FServer->ArticlesWithSubject("alt.test", subject).size(), 0);
    }

    // Abort stops a long run: the connection ends and no later group gets an article.
    void abortDuringALongRun() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        std::vector<std::string> groups;
        for (int i = 1; i <= BulkGroups; ++i)
            groups.push_back(
                QStringLiteral("test.bulk.%1").arg(i, 6, 10, QLatin1Char('0')).toStdString());
        e2e.SetGroups(groups);
        const QString subject = UniqueSubject("abort");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Abort me."});
        e2e.Prompts->QueueChecksAnswer(TChecksAnswer::PostAnyway);
        e2e.PressPost();
        QTRY_VERIFY_WITH_TIMEOUT(e2e.Window->PostsAccepted() >= 3, RunTimeout);
        e2e.PressAbort();
        const int acceptedAtAbort = e2e.Window->PostsAccepted();
        QVERIFY(e2e.Window->Aborted());
        QVERIFY(!e2e.Window->Posting());
        QVERIFY(e2e.Log().split('\n').contains("Aborted"));
        // QUIT ends the connection, whether the server answers it or it is closed a few seconds
        // later (QUIT sent while the article was on its way is read as part of the article).
        QTRY_VERIFY_WITH_TIMEOUT(!e2e.Window->IpNntpClient1().Connected(), RunTimeout);
        QTest::qWait(300);
        QCOMPARE(e2e.MessageCount(Finished), 0);

        // The article on its way at Abort may still arrive; nothing after it does.
        int stored = 0;
        for (int i = 0; i < BulkGroups; ++i) {
            const int count = static_cast<int>(
                FServer->ArticlesWithSubject(QString::fromStdString(groups[i]), subject).size());
            if (i < acceptedAtAbort)
                QCOMPARE(count, 1);
            else if (i > acceptedAtAbort)
                QCOMPARE(count, 0);
            stored += count;
            if (i > acceptedAtAbort + 2)
                break;
        }
        QVERIFY(stored <= acceptedAtAbort + 1);
    }

    // Post pressed twice in quick succession: the second press finds the run under way and
    // changes nothing, so each group gets one article.
    void postPressedTwiceQuickly() {
        UseServer({});
        E2eWindow e2e(FServer->Host());
        const QString subject = UniqueSubject("twice");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Once only."});
        e2e.SetGroups({"alt.test", "comp.lang.c", "misc.test"});
        e2e.PressPost();
        e2e.PressPost();
        WaitFinished(e2e);
        for (const QString group : {"alt.test", "comp.lang.c", "misc.test"})
            QCOMPARE(FServer->ArticlesWithSubject(group, subject).size(), 1);
    }

    // Abort on a server that accepted the connection and never greets, then Post to the real
    // server: the second run connects there and posts every group.
    void abortOnASilentServerThenPost() {
        UseServer({});
        ScriptedPeer silent;
        silent.SetTimeout(60000);
        silent.WaitFor("never sent");
        silent.Start();
        E2eWindow e2e(QString::fromStdString(silent.Address()));
        const QString subject = UniqueSubject("after abort");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Second server."});
        e2e.SetGroups({"alt.test", "misc.test"});
        e2e.PressPost();
        QTRY_VERIFY(e2e.Window->IpNntpClient1().Connected());
        e2e.PressAbort();
        QVERIFY(!e2e.Window->Posting());
        e2e.Window->eHost->setText(FServer->Host());
        e2e.PressPost();
        WaitFinished(e2e);
        for (const QString group : {"alt.test", "misc.test"})
            QCOMPARE(FServer->ArticlesWithSubject(group, subject).size(), 1);
        QCOMPARE(silent.Received(), std::string("QUIT\r\n"));
    }

    // A run leaves its connection open; after the user changes the server, the next run goes
    // to the new one.
    void changedServerIsUsedByTheNextRun() {
        UseServer({});
        ScriptedPeer first;
        first.SetTimeout(60000);
        first.Answer("POST", "340 go\r\n").Answer(".", "240 ok\r\n");
        first.Send("200 ready\r\n").WaitFor("never sent");
        first.Start();
        E2eWindow e2e(QString::fromStdString(first.Address()));
        const QString subject = UniqueSubject("changed server");
        e2e.Window->eSubject->setText(subject);
        e2e.Window->dcMsgBody->SetLines({"Where does it go?"});
        e2e.SetGroups({"alt.test", "misc.test"});
        e2e.PressPost();
        WaitFinished(e2e);
        QVERIFY(e2e.Window->IpNntpClient1().Connected());

        e2e.Prompts->Forget();
        e2e.Window->eHost->setText(FServer->Host());
        e2e.PressPost();
        WaitFinished(e2e);
        for (const QString group : {"alt.test", "misc.test"})
            QCOMPARE(FServer->ArticlesWithSubject(group, subject).size(), 1);
        QCOMPARE(first.Connections(), size_t(1));
        const std::vector<std::string> lines = first.ReceivedLines();
        QCOMPARE(std::count(lines.begin(), lines.end(), std::string("POST")), 2);
    }
};

QTEST_MAIN(tst_PostingRun)
#include "tst_PostingRun.moc"
