#include "MimeTestTools.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpAnsiTextStream.h"
#include "mime/TIpBufferedStream.h"
#include "mime/TIpByteStream.h"
#include "mime/TIpFileStream.h"
#include "mime/TIpPieceStream.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// A stream that can be told to misbehave, to reach the buffered stream's failure texts.
class TFaultyStream : public TIpMemoryStream {
public:
    bool SeekLands = true;
    int64_t WriteLimit = -1;
    int64_t Seek(int64_t offset, int origin) override {
        const int64_t result = TIpMemoryStream::Seek(offset, origin);
        return SeekLands ? result : result + 1;
    }
    int64_t Write(const void* buffer, int64_t count) override {
        return TIpMemoryStream::Write(buffer, WriteLimit < 0 ? count : std::min(count, WriteLimit));
    }
};

class TestStreams : public QObject {
    Q_OBJECT

private slots:
    void readsLinesByTerminator_data();
    void readsLinesByTerminator();
    void writesLinesByTerminator_data();
    void writesLinesByTerminator();
    void fixedLengthRecords();
    void seekClampsAndRejectsUnknownOrigin();
    void writeKeepsLastBlockUntilFlush();
    void overwriteInsideKeepsNeighbours();
    void randomAccessMatchesModel();
    void noUnderlyingStreamIsInert();
    void failuresCarryTheirTexts();
    void settingsSurviveStreamExchange();
    void byteStreamReadsInRefills();
    void positionsBeyond4GiB();
    void fileStreamSizeIs64Bit();
    void copyLinesMatchesLineByLine_data();
    void copyLinesMatchesLineByLine();
    void memoryStreamTracksLoneLF_data();
    void memoryStreamTracksLoneLF();
    void pieceStreamMatchesModel();
};

void TestStreams::readsLinesByTerminator_data() {
    QTest::addColumn<int>("terminator");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("lines");
    const int crlf = int(TIpLineTerminator::ltCRLF);
    QTest::newRow("crlf pair") << crlf << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("lone LF ends a line") << crlf << QByteArray("a\nb") << QStringList{"a", "b"};
    QTest::newRow("lone CR stays") << crlf << QByteArray("a\rb\n") << QStringList{"a\rb"};
    QTest::newRow("last line without terminator")
        << crlf << QByteArray("x\r\nlast") << QStringList{"x", "last"};
    QTest::newRow("empty lines") << crlf << QByteArray("\r\n\r\nz") << QStringList{"", "", "z"};
    QTest::newRow("empty stream") << crlf << QByteArray() << QStringList{};
    QTest::newRow("CR mode") << int(TIpLineTerminator::ltCR) << QByteArray("a\rb\nc")
                             << QStringList{"a", "b\nc"};
    QTest::newRow("LF mode keeps CR")
        << int(TIpLineTerminator::ltLF) << QByteArray("a\r\nb") << QStringList{"a\r", "b"};
    QTest::newRow("other mode") << int(TIpLineTerminator::ltOther) << QByteArray("a;b;")
                                << QStringList{"a", "b"};
    // A line longer than a block, crossing block boundaries, CR and LF split across two blocks.
    QByteArray longLine(4095, 'q');
    QTest::newRow("CR LF across a block edge")
        << crlf << longLine + "\r\n" + QByteArray(5000, 'r')
        << QStringList{QString(longLine), QString(QByteArray(5000, 'r'))};
}

void TestStreams::readsLinesByTerminator() {
    QFETCH(int, terminator);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, lines);
    TIpMemoryStream memory;
    FillStream(memory, input);
    TIpAnsiTextStream text(&memory);
    text.LineTerminator = static_cast<TIpLineTerminator>(terminator);
    text.LineTermChar = ';';
    QStringList got;
    while (!text.AtEndOfStream())
        got << QString::fromLatin1(QByteArray::fromStdString(text.ReadLine()));
    QCOMPARE(got, lines);
}

void TestStreams::writesLinesByTerminator_data() {
    QTest::addColumn<int>("terminator");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("crlf") << int(TIpLineTerminator::ltCRLF) << QByteArray("ab\r\n\r\n");
    QTest::newRow("cr") << int(TIpLineTerminator::ltCR) << QByteArray("ab\r\r");
    QTest::newRow("lf") << int(TIpLineTerminator::ltLF) << QByteArray("ab\n\n");
    QTest::newRow("other") << int(TIpLineTerminator::ltOther) << QByteArray("ab;;");
}

void TestStreams::writesLinesByTerminator() {
    QFETCH(int, terminator);
    QFETCH(QByteArray, expected);
    TIpMemoryStream memory;
    {
        TIpAnsiTextStream text(&memory);
        text.LineTerminator = static_cast<TIpLineTerminator>(terminator);
        text.LineTermChar = ';';
        text.WriteLine(std::string("ab"));
        text.WriteLine(static_cast<const char*>(nullptr)); // an absent text is an empty line
    }
    QCOMPARE(StreamBytes(memory), expected);
}

void TestStreams::fixedLengthRecords() {
    TIpMemoryStream memory;
    FillStream(memory, QByteArray(100, 'x'));
    TIpAnsiTextStream text(&memory);
    text.LineTerminator = TIpLineTerminator::ltNone;
    QCOMPARE(QByteArray::fromStdString(text.ReadLine()), QByteArray(80, 'x'));
    QCOMPARE(QByteArray::fromStdString(text.ReadLine()), QByteArray(20, 'x') + QByteArray(60, ' '));
    QVERIFY(text.AtEndOfStream());

    TIpMemoryStream out;
    {
        TIpAnsiTextStream writer(&out);
        writer.LineTerminator = TIpLineTerminator::ltNone;
        writer.FixedLineLength = 4;
        writer.WriteLine(std::string("ab"));
        writer.WriteLine(std::string("abcdef")); // cut to the record length
    }
    QCOMPARE(StreamBytes(out), QByteArray("ab  abcd"));
}

void TestStreams::seekClampsAndRejectsUnknownOrigin() {
    TIpMemoryStream memory;
    FillStream(memory, "0123456789");
    TIpBufferedStream buffered(&memory);
    QCOMPARE(buffered.Seek(-1, 2), int64_t(9));
    QCOMPARE(buffered.Seek(20, 0), int64_t(10));
    QCOMPARE(buffered.Seek(-20, 1), int64_t(0));
    try {
        buffered.Seek(0, 3);
        QFAIL("an unknown origin was accepted");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("Invalid seek origin"));
    }
}

void TestStreams::writeKeepsLastBlockUntilFlush() {
    TIpMemoryStream memory;
    const QByteArray data = RandomBytes(5000, 1);
    {
        TIpBufferedStream buffered(&memory);
        QCOMPARE(buffered.Write(data.constData(), data.size()), int64_t(5000));
        QCOMPARE(buffered.StreamSize(), int64_t(5000));
        QCOMPARE(memory.Size(), int64_t(4096));
        QCOMPARE(buffered.BufferCount(), int64_t(904));
        QVERIFY(buffered.Dirty());
        // Seen through the wrapper the data is complete before any flush.
        buffered.SetPosition(0);
        QByteArray back(5000, '\0');
        QCOMPARE(buffered.Read(back.data(), 5000), int64_t(5000));
        QCOMPARE(back, data);
    }
    QCOMPARE(StreamBytes(memory), data); // destruction flushed the tail
}

void TestStreams::overwriteInsideKeepsNeighbours() {
    TIpMemoryStream memory;
    FillStream(memory, "0123456789");
    {
        TIpBufferedStream buffered(&memory);
        buffered.Seek(4, 0);
        buffered.Write("abc", 3);
        QCOMPARE(buffered.Size(), int64_t(10));
    }
    QCOMPARE(StreamBytes(memory), QByteArray("0123abc789"));

    // Appending at the end while another block is loaded: the end block's earlier bytes stay.
    const QByteArray data = RandomBytes(5000, 2);
    TIpMemoryStream appended;
    {
        TIpBufferedStream buffered(&appended);
        buffered.Write(data.constData(), data.size());
        buffered.SetPosition(10);
        char c = 0;
        QVERIFY(buffered.ReadChar(c)); // the first block is now in the buffer
        buffered.Seek(0, TIpStream::soFromEnd);
        buffered.Write("xy", 2);
    }
    QCOMPARE(StreamBytes(appended), data + "xy");
}

// Random seeks, reads and writes across block edges against a plain byte array.
void TestStreams::randomAccessMatchesModel() {
    TIpMemoryStream memory;
    QByteArray model = RandomBytes(10000, 7);
    FillStream(memory, model);
    std::mt19937 generator(11);
    {
        TIpBufferedStream buffered(&memory);
        for (int step = 0; step < 2000; ++step) {
            // Every eighth step works at the very end, where appends happen.
            const int64_t position =
                generator() % 8 == 0 ? model.size() : generator() % (model.size() + 1);
            QCOMPARE(buffered.Seek(position, 0), position);
            const int64_t count = generator() % 9000;
            if (generator() % 2) {
                QByteArray got(static_cast<qsizetype>(count), '\0');
                const int64_t n = buffered.Read(got.data(), count);
                QCOMPARE(n, std::min<int64_t>(count, model.size() - position));
                QCOMPARE(got.left(n), model.mid(position, n));
            } else {
                const QByteArray bytes = RandomBytes(count, generator());
                QCOMPARE(buffered.Write(bytes.constData(), count), count);
                if (position + count > model.size())
                    model.resize(position + count);
                model.replace(position, count, bytes);
            }
            QCOMPARE(buffered.Size(), int64_t(model.size()));
        }
    }
    QCOMPARE(StreamBytes(memory), model);
}

void TestStreams::noUnderlyingStreamIsInert() {
    TIpAnsiTextStream text;
    char c = 0;
    QCOMPARE(text.Write("abc", 3), int64_t(0));
    QCOMPARE(text.Read(&c, 1), int64_t(0));
    QCOMPARE(text.Seek(5, 0), int64_t(0));
    QVERIFY(!text.ReadChar(c));
    QVERIFY(text.ReadLine().empty());
    text.WriteLine(std::string("ignored"));
    QVERIFY(text.AtEndOfStream());
    try {
        TIpBufferedStream none(nullptr);
        QFAIL("a buffered stream was made over nothing");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("Stream not assigned"));
    }
}

void TestStreams::failuresCarryTheirTexts() {
    {
        TFaultyStream faulty;
        FillStream(faulty, "abc");
        TIpBufferedStream buffered(&faulty);
        faulty.SeekLands = false;
        char c = 0;
        QVERIFY_THROWS_EXCEPTION(EIpBaseException, buffered.ReadChar(c));
        try {
            buffered.ReadChar(c);
        } catch (const EIpBaseException& e) {
            QCOMPARE(QString(e.what()), QString("No seek for read"));
        }
        faulty.SeekLands = true;
    }
    TFaultyStream faulty;
    TIpBufferedStream buffered(&faulty);
    const QByteArray block(5000, 'w');
    faulty.WriteLimit = 10;
    try {
        buffered.Write(block.constData(), block.size());
        QFAIL("a short write went unnoticed");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("Cannot write to stream"));
    }
    QVERIFY(buffered.Dirty());
    faulty.WriteLimit = -1;

    TFaultyStream longer;
    FillStream(longer, QByteArray(10000, 'l'));
    TIpBufferedStream overLonger(&longer);
    overLonger.Write("x", 1);
    longer.SeekLands = false;
    try {
        overLonger.Seek(8000, 0); // another block: the dirty one must be flushed first
        QFAIL("a failed seek before a flush went unnoticed");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("No seek for write"));
    }
    longer.SeekLands = true;

    TIpMemoryStream memory;
    TIpAnsiTextStream text(&memory);
    text.LineTerminator = static_cast<TIpLineTerminator>(9);
    try {
        text.WriteLine(std::string("x"));
        QFAIL("an unknown terminator was accepted");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("Invalid line terminator"));
    }
    QVERIFY_THROWS_EXCEPTION(EIpBaseException, text.ReadLine());
}

void TestStreams::settingsSurviveStreamExchange() {
    TIpMemoryStream first;
    TIpMemoryStream second;
    FillStream(second, "a;b");
    TIpAnsiTextStream text(&first);
    text.LineTerminator = TIpLineTerminator::ltOther;
    text.LineTermChar = ';';
    text.WriteLine(std::string("kept"));
    text.AssignStream(&second); // flushes the first stream, keeps the settings
    QCOMPARE(StreamBytes(first), QByteArray("kept;"));
    QCOMPARE(QByteArray::fromStdString(text.ReadLine()), QByteArray("a"));
}

void TestStreams::byteStreamReadsInRefills() {
    TIpMemoryStream memory;
    const QByteArray data = RandomBytes(2500, 3);
    FillStream(memory, data);
    TIpByteStream bytes(memory);
    QByteArray got;
    uint8_t b = 0;
    while (bytes.ReadByte(b)) {
        got.append(char(b));
        if (got.size() == 1)
            QCOMPARE(bytes.Position(), int64_t(1)); // not the 1024 already fetched
    }
    QCOMPARE(got, data);
    QCOMPARE(bytes.Size(), int64_t(2500));
}

void TestStreams::positionsBeyond4GiB() {
    const int64_t huge = (int64_t(5) << 30) + 123;
    TSyntheticStream synthetic(huge, 0);
    TIpBufferedStream buffered(&synthetic);
    QCOMPARE(buffered.Size(), huge);
    QCOMPARE(buffered.Seek(-3, 2), huge - 3);
    char tail[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    QCOMPARE(buffered.Read(tail, 8), int64_t(3));
    QCOMPARE(tail[0], char(0));
    const int64_t beyond = (int64_t(1) << 32) + 17;
    QCOMPARE(buffered.Seek(beyond, 0), beyond);
    QCOMPARE(buffered.BufferPos() % TIpBufferedStream::BufferSize, int64_t(0));
    QCOMPARE(buffered.BufferPos() + buffered.BufferOffset(), beyond);
}

void TestStreams::fileStreamSizeIs64Bit() {
    QTemporaryDir dir;
    const QString path = dir.filePath("sparse.bin");
    const int fd = ::open(path.toLocal8Bit().constData(), O_CREAT | O_WRONLY, 0600);
    QVERIFY(fd >= 0);
    const int64_t size = (int64_t(3) << 30) + 5; // sparse: takes no disk space
    QCOMPARE(::ftruncate(fd, size), 0);
    ::close(fd);
    TIpFileStream file(path.toStdString());
    QCOMPARE(file.Size(), size);
    QCOMPARE(file.Write("x", 1), int64_t(0)); // read-only
    try {
        TIpFileStream missing(dir.filePath("missing.gif").toStdString());
        QFAIL("a missing file was opened");
    } catch (const EIpBaseException& e) {
        QVERIFY(QString(e.what()).startsWith("Cannot open file"));
    }
}

void TestStreams::copyLinesMatchesLineByLine_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("start");
    QTest::newRow("plain crlf") << QByteArray("a\r\nbb\r\n") << 0;
    QTest::newRow("lone LF and CR") << QByteArray("a\nb\rc\r\r\n\n") << 0;
    QTest::newRow("no final break") << QByteArray("x\r\ny") << 0;
    QTest::newRow("final lone CR") << QByteArray("x\r") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    // A copy from the middle: the CR before the start does not pair with the LF after it.
    QTest::newRow("start between CR and LF") << QByteArray("ab\r\ncd\r\n") << 3;
    QTest::newRow("start at the end") << QByteArray("ab\r\n") << 4;
    // The chunk edge of the bulk copy falls between the CR and the LF of a pair.
    QTest::newRow("CR at chunk edge") << QByteArray(65535, 'k') + "\r\n" + "z\r\r" << 0;
    // Lone LFs and CR LF pairs on every side of a 16-byte step of the scan.
    QByteArray steps;
    for (int i = 0; i < 300; ++i)
        steps += QByteArray(i % 19, 'q') + (i % 3 ? "\r\n" : "\n") + (i % 7 ? "" : "\r");
    QTest::newRow("breaks at every offset") << steps << 0;
    QByteArray encoded;
    for (int i = 0; i < 3000; ++i)
        encoded += RandomBytes(57, uint32_t(i)).toBase64() + "\r\n";
    QTest::newRow("long CR LF text") << encoded << 0;
    QTest::newRow("long CR LF text, no final break") << encoded + "tail" << 0;
    QTest::newRow("long CR LF text with one lone LF") << encoded + "\n" + encoded << 0;
    QTest::newRow("random") << RandomBytes(200000, 5).replace('\0', '\n') << 0;
    QTest::newRow("random from the middle") << RandomBytes(200000, 6).replace('\0', '\n') << 70001;
}

// The bulk copy must give exactly what reading and writing each line gives, whether the source
// is a memory stream, a text stream with bytes not yet written back, or another kind of stream.
void TestStreams::copyLinesMatchesLineByLine() {
    QFETCH(QByteArray, input);
    QFETCH(int, start);
    TIpMemoryStream plain;
    FillStream(plain, input);

    TIpMemoryStream expected;
    {
        TIpAnsiTextStream reader(&plain);
        reader.SetPosition(start);
        TIpAnsiTextStream writer(&expected);
        while (!reader.AtEndOfStream())
            writer.WriteLine(reader.ReadLine());
    }
    const QByteArray wanted = StreamBytes(expected);

    const auto copy = [](TIpStream& source) {
        TIpMemoryStream bulk;
        {
            TIpAnsiTextStream writer(&bulk);
            writer.CopyLinesFrom(source);
        }
        return StreamBytes(bulk);
    };
    plain.SetPosition(start);
    QCOMPARE(copy(plain), wanted);
    QCOMPARE(plain.Position(), std::max<int64_t>(start, input.size()));

    TIpMemoryStream backing;
    TIpAnsiTextStream buffered(&backing);
    buffered.Write(input.constData(), input.size()); // the last block stays in the buffer
    buffered.SetPosition(start);
    QCOMPARE(copy(buffered), wanted);
    QCOMPARE(buffered.Position(), int64_t(input.size()));

    TFaultyStream other; // a stream of its own kind takes the reading path
    FillStream(other, input);
    other.SetPosition(start);
    QCOMPARE(copy(other), wanted);

    // Into a pieced stream, after some text of its own: long runs are shared, not copied.
    TIpPieceStream pieced;
    {
        TIpAnsiTextStream writer(&pieced);
        writer.WriteLine("head");
        plain.SetPosition(start);
        writer.CopyLinesFrom(plain);
        writer.WriteLine("foot");
    }
    QCOMPARE(StreamBytes(pieced), "head\r\n" + wanted + "foot\r\n");
}

void TestStreams::memoryStreamTracksLoneLF_data() {
    QTest::addColumn<QByteArrayList>("appends");
    QTest::addColumn<bool>("crlfOnly");
    QTest::newRow("nothing") << QByteArrayList{} << true;
    QTest::newRow("CR LF lines") << QByteArrayList{"a\r\nb\r\n", "c\r\n"} << true;
    QTest::newRow("pair split between writes") << QByteArrayList{"a\r", "\nb"} << true;
    QTest::newRow("lone LF") << QByteArrayList{"a\r\n", "b\nc"} << false;
    QTest::newRow("LF first") << QByteArrayList{"\n"} << false;
    QTest::newRow("LF after a CR LF pair") << QByteArrayList{"a\r\n", "\n"} << false;
    QTest::newRow("lone CR is fine") << QByteArrayList{"a\rb\r\r\n"} << true;
    const QByteArray longLines = QByteArray(70, 'x') + "\r\n";
    QTest::newRow("lone LF past a 16-byte step")
        << QByteArrayList{longLines.repeated(5) + QByteArray(37, 'y') + "\n"} << false;
}

// The stream knows whether all its LFs follow a CR, so a copy may skip reading it again.
void TestStreams::memoryStreamTracksLoneLF() {
    QFETCH(QByteArrayList, appends);
    QFETCH(bool, crlfOnly);
    TIpMemoryStream memory;
    for (const QByteArray& bytes : appends)
        memory.Write(bytes.constData(), bytes.size());
    QCOMPARE(memory.CrlfOnly(), crlfOnly);
    // A write inside the bytes may have changed anything: the stream no longer vouches.
    memory.SetPosition(0);
    memory.Write("z", 1);
    QVERIFY(!memory.CrlfOnly() || appends.isEmpty());
}

// Random reads, writes (at the end, inside, past the end) and shared appends against a plain
// byte array; the memory streams shared from keep their own bytes, and stay writable.
void TestStreams::pieceStreamMatchesModel() {
    std::mt19937 generator(21);
    TIpPieceStream pieces;
    QByteArray model;
    std::vector<std::unique_ptr<TIpMemoryStream>> sources;
    std::vector<QByteArray> sourceBytes;
    for (int step = 0; step < 3000; ++step) {
        const int action = int(generator() % 6);
        const int64_t position =
            generator() % 4 == 0 ? model.size() : generator() % (model.size() + 10);
        QCOMPARE(pieces.Seek(position, TIpStream::soFromBeginning), position);
        if (action == 0) {
            auto source = std::make_unique<TIpMemoryStream>();
            const QByteArray bytes = RandomBytes(1 + generator() % 3000, generator());
            FillStream(*source, bytes);
            const int64_t offset = generator() % bytes.size();
            const int64_t count = generator() % (bytes.size() + 5);
            pieces.AppendShared(*source, offset, count);
            const QByteArray added = bytes.mid(offset, count);
            if (position > model.size())
                model.append(QByteArray(position - model.size(), '\0'));
            model.replace(position, added.size(), added);
            sources.push_back(std::move(source));
            sourceBytes.push_back(bytes);
        } else if (action == 1 && !sources.empty()) {
            // The source goes on being written; what was shared stays as it was.
            const size_t which = generator() % sources.size();
            const QByteArray other(sourceBytes[which].size(), 'Z');
            sources[which]->SetPosition(0);
            sources[which]->Write(other.constData(), other.size());
            sourceBytes[which] = other;
        } else if (action == 2 && position < model.size()) {
            // Rewriting bytes with themselves (as a buffered stream does) plus a tail.
            const QByteArray same = model.mid(position, generator() % 50) + "tail";
            QCOMPARE(pieces.Write(same.constData(), same.size()), int64_t(same.size()));
            model.replace(position, same.size(), same);
        } else if (action == 3) {
            const QByteArray bytes = RandomBytes(generator() % 200, generator());
            QCOMPARE(pieces.Write(bytes.constData(), bytes.size()), int64_t(bytes.size()));
            if (!bytes.isEmpty() && position > model.size())
                model.append(QByteArray(position - model.size(), '\0'));
            model.replace(std::min<int64_t>(position, model.size()), bytes.size(), bytes);
        } else {
            const int64_t count = generator() % 5000;
            QByteArray got(count, '\0');
            const int64_t n = pieces.Read(got.data(), count);
            QCOMPARE(n, std::max<int64_t>(0, std::min<int64_t>(count, model.size() - position)));
            QCOMPARE(got.left(n), model.mid(position, n));
        }
        QCOMPARE(pieces.Size(), int64_t(model.size()));
    }
    QCOMPARE(StreamBytes(pieces), model);
    for (size_t i = 0; i < sources.size(); ++i)
        QCOMPARE(StreamBytes(*sources[i]), sourceBytes[i]);
}

QTEST_APPLESS_MAIN(TestStreams)
#include "tst_streams.moc"
