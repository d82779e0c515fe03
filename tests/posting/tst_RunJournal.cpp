// The run journal: what a cut-short run left on disk, read back as the request that resumes it,
// and a request written and read back unchanged but for its password.

#include "posting/TRunJournal.h"
#include "support/TestFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

using Lines = std::vector<std::string>;

namespace {
// JSON text written with ' for ".
QByteArray J(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

// A start line as the journal writes it, for groups a.one, b.two, c.three and d.four unless
// given; `extra` goes into the request object as it is.
QByteArray StartLine(const char* groups = "'a.one','b.two','c.three','d.four'",
                     const char* extra = "") {
    return J("{'event':'run-started','request':{'host':'news.example:119','security':'none',"
             "'groups':[") +
           J(groups) + "]" + J(extra) + "}}\n";
}
QByteArray Going(const char* group, const char* id) {
    return J("{'event':'article-going','group':'") + group + J("','message_id':'") + id + J("'}\n");
}
// A cross-post's line: `event` "going" or "refused", groups as in StartLine.
QByteArray Crosspost(const char* event, const char* groups, const char* id) {
    return J("{'event':'article-") + event + J("','groups':[") + J(groups) + J("],'message_id':'") +
           id + J("'}\n");
}
QByteArray Answered(const char* group, int code = 240) {
    return J("{'event':'group-answered','group':'") + group + J("','code':") +
           QByteArray::number(code) + "}\n";
}

// "b.two=<1@x> c.three=<2@x>"
QString SentBeforeText(const std::map<std::string, std::string>& sentBefore) {
    QStringList pairs;
    for (const auto& [group, id] : sentBefore)
        pairs << QString::fromStdString(group + "=" + id);
    return pairs.join(' ');
}

QStringList GroupsOf(const std::vector<std::string>& groups) {
    QStringList names;
    for (const std::string& group : groups)
        names << QString::fromStdString(group);
    return names;
}
} // namespace

class tst_RunJournal : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    std::string JournalPath() const { return FDir.filePath("run.journal").toStdString(); }

private slots:
    // total -1: nothing to resume.
    void findsWhatIsLeft_data() {
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("sentBefore");
        QTest::addColumn<int>("total");
        const QStringList all{"a.one", "b.two", "c.three", "d.four"};
        QTest::newRow("started, nothing sent") << StartLine() << all << "" << 4;
        QTest::newRow("answered left out, article without answer asked about")
            << StartLine() + Going("a.one", "<1@x>") + Answered("a.one") + Going("b.two", "<2@x>")
            << QStringList{"b.two", "c.three", "d.four"} << "b.two=<2@x>" << 4;
        QTest::newRow("refused group is answered")
            << StartLine() + Answered("a.one", 440) + Going("b.two", "<2@x>") +
                   Answered("b.two", 441)
            << QStringList{"c.three", "d.four"} << "" << 4;
        QTest::newRow("last article sent for a group counts")
            << StartLine() + Going("a.one", "<1@x>") + Going("a.one", "<9@x>") << all
            << "a.one=<9@x>" << 4;
        QTest::newRow("torn last line")
            << StartLine() + Going("a.one", "<1@x>") + J("{'event':'group-answered','group':'a.o")
            << all << "a.one=<1@x>" << 4;
        QTest::newRow("torn article line: that article never went out")
            << StartLine() + Answered("a.one") + J("{'event':'article-going','group':'b.t")
            << QStringList{"b.two", "c.three", "d.four"} << "" << 4;
        QTest::newRow("unknown and broken lines skipped")
            << "garbage\n" + StartLine() +
                   "\n[1,2]\n{\"event\":\"later-kind\",\"group\":\"a.one\"}\n" +
                   "{\"no event\":true}\n" + Answered("a.one")
            << QStringList{"b.two", "c.three", "d.four"} << "" << 4;
        QTest::newRow("resumed run keeps the articles it was to ask about")
            << StartLine("'b.two','c.three'",
                         ",'sent_before':{'b.two':'<2@x>','c.three':'<3@x>'}") +
                   Going("c.three", "<3@x>") + Answered("c.three")
            << QStringList{"b.two"} << "b.two=<2@x>" << 2;
        QTest::newRow("a group named twice needs two answers")
            << StartLine("'a.one','a.one','b.two'") + Answered("a.one")
            << QStringList{"a.one", "b.two"} << "" << 3;
        QTest::newRow("the last start line begins the run")
            << StartLine() + Going("a.one", "<1@x>") + StartLine("'e.five'")
            << QStringList{"e.five"} << "" << 1;
        QTest::newRow("ended") << StartLine() + Going("a.one", "<1@x>") +
                                      "{\"event\":\"run-ended\"}\n"
                               << QStringList{} << "" << -1;
        QTest::newRow("every group answered, no end line")
            << StartLine("'a.one','b.two'") + Answered("b.two") + Answered("a.one") << QStringList{}
            << "" << -1;
        QTest::newRow("unknown security")
            << StartLine("'a.one'").replace("\"none\"", "\"ssl\"") << QStringList{} << "" << -1;
        QTest::newRow("cross-post: each of its groups asked about")
            << StartLine() + Crosspost("going", "'a.one','c.three'", "<1@x>") + Answered("b.two")
            << QStringList{"a.one", "c.three", "d.four"} << "a.one=<1@x> c.three=<1@x>" << 4;
        QTest::newRow("cross-post refused as a whole is not on the server")
            << StartLine() + Crosspost("going", "'a.one','b.two','c.three'", "<1@x>") +
                   Crosspost("refused", "'a.one','b.two','c.three'", "<1@x>") +
                   Going("c.three", "<2@x>")
            << all << "c.three=<2@x>" << 4;
        QTest::newRow("cancel run: a cancel taken is asked about again, a refused one not")
            << StartLine("'a.one','b.two','c.three','d.four'",
                         ",'cancels':[{'group':'a.one','message_id':'<w1@x>'},"
                         "{'group':'b.two','message_id':'<w2@x>'},"
                         "{'group':'c.three','message_id':'<w3@x>'},"
                         "{'group':'d.four','message_id':'<w4@x>'}]") +
                   Going("a.one", "<1@x>") +
                   J("{'event':'group-answered','group':'a.one','code':240,'accepted':true,"
                     "'message_id':'<1@x>'}\n") +
                   Answered("b.two", 441) + Going("c.three", "<3@x>")
            << QStringList{"a.one", "c.three", "d.four"} << "a.one=<1@x> c.three=<3@x>" << 4;
        QTest::newRow("no start line") << Going("a.one", "<1@x>") << QStringList{} << "" << -1;
        QTest::newRow("empty") << QByteArray() << QStringList{} << "" << -1;
    }
    void findsWhatIsLeft() {
        QFETCH(QByteArray, journal);
        QFETCH(QStringList, left);
        QFETCH(QString, sentBefore);
        QFETCH(int, total);
        QVERIFY(WriteTestFile(QString::fromStdString(JournalPath()), journal));
        const std::optional<TRunJournal::TInterrupted> found =
            TRunJournal::FindInterrupted(JournalPath());
        QCOMPARE(found.has_value(), total >= 0);
        if (!found)
            return;
        QCOMPARE(GroupsOf(found->Request.Groups), left);
        QCOMPARE(SentBeforeText(found->Request.SentBefore), sentBefore);
        QCOMPARE(found->Total, size_t(total));
        QCOMPARE(found->Request.Host, std::string("news.example:119"));
    }

    // A run cut short between its last answer and its end may never have shown its last
    // outcomes: a resume finds it with nothing to post, and ends it once it has shown them.
    void everyGroupAnsweredIsLeftForTheResume() {
        QVERIFY(WriteTestFile(QString::fromStdString(JournalPath()),
                              StartLine("'a.one','b.two'") + Answered("b.two") + Answered("a.one")));
        const auto found = TRunJournal::FindInterrupted(JournalPath(), true);
        QVERIFY(found);
        QVERIFY(found->Request.Groups.empty());
        QCOMPARE(found->Answered.size(), size_t(2));
        QCOMPARE(found->Answered[0].Group, std::string("a.one"));
        TRunJournal journal(JournalPath());
        journal.EndInterrupted();
        QVERIFY(!TRunJournal::FindInterrupted(JournalPath(), true));
    }

    void noJournalNothingToResume() {
        TRunJournal::Discard(JournalPath());
        QVERIFY(!TRunJournal::FindInterrupted(JournalPath()));
    }

    // Every field a resumed run needs comes back byte for byte; the password, the Cancel-Lock
    // secret and the certificate settings never. Each line is on disk as soon as it is written.
    void requestRoundTrip() {
        TNewsRequest request;
        request.Host = "news.example.org:563";
        request.LogOn = true;
        request.UserID = "J\xc3\xbcrgen \"the poster\"";
        request.Password = "pass-word-secret";
        request.Security = TIpNntpSecurity::nySecStartTls;
        request.Tls.CaFile = "/etc/ca-file-secret.pem";
        request.TimeoutSeconds = 17;
        request.Connections = 4;
        request.Verify = true;
        request.GroupsPerArticle = 7;
        request.Groups = {"de.test", "alt.test", "misc.test"};
        request.SentBefore = {{"alt.test", "<a\"b@example.com>"}};
        request.Replaces = {{"alt.test", "<old\"1@example.com>"}, {"de.test", "<old2@x>"}};
        request.ReplacesRun = "0a1b";
        TArticleRequest& article = request.Article;
        article.Name = "Zo\xc3\xab \xe2\x80\x9cZ\xe2\x80\x9d O'Neil";
        article.Address = "zoe@example.com";
        article.Organization = "Back\\slash & <angle>";
        article.Newsreader = "heraldix 1.0";
        article.Subject = "Gr\xc3\xbc\xc3\x9f"
                          "e \"quoted\"\ttab \xf0\x9f\x93\xb0";
        article.BodyLines = {"line one",
                             "two\nlines in one",
                             "",
                             ".",
                             "cr\r\nlf",
                             "\xe2\x80\xa8",
                             std::string("nul\0byte", 8),
                             "latin-1 caf\xe9"};
        article.AttachmentPath = "/tmp/r\xe9sum\xe9 \xc3\xa9t\xc3\xa9.bin";
        article.PostingHost = "news.example.org";
        article.FollowupTo = "de.test,poster";
        article.ReplyTo = "r\xc3\xa9ply@example.com";
        article.CancelSecret = "cancel-lock-secret";

        TRunJournal journal(JournalPath());
        journal.RunStarted(request);
        journal.ArticleGoing("de.test", "<1@example.com>");
        journal.GroupAnswered(
            TGroupOutcome{"de.test", 240, "240 article posted", "<1@example.com>", true, true});
        journal.ArticleGoing("alt.test", "<2@example.com>");

        const QByteArray text = ReadTestFile(QString::fromStdString(JournalPath()));
        QCOMPARE(text.count('\n'), 4);
        QVERIFY(text.endsWith('\n'));
        for (const char* secret : {"secret", "ca-file"})
            QVERIFY2(!text.contains(secret), text.constData());
        QCOMPARE(QFileInfo(QString::fromStdString(JournalPath())).permissions() &
                     (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());

        const std::optional<TRunJournal::TInterrupted> found =
            TRunJournal::FindInterrupted(JournalPath());
        QVERIFY(found);
        QCOMPARE(found->Total, size_t(3));
        const TNewsRequest& back = found->Request;
        QCOMPARE(GroupsOf(back.Groups), (QStringList{"alt.test", "misc.test"}));
        QCOMPARE(SentBeforeText(back.SentBefore), QStringLiteral("alt.test=<2@example.com>"));
        QCOMPARE(back.Host, request.Host);
        QCOMPARE(back.LogOn, true);
        QCOMPARE(back.UserID, request.UserID);
        QCOMPARE(back.Password, std::string());
        QVERIFY(back.Security == TIpNntpSecurity::nySecStartTls);
        QCOMPARE(back.Tls.CaFile, std::string());
        QCOMPARE(back.TimeoutSeconds, 17);
        QCOMPARE(back.Connections, 4);
        QCOMPARE(back.Verify, true);
        QCOMPARE(back.Article.Name, article.Name);
        QCOMPARE(back.Article.Address, article.Address);
        QCOMPARE(back.Article.Organization, article.Organization);
        QCOMPARE(back.Article.Newsreader, article.Newsreader);
        QCOMPARE(back.Article.Subject, article.Subject);
        QVERIFY(back.Article.BodyLines == article.BodyLines);
        QCOMPARE(back.Article.AttachmentPath, article.AttachmentPath);
        QCOMPARE(back.Article.PostingHost, article.PostingHost);
        QCOMPARE(back.Article.FollowupTo, article.FollowupTo);
        QCOMPARE(back.Article.ReplyTo, article.ReplyTo);
        QCOMPARE(back.GroupsPerArticle, 7);
        QVERIFY(back.Replaces == request.Replaces);
        QCOMPARE(back.ReplacesRun, request.ReplacesRun);

        // A run that ends before it posts anything (no connection) leaves the journal alone; the
        // end line closes the run; the next run starts the file afresh with its first event.
        TNewsRequest next;
        next.Host = "other.example";
        next.Groups = {"comp.lang.c"};
        journal.Release();
        {
            TRunJournal idle(JournalPath());
            idle.RunStarted(next);
            idle.RunEnded();
        }
        QCOMPARE(ReadTestFile(QString::fromStdString(JournalPath())), text);
        journal.RunStarted(next);
        journal.ArticleGoing("comp.lang.c", "<3@example.com>");
        journal.RunEnded();
        QVERIFY(!TRunJournal::FindInterrupted(JournalPath()));
        TRunJournal fresh(JournalPath());
        fresh.RunStarted(next);
        fresh.ArticleGoing("comp.lang.c", "<3@example.com>");
        QCOMPARE(ReadTestFile(QString::fromStdString(JournalPath())).count('\n'), 2);
        QCOMPARE(SentBeforeText(TRunJournal::FindInterrupted(JournalPath())->Request.SentBefore),
                 QStringLiteral("comp.lang.c=<3@example.com>"));
        TRunJournal::Discard(JournalPath());
        QVERIFY(!TRunJournal::FindInterrupted(JournalPath()));
    }

    // Group names are bytes: two that differ only in bytes that are not UTF-8 keep their own
    // Message-IDs. A resumed run keeps the places and the run id, and when it is cut short in
    // turn, the next resume still has every answer heard, in the run's order.
    void resumeKeepsTheRun() {
        const std::string cafe1 = "de.caf\xe9", cafe2 = "de.caf\xe8";
        TNewsRequest request;
        request.Host = "news.example:119";
        request.Groups = {cafe1, "b.two", cafe2, "d.four"};
        request.RunId = "0f";
        const auto outcome = [](const std::string& group, int code) {
            return TGroupOutcome{group, code,       std::to_string(code), "<" + group + ">",
                                 true,  code == 240};
        };
        {
            TRunJournal journal(JournalPath());
            journal.RunStarted(request);
            journal.GroupAnswered(outcome("b.two", 441));
            journal.ArticleGoing(cafe1, "<1@x>");
            journal.ArticleGoing(cafe2, "<2@x>");
        }
        std::optional<TRunJournal::TInterrupted> first =
            TRunJournal::FindInterrupted(JournalPath());
        QVERIFY(first);
        QVERIFY(first->Request.Groups == (Lines{cafe1, cafe2, "d.four"}));
        QVERIFY(first->Request.Places == (std::vector<size_t>{0, 2, 3}));
        QVERIFY(first->Request.SentBefore ==
                (std::map<std::string, std::string>{{cafe1, "<1@x>"}, {cafe2, "<2@x>"}}));
        QVERIFY(first->Request.Resumed);
        QCOMPARE(first->Request.RunId, std::string("0f"));
        {
            TRunJournal journal(JournalPath());
            journal.RunStarted(first->Request);
            journal.GroupAnswered(outcome(cafe2, 240));
        }
        const std::optional<TRunJournal::TInterrupted> second =
            TRunJournal::FindInterrupted(JournalPath());
        QVERIFY(second);
        QVERIFY(second->Request.Groups == (Lines{cafe1, "d.four"}));
        QVERIFY(second->Request.Places == (std::vector<size_t>{0, 3}));
        QVERIFY(second->Request.SentBefore ==
                (std::map<std::string, std::string>{{cafe1, "<1@x>"}}));
        QCOMPARE(second->Total, size_t(4));
        QCOMPARE(second->Answered.size(), size_t(2));
        QVERIFY(second->Answered[0].Group == "b.two" && second->Answered[0].Code == 441);
        QVERIFY(second->Answered[1].Group == cafe2 && second->Answered[1].Earlier);
    }

    // With the file size capped (a full disk), the write that does not fit raises, every later
    // one too, the end line is not written, and what reached the disk still resumes the run.
    void writeFailureStopsTheRecord_data() {
        QTest::addColumn<int>("whole"); // lines that fit whole, the start line first
        QTest::addColumn<int>("extra"); // bytes of the next line that fit
        QTest::newRow("start line cut") << 0 << 100;
        QTest::newRow("answer cut") << 2 << 10;
        QTest::newRow("full after a whole line") << 3 << 0;
    }
    void writeFailureStopsTheRecord() {
        QFETCH(int, whole);
        QFETCH(int, extra);
        TNewsRequest request;
        request.Host = "news.example:119";
        request.Groups = {"a.one", "b.two", "c.three"};
        const auto run = [&] {
            std::vector<std::string> reasons;
            TRunJournal journal(JournalPath());
            journal.RunStarted(request);
            for (size_t i = 0; i < 3; ++i) {
                try {
                    if (i == 1)
                        journal.GroupAnswered(TGroupOutcome{"a.one", 240, "ok", "<1>", true, true});
                    else
                        journal.ArticleGoing(request.Groups[i / 2], "<x>");
                } catch (const std::exception& error) {
                    reasons.push_back(error.what());
                }
            }
            journal.RunEnded();
            return reasons;
        };
        QCOMPARE(run().size(), size_t(0));
        const QList<QByteArray> lines =
            ReadTestFile(QString::fromStdString(JournalPath())).split('\n');
        qsizetype limit = extra;
        for (int i = 0; i < whole; ++i)
            limit += lines[i].size() + 1;
        TRunJournal::Discard(JournalPath());
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit capped{rlim_t(limit), saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &capped);
        const std::vector<std::string> reasons = run();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(reasons,
                 std::vector<std::string>(size_t(4 - std::max(whole, 1)), "File too large"));
        const std::optional<TRunJournal::TInterrupted> left =
            TRunJournal::FindInterrupted(JournalPath());
        QCOMPARE(left.has_value(), whole > 0);
        if (left)
            QCOMPARE(left->Request.Groups.size(), size_t(whole == 2 ? 3 : 2));
    }

    // A journal cut at any byte loses no group and invents no answer: every group of the run is
    // left or answered, and only answers written count.
    void everyCutKeepsEveryGroup() {
        TNewsRequest request;
        request.Host = "news.example:119";
        request.Groups = {"a.one", "b.two", "a.one", "c.three"};
        request.RunId = "ab";
        {
            TRunJournal journal(JournalPath());
            journal.RunStarted(request);
            journal.ArticleGoing("a.one", "<1@x>");
            journal.GroupAnswered(TGroupOutcome{"a.one", 240, "240", "<1@x>", true, true});
            journal.GroupAnswered(TGroupOutcome{"b.two", 441, "441", "", false, false});
        }
        {
            TRunJournal journal(JournalPath());
            journal.RunStarted(TRunJournal::FindInterrupted(JournalPath())->Request);
            journal.ArticleGoing("a.one", "<3@x>");
            journal.GroupAnswered(TGroupOutcome{"a.one", 240, "240", "<3@x>", true, true});
        }
        const std::string text = ReadTestFile(QString::fromStdString(JournalPath())).toStdString();
        const size_t firstLine = text.find('\n');
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            const auto found = TRunJournal::InterruptedIn(std::string_view(text).substr(0, cut));
            QCOMPARE(found.has_value(), cut >= firstLine);
            if (!found)
                continue;
            Lines groups = found->Request.Groups;
            for (const TGroupOutcome& outcome : found->Answered)
                groups.push_back(outcome.Group);
            std::sort(groups.begin(), groups.end());
            QVERIFY2(groups == (Lines{"a.one", "a.one", "b.two", "c.three"}),
                     std::to_string(cut).c_str());
            const QByteArray heard = QByteArray::fromStdString(text.substr(0, cut));
            QVERIFY(found->Answered.size() <= size_t(heard.count("group-answered")));
        }
    }

    // A run holds its journal: a second one, in another process or this one, is refused and told
    // which process holds it; while it is held nothing is offered to resume or discarded.
    void secondRunRefused() {
        QVERIFY(WriteTestFile(QString::fromStdString(JournalPath()), StartLine()));
        int ready[2] = {-1, -1};
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            TRunJournal held(JournalPath());
            held.Lock();
            (void)!::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        char byte = 0;
        QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
        ::close(ready[0]);
        ::close(ready[1]);
        const auto refusal = [](TRunJournal& journal) {
            try {
                journal.RunStarted(TNewsRequest{});
            } catch (const ERunRefused& refused) {
                return std::string(refused.what());
            }
            return std::string();
        };
        const auto text = [this](pid_t pid) {
            return "Another Heraldix run is using " + JournalPath() + " (process " +
                   std::to_string(pid) + ")";
        };
        TRunJournal second(JournalPath());
        QCOMPARE(refusal(second), text(child));
        QVERIFY(!TRunJournal::FindInterrupted(JournalPath()));
        TRunJournal::Discard(JournalPath());
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        QVERIFY(TRunJournal::FindInterrupted(JournalPath()));
        QCOMPARE(refusal(second), std::string());
        TRunJournal third(JournalPath());
        QCOMPARE(refusal(third), text(::getpid()));
    }
};

QTEST_GUILESS_MAIN(tst_RunJournal)
#include "tst_RunJournal.moc"
