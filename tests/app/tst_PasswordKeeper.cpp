#include "MainWindowFixture.h"
#include "app/TCancelSecretKeeper.h"
#include "app/TMainSettings.h"
#include "app/TfrmMain.h"
#include "posting/TCancelLock.h"
#include "posting/TSecretStore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

#include <deque>

namespace {

// A store whose answers the test gives, one request at a time, in the order they were made.
class HeldStore : public TSecretStore {
public:
    struct Request {
        QString What; // "read <key>", "write <key>=<secret>", "remove <key>"
        QPointer<QObject> Context;
        TAnswerHandler Handler;
    };
    std::deque<Request>* Requests = nullptr;

    void Read(const QString& key, QObject* context, TAnswerHandler handler) override {
        Requests->push_back({QStringLiteral("read ") + key, context, std::move(handler)});
    }
    void Write(const QString& key, const QString& secret, QObject* context,
               TAnswerHandler handler) override {
        Requests->push_back(
            {QStringLiteral("write %1=%2").arg(key, secret), context, std::move(handler)});
    }
    void Remove(const QString& key, QObject* context, TAnswerHandler handler) override {
        Requests->push_back({QStringLiteral("remove ") + key, context, std::move(handler)});
    }
};

} // namespace

// The rules that keep the password from being lost between the settings file and the store:
// the file lets go of it only after the store's confirmation, and an answer that says nothing
// (not found, unavailable) never leads to a removal or an overwrite.
class tst_PasswordKeeper : public QObject, private MainWindowFixture {
    Q_OBJECT

    std::deque<HeldStore::Request> FRequests;

    std::unique_ptr<TSecretStore> NewStore() {
        auto store = std::make_unique<HeldStore>();
        store->Requests = &FRequests;
        return store;
    }
    QString NextRequest() const { return FRequests.empty() ? QString() : FRequests.front().What; }
    void Answer(TSecretStatus status, const QString& secret = {}) {
        QVERIFY(!FRequests.empty());
        HeldStore::Request request = std::move(FRequests.front());
        FRequests.pop_front();
        if (request.Context)
            request.Handler({status, secret, QStringLiteral("test reason")});
    }
    void WriteLogonIni(const QByteArray& password) {
        Write(QStringLiteral("frmsv.INI"),
              "[TfrmMain]\r\neHost.Text=news.example.org\r\neUserName.Text=ann\r\n" + password +
                  "cbLogon.Checked=True\r\n");
    }
    QByteArray Ini() const { return Read(QStringLiteral("frmsv.INI")); }

private slots:
    void init() {
        BeginTest();
        FRequests.clear();
    }
    void cleanup() { EndTest(); }

    void passwordInTheFileMovesOnlyWhenConfirmed_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("leavesFile");
        QTest::newRow("confirmed") << int(TSecretStatus::ssDone) << true;
        QTest::newRow("unavailable") << int(TSecretStatus::ssUnavailable) << false;
    }
    void passwordInTheFileMovesOnlyWhenConfirmed() {
        QFETCH(int, answer);
        QFETCH(bool, leavesFile);
        WriteLogonIni("ePassword.Text=pw-old\r\n");
        TfrmMain window(FDir->path());
        TMainSettings settings(window, NewStore());
        settings.Restore();
        QCOMPARE(NextRequest(), QStringLiteral("write ann@news.example.org=pw-old"));
        QVERIFY(Ini().contains("ePassword.Text=pw-old"));
        Answer(TSecretStatus(answer));
        QCOMPARE(!Ini().contains("ePassword"), leavesFile);
        QCOMPARE(window.mDisplay->toPlainText().contains(QLatin1String("test reason")),
                 !leavesFile);
        // A password saved while its write awaits confirmation stays in the file meanwhile.
        window.ePassword->setText(QStringLiteral("pw-new"));
        window.close();
        QCOMPARE(NextRequest(),
                 leavesFile ? QStringLiteral("write ann@news.example.org=pw-new") : QString());
        QVERIFY(Ini().contains("ePassword.Text=pw-new"));
    }

    void readAnswerFillsOrAsks_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("logonBoxes");
        QTest::addColumn<QString>("saveRequest");
        // What the file holds of the password after the save; empty: nothing.
        QTest::addColumn<QByteArray>("fileEntry");
        const QByteArray nothing;
        QTest::newRow("found") << int(TSecretStatus::ssDone) << ""
                               << "pw-store" << 0 << "" << nothing;
        QTest::newRow("found, typed meanwhile")
            << int(TSecretStatus::ssDone) << "pw-mine"
            << "pw-mine" << 0 << "write ann@news.example.org=pw-mine"
            << QByteArray("ePassword.Text=pw-mine");
        QTest::newRow("not found or locked") << int(TSecretStatus::ssNotFound) << ""
                                             << "" << 1 << "" << nothing;
        QTest::newRow("unavailable") << int(TSecretStatus::ssUnavailable) << ""
                                     << "" << 1 << "" << QByteArray("ePassword.Text=\n");
    }
    void readAnswerFillsOrAsks() {
        QFETCH(int, answer);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, logonBoxes);
        QFETCH(QString, saveRequest);
        QFETCH(QByteArray, fileEntry);
        WriteLogonIni("ePassword.Text=\r\n");
        TfrmMain window(FDir->path());
        TMainSettings settings(window, NewStore());
        settings.Restore();
        QCOMPARE(NextRequest(), QStringLiteral("read ann@news.example.org"));
        window.ePassword->setText(typed);
        Answer(TSecretStatus(answer), QStringLiteral("pw-store"));
        QCOMPARE(window.ePassword->text(), shown);
        // Nothing answered for the box: the log-on does not start.
        QCOMPARE(window.LogonPasswordReady(), logonBoxes == 0);
        QCOMPARE(FPrompts->LogonBoxes().size(), logonBoxes);
        window.close();
        QCOMPARE(NextRequest(), saveRequest);
        if (fileEntry.isEmpty())
            QVERIFY2(!Ini().contains("ePassword"), Ini().constData());
        else
            QVERIFY2(Ini().contains(fileEntry), Ini().constData());
    }

    // A password typed while the store is locked stays out of the file, the log says so once,
    // and the save at the end tries the store again; only a store gone since gets it filed.
    void typedPasswordWithALockedStore_data() {
        QTest::addColumn<int>("atSave");
        QTest::addColumn<bool>("filed");
        QTest::newRow("still locked") << int(TSecretStatus::ssLocked) << false;
        QTest::newRow("gone since") << int(TSecretStatus::ssUnavailable) << true;
    }
    void typedPasswordWithALockedStore() {
        QFETCH(int, atSave);
        QFETCH(bool, filed);
        const QString write = QStringLiteral("write ann@news.example.org=pw-typed");
        WriteLogonIni("ePassword.Text=\r\n");
        TfrmMain window(FDir->path());
        TMainSettings settings(window, NewStore());
        settings.Restore();
        Answer(TSecretStatus::ssNotFound);
        FPrompts->QueuePassword(QStringLiteral("pw-typed"));
        QVERIFY(window.LogonPasswordReady());
        QCOMPARE(NextRequest(), write);
        Answer(TSecretStatus::ssLocked);
        window.close();
        QVERIFY2(!Ini().contains("pw-typed"), Ini().constData());
        QCOMPARE(NextRequest(), write);
        Answer(TSecretStatus(atSave));
        QCOMPARE(window.mDisplay->toPlainText().count(QLatin1String(
                     "The secret store is locked; the password is kept until Heraldix closes")),
                 1);
        QCOMPARE(Ini().contains("ePassword.Text=pw-typed"), filed);
    }

    // The Cancel-Lock secret, kept like the password but never replaced: an answer that does not
    // show whether the store holds one makes none. answers: the store's, in turn; -1 for no store.
    void cancelSecretIsMadeOnceAndKept_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QList<int>>("answers");
        // "file": a secret the file keeps; "store": one the store keeps; "none" this run.
        QTest::addColumn<QString>("kept");
        const QByteArray inFile = "Secret=" + QByteArray(32, 'k').toBase64() + "\r\n";
        const QByteArray marked = "InSecretStore=True\r\n";
        const int done = int(TSecretStatus::ssDone), absent = int(TSecretStatus::ssNotFound),
                  locked = int(TSecretStatus::ssLocked), gone = int(TSecretStatus::ssUnavailable);
        QTest::newRow("in the file") << inFile << QList<int>{} << "file";
        QTest::newRow("damaged in the file")
            << QByteArray("Secret=abc\r\n") << QList<int>{} << "none";
        QTest::newRow("no store") << QByteArray() << QList<int>{-1} << "file";
        QTest::newRow("in the store") << QByteArray() << QList<int>{done} << "store";
        QTest::newRow("store locked") << QByteArray() << QList<int>{locked} << "none";
        QTest::newRow("not found: made") << QByteArray() << QList<int>{absent, done} << "store";
        QTest::newRow("not found, write locked")
            << QByteArray() << QList<int>{absent, locked} << "none";
        QTest::newRow("not found, write failed")
            << QByteArray() << QList<int>{absent, gone} << "file";
        QTest::newRow("unavailable") << QByteArray() << QList<int>{gone} << "file";
        QTest::newRow("not found, the store had one") << marked << QList<int>{absent} << "none";
        QTest::newRow("unavailable, the store had one") << marked << QList<int>{gone} << "none";
        QTest::newRow("no store, the store had one") << marked << QList<int>{-1} << "none";
    }
    void cancelSecretIsMadeOnceAndKept() {
        QFETCH(QByteArray, section);
        QFETCH(QList<int>, answers);
        QFETCH(QString, kept);
        Write(QStringLiteral("frmsv.INI"), "[CancelLock]\r\n" + section);
        TIniFileStore ini;
        ini.ExeDir = FDir->path();
        const bool noStore = answers.value(0) == -1;
        TCancelSecretKeeper keeper(ini, noStore ? nullptr : NewStore());
        std::vector<TCancelSecretKeeper::TAnswer> heard;
        keeper.Load(
            [&heard](const TCancelSecretKeeper::TAnswer& answer) { heard.push_back(answer); });
        const QByteArray stored = QByteArray(32, 's').toBase64();
        QStringList asked;
        for (int i = noStore ? 1 : 0; i < answers.size(); ++i) {
            asked << NextRequest();
            Answer(TSecretStatus(answers[i]), QString::fromLatin1(stored));
        }
        QVERIFY(FRequests.empty());
        QCOMPARE(heard.size(), size_t(1));
        const QByteArray secret = QByteArray::fromStdString(heard[0].Secret).toBase64();
        QCOMPARE(heard[0].Reason.isEmpty(), kept != "none");
        if (kept == "none") {
            QCOMPARE(secret, QByteArray());
            QCOMPARE(Ini(), "[CancelLock]\r\n" + section);
            return;
        }
        QCOMPARE(heard[0].Secret.size(), TCancelLock::SecretSize);
        QCOMPARE(Ini().contains("Secret=" + secret), kept == "file");
        QCOMPARE(Ini().contains("InSecretStore=True"), kept == "store");
        if (!answers.isEmpty() && answers[0] == int(TSecretStatus::ssDone))
            QCOMPARE(secret, stored);
        if (asked.size() > 1)
            QCOMPARE(asked[1], "write Cancel-Lock secret=" + QString::fromLatin1(secret));
        if (!section.isEmpty())
            QCOMPARE(secret, QByteArray(32, 'k').toBase64());
    }

    void emptiedPasswordLeavesTheStore() {
        WriteLogonIni("");
        TfrmMain window(FDir->path());
        TMainSettings settings(window, NewStore());
        settings.Restore();
        Answer(TSecretStatus::ssDone, QStringLiteral("pw-store"));
        window.ePassword->clear();
        window.close();
        QCOMPARE(NextRequest(), QStringLiteral("remove ann@news.example.org"));
    }
};

QTEST_MAIN(tst_PasswordKeeper)
#include "tst_PasswordKeeper.moc"
