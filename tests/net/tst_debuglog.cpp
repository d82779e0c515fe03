#include "net/TIpDebugLog.h"
#include "net/TIpEventLog.h"
#include "net/TIpSockControl.h"
#include "net/TIpTickCount.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <sstream>

static std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

static uint32_t fakeTick = 0;

class tst_debuglog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hexDump_data();
    void hexDump();
    void timeStamp_data();
    void timeStamp();
    void socketEntriesByteForByte();
    void enableDisableEntries();
    void fixedTextsOfEntries();
    void ringKeepsNewestEntries();
    void tooLargeEntryIsDropped();
    void wrappingEntrySurvives();
    void writeModes();
    void eventLog();
    void dateTimeFormat();
};

void tst_debuglog::init() {
    fakeTick = 1000;
    SetIpTickSource([] { return fakeTick; });
}

void tst_debuglog::cleanup() {
    SetIpTickSource({});
}

void tst_debuglog::hexDump_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("dump");
    QTest::newRow("nothing") << QByteArray() << QByteArray();
    QTest::newRow("17 bytes: second line short")
        << QByteArray("ABCDEFGHIJKLMNO\x01"
                      "Z")
        << QByteArray("  000000: 41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 01 : "
                      "ABCDEFGHIJKLMNO.\r\n"
                      "  000010: 5A                                               : "
                      "Z               \r\n");
    QTest::newRow("control and high bytes")
        << QByteArray("\r\n\x7f~ \xff", 6)
        << QByteArray("  000000: 0D 0A 7F 7E 20 FF                                : "
                      "...~ .          \r\n");
}

void tst_debuglog::hexDump() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, dump);
    const std::string out = TIpDebugLog::HexDump(bytes.constData(), uint32_t(bytes.size()));
    QCOMPARE(QByteArray::fromStdString(out), dump);
    for (size_t at = 0; at < out.size(); at += 79)
        QCOMPARE(out.substr(at + 77, 2), std::string("\r\n"));
}

void tst_debuglog::timeStamp_data() {
    QTest::addColumn<uint>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << "0000.000 : ";
    QTest::newRow("12345") << 12345u << "0012.345 : ";
    QTest::newRow("long run") << 123456789u << "123456.789 : ";
}

void tst_debuglog::timeStamp() {
    QFETCH(uint, ms);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(TIpDebugLog::TimeStamp(ms)), text);
}

void tst_debuglog::socketEntriesByteForByte() {
    TIpDebugLog log(nullptr);
    log.SetEnabled(true);
    log.Clear();
    fakeTick = 13345;
    log.AddEntry(&TIpSockControl::FormatLogEntry, 7, TIpDebugEntry::ReadData, "200 ok\r\n", 8);
    log.AddEntry(&TIpSockControl::FormatLogEntry, 7, TIpDebugEntry::SendCall, "Q", 1);
    log.AddEntry(&TIpSockControl::FormatLogEntry, 7, TIpDebugEntry::WriteData, "QUIT\r\n", 6);
    log.AddEntry(&TIpSockControl::FormatLogEntry, 7, TIpDebugEntry::RecvCall, "", 0);
    const std::string expected =
        "0012.345 : Read - 8 bytes read from socket 7\r\n"
        "  000000: 32 30 30 20 6F 6B 0D 0A                          : 200 ok..        \r\n"
        "\r\n"
        "0012.345 : [7] Send API: 1 byte written\r\n"
        "  000000: 51                                               : Q               \r\n"
        "\r\n"
        "0012.345 : Write - 6 bytes written to socket 7\r\n"
        "  000000: 51 55 49 54 0D 0A                                : QUIT..          \r\n"
        "\r\n"
        "0012.345 : [7] Recv API: 0 bytes read\r\n"
        "\r\n";
    QCOMPARE(QByteArray::fromStdString(log.Text()), QByteArray::fromStdString(expected));
}

void tst_debuglog::enableDisableEntries() {
    TIpDebugLog log(nullptr);
    log.AddText(1, "ignored while disabled");
    QVERIFY(log.IsEmpty());
    log.SetEnabled(true);
    log.AddText(1, "middle");
    log.SetEnabled(false);
    log.AddText(1, "ignored again");
    QCOMPARE(log.Text(), std::string("0000.000 : **** Logging Enabled\r\n\r\n"
                                     "0000.000 : middle\r\n"
                                     "0000.000 : **** Logging Disabled\r\n\r\n"));
}

void tst_debuglog::fixedTextsOfEntries() {
    TIpDebugLog log(nullptr);
    log.SetEnabled(true);
    log.Clear();
    log.AddEntry(nullptr, 3, TIpDebugEntry::Telnet, 1u, 253u * 256 + 24);
    log.AddEntry(nullptr, 3, TIpDebugEntry::Telnet, 2u, 252u * 256 + 60);
    log.AddEntry(nullptr, 3, TIpDebugEntry::Telnet, 9u, 240u * 256 + 1);
    log.AddEntry(nullptr, 3, 42, 0xABu, 5u);
    log.AddEntry(&TIpBaseComponent::FormatLogEntry, 3, 1, 0u, 0u);
    QCOMPARE(log.Text(), std::string("0000.000 : [3] Telnet DO terminal type received.\r\n"
                                     "0000.000 : [3] Telnet WON'T [60] sent.\r\n"
                                     "0000.000 : [3] Telnet [240] echo [00000009]\r\n"
                                     "0000.000 : !!!! Unknown log entry : "
                                     "[3][0000002A][000000AB][00000005]\r\n\r\n"
                                     "0000.000 : !!!! Unhandled log entry\n\r\r\n"));
}

void tst_debuglog::ringKeepsNewestEntries() {
    TIpDebugLog log(nullptr);
    log.SetEnabled(true);
    QCOMPARE(log.BufferSize(), uint32_t(65536));
    // 70 entries of 1000 bytes of read traffic, each numbered in its first bytes.
    for (int i = 0; i < 70; ++i) {
        std::string payload(1000, char('a' + i % 26));
        payload.replace(0, 3, QByteArray::number(100 + i).toStdString());
        log.AddEntry(&TIpSockControl::FormatLogEntry, 1, TIpDebugEntry::ReadData, payload.data(),
                     uint32_t(payload.size()));
    }
    const std::string text = log.Text();
    // 1024 bytes per entry: 63 fit in 65535; the oldest kept is number 7.
    QCOMPARE(QString::fromStdString(text).count("Read - 1000 bytes"), 63);
    QVERIFY(text.starts_with("0000.000 : Read - 1000 bytes read from socket 1\r\n"
                             "  000000: 31 30 37 "));
    QVERIFY(text.find("31 36 39 ") != std::string::npos);
    QVERIFY(text.find("Logging Enabled") == std::string::npos);
}

void tst_debuglog::tooLargeEntryIsDropped() {
    TIpDebugLog log(nullptr);
    log.SetBufferSize(1024);
    log.SetEnabled(true);
    log.Clear();
    const std::string big(1024 - 24, 'x');
    log.AddEntry(nullptr, 1, TIpDebugEntry::Text, big.data(), uint32_t(big.size()));
    QVERIFY(log.IsEmpty());
    log.AddEntry(nullptr, 1, TIpDebugEntry::Text, big.data(), uint32_t(big.size() - 1));
    QCOMPARE(log.Text(), "0000.000 : " + big.substr(1) + "\r\n");
}

void tst_debuglog::wrappingEntrySurvives() {
    TIpDebugLog log(nullptr);
    log.SetBufferSize(200);
    log.SetEnabled(true);
    log.Clear();
    // Entries of 24 + 50 bytes wrap around a 200-byte ring in varying places.
    std::string expected;
    for (int i = 0; i < 9; ++i) {
        std::string text(50, char('A' + i));
        log.AddEntry(nullptr, 1, TIpDebugEntry::Text, text.data(), 50);
        if (i >= 7)
            expected += "0000.000 : " + text + "\r\n";
    }
    QCOMPARE(log.Text(), expected);
}

void tst_debuglog::writeModes() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("debug.log").toStdString();
    TIpDebugLog log(nullptr);
    log.SetFileName(path);
    log.SetEnabled(true);
    log.AddText(1, "first");
    log.FlushToFile();
    QVERIFY(log.IsEmpty());
    const std::string header = TIpDebugLog::HeaderBlock();
    QVERIFY(header.find("v1.02 compiled with ") != std::string::npos);
    QVERIFY(header.find("\r\nNegotiated Version : $0202\r\n") != std::string::npos);
    QVERIFY(header.ends_with(std::string(77, '=') + "\r\n\r\n"));
    const std::string firstFile = ReadFile(path);
    QCOMPARE(firstFile, header + "0000.000 : **** Logging Enabled\r\n\r\n"
                                 "0000.000 : first\r\n");

    log.SetWriteMode(TIpWriteMode::wmAppend);
    log.AddText(1, "second");
    log.FlushToFile();
    QCOMPARE(ReadFile(path), firstFile + "0000.000 : second\r\n");

    log.SetWriteMode(TIpWriteMode::wmOverwrite);
    log.AddText(1, "third");
    log.FlushToFile();
    QCOMPARE(ReadFile(path), header + "0000.000 : third\r\n");

    log.SetFileName(dir.filePath("no-such-dir/debug.log").toStdString());
    log.AddText(1, "lost");
    QVERIFY_THROWS_EXCEPTION(std::ios_base::failure, log.FlushToFile());
}

void tst_debuglog::eventLog() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("event.log").toStdString();
    TIpEventLog log(nullptr);
    log.SetFileName(path);
    log.SetDateTimeFormat("[x]");
    log.WriteLine("never");
    QVERIFY(!QFile::exists(dir.filePath("event.log")));
    log.SetEnabled(true);
    log.WriteLine("Connect: one");
    log.WriteLine("Close:   two");
    QCOMPARE(ReadFile(path), std::string("[x] Connect: one\r\n[x] Close:   two\r\n"));
}

void tst_debuglog::dateTimeFormat() {
    std::tm time{};
    time.tm_year = 2026 - 1900;
    time.tm_mon = 11;
    time.tm_mday = 6;
    time.tm_hour = 21;
    time.tm_min = 4;
    time.tm_sec = 9;
    QCOMPARE(TIpEventLog::FormatDateTime("yyyy.mm.dd hh:nn:ss", time),
             std::string("2026.12.06 21:04:09"));
    QCOMPARE(TIpEventLog::FormatDateTime("d/m/yy h:n:s.zzz!", time, 7),
             std::string("6/12/26 21:4:9.007!"));
}

QTEST_GUILESS_MAIN(tst_debuglog)
#include "tst_debuglog.moc"
