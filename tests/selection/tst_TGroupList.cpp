#include "selection/TGroupList.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

Q_DECLARE_METATYPE(std::vector<std::string>)

class tst_TGroupList : public QObject {
    Q_OBJECT

    static std::vector<std::string> Load(std::string_view text) {
        TGroupList list;
        list.LoadFromText(text);
        return list.Entries().ToStrings();
    }

    static void WriteFile(const QString& path, const std::string& bytes) {
        std::ofstream out(path.toStdString(), std::ios::binary);
        out << bytes;
    }

private slots:
    void loadSortsAndDropsDuplicates_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<std::vector<std::string>>("entries");
        using V = std::vector<std::string>;
        QTest::newRow("first of a case pair stays")
            << QByteArray("comp.b\r\nComp.A\r\ncomp.a\r\n") << V{"Comp.A", "comp.b"};
        QTest::newRow("LF, CR and CR LF line ends")
            << QByteArray("c\nb\ra\r\nd") << V{"a", "b", "c", "d"};
        QTest::newRow("final break adds nothing") << QByteArray("x\r\n") << V{"x"};
        QTest::newRow("empty file") << QByteArray("") << V{};
        QTest::newRow("empty lines are no names") << QByteArray("b\r\n\r\n\na\n") << V{"a", "b"};
        QTest::newRow("a line with NUL is left out, later lines kept")
            << QByteArray("b\na\0x\n\0\nzz\n", 11) << V{"b", "zz"};
        QTest::newRow("lines with TAB or other control characters are left out")
            << QByteArray("a\tb\nc\x1b\nd\x7f\ne\n") << V{"e"};
        // Letters fold to upper case, so '_' (after 'Z') sorts after every letter.
        QTest::newRow("case folded to upper")
            << QByteArray("a_b\naab\naZb\n") << V{"aab", "aZb", "a_b"};
        QTest::newRow("8-bit bytes after ASCII")
            << QByteArray("\xe9t\xe9\nzz\n") << V{"zz", "\xe9t\xe9"};
        QTest::newRow("prefix sorts first")
            << QByteArray("alt.test\nALT\n") << V{"ALT", "alt.test"};
        QTest::newRow("byte-order mark skipped, blanks around names trimmed")
            << QByteArray("\xef\xbb\xbfrec.arts.books\r\n  alt.test \t\r\n\tmisc.test\n \n")
            << V{"alt.test", "misc.test", "rec.arts.books"};
    }
    void loadSortsAndDropsDuplicates() {
        QFETCH(QByteArray, text);
        QFETCH(std::vector<std::string>, entries);
        QCOMPARE(Load(std::string_view(text.constData(), static_cast<size_t>(text.size()))),
                 entries);
    }

    void addKeepsOrderAndIgnoresCaseDuplicates() {
        TGroupList list;
        QVERIFY(list.Add("misc.test"));
        QVERIFY(list.Add("alt.test"));
        QVERIFY(list.Add("comp.lang.c"));
        QVERIFY(!list.Add("ALT.TEST"));
        QVERIFY(!list.Add("comp.lang.c"));
        QCOMPARE(list.Entries().ToStrings(),
                 (std::vector<std::string>{"alt.test", "comp.lang.c", "misc.test"}));
        QCOMPARE(list.IndexOf("Comp.Lang.C"), 1);
        QCOMPARE(list.IndexOf("comp.lang"), -1);

        list.Assign({"b", "B", "a", "b"});
        QCOMPARE(list.Entries().ToStrings(), (std::vector<std::string>{"a", "b"}));
        list.DeleteMarked({1, 0});
        QCOMPARE(list.Entries().ToStrings(), (std::vector<std::string>{"b"}));
    }

    // Adding many names at once, whether in any order (AddMany) or as views usually in list
    // order (AddSorted, which takes a shortcut for names already sorted and free of repeats),
    // must give exactly what adding them one by one gives.
    void bulkAddsEqualAddingOneByOne() {
        QRandomGenerator random(77);
        const char* const pool[] = {"a.x", "A.X", "b", "B", "c.d", "C.d", "e", "_", "z", ""};
        for (int round = 0; round < 200; ++round) {
            std::vector<std::string> start;
            std::vector<std::string> added;
            for (int i = random.bounded(5); i > 0; --i)
                start.emplace_back(pool[random.bounded(10)]);
            for (int i = random.bounded(8); i > 0; --i)
                added.emplace_back(pool[random.bounded(10)]);
            // Every other round the added names come in list order without repeats, as the
            // rows of another list do.
            if (round % 2 == 1) {
                TGroupList sorted;
                sorted.Assign(added);
                added = sorted.Entries().ToStrings();
            }
            TGroupList single;
            single.Assign(start);
            int expectedAdded = 0;
            for (const std::string& name : added)
                expectedAdded += single.Add(name) ? 1 : 0;

            TGroupList many;
            many.Assign(start);
            QCOMPARE(many.AddMany(added), expectedAdded);
            QCOMPARE(many.Entries().ToStrings(), single.Entries().ToStrings());

            TGroupList views;
            views.Assign(start);
            QCOMPARE(views.AddSorted(std::vector<std::string_view>(added.begin(), added.end())),
                     expectedAdded);
            QCOMPARE(views.Entries().ToStrings(), single.Entries().ToStrings());
        }
    }

    // Names removed one by one or by marks leave their bytes behind until the list packs them;
    // whatever the mix, the list holds exactly the names a freshly built list would.
    void deletesAndAddsKeepNamesIntact() {
        QRandomGenerator random(5);
        TGroupList list;
        std::vector<std::string> names;
        for (int i = 0; i < 300; ++i)
            names.push_back("grp." + std::to_string(random.bounded(100000)));
        list.Assign(names);
        std::vector<std::string> expected = list.Entries().ToStrings();
        for (int step = 0; step < 600 && !expected.empty(); ++step) {
            const int row = static_cast<int>(random.bounded(static_cast<quint32>(list.Count())));
            switch (step % 3) {
            case 0:
                list.Delete(row);
                expected.erase(expected.begin() + row);
                break;
            case 1: {
                std::vector<uint8_t> marks(expected.size() / 2);
                for (size_t i = 0; i < marks.size(); ++i)
                    marks[i] = random.bounded(3) == 0 ? 1 : 0;
                list.DeleteMarked(marks);
                for (size_t i = marks.size(); i-- > 0;)
                    if (marks[i] != 0)
                        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
            default: {
                const std::string name = "new." + std::to_string(step);
                list.Add(name);
                expected.push_back(name);
                TGroupList fresh;
                fresh.Assign(expected);
                expected = fresh.Entries().ToStrings();
            }
            }
            QCOMPARE(list.Entries().ToStrings(), expected);
        }
    }

    // A bulk add is one reset of the list's view, and none when every name is already there,
    // so that a repeated search leaves the view (current row, scroll position) alone.
    void bulkAddResetsOnceOrNotAtAll() {
        struct TResetCounter : TGroupListObserver {
            int Resets = 0;
            int Other = 0;
            void ListAboutToInsert(int) override { ++Other; }
            void ListInserted() override {}
            void ListAboutToRemove(int, int) override { ++Other; }
            void ListRemoved() override {}
            void ListAboutToReset() override { ++Resets; }
            void ListReset() override {}
        } counter;
        TGroupList list;
        list.Assign({"alt.test", "comp.lang.c"});
        list.SetObserver(&counter);
        QCOMPARE(list.AddSorted({"ALT.TEST", "comp.lang.c"}), 0);
        QCOMPARE(list.AddMany({"comp.lang.c"}), 0);
        QCOMPARE(counter.Resets, 0);
        QCOMPARE(list.AddSorted({"alt.test", "comp.lang", "misc.test"}), 2);
        QCOMPARE(counter.Resets, 1);
        QCOMPARE(counter.Other, 0);
        QCOMPARE(list.Entries().ToStrings(),
                 (std::vector<std::string>{"alt.test", "comp.lang", "comp.lang.c", "misc.test"}));
        list.SetObserver(nullptr);
    }

    // The list orders names exactly as `LC_ALL=C sort -f -u` does, keeping the first of equal
    // names just as sort's -u keeps the first of an equal run.
    void agreesWithSortFoldUnique_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("maxLength");
        QTest::newRow("short names, many repeats") << QString() << 4000 << 6;
        QTest::newRow("long shared prefixes") << QStringLiteral("Comp.Lang.") << 20000 << 12;
        QTest::newRow("a few names") << QStringLiteral("alt.") << 30 << 3;
    }
    void agreesWithSortFoldUnique() {
        QFETCH(QString, prefix);
        QFETCH(int, count);
        QFETCH(int, maxLength);
        QRandomGenerator random(20240501);
        const char alphabet[] = "abcXYZ._-+019";
        std::string text;
        for (int i = 0; i < count; ++i) {
            if (random.bounded(2))
                text += prefix.toStdString();
            const int length = 1 + random.bounded(maxLength);
            for (int k = 0; k < length; ++k)
                text += alphabet[random.bounded(int(sizeof alphabet) - 1)];
            text += '\n';
        }
        QProcess sort;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        sort.setProcessEnvironment(env);
        sort.start(QStringLiteral("sort"), {QStringLiteral("-f"), QStringLiteral("-u")});
        QVERIFY(sort.waitForStarted());
        sort.write(text.data(), static_cast<qint64>(text.size()));
        sort.closeWriteChannel();
        QVERIFY(sort.waitForFinished());
        const QByteArray expected = sort.readAllStandardOutput();

        TGroupList list;
        list.LoadFromText(text);
        QByteArray ours = QByteArray::fromStdString(list.SaveToText());
        ours.replace("\r\n", "\n");
        QCOMPARE(ours, expected);

        // Names handed over as strings, as a server's list arrives, sort in place the same way.
        std::vector<std::string> names;
        for (const QByteArray& line : QByteArray::fromStdString(text).split('\n'))
            if (!line.isEmpty())
                names.push_back(line.toStdString());
        TGroupList assigned;
        assigned.Assign(std::move(names));
        QCOMPARE(assigned.Entries().ToStrings(), list.Entries().ToStrings());
    }

    // Names of any bytes, set apart at any depth, come out as a plain stable sort and a unique
    // that keeps the first of equal names put them: NUL against a name's end, bytes above 0x7f
    // that are no letters, names that are beginnings of others, repeats long after a shared start.
    void assignEqualsStableSortAndUnique_data() {
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<QByteArray>("alphabet");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<bool>("asFile"); // every name a group name: a list file gives the same
        QTest::newRow("NUL and 8-bit bytes")
            << QByteArray() << QByteArray("aA\0\xff\xe1\xc1", 6) << 3000 << 17 << false;
        QTest::newRow("beginnings of others")
            << QByteArray() << QByteArray("bB") << 2000 << 23 << false;
        QTest::newRow("case repeats past a shared start")
            << QByteArray("Alt.Binaries.") << QByteArray("pP.") << 4000 << 16 << true;
        QTest::newRow("digits past a shared start")
            << QByteArray("alt.bulk.g") << QByteArray("0123456789") << 5000 << 8 << true;
        QTest::newRow("a few names") << QByteArray("x.") << QByteArray("aAz") << 20 << 10 << true;
        // Names that end a few at a time, ever deeper: the sort must not go deeper on the stack.
        QTest::newRow("names set apart ever deeper")
            << QByteArray() << QByteArray("xX") << 2000 << 14000 << false;
    }
    void assignEqualsStableSortAndUnique() {
        QFETCH(QByteArray, prefix);
        QFETCH(QByteArray, alphabet);
        QFETCH(int, count);
        QFETCH(int, maxLength);
        QFETCH(bool, asFile);
        QRandomGenerator random(31337);
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            std::string name = prefix.toStdString();
            for (int k = random.bounded(maxLength + 1); k > 0; --k)
                name += alphabet[random.bounded(int(alphabet.size()))];
            names.push_back(name);
        }
        std::vector<std::string> expected = names;
        const auto less = [](const std::string& a, const std::string& b) {
            return TGroupList::CompareText(a, b) < 0;
        };
        std::stable_sort(expected.begin(), expected.end(), less);
        expected.erase(std::unique(expected.begin(), expected.end(),
                                   [&](const auto& a, const auto& b) { return !less(a, b); }),
                       expected.end());
        std::string text;
        for (const std::string& name : names)
            text += name + "\n";
        TGroupList list;
        list.Assign(std::move(names));
        QCOMPARE(list.Entries().ToStrings(), expected);
        if (asFile) {
            list.LoadFromText(text);
            QCOMPARE(list.Entries().ToStrings(), expected);
        }
    }

    void fileRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("newsgrps.txt"));
        TGroupList list;
        list.Assign({"rec.arts", "Alt.Test", "comp.os"});
        list.SaveToFile(path);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Alt.Test\r\ncomp.os\r\nrec.arts\r\n"));

        TGroupList again;
        again.Add("stale");
        again.LoadFromFile(path);
        QCOMPARE(again.Entries().ToStrings(), list.Entries().ToStrings());

        // An entry that would not read back as itself is not written.
        list.Assign({"a.b", std::string("bad\0x", 5), "split\r\nname", "", "c.d"});
        list.SaveToFile(path);
        again.LoadFromFile(path);
        QCOMPARE(again.Entries().ToStrings(), (std::vector<std::string>{"a.b", "c.d"}));

        TGroupList empty;
        empty.SaveToFile(path);
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void fileErrorsAreRaised() {
        QTemporaryDir dir;
        TGroupList list;
        list.Add("kept");
        QVERIFY_THROWS_EXCEPTION(EFileError, list.LoadFromFile(dir.filePath("missing.txt")));
        QVERIFY_THROWS_EXCEPTION(EFileError, list.LoadFromFile(dir.path()));
        QCOMPARE(list.Count(), 1);
        try {
            list.SaveToFile(dir.filePath(QStringLiteral("no/such/dir/selgrps.txt")));
            QFAIL("saving into a missing directory succeeded");
        } catch (const EFileError& error) {
            QVERIFY(QString::fromStdString(error.what()).contains("selgrps.txt"));
        }
    }
};

QTEST_GUILESS_MAIN(tst_TGroupList)
#include "tst_TGroupList.moc"
