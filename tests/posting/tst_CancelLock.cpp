// Cancel-Lock and Cancel-Key values held against the `canlock` tool for the same secret and
// Message-ID: a server checks them with the same scheme, so our own reading of it is not enough.

#include "posting/TCancelLock.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class tst_CancelLock : public QObject {
    Q_OBJECT

    // What `canlock <option> <messageId>` prints for secret (read from its standard input).
    static QByteArray Tool(const char* option, const QByteArray& secret, const QByteArray& id) {
        QProcess tool;
        tool.start(QStringLiteral("canlock"),
                   {QString::fromLatin1(option), QString::fromLatin1(id)});
        tool.write(secret);
        tool.closeWriteChannel();
        if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
            return "canlock failed: " + tool.readAllStandardError();
        return tool.readAllStandardOutput().trimmed();
    }

private slots:
    void valuesEqualTheTools_data() {
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<QByteArray>("messageId");
        QTest::newRow("text secret")
            << QByteArray("secretbytes") << QByteArray("<abc@example.org>");
        QTest::newRow("binary secret with NUL and line end")
            << QByteArray("\x00\x01\n\xff\xfe\r\x7f"
                          "abcdefghijklmnopqrstuvwxy",
                          32)
            << QByteArray("<h.1a2b3c.0@news.example.org>");
        QTest::newRow("long Message-ID")
            << QByteArray(32, 'k') << "<" + QByteArray(200, 'x') + "$%&'*+/=?^_`{|}~@a.b>";
    }
    void valuesEqualTheTools() {
        QFETCH(QByteArray, secret);
        QFETCH(QByteArray, messageId);
        if (QStandardPaths::findExecutable(QStringLiteral("canlock")).isEmpty())
            QSKIP("the canlock tool is not installed (scripts/bootstrap installs it)");
        const std::string_view bytes(secret.constData(), static_cast<size_t>(secret.size()));
        QCOMPARE(QByteArray::fromStdString(TCancelLock::Key(bytes, messageId.toStdString())),
                 Tool("-k", secret, messageId));
        QCOMPARE(QByteArray::fromStdString(TCancelLock::Lock(bytes, messageId.toStdString())),
                 Tool("-l", secret, messageId));
    }

    void newSecretsAreFullAndDiffer() {
        const std::string first = TCancelLock::NewSecret();
        QCOMPARE(first.size(), TCancelLock::SecretSize);
        QVERIFY(first != TCancelLock::NewSecret());
    }
};

QTEST_APPLESS_MAIN(tst_CancelLock)
#include "tst_CancelLock.moc"
