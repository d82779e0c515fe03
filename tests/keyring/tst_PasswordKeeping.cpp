#include "app/TMainSettings.h"
#include "app/TfrmMain.h"
#include "posting/TKeychainStore.h"
#include "selection/TScriptedPrompts.h"
#include "support/NewsServer.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <optional>

namespace {

const QString kUnavailable = QStringLiteral("No secret store available (");
const QString kStaysInFile = QStringLiteral("); the password stays in the settings file");

// One run of the program as far as its settings go: the window restored from the settings file
// and the store, and on leaving closed and saved, the store's answers awaited both times.
struct ProgramRun {
    TfrmMain window;
    TMainSettings settings;

    explicit ProgramRun(const QString& dir, bool awaitRestore = true)
        : window(dir), settings(window, std::make_unique<TKeychainStore>()) {
        settings.Restore();
        if (awaitRestore)
            settings.FinishSecretStoreRequests();
    }
    ~ProgramRun() {
        window.close();
        settings.FinishSecretStoreRequests();
    }
    void SetLogon(const QString& host, const QString& user, const QString& password) {
        window.eHost->setText(host);
        window.eUserName->setText(user);
        window.ePassword->setText(password);
        window.cbLogon->setChecked(true);
    }
    QString Log() const { return window.mDisplay->toPlainText(); }
};

// What the store answers for `key`, read as the command line would, without a window.
TSecretAnswer Stored(const QString& key) {
    TKeychainStore store;
    std::optional<TSecretAnswer> answer;
    store.Read(key, nullptr, [&](const TSecretAnswer& a) { answer = a; });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 10000); }();
    return answer.value_or(TSecretAnswer{});
}

} // namespace

// The log-on password between the settings file, the desktop's secret store and the window, with
// a real store on a private bus; the steps of tests/keyring/CMakeLists.txt say which store each
// function finds.
class tst_PasswordKeeping : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    TScriptedPrompts* FPrompts = nullptr;

    QString Dir() const { return FDir->path(); }
    QByteArray Ini() const { return ReadTestFile(FDir->filePath(QStringLiteral("frmsv.INI"))); }
    void WriteIni(const QByteArray& text) {
        QVERIFY(WriteTestFile(FDir->filePath(QStringLiteral("frmsv.INI")), text));
    }

    // The file kept the password and the log said why, once.
    void CheckFellBackToTheFile() {
        {
            ProgramRun run(Dir());
            QCOMPARE(run.window.ePassword->text(), QStringLiteral("pw-old"));
            QCOMPARE(run.Log().count(kUnavailable), 1);
            QVERIFY2(run.Log().contains(kStaysInFile), qPrintable(run.Log()));
            run.window.ePassword->setText(QStringLiteral("pw-new"));
        }
        QVERIFY2(Ini().contains("ePassword.Text=pw-new"), Ini().constData());
    }

    // Long-lived: the keyring tests share one directory for their settings across steps.
    static QString SharedDir() { return qEnvironmentVariable("HOME") + QStringLiteral("/program"); }

private slots:
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        FPrompts = TScriptedPrompts::InstallNew();
    }
    void cleanup() {
        TPrompts::Install(nullptr);
        FDir.reset();
    }

    void passwordLeavesTheFile() {
        {
            ProgramRun run(Dir());
            run.SetLogon(QStringLiteral("news.example.org"), QStringLiteral("ann"),
                         QStringLiteral("pw-ann"));
        }
        QVERIFY2(Ini().contains("eUserName.Text=ann"), Ini().constData());
        QVERIFY2(!Ini().contains("ePassword"), Ini().constData());
        ProgramRun run(Dir());
        QCOMPARE(run.window.ePassword->text(), QStringLiteral("pw-ann"));
        QVERIFY2(!run.Log().contains(kUnavailable), qPrintable(run.Log()));
    }

    // The command line finds the password the window put in the store.
    void commandLineUsesTheStoredPassword() {
        NewsServer server;
        QVERIFY2(server.Start({"--auth"}), server.Output().constData());
        {
            ProgramRun run(Dir());
            run.SetLogon(server.Host(), QStringLiteral("poster"), QStringLiteral("secret"));
            run.window.cbSecurity->setCurrentIndex(0);
        }
        QVERIFY2(!Ini().contains("ePassword"), Ini().constData());
        QProcess heraldix;
        heraldix.setProcessEnvironment(CommandLineEnvironment());
        heraldix.start(QStringLiteral(HERALDIX_EXECUTABLE),
                       {"post", "--settings", FDir->filePath(QStringLiteral("frmsv.INI")), "--from",
                        "p@example.com", "--subject", "stored password", "--body", "-", "--group",
                        "misc.test"});
        heraldix.write("text\n");
        heraldix.closeWriteChannel();
        QVERIFY(heraldix.waitForFinished(30000));
        QVERIFY(server.Stop());
        QCOMPARE(heraldix.exitCode(), 0);
        QVERIFY(heraldix.readAllStandardOutput().startsWith("accepted  misc.test  <"));
    }

    void oldFilesPasswordMoves() {
        WriteIni("[TfrmMain]\r\neHost.Text=news.old.example\r\neUserName.Text=bob\r\n"
                 "ePassword.Text=pw-bob\r\ncbLogon.Checked=True\r\n");
        {
            ProgramRun run(Dir());
            QCOMPARE(run.window.ePassword->text(), QStringLiteral("pw-bob"));
            QVERIFY2(!Ini().contains("ePassword"), Ini().constData());
            QVERIFY2(Ini().contains("eUserName.Text=bob"), Ini().constData());
        }
        const TSecretAnswer stored = Stored(QStringLiteral("bob@news.old.example"));
        QCOMPARE(int(stored.Status), int(TSecretStatus::ssDone));
        QCOMPARE(stored.Secret, QStringLiteral("pw-bob"));
    }

    void twoServersKeepTwoPasswords() {
        const QStringList hosts = {QStringLiteral("news.a.example"),
                                   QStringLiteral("news.b.example")};
        for (const QString& host : hosts) {
            ProgramRun run(Dir());
            run.SetLogon(host, QStringLiteral("cy"), QStringLiteral("pw-") + host);
        }
        for (const QString& host : hosts)
            QCOMPARE(Stored(QStringLiteral("cy@") + host).Secret, QStringLiteral("pw-") + host);
        // The file names the last server; its password comes back from the store.
        ProgramRun run(Dir());
        QCOMPARE(run.window.ePassword->text(), QStringLiteral("pw-news.b.example"));
    }

    void noSecretService() {
        WriteIni("[TfrmMain]\r\neHost.Text=news.example.org\r\neUserName.Text=dee\r\n"
                 "ePassword.Text=pw-old\r\n");
        CheckFellBackToTheFile();
    }

    void storeThatNeverAnswers() {
        const pid_t daemon = qEnvironmentVariableIntValue("HERALDIX_KEYRING_PID");
        QVERIFY(daemon > 0);
        QCOMPARE(::kill(daemon, SIGSTOP), 0);
        WriteIni("[TfrmMain]\r\neHost.Text=news.example.org\r\neUserName.Text=dee\r\n"
                 "ePassword.Text=pw-old\r\n");
        {
            // The window goes on while the store keeps silent: an event posted after the
            // start is handled before the store is given up.
            ProgramRun run(Dir(), false);
            QVERIFY(run.Log().isEmpty());
            QStringList order;
            QMetaObject::invokeMethod(
                &run.window, [&] { order << QStringLiteral("event"); }, Qt::QueuedConnection);
            connect(run.window.mDisplay, &QPlainTextEdit::textChanged, this,
                    [&] { order << QStringLiteral("fallback"); });
            run.settings.FinishSecretStoreRequests();
            QCOMPARE(order, QStringList({QStringLiteral("event"), QStringLiteral("fallback")}));
        }
        CheckFellBackToTheFile();
    }

    // A locked keyring holds ann's password; the program must neither lose it nor replace it,
    // asks for the password when it logs on, and keeps the typed one for this run only.
    void lockedStoreBefore() {
        QVERIFY(QDir().mkpath(SharedDir()));
        ProgramRun run(SharedDir());
        run.SetLogon(QStringLiteral("news.example.org"), QStringLiteral("ann"),
                     QStringLiteral("pw-locked"));
    }
    void lockedStore() {
        const QByteArray before = ReadTestFile(SharedDir() + QStringLiteral("/frmsv.INI"));
        {
            ProgramRun run(SharedDir());
            QCOMPARE(run.window.ePassword->text(), QString());
            QVERIFY2(!run.Log().contains(kUnavailable), qPrintable(run.Log()));
            QCOMPARE(ReadTestFile(SharedDir() + QStringLiteral("/frmsv.INI")), before);
            FPrompts->QueuePassword(QStringLiteral("pw-typed"));
            QVERIFY(run.window.LogonPasswordReady());
            QCOMPARE(FPrompts->LogonBoxes(), QStringList(QStringLiteral("ann")));
            QCOMPARE(run.window.ePassword->text(), QStringLiteral("pw-typed"));
            // Asked once: the password is there now.
            QVERIFY(run.window.LogonPasswordReady());
            QCOMPARE(FPrompts->LogonBoxes().size(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(
                run.Log().count(QLatin1String("The secret store is locked; the password "
                                              "is kept until Heraldix closes")),
                1, 10000);
        }
        // The locked store refused the new password, and the file does not take it instead.
        const QByteArray after = ReadTestFile(SharedDir() + QStringLiteral("/frmsv.INI"));
        QVERIFY2(!after.contains("ePassword"), after.constData());
    }
    void lockedStoreAfter() {
        QCOMPARE(Stored(QStringLiteral("ann@news.example.org")).Secret,
                 QStringLiteral("pw-locked"));
    }
};

QTEST_MAIN(tst_PasswordKeeping)
#include "tst_PasswordKeeping.moc"
