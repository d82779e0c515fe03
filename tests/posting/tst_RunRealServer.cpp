// Posting runs against the real news server: one stopped and started again in the middle of a
// run, verification of what it stored, and several connections at once. What the server holds
// afterwards is read back group by group.

#include "RecordedOperation.h"
#include "mime/TIpMimeEntity.h"
#include "posting/TArticlePreview.h"
#include "support/NewsServer.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

static constexpr int BulkGroups = 50;
static constexpr int RunTimeout = 60000;

class tst_RunRealServer : public QObject {
    Q_OBJECT

    std::unique_ptr<NewsServer> FServer;

    static QString UniqueSubject(const char* what) {
        return QStringLiteral("%1 %2").arg(what).arg(QRandomGenerator::global()->generate64(), 0,
                                                     16);
    }

    TNewsRequest ServerRequest(const QString& subject, int groups, int connections) const {
        TNewsRequest request;
        request.Host = FServer->Host().toStdString();
        request.TimeoutSeconds = 10;
        request.Connections = connections;
        for (int i = 1; i <= groups; ++i)
            request.Groups.push_back(
                QStringLiteral("test.bulk.%1").arg(i, 6, 10, QChar('0')).toStdString());
        request.Article.Address = "poster@example.com";
        request.Article.Subject = subject.toStdString();
        request.Article.BodyLines = {"body"};
        return request;
    }

    // Every group of the request holds exactly one article with the subject.
    void CheckOneArticleEach(const TNewsRequest& request, const QString& subject) {
        for (const std::string& group : request.Groups)
            QCOMPARE(FServer->ArticlesWithSubject(QString::fromStdString(group), subject).size(),
                     1);
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

    // The server goes away for a while in the middle of the run: the run opens its connections
    // again, asks for the article that was under way, and finishes by itself.
    void serverRestartedMidRun() {
        const QString subject = UniqueSubject("restart");
        RecordedOperation recorded;
        const TNewsRequest request = ServerRequest(subject, BulkGroups, 2);
        // Stopped from within the tenth answer, while the run waits: a fast server would otherwise
        // take every group before the test's next look.
        std::optional<bool> stopped;
        TNewsOperationEvents& events = recorded.Operation.Events();
        events.GroupDone = [&, record = events.GroupDone](const TGroupOutcome& outcome) {
            record(outcome);
            if (!stopped && recorded.Outcomes.size() == 10)
                stopped = FServer->Stop();
        };
        recorded.Operation.StartPost(request);
        QTRY_VERIFY_WITH_TIMEOUT(stopped.has_value(), RunTimeout);
        QVERIFY2(*stopped, FServer->Output().constData());
        // Long enough for the run to see its connections go and a first try fail.
        QTest::qWait(1500);
        QVERIFY2(FServer->Start({"--groups", QString::number(BulkGroups)}),
                 FServer->Output().constData());
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Summaries.size() + recorded.Failures.size(), size_t(1),
                                  RunTimeout);
        QCOMPARE(recorded.Failures, Lines{});
        QCOMPARE(recorded.Summaries[0].Accepted, BulkGroups);
        QCOMPARE(recorded.Groups(), request.Groups);
        const std::string log = recorded.LogText();
        QVERIFY2(log.find("Reconnecting in 1 s (try 1 of 3)") != std::string::npos, log.c_str());
        CheckOneArticleEach(request, subject);
    }

    // After the last group every accepted article is asked for; one the server no longer has
    // (removed between posting and verifying) is reported missing.
    void verification_data() {
        QTest::addColumn<int>("removed");
        QTest::newRow("all there") << -1;
        QTest::newRow("one removed") << 1;
    }
    void verification() {
        QFETCH(int, removed);
        RecordedOperation recorded;
        TNewsRequest request = ServerRequest(UniqueSubject("verify"), 3, 2);
        request.Verify = true;
        bool cancelled = false;
        // The last group's answer comes just before the run starts asking.
        recorded.Operation.Events().GroupDone = [&](const TGroupOutcome& outcome) {
            recorded.Outcomes.push_back(outcome);
            if (removed >= 0 && recorded.Outcomes.size() == 3)
                cancelled = FServer->CancelArticle(QString::fromStdString(
                    recorded.Outcomes[static_cast<size_t>(removed)].MessageID));
        };
        recorded.Operation.StartPost(request);
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Summaries.size() + recorded.Failures.size(), size_t(1),
                                  RunTimeout);
        QCOMPARE(cancelled, removed >= 0);
        const TRunSummary& summary = recorded.Summaries.at(0);
        QCOMPARE(summary.Accepted, 3);
        QCOMPARE(summary.Verified, removed >= 0 ? 2 : 3);
        QCOMPARE(summary.Missing, removed >= 0 ? 1 : 0);
        QCOMPARE(recorded.Verified.size(), size_t(3));
        for (size_t i = 0; i < 3; ++i) {
            const auto expected = static_cast<int>(i) == removed
                                      ? TGroupOutcome::TVerification::Missing
                                      : TGroupOutcome::TVerification::Verified;
            QCOMPARE(recorded.Verified[i].Group, request.Groups[i]);
            QVERIFY(recorded.Verified[i].Verification == expected);
            QVERIFY(summary.Outcomes[i].Verification == expected);
        }
    }

    // Four connections share twenty groups: each is posted once, and the answers come in the
    // request's order.
    void fourConnections() {
        const QString subject = UniqueSubject("four");
        RecordedOperation recorded;
        const TNewsRequest request = ServerRequest(subject, 20, 4);
        recorded.Operation.StartPost(request);
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Summaries.size() + recorded.Failures.size(), size_t(1),
                                  RunTimeout);
        QCOMPARE(recorded.Failures, Lines{});
        QCOMPARE(recorded.Summaries[0].Accepted, 20);
        QCOMPARE(recorded.Groups(), request.Groups);
        const bool allConnections = std::find(recorded.Log.begin(), recorded.Log.end(),
                                              "Connection 4: Connecting") != recorded.Log.end();
        QVERIFY(allConnections);
        CheckOneArticleEach(request, subject);
    }

    // A cross-posting run sends one article to each batch of groups: every group holds exactly
    // one, whose Newsgroups is its batch. A batch holding mod.test (refused as a whole, for that
    // group) goes out again without it; mod.test alone is refused, with the reply naming it.
    void crossPosting_data() {
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QStringList>("newsgroups");
        const auto bulk = [](int first, int last) {
            QStringList names;
            for (int i = first; i <= last; ++i)
                names << QStringLiteral("test.bulk.%1").arg(i, 6, 10, QChar('0'));
            return names;
        };
        const auto each = [](const QStringList& batch) {
            return QStringList(batch.size(), batch.join(','));
        };
        QTest::newRow("12 groups, 5 to an article")
            << bulk(1, 12) << each(bulk(1, 5)) + each(bulk(6, 10)) + each(bulk(11, 12));
        QTest::newRow("a batch holding mod.test")
            << bulk(1, 2) + QStringList{"mod.test"} + bulk(3, 6)
            << each(bulk(1, 4)).mid(2) + QStringList{QString()} + each(bulk(1, 4)).mid(2) +
                   each(bulk(5, 6));
    }
    void crossPosting() {
        QFETCH(QStringList, groups);
        QFETCH(QStringList, newsgroups);
        const QString subject = UniqueSubject("cross");
        RecordedOperation recorded;
        TNewsRequest request = ServerRequest(subject, 0, 2);
        for (const QString& group : groups)
            request.Groups.push_back(group.toStdString());
        request.GroupsPerArticle = 5;
        request.Verify = true;
        recorded.Operation.StartPost(request);
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Summaries.size() + recorded.Failures.size(), size_t(1),
                                  RunTimeout);
        QCOMPARE(recorded.Failures, Lines{});
        QCOMPARE(recorded.Groups(), request.Groups);
        for (qsizetype i = 0; i < groups.size(); ++i) {
            const TGroupOutcome& outcome = recorded.Summaries[0].Outcomes[static_cast<size_t>(i)];
            const QJsonArray stored = FServer->ArticlesWithSubject(groups[i], subject);
            if (newsgroups[i].isEmpty()) {
                QCOMPARE(outcome.Reply, std::string("441 No mailing address for \"mod.test\" -- "
                                                    "ask your news administrator to fix this"));
                QCOMPARE(stored.size(), 0);
                continue;
            }
            QVERIFY(outcome.Verification == TGroupOutcome::TVerification::Verified);
            QCOMPARE(stored.size(), 1);
            const QJsonObject article = stored[0].toObject();
            QCOMPARE(article["headers"].toObject()["Newsgroups"].toString(), newsgroups[i]);
            QCOMPARE(article["message_id"].toString().toStdString(), outcome.MessageID);
        }
    }

    // Connections of one run may reach different machines behind one name: each says what it
    // is encrypted with and where it went.
    void eachEncryptedConnectionLogged() {
        QVERIFY2(FServer->Start({"--tls", "--groups", QString::number(BulkGroups)}),
                 FServer->Output().constData());
        RecordedOperation recorded;
        TNewsRequest request = ServerRequest(UniqueSubject("encrypted"), 20, 2);
        request.Host = FServer->TlsHost().toStdString();
        request.Security = TIpNntpSecurity::nySecTls;
        request.Tls.CaFile = FServer->CertificatePath().toStdString();
        recorded.Operation.StartPost(request);
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Summaries.size() + recorded.Failures.size(), size_t(1),
                                  RunTimeout);
        QCOMPARE(recorded.Failures, Lines{});
        const auto encrypted =
            std::count_if(recorded.Log.begin(), recorded.Log.end(), [](const std::string& line) {
                return line.find("Encrypted connection: TLSv1.") != std::string::npos &&
                       line.find("certificate of CN=localhost,O=news-server (address 127.0.0.1)") !=
                           std::string::npos;
            });
        QCOMPARE(encrypted, 2);
    }

    // The preview shows the first group's article as the server stores it, apart from the
    // headers the server adds, its name in the Path and the order it puts the headers in.
    void previewIsWhatTheServerStores_data() {
        QTest::addColumn<QStringList>("body");
        QTest::addColumn<QByteArray>("attachment");
        QTest::newRow("8-bit text, leading dots, a long line")
            << QStringList{QStringLiteral("Schöne Grüße"), ".", "..two",
                           QString("abcd ").repeated(300)}
            << QByteArray();
        QTest::newRow("attachment") << QStringList{"see the file"} << QByteArray(3000, '\xfe');
    }
    void previewIsWhatTheServerStores() {
        QFETCH(QStringList, body);
        QFETCH(QByteArray, attachment);
        static uint8_t seed = 0;
        const TArticleTime now = TArticleComposer::SystemTime();
        const TArticleComposer composer(
            [now] { return now; },
            [row = ++seed](uint8_t* bytes, size_t count) { std::fill_n(bytes, count, row); });
        TIpMimeEntity::BoundaryGenerator = [] { return std::string("_preview_part_"); };
        TNewsRequest request = ServerRequest(QStringLiteral("Grüße"), 2, 1);
        request.Article.Organization = "Example Club";
        request.Article.BodyLines.clear();
        for (const QString& line : body)
            request.Article.BodyLines.push_back(line.toStdString());
        QTemporaryDir dir;
        if (!attachment.isEmpty()) {
            QVERIFY(WriteTestFile(dir.filePath("data.bin"), attachment));
            request.Article.AttachmentPath = dir.filePath("data.bin").toStdString();
        }
        TArticlePreview::TArticle first;
        TArticlePreview(composer).Compose(request, [&](const TArticlePreview::TArticle& article) {
            first = article;
            return false;
        });
        RecordedOperation recorded;
        recorded.Operation.SetComposer(composer);
        recorded.Operation.StartPost(request);
        QTRY_COMPARE_WITH_TIMEOUT(recorded.Summaries.size() + recorded.Failures.size(), size_t(1),
                                  RunTimeout);
        TIpMimeEntity::BoundaryGenerator = nullptr;
        QCOMPARE(recorded.Failures, Lines{});
        QString stored;
        for (const QJsonValue& article : FServer->Articles("test.bulk.000001"))
            if (article["message_id"].toString().toStdString() == first.MessageID)
                stored = article["raw"].toString();
        const auto comparable = [](const std::string& text) {
            const QStringList added = QString("Xref Injection-Info Injection-Date "
                                              "NNTP-Posting-Host NNTP-Posting-Date Lines")
                                          .split(' ');
            QStringList kept;
            for (const std::string& header : TArticlePreview::HeaderFields(text))
                if (const QString field = QString::fromStdString(header).replace(
                        QRegularExpression("^Path: .*!"), "Path: ");
                    !added.contains(field.section(':', 0, 0)))
                    kept << field;
            kept.sort();
            kept << QString::fromStdString(text.substr(text.find("\r\n\r\n")));
            return kept;
        };
        QVERIFY2(!stored.isEmpty(), first.MessageID.c_str());
        QCOMPARE(comparable(stored.toStdString()), comparable(first.Text));
    }
};

QTEST_GUILESS_MAIN(tst_RunRealServer)
#include "tst_RunRealServer.moc"
