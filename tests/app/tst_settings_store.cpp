// The INI store behind the settings file, exercised through real files.

#include "app/TIniFileStore.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class tst_settings_store : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    TIniFileStore Store() const {
        TIniFileStore store;
        store.ExeDir = m_dir.path();
        return store;
    }
    QString Path() const { return m_dir.filePath(QStringLiteral("frmsv.INI")); }
    void WriteFile(const QByteArray& bytes) const { QVERIFY(WriteTestFile(Path(), bytes)); }
    QByteArray ReadFile() const { return ReadTestFile(Path()); }
    static mode_t Mode(const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 0777) : 0;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        QFile::remove(Path());
    }

    void fileName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("extension added") << "frmsv"
                                         << "/opt/hx/"
                                         << "/opt/hx/frmsv.INI";
        QTest::newRow("separator added") << "frmsv"
                                         << "/opt/hx"
                                         << "/opt/hx/frmsv.INI";
        QTest::newRow("own extension kept") << "my.cfg"
                                            << "/opt/hx"
                                            << "/opt/hx/my.cfg";
    }
    void fileName() {
        QFETCH(QString, name);
        QFETCH(QString, dir);
        TIniFileStore store;
        store.IniFileName = name;
        store.ExeDir = dir;
        QTEST(store.FileName(), "expected");
    }

    // A file edited by hand, in other letter cases, with comments and foreign sections.
    void handEditedFile() {
        WriteFile("; written by hand\r\n"
                  "[tfrmmain]\r\n"
                  "cblogon.checked=true\r\n"
                  "  EHOST.TEXT = news.example.com \r\n"
                  "\r\n"
                  "[Other]\r\n"
                  "x=1\r\n");
        TIniFileStore store = Store();
        store.Open();
        QCOMPARE(store.ReadString("TfrmMain", "cbLogon.Checked", "?"), QString("true"));
        QCOMPARE(store.ReadString("TFRMMAIN", "eHost.Text", "?"), QString("news.example.com"));
        QCOMPARE(store.ReadString("TfrmMain", "missing", "dflt"), QString("dflt"));
        QCOMPARE(store.ReadInteger("other", "X", 7), 1);
        QCOMPARE(store.ReadSection("TfrmMain"), QStringList({"cblogon.checked", "EHOST.TEXT"}));

        store.WriteString("TfrmMain", "eHost.Text", "news.example.org");
        store.WriteString("TfrmMain", "eName.Text", "Ann");
        store.Close();
        QCOMPARE(ReadFile(), QByteArray("; written by hand\n"
                                        "[tfrmmain]\n"
                                        "cblogon.checked=true\n"
                                        "eHost.Text=news.example.org\n"
                                        "eName.Text=Ann\n"
                                        "\n"
                                        "[Other]\n"
                                        "x=1\n"));
    }

    void encodings_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("utf-8") << QByteArray("[S]\nk=J\xc3\xb6rg\n") << QString::fromUtf8("Jörg");
        QTest::newRow("utf-8 with mark") << QByteArray("\xef\xbb\xbf[S]\nk=x\n") << QString("x");
        QTest::newRow("one-byte code page")
            << QByteArray("[S]\nk=J\xf6rg\n") << QString::fromUtf8("Jörg");
        QTest::newRow("no final line break") << QByteArray("[S]\nk=v") << QString("v");
    }
    void encodings() {
        QFETCH(QByteArray, bytes);
        WriteFile(bytes);
        TIniFileStore store = Store();
        store.Open();
        QTEST(store.ReadString("S", "k", "?"), "expected");
    }

    void readsAreCut() {
        TIniFileStore store = Store();
        store.Open();
        store.WriteString("S", "long", QString(3000, u'x'));
        store.WriteString("S", "exact", QString(2047, u'y'));
        store.Close();
        store.Open();
        QCOMPARE(store.ReadString("S", "long", {}).size(), 2047);
        QCOMPARE(store.ReadString("S", "exact", {}), QString(2047, u'y'));
    }

    // Values must come back exactly as written, including the blanks a body line starts with.
    void valuesRoundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "plain text";
        QTest::newRow("empty") << "";
        QTest::newRow("indented") << "    indented";
        QTest::newRow("trailing blanks") << "end  ";
        QTest::newRow("quoted") << "\"quoted\"";
        QTest::newRow("lone quote") << "\"";
        QTest::newRow("equals and semicolon") << "a=b; c";
        QTest::newRow("brackets") << "[Section]";
    }
    void valuesRoundTrip() {
        QFETCH(QString, value);
        TIniFileStore store = Store();
        store.Open();
        store.WriteString("S", "k", value);
        store.WriteString("S", "after", "still here");
        store.Close();
        store.Open();
        QCOMPARE(store.ReadString("S", "k", "?"), value);
        QCOMPARE(store.ReadString("S", "after", "?"), QString("still here"));
    }

    void lineBreaksCannotForgeEntries() {
        TIniFileStore store = Store();
        store.Open();
        store.WriteString("S", "k", "x\r\n[Evil]\nk2=v");
        store.Close();
        store.Open();
        QVERIFY(!store.SectionExists("Evil"));
        QCOMPARE(store.ReadSection("S"), QStringList({"k"}));
    }

    void eraseSection() {
        WriteFile("[A]\na=1\n[Body]\nCount=1\nItem0=x\n[a]\nb=2\n[body]\nItem9=y\n");
        TIniFileStore store = Store();
        store.Open();
        store.EraseSection("BODY");
        QVERIFY(!store.SectionExists("Body"));
        QCOMPARE(store.ReadString("a", "b", "?"), QString("?")); // first [A] wins
        QCOMPARE(store.ReadString("a", "a", "?"), QString("1"));
        store.Close();
        QCOMPARE(ReadFile(), QByteArray("[A]\na=1\n[a]\nb=2\n"));
    }

    void nothingChangedWritesNothing() {
        WriteFile("[S]\r\nk = v\r\n");
        QVERIFY(::chmod(QFile::encodeName(Path()).constData(), 0640) == 0);
        TIniFileStore store = Store();
        store.Open();
        QCOMPARE(store.ReadString("S", "k", {}), QString("v"));
        store.Close();
        QCOMPARE(ReadFile(), QByteArray("[S]\r\nk = v\r\n"));
        QCOMPARE(Mode(Path()), mode_t(0640));
    }

    // The file holds the password: only its owner may read it.
    void fileMode_data() {
        QTest::addColumn<int>("before"); // 0: no file yet
        QTest::addColumn<int>("after");
        QTest::newRow("created") << 0 << 0600;
        QTest::newRow("world readable tightened") << 0644 << 0600;
        QTest::newRow("group readable tightened") << 0660 << 0600;
        QTest::newRow("private kept") << 0600 << 0600;
        QTest::newRow("owner bits kept") << 0700 << 0700;
    }
    void fileMode() {
        QFETCH(int, before);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (before != 0) {
            WriteFile("[S]\nold=1\n");
            QVERIFY(::chmod(QFile::encodeName(Path()).constData(), mode_t(before)) == 0);
        }
        TIniFileStore store = Store();
        store.Open();
        store.WriteString("S", "ePassword.Text", "secret");
        store.Close();
        QTEST(int(Mode(Path())), "after");
        store.Open();
        QCOMPARE(store.ReadString("S", "ePassword.Text", {}), QString("secret"));
    }

    void failedWrite_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("read-only file") << "readonly";
        QTest::newRow("name taken by a directory") << "directory";
        QTest::newRow("missing directory") << "nodir";
    }
    void failedWrite() {
        QFETCH(QString, setup);
        TIniFileStore store = Store();
        if (setup == "readonly") {
            if (::geteuid() == 0)
                QSKIP("the superuser may write to read-only files");
            WriteFile("[S]\nk=old\n");
            QVERIFY(::chmod(QFile::encodeName(Path()).constData(), 0400) == 0);
        } else if (setup == "directory") {
            QVERIFY(QDir(m_dir.path()).mkdir("frmsv.INI"));
        } else {
            store.ExeDir = m_dir.filePath("gone");
        }
        store.Open();
        store.WriteString("S", "k", "new");
        try {
            store.Close();
            QFAIL("the write did not fail");
        } catch (const EIniFileStoreError& e) {
            QCOMPARE(QString::fromStdString(e.what()), "Unable to write to " + store.FileName());
        }
        if (setup == "readonly")
            QCOMPARE(ReadFile(), QByteArray("[S]\nk=old\n"));
        else if (setup == "directory")
            QVERIFY(QDir(m_dir.path()).rmdir("frmsv.INI"));
        // The store is usable again after the failure.
        store.Open();
        QCOMPARE(store.ReadString("S", "k", "none"), setup == "readonly" ? "old" : "none");
    }

    // Hand-edited files may hold anything; none of it may bring the store down.
    void garbageSurvives_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe[\x01]=\n=\n[[]]\n", 15);
        QTest::newRow("unclosed section") << QByteArray("[S\nk=v\n");
        QTest::newRow("only equals") << QByteArray("====\n[S]\n=\n");
        QTest::newRow("empty section name") << QByteArray("[]\nk=v\n[S]\nk=\"\n");
    }
    void garbageSurvives() {
        QFETCH(QByteArray, bytes);
        WriteFile(bytes);
        TIniFileStore store = Store();
        store.Open();
        store.ReadString("S", "k", {});
        store.ReadInteger("S", "", 0);
        store.WriteString("S", "k", "v");
        store.Close();
        store.Open();
        QCOMPARE(store.ReadString("S", "k", {}), QString("v"));
    }
};

QTEST_APPLESS_MAIN(tst_settings_store)
#include "tst_settings_store.moc"
