#include "NntpRecorder.h"
#include "NntpTestText.h"
#include "nntp/TIpNntpClient.h"
#include "support/NewsServer.h"
#include "support/ReportedErrors.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Lines = std::vector<std::string>;

static constexpr int ServerTimeout = 20000;

static Lines SplitCRLF(const std::string& text) {
    Lines lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

class tst_NntpRealServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void postToWithoutLogOn();
    void listReturnsTheServersGroups();
    void quitIsAnsweredAndReleasesTheConnection();
    void refusedPostLeavesTheSessionIntact();
    void postToWithLogOn();

private:
    // Fills the article the way the posting run does: a text part and an attached picture.
    void FillArticle(TIpNewsArticle& article, const std::string& group, const std::string& subject);
    // Posts with PostTo and checks the server's verdict; returns the composed text.
    void PostAndCheck(TIpNntpClient& client, NntpRecorder& rec, const std::string& group,
                      const std::string& subject);
    void CheckStored(const std::string& group, const std::string& subject,
                     const std::string& composed);

    std::unique_ptr<NewsServer> FServer;
    QTemporaryDir FFiles;
    ReportedErrors FErrors;
};

void tst_NntpRealServer::initTestCase() {
    FServer = std::make_unique<NewsServer>();
    QVERIFY2(FServer->Start({"--fresh"}), FServer->Output().constData());
}

void tst_NntpRealServer::init() {
    FErrors.Collect();
}

void tst_NntpRealServer::cleanup() {
    FErrors.Release();
    QCOMPARE(FErrors.Texts(), Lines());
}

void tst_NntpRealServer::FillArticle(TIpNewsArticle& article, const std::string& group,
                                     const std::string& subject) {
    article.NewMessage();
    article.From = "poster@example.com";
    article.Sender = "poster@example.com";
    article.Subject = subject;
    article.Newsgroups = {group};
    article.Path = {group};
    TIpMimeEntity* text = article.PlainTextPart(true);
    for (const char* line : {"Hello group,", ".", ".starts with a period", "", "..", "Bye."})
        text->Body.WriteLine(line);

    // An attached picture, base64-encoded into a part of its own.
    const QString path = FFiles.filePath("picture.gif");
    QByteArray bytes(3000, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::global()->bounded(256));
    QVERIFY(WriteTestFile(path, bytes));
    TIpMimeEntity* attachment = article.AddChild();
    attachment->ContentName = "picture.gif";
    attachment->DispositionType = "Attachment";
    attachment->LoadFromFile(path.toStdString());
}

void tst_NntpRealServer::PostAndCheck(TIpNntpClient& client, NntpRecorder& rec,
                                      const std::string& group, const std::string& subject) {
    FillArticle(client.Article(), group, subject);
    client.PostTo(FServer->Host().toStdString(), group);
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("task ntPostTo"), ServerTimeout);
    const Lines verdicts = rec.Matching("response nsPost ");
    QCOMPARE(verdicts.size(), size_t(1));
    QVERIFY2(verdicts[0].rfind("response nsPost 240 ", 0) == 0, verdicts[0].c_str());
    QCOMPARE(rec.Matching("response nsPrePost ").size(), size_t(1));
    QVERIFY(rec.Matching("response nsPrePost ")[0].rfind("response nsPrePost 340", 0) == 0);

    // What was composed, as the client sent it (before dot-stuffing).
    TIpNewsArticle& article = client.Article();
    article.SetPosition(0);
    std::string composed;
    while (article.Position() < article.Size())
        composed += article.ReadLineCRLF();
    CheckStored(group, subject, composed);
}

void tst_NntpRealServer::CheckStored(const std::string& group, const std::string& subject,
                                     const std::string& composed) {
    const QJsonArray articles = FServer->Articles(QString::fromStdString(group));
    QJsonObject stored;
    for (const QJsonValue& value : articles)
        if (value.toObject()["headers"].toObject()["Subject"].toString().toStdString() == subject)
            stored = value.toObject();
    QVERIFY2(!stored.isEmpty(), FServer->Output().constData());

    const std::string raw = stored["raw"].toString().toStdString();
    const size_t rawSplit = raw.find("\r\n\r\n");
    const size_t composedSplit = composed.find("\r\n\r\n");
    QVERIFY(rawSplit != std::string::npos && composedSplit != std::string::npos);
    // The body with its MIME parts comes back exactly as composed (the final "." aside).
    QCOMPARE(raw.substr(rawSplit + 4),
             composed.substr(composedSplit + 4, composed.size() - composedSplit - 4 - 3));
    // Every header we wrote is stored; the server adds its own and extends Path.
    const Lines storedHeaders = SplitCRLF(raw.substr(0, rawSplit));
    for (const std::string& header : SplitCRLF(composed.substr(0, composedSplit))) {
        if (header.rfind("Path: ", 0) == 0)
            continue;
        QVERIFY2(std::find(storedHeaders.begin(), storedHeaders.end(), header) !=
                     storedHeaders.end(),
                 header.c_str());
    }
    QCOMPARE(stored["headers"].toObject()["Path"].toString().endsWith(
                 QString::fromStdString("!" + group)),
             true);
}

void tst_NntpRealServer::postToWithoutLogOn() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    const std::string subject =
        "open post " + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    PostAndCheck(client, rec, "misc.test", subject);
    QVERIFY(!rec.Has("response nsAuthUser"));
    QTRY_COMPARE(rec.StateTrail(), std::string("nsConnect nsGroup nsPrePost nsPost nsNoOp"));
}

void tst_NntpRealServer::listReturnsTheServersGroups() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (to == TIpNntpStates::nsConnect)
            client.List();
    };
    client.Connect(FServer->Host().toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(rec.Lists.size(), size_t(1), ServerTimeout);
    const Lines& list = rec.Lists[0];
    QVERIFY(!list.empty());
    QVERIFY2(list[0].rfind("215", 0) == 0, list[0].c_str());
    Lines names;
    for (size_t i = 1; i < list.size(); ++i)
        names.push_back(list[i].substr(0, list[i].find(' ')));
    for (const char* group : {"misc.test", "alt.test", "comp.lang.c++", "mod.test"})
        QVERIFY2(std::find(names.begin(), names.end(), group) != names.end(), group);
    QCOMPARE(client.State(), TIpNntpStates::nsList);
}

void tst_NntpRealServer::quitIsAnsweredAndReleasesTheConnection() {
    TIpNntpClient client;
    NntpRecorder rec(client);
    rec.AfterResponse = [&](TIpNntpStates to, int32_t) {
        if (to == TIpNntpStates::nsConnect)
            client.Quit();
    };
    client.Connect(FServer->Host().toStdString());
    QTRY_COMPARE_WITH_TIMEOUT(rec.Matching("response nsQuit 205").size(), size_t(1), ServerTimeout);
    QTRY_VERIFY(!client.IsActive());
    QCOMPARE(client.Handle(), -1);
    QVERIFY(!client.Connected());
    QCOMPARE(client.State(), TIpNntpStates::nsNoOp);
}

void tst_NntpRealServer::refusedPostLeavesTheSessionIntact() {
    // A log-on server refuses GROUP and POST from a client that has not logged on. No article
    // line may follow the refused POST.
    QVERIFY2(FServer->Start({"--auth"}), FServer->Output().constData());
    TIpNntpClient client;
    NntpRecorder rec(client);
    FillArticle(client.Article(), "misc.test", "refused");
    client.PostTo(FServer->Host().toStdString(), "misc.test");
    QTRY_VERIFY_WITH_TIMEOUT(rec.States.size() >= 4 && client.State() == TIpNntpStates::nsNoOp,
                             ServerTimeout);
    QCOMPARE(rec.Matching("response nsPrePost 480").size(), size_t(1));
    client.Quit();
    QTRY_COMPARE_WITH_TIMEOUT(rec.Matching("response nsQuit").size(), size_t(1), ServerTimeout);
    // Had the article's lines gone out, the server would have answered each with an error first.
    const Lines responses = rec.Matching("response");
    QCOMPARE(responses.size(), size_t(4));
    QVERIFY(responses[1].rfind("response nsGroup 480", 0) == 0);
    QVERIFY(responses[3].rfind("response nsQuit 205", 0) == 0);
    QVERIFY(!rec.Has("task ntPostTo"));
}

void tst_NntpRealServer::postToWithLogOn() {
    QVERIFY2(FServer->Start({"--auth"}), FServer->Output().constData());
    TIpNntpClient client;
    NntpRecorder rec(client);
    client.UserID = "poster";
    client.Password = "secret";
    const std::string subject =
        "logged-on post " +
        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    PostAndCheck(client, rec, "alt.test", subject);
    QCOMPARE(rec.Matching("response nsAuthUser 381").size(), size_t(1));
    QCOMPARE(rec.Matching("response nsAuthPass 281").size(), size_t(1));
    QTRY_COMPARE(rec.StateTrail(),
                 std::string("nsConnect nsAuthUser nsAuthPass nsGroup nsPrePost nsPost nsNoOp"));
}

QTEST_GUILESS_MAIN(tst_NntpRealServer)
#include "tst_NntpRealServer.moc"
