// The history of finished runs: what is written comes back unchanged, a torn or foreign line
// costs only itself, the file stays bounded and private, and runs are found as the user names
// them.

#include "posting/TPostingHistory.h"
#include "posting/TReplacement.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(THistoryRun)

namespace {
THistoryRun Run(const std::string& id, const std::string& subject = "Weekly FAQ",
                THistoryKind kind = THistoryKind::hkPost,
                const std::string& server = "news.example.org") {
    THistoryRun run;
    run.RunID = id;
    run.Time = 1796000000;
    run.Kind = kind;
    run.Server = server;
    run.Subject = subject;
    run.Groups = {{"alt.test", THistoryOutcome::hoAccepted, "240 article posted", "<1@x>", ""}};
    return run;
}
} // namespace

class tst_PostingHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    QString Path() const { return FDir->filePath(QString::fromLatin1(TPostingHistory::FileName)); }
    TPostingHistory History() const { return TPostingHistory(Path().toStdString()); }
    QByteArray Lines(const std::vector<THistoryRun>& runs) const {
        QByteArray text;
        for (const THistoryRun& run : runs)
            text += QByteArray::fromStdString(TPostingHistory::LineOf(run)) + '\n';
        return text;
    }
    std::vector<std::string> Ids() const {
        std::vector<std::string> ids;
        for (const THistoryRun& run : History().Runs())
            ids.push_back(run.RunID);
        return ids;
    }

private slots:
    void init() { FDir = std::make_unique<QTemporaryDir>(); }

    void runsComeBackUnchanged_data() {
        QTest::addColumn<THistoryRun>("run");
        THistoryRun odd = Run("a1", "R\xc3\xa9sum\xc3\xa9 \"quoted\"\\ and a\ttab");
        odd.Groups = {{"de.alt.\xe4rger", THistoryOutcome::hoRefused, "441 \xff no", "", ""},
                      {"alt.\xe2\x9c\x93", THistoryOutcome::hoMissing, "240 ok", "<2@x>", "<1@x>"}};
        odd.Security = TIpNntpSecurity::nySecStartTls;
        odd.LogOn = true;
        odd.UserID = "ann\xe9";
        odd.Address = "ann\xe9@example.org";
        QTest::newRow("odd bytes, every field") << odd;
        THistoryRun cancel = Run("b2", "Weekly FAQ", THistoryKind::hkCancel, "[::1]:563");
        cancel.Target = "a1";
        cancel.Security = TIpNntpSecurity::nySecTls;
        cancel.Groups = {{"alt.test", THistoryOutcome::hoCancelled, "240 ok", "<1@x>", ""},
                         {"alt.kept", THistoryOutcome::hoKept, "240 ok", "<3@x>", ""}};
        QTest::newRow("cancel run") << cancel;
    }
    void runsComeBackUnchanged() {
        QFETCH(THistoryRun, run);
        History().Append(run);
        QCOMPARE(History().Runs(), std::vector<THistoryRun>{run});
    }

    // Lines before the appended run, as a killed program or a later version may leave them.
    void unreadableLinesCostOnlyThemselves_data() {
        QTest::addColumn<QByteArray>("before");
        const QByteArray good = Lines({Run("a1")});
        QTest::newRow("torn last line") << good + good.left(good.size() / 2);
        QTest::newRow("garbage line") << "not json\n" + good;
        QTest::newRow("unknown outcome") << QByteArray(good).replace("accepted", "vanished") + good;
        QTest::newRow("no run id") << QByteArray(good).replace("\"a1\"", "\"\"") + good;
        QTest::newRow("empty lines") << "\n\n" + good + "\n";
    }
    void unreadableLinesCostOnlyThemselves() {
        QFETCH(QByteArray, before);
        QVERIFY(WriteTestFile(Path(), before));
        QCOMPARE(Ids(), std::vector<std::string>{"a1"});
        History().Append(Run("b2"));
        QCOMPARE(Ids(), (std::vector<std::string>{"b2", "a1"}));
    }

    void fileIsBoundedAndPrivate_data() {
        QTest::addColumn<int>("runsBefore");
        QTest::addColumn<int>("modeBefore");
        QTest::newRow("new file") << 0 << 0;
        QTest::newRow("readable by others") << 3 << 0644;
        QTest::newRow("full") << int(TPostingHistory::MaxRuns) << 0600;
        QTest::newRow("over the bound") << int(TPostingHistory::MaxRuns) + 7 << 0644;
    }
    void fileIsBoundedAndPrivate() {
        QFETCH(int, runsBefore);
        QFETCH(int, modeBefore);
        std::vector<THistoryRun> runs;
        for (int i = 0; i < runsBefore; ++i)
            runs.push_back(Run("r" + std::to_string(i)));
        if (runsBefore > 0) {
            QVERIFY(WriteTestFile(Path(), Lines(runs) + "torn"));
            QVERIFY(::chmod(QFile::encodeName(Path()).constData(), mode_t(modeBefore)) == 0);
        }
        History().Append(Run("new"));
        const std::vector<std::string> ids = Ids();
        const size_t kept = std::min<size_t>(runsBefore + 1, TPostingHistory::MaxRuns);
        QCOMPARE(ids.size(), kept);
        QCOMPARE(ids.front(), std::string("new"));
        if (runsBefore > 0)
            QCOMPARE(ids.back(), "r" + std::to_string(runsBefore + 1 - kept));
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(Path()).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 0777, mode_t(0600));
        QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{"history.jsonl"});
    }

    void runsAreFoundAsNamed_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("found");
        QTest::newRow("last skips a cancel run") << "last"
                                                 << "a2c4";
        QTest::newRow("whole id") << "a2c4"
                                  << "a2c4";
        QTest::newRow("unique prefix") << "a2c"
                                       << "a2c4";
        QTest::newRow("prefix of two runs") << "a2"
                                            << "";
        QTest::newRow("unknown") << "ff"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("same subject, same server spelt otherwise")
            << "previous news.example.org:119 Weekly FAQ"
            << "a2c4";
        QTest::newRow("same subject, other server") << "previous news.other.org Weekly FAQ"
                                                    << "";
        QTest::newRow("older subject") << "previous news.example.org Old FAQ"
                                       << "a2f0";
        QTest::newRow("subject only cancelled") << "previous news.example.org Gone"
                                                << "";
    }
    void runsAreFoundAsNamed() {
        QFETCH(QString, which);
        QFETCH(QString, found);
        QVERIFY(WriteTestFile(Path(), Lines({Run("a2f0", "Old FAQ"), Run("a2c4"),
                                             Run("a3c5", "Gone", THistoryKind::hkCancel),
                                             Run("c3", "Weekly FAQ", THistoryKind::hkCancel)})));
        const QStringList words = which.split(' ');
        const std::optional<THistoryRun> run =
            words.front() == "previous"
                ? History().Previous(words[1].toStdString(), TIpNntpSecurity::nySecNone,
                                     words.mid(2).join(' ').toStdString())
                : History().Find(which.toStdString());
        QCOMPARE(run ? QString::fromStdString(run->RunID) : QString(), found);
    }

    // A posting run keeps each group's article and the one it replaced; a cancel run the article
    // it withdrew, gone or kept as STAT found it afterwards.
    void outcomeOfARun_data() {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("verification");
        QTest::addColumn<int>("outcome");
        using V = TGroupOutcome::TVerification;
        using O = THistoryOutcome;
        QTest::newRow("accepted") << false << true << int(V::Verified) << int(O::hoAccepted);
        QTest::newRow("missing") << false << true << int(V::Missing) << int(O::hoMissing);
        QTest::newRow("refused") << false << false << int(V::NotChecked) << int(O::hoRefused);
        QTest::newRow("cancelled") << true << true << int(V::Missing) << int(O::hoCancelled);
        QTest::newRow("kept") << true << true << int(V::Verified) << int(O::hoKept);
        QTest::newRow("cancel refused") << true << false << int(V::NotChecked) << int(O::hoRefused);
    }
    void outcomeOfARun() {
        QFETCH(bool, cancel);
        QFETCH(bool, accepted);
        QFETCH(int, verification);
        QFETCH(int, outcome);
        TNewsRequest request;
        request.Host = "news.example.org";
        request.Article.Address = "ann@example.org";
        (cancel ? request.Cancels : request.Replaces)["alt.test"] = "<old@x>";
        (cancel ? request.CancelsRun : request.ReplacesRun) = "a1";
        TRunSummary summary;
        summary.RunId = "b2";
        TGroupOutcome& heard = summary.Outcomes.emplace_back();
        heard.Group = "alt.test";
        heard.MessageID = "<new@x>";
        heard.Accepted = accepted;
        heard.Verification = TGroupOutcome::TVerification(verification);

        const THistoryRun run = THistoryRun::Of(request, summary, 1796000000);
        QCOMPARE(run.Kind, cancel ? THistoryKind::hkCancel : THistoryKind::hkPost);
        QCOMPARE(run.Target, cancel ? "a1" : "");
        QCOMPARE(run.Address, request.Article.Address);
        QCOMPARE(int(run.Groups.at(0).Outcome), outcome);
        QCOMPARE(run.Groups[0].MessageID, cancel ? "<old@x>" : "<new@x>");
        QCOMPARE(run.Groups[0].Supersedes, cancel ? "" : "<old@x>");
    }

    // What a new run replaces of an earlier one: only articles the server took, and of a
    // cross-post only the old article of its first group that had one (a Supersedes names one).
    void groupsReplaceTheEarlierArticles_data() {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<int>("perArticle");
        QTest::addColumn<QString>("replaces");
        QTest::newRow("an article to each") << "a b c d e" << 1 << "a=<A> b=<B>";
        QTest::newRow("cross-post, other old articles") << "a b e" << 3 << "a=<A>";
        QTest::newRow("cross-post, first group had none") << "e c b a" << 4 << "b=<B>";
        QTest::newRow("cross-post, one old cross-post") << "s1 s2 a" << 3 << "s1=<S> s2=<S>";
        QTest::newRow("each batch apart") << "a b s1 s2" << 2 << "a=<A> s1=<S> s2=<S>";
    }
    void groupsReplaceTheEarlierArticles() {
        QFETCH(QString, groups);
        QFETCH(int, perArticle);
        QFETCH(QString, replaces);
        THistoryRun earlier = Run("a1");
        earlier.Groups = {{"a", THistoryOutcome::hoAccepted, "240", "<A>", ""},
                          {"b", THistoryOutcome::hoAccepted, "240", "<B>", "<older>"},
                          {"c", THistoryOutcome::hoRefused, "441", "<C>", ""},
                          {"d", THistoryOutcome::hoMissing, "240", "<D>", ""},
                          {"s1", THistoryOutcome::hoAccepted, "240", "<S>", ""},
                          {"s2", THistoryOutcome::hoAccepted, "240", "<S>", ""}};
        std::vector<std::string> names;
        for (const QString& group : groups.split(' '))
            names.push_back(group.toStdString());
        QStringList found;
        for (const auto& [group, id] : TReplacement::Of(earlier, names, perArticle))
            found << QString::fromStdString(group + "=" + id);
        QCOMPARE(found.join(' '), replaces);
    }
};

QTEST_GUILESS_MAIN(tst_PostingHistory)
#include "tst_PostingHistory.moc"
