#include "MimeTestTools.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpMimeEncoder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Encodes input with one of the encoders into a fresh text stream; returns the text.
enum class Coder { Lines, Base64, Quoted, UU, BinHex };

QByteArray Encode(Coder coder, const QByteArray& input, const std::string& name = "a.gif",
                  const TIpProgressReport& report = {}) {
    TIpMemoryStream source;
    FillStream(source, input);
    TIpMemoryStream target;
    {
        TIpAnsiTextStream text(&target);
        TIpMimeEncoder encoder(text, report);
        switch (coder) {
        case Coder::Lines:
            encoder.EncodeLines(source);
            break;
        case Coder::Base64:
            encoder.EncodeBase64(source);
            break;
        case Coder::Quoted:
            encoder.EncodeQuoted(source);
            break;
        case Coder::UU:
            encoder.EncodeUU(source, name);
            break;
        case Coder::BinHex:
            encoder.EncodeBinHex(source, name);
            break;
        }
    }
    return StreamBytes(target);
}

QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

// An independent BinHex 4.0 reader: six-bit text between the colons, run-length expansion, then
// the header, both forks and the CRCs checked (the CRC computed bit by bit, over the bytes and
// two zero bytes, as the format defines it).
uint16_t BitwiseCrc(const QByteArray& bytes) {
    uint32_t crc = 0;
    QByteArray data = bytes + QByteArray(2, '\0');
    for (char c : data) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = crc & 0x8000;
            crc = ((crc << 1) | ((uint8_t(c) >> bit) & 1)) & 0xFFFF;
            if (top)
                crc ^= 0x1021;
        }
    }
    return uint16_t(crc);
}

bool DecodeBinHex(const QByteArray& text, QByteArray* name, QByteArray* fork) {
    const int start = text.indexOf(':');
    const int end = text.lastIndexOf(':');
    if (start < 0 || end <= start)
        return false;
    QByteArray packed;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text.mid(start + 1, end - start - 1)) {
        if (c == '\r' || c == '\n')
            continue;
        const char* at = std::strchr(TIpMimeEncoder::BinHexAlphabet, c);
        if (!at || !c)
            return false;
        bits = (bits << 6) | uint32_t(at - TIpMimeEncoder::BinHexAlphabet);
        count += 6;
        if (count >= 8) {
            count -= 8;
            packed.append(char((bits >> count) & 0xFF));
        }
    }
    QByteArray data;
    for (int i = 0; i < packed.size(); ++i) {
        if (uint8_t(packed[i]) == 0x90 && i + 1 < packed.size()) {
            const int run = uint8_t(packed[++i]);
            if (run == 0)
                data.append(char(0x90));
            else
                data.append(QByteArray(run - 1, data.back()));
        } else {
            data.append(packed[i]);
        }
    }
    const auto big = [&data](int at, int width) {
        uint32_t v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | uint8_t(data[at + i]);
        return v;
    };
    const int n = uint8_t(data[0]);
    const int header = 1 + n + 1 + 4 + 4 + 2 + 4 + 4;
    if (data.size() < header + 2 || big(header, 2) != BitwiseCrc(data.left(header)))
        return false;
    const int dataLength = int(big(1 + n + 1 + 4 + 4 + 2, 4));
    *name = data.mid(1, n);
    *fork = data.mid(header + 2, dataLength);
    return big(header + 2 + dataLength, 2) == BitwiseCrc(*fork) &&
           data.size() == header + 2 + dataLength + 2 + 2;
}
} // namespace

class TestEncoders : public QObject {
    Q_OBJECT

private slots:
    void base64Lines_data();
    void base64Lines();
    void base64DecodesWithBase64Tool_data();
    void base64DecodesWithBase64Tool();
    void lineCopy_data();
    void lineCopy();
    void uuencodeLayout();
    void uudecodeRestoresBytes_data();
    void uudecodeRestoresBytes();
    void quotedExamples_data();
    void quotedExamples();
    void quotedDecodesWithPython_data();
    void quotedDecodesWithPython();
    void binHexRunLength();
    void binHexDecodes_data();
    void binHexDecodes();
    void binHexCrcRangeChecked();
    void progressAndAbort_data();
    void progressAndAbort();
    void lineCopyBeyond2GiB();
};

void TestEncoders::base64Lines_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("abc") << QByteArray("abc") << QList<QByteArray>{"YWJj"};
    QTest::newRow("one byte padded") << QByteArray("a") << QList<QByteArray>{"YQ=="};
    QTest::newRow("two bytes padded") << QByteArray("ab") << QList<QByteArray>{"YWI="};
    QTest::newRow("empty gives no lines") << QByteArray() << QList<QByteArray>{};
    const QByteArray ninety(90, 'x');
    const QByteArray encoded = ninety.toBase64();
    QTest::newRow("90 bytes: 76 + 44")
        << ninety << QList<QByteArray>{encoded.left(76), encoded.mid(76)};
    const QByteArray exact(57, 'y'); // exactly one full line, no empty line after it
    QTest::newRow("57 bytes: one line") << exact << QList<QByteArray>{exact.toBase64()};
}

void TestEncoders::base64Lines() {
    QFETCH(QByteArray, input);
    QFETCH(QList<QByteArray>, lines);
    const QByteArray text = Encode(Coder::Base64, input);
    QCOMPARE(Lines(text), lines);
    QVERIFY(text.isEmpty() || text.endsWith("\r\n"));
}

void TestEncoders::base64DecodesWithBase64Tool_data() {
    QTest::addColumn<int>("size");
    for (int size : {1, 2, 3, 44, 45, 46, 56, 57, 58, 4096, 65519, 65520, 65521, 300001})
        QTest::newRow(QByteArray::number(size).constData()) << size;
}

void TestEncoders::base64DecodesWithBase64Tool() {
    QFETCH(int, size);
    const QByteArray input = RandomBytes(size, uint32_t(size));
    const QByteArray text = Encode(Coder::Base64, input);
    for (const QByteArray& line : Lines(text).mid(0, Lines(text).size() - 1))
        QCOMPARE(line.size(), 76);
    QByteArray decoded;
    QCOMPARE(RunTool("base64", {"-d"}, QByteArray(text).replace("\r", ""), &decoded), 0);
    QCOMPARE(decoded, input);
}

void TestEncoders::lineCopy_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("last line without break") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
    QTest::newRow("LF becomes CR LF") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("bytes pass unchanged")
        << QByteArray("\xe9\x01\x7f\r\n") << QByteArray("\xe9\x01\x7f\r\n");
    const QByteArray longLine(10000, 'L'); // no length limit
    QTest::newRow("long line") << longLine << longLine + "\r\n";
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestEncoders::lineCopy() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(Encode(Coder::Lines, input), expected);
}

void TestEncoders::uuencodeLayout() {
    const QByteArray text = Encode(Coder::UU, QByteArray(46, 'Z'), "a.gif");
    const QList<QByteArray> lines = Lines(text);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QByteArray("begin 600 a.gif"));
    QVERIFY(lines[1].startsWith('M'));
    QCOMPARE(lines[1].size(), 61);
    QCOMPARE(lines[2].size(), 3); // length character for 1, then two characters
    QCOMPARE(lines[2][0], '!');
    QCOMPARE(lines[3], QByteArray("`"));
    QCOMPARE(lines[4], QByteArray("end"));
    QCOMPARE(Lines(Encode(Coder::UU, "x", "")).first(), QByteArray("begin 600 "));
}

void TestEncoders::uudecodeRestoresBytes_data() {
    QTest::addColumn<int>("size");
    for (int size : {1, 2, 3, 45, 46, 47, 90, 1000, 100000})
        QTest::newRow(QByteArray::number(size).constData()) << size;
}

void TestEncoders::uudecodeRestoresBytes() {
    QFETCH(int, size);
    const QByteArray input = RandomBytes(size, uint32_t(size) + 100);
    const QByteArray text = Encode(Coder::UU, input, "file.bin");
    QTemporaryDir dir;
    QByteArray errors;
    QCOMPARE(RunTool("uudecode", {"-o", dir.filePath("out")}, QByteArray(text).replace("\r", ""),
                     nullptr, &errors),
             0);
    QFile out(dir.filePath("out"));
    QVERIFY2(out.open(QIODevice::ReadOnly), errors.constData());
    QCOMPARE(out.readAll(), input);
}

void TestEncoders::quotedExamples_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("equals sign") << QByteArray("a=b\r\n") << QByteArray("a=3Db\r\n");
    QTest::newRow("byte 233") << QByteArray("\xe9\r\n") << QByteArray("=E9\r\n");
    QTest::newRow("no final break: soft break keeps it exact")
        << QByteArray("abc") << QByteArray("abc=\r\n");
    QTest::newRow("blank before hard break encoded")
        << QByteArray("a \r\nb\t\r\n") << QByteArray("a=20\r\nb=09\r\n");
    QTest::newRow("lone LF and CR are data")
        << QByteArray("a\nb\rc\r\n") << QByteArray("a=0Ab=0Dc\r\n");
    QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\r\n") << QByteArray("\r\n\r\nx\r\n");
    QTest::newRow("words wrap at a blank")
        << QByteArray(40, 'a') + " " + QByteArray(40, 'b') + "\r\n"
        << QByteArray(40, 'a') + " =\r\n" + QByteArray(40, 'b') + "\r\n";
}

void TestEncoders::quotedExamples() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(Encode(Coder::Quoted, input), expected);
}

void TestEncoders::quotedDecodesWithPython_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("run of 200 without a blank") << QByteArray(200, 'r') + "\r\nend\r\n";
    QTest::newRow("run of escapes") << QByteArray(100, '=') + QByteArray(50, '\xff');
    QTest::newRow("74 then blank then break") << QByteArray(74, 'x') + " \r\n" + "y";
    QTest::newRow("75 chars then TAB before break") << QByteArray(75, 'x') + "\t\r\nz";
    QTest::newRow("blanks only") << QByteArray(300, ' ') + "\r\n" + QByteArray(3, '\t');
    QTest::newRow("trailing blank at end") << QByteArray("tail ");
    QTest::newRow("CR at end") << QByteArray("x\r");
    QTest::newRow("mixed escapes at the limit")
        << QByteArray(73, 'm') + "=" + QByteArray(72, 'n') + "\xe9\xe9 \r\n";
    QTest::newRow("binary") << RandomBytes(20000, 77);
    // Random text: mostly printable, with blanks, TABs, CR LF and escapes mixed in.
    std::mt19937 generator(99);
    for (int round = 0; round < 8; ++round) {
        QByteArray text;
        const char alphabet[] = "abc xyz\t=\r\n.\xe9-";
        const int size = 500 + int(generator() % 5000);
        for (int i = 0; i < size; ++i) {
            const auto pick = generator() % 100;
            text.append(pick < 70 ? 'a' + char(pick % 26)
                                  : alphabet[generator() % (sizeof alphabet - 1)]);
        }
        QTest::newRow(qPrintable(QString("random text %1").arg(round))) << text;
    }
}

// Python's decoder keeps a hard line break as CR LF and soft breaks vanish, so the decoded bytes
// must equal the input exactly.
void TestEncoders::quotedDecodesWithPython() {
    QFETCH(QByteArray, input);
    const QByteArray text = Encode(Coder::Quoted, input);
    QByteArray decoded;
    QByteArray errors;
    QCOMPARE(RunPythonScript("quoted_decode.py", {}, text, &decoded, &errors), 0);
    QVERIFY2(errors.isEmpty(), errors.constData());
    QCOMPARE(decoded, input);
}

void TestEncoders::binHexRunLength() {
    std::vector<uint8_t> packed;
    TIpMimeEncoder::BinHexCompress({0x41, 0x90, 0x42}, packed);
    QCOMPARE(packed, (std::vector<uint8_t>{0x41, 0x90, 0x00, 0x42}));
    TIpMimeEncoder::BinHexCompress({7, 7, 7, 7, 1, 1}, packed);
    QCOMPARE(packed, (std::vector<uint8_t>{7, 0x90, 4, 1, 1}));
    TIpMimeEncoder::BinHexCompress(std::vector<uint8_t>(600, 5), packed);
    QCOMPARE(packed, (std::vector<uint8_t>{5, 0x90, 255, 5, 0x90, 255, 5, 0x90, 90}));
}

void TestEncoders::binHexDecodes_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("hello world");
    QTest::newRow("marker bytes") << QByteArray(10, '\x90') + "x" + QByteArray(3, '\x90');
    QTest::newRow("runs") << QByteArray(1000, 'a') + QByteArray(2, 'b') + QByteArray(256, '\0');
    QTest::newRow("random") << RandomBytes(50000, 5);
}

void TestEncoders::binHexDecodes() {
    QFETCH(QByteArray, input);
    const QByteArray text = Encode(Coder::BinHex, input, "dir/Picture.gif");
    const QList<QByteArray> lines = Lines(text);
    QCOMPARE(lines.first(), QByteArray("(This file must be converted with BinHex 4.0)"));
    QVERIFY(lines[1].startsWith(':'));
    QVERIFY(lines.last().endsWith(':'));
    for (int i = 1; i + 1 < lines.size(); ++i)
        QCOMPARE(lines[i].size(), 76);

    QByteArray name;
    QByteArray fork;
    QVERIFY(DecodeBinHex(text, &name, &fork));
    QCOMPARE(name, QByteArray("PICTURE.GIF"));
    QCOMPARE(fork, input);

    // The de-binhexer of the system reads the same text back to the same data fork.
    QTemporaryDir dir;
    QByteArray errors;
    QCOMPARE(RunTool("hexbin", {"-d", "-c", "-n", "out"}, QByteArray(text).replace("\r", ""),
                     nullptr, &errors, dir.path()),
             0);
    QFile out(dir.filePath("out.data"));
    if (input.isEmpty() && !out.exists())
        return; // an empty data fork may leave no file
    QVERIFY2(out.open(QIODevice::ReadOnly),
             (errors + QDir(dir.path()).entryList().join(' ').toUtf8()).constData());
    QCOMPARE(out.readAll(), input);
}

void TestEncoders::binHexCrcRangeChecked() {
    const std::vector<uint8_t> data{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    QCOMPARE(TIpMimeEncoder::BinHexCrc(data, 0, 9), uint16_t(0x31C3)); // CRC-16/XMODEM check
    QCOMPARE(TIpMimeEncoder::BinHexCrc(data, 0, 9),
             BitwiseCrc(QByteArray(reinterpret_cast<const char*>(data.data()), 9)));
    try {
        TIpMimeEncoder::BinHexCrc(data, 5, 5);
        QFAIL("a range past the end was accepted");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("Invalid stream offset"));
    }
}

void TestEncoders::progressAndAbort_data() {
    QTest::addColumn<int>("coder");
    QTest::newRow("lines") << int(Coder::Lines);
    QTest::newRow("base64") << int(Coder::Base64);
    QTest::newRow("quoted") << int(Coder::Quoted);
    QTest::newRow("uu") << int(Coder::UU);
    QTest::newRow("binhex") << int(Coder::BinHex);
}

// Progress runs to the whole size in rising steps; an abort part-way stops the encoder with a
// shorter text (BinHex: no text at all, as it aborts before writing).
void TestEncoders::progressAndAbort() {
    QFETCH(int, coder);
    QByteArray input;
    for (int i = 0; i < 4000; ++i)
        input += "line " + QByteArray::number(i) + " \xe9\r\n";
    QList<int64_t> positions;
    const QByteArray full =
        Encode(Coder(coder), input, "p.txt", [&](int64_t position, int64_t size, bool&) {
            QVERIFY(size > 0);
            positions << position * 100 / size;
        });
    QVERIFY(positions.size() >= 10);
    QCOMPARE(positions.last(), int64_t(100));
    // BinHex reports its packing step and then its six-bit step, each from the start.
    if (Coder(coder) != Coder::BinHex)
        QVERIFY(std::is_sorted(positions.begin(), positions.end()));

    const QByteArray aborted =
        Encode(Coder(coder), input, "p.txt",
               [](int64_t position, int64_t size, bool& abort) { abort = position * 2 >= size; });
    if (Coder(coder) == Coder::BinHex) {
        QVERIFY(aborted.isEmpty());
        return;
    }
    QVERIFY(aborted.size() > full.size() / 4);
    QVERIFY(aborted.size() < full.size() * 3 / 4);
    QVERIFY(full.startsWith(aborted.left(aborted.size() - 200)));
}

// A source of more than 2 GiB is copied whole, with 64-bit positions in the progress reports.
void TestEncoders::lineCopyBeyond2GiB() {
    const int64_t lineLength = 8191;
    const int64_t lines = (int64_t(2) << 30) / (lineLength + 1) + 3;
    TSyntheticStream source(lines * (lineLength + 1), lineLength);
    TSyntheticStream sink(0, 0);
    int64_t lastPosition = 0;
    {
        TIpAnsiTextStream target(&sink);
        TIpMimeEncoder encoder(target,
                               [&](int64_t position, int64_t, bool&) { lastPosition = position; });
        QVERIFY(encoder.EncodeLines(source));
        QCOMPARE(target.Size(), lines * (lineLength + 2));
    }
    QCOMPARE(lastPosition, lines * (lineLength + 1));
    QVERIFY(lastPosition > (int64_t(1) << 31));
}

QTEST_APPLESS_MAIN(TestEncoders)
#include "tst_encoders.moc"
