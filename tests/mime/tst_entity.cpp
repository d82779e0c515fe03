#include "MimeTestTools.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpMimeClock.h"
#include "mime/TIpMimeEntity.h"
#include "mime/TIpMimeHeaders.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using TStrings = std::vector<std::string>;

namespace {
QStringList ToQt(const TStrings& items) {
    QStringList list;
    for (const std::string& item : items)
        list << QString::fromStdString(item);
    return list;
}

QStringList Headers(const TIpMimeEntity& entity) {
    TStrings headers;
    entity.BuildMimeHeaders(headers);
    return ToQt(headers);
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(bytes);
    return file.fileName();
}

const char* const FixedBoundary = "_NextPart_0000B5F3-00001388-0001E240-04D2";
} // namespace

class TestEntity : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newBoundaryFromClockReadings();
    void addChildMakesMultipartOnce();
    void contentTypeFolding_data();
    void contentTypeFolding();
    void encodingHeaderLine();
    void dispositionHeader();
    void loadFromFileTypesByExtension_data();
    void loadFromFileTypesByExtension();
    void loadFromFileMissing();
    void loadFromStreamAndStrings();
    void splitValue_data();
    void splitValue();
    void paramAndHeaderValues();
    void findChildAndDescendant();
    void partsOwnership();
    void progressOncePerTenPercent();
    void parseMimeHeaders();
    void clearResetsEverything();
    void writeEntityTree();
};

void TestEntity::init() {
    TIpMimeEntity::BoundaryGenerator = [] { return FixedBoundary; };
}

void TestEntity::cleanup() {
    TIpMimeEntity::BoundaryGenerator = nullptr;
    TIpMimeClock::Restore();
}

void TestEntity::newBoundaryFromClockReadings() {
    TIpMimeEntity::BoundaryGenerator = nullptr;
    TIpMimeClock::Now = [] { return 46579.5; }; // 2027-07-11, noon
    TIpMimeClock::TickCount = [] { return 0xDEADBEEFu; };
    TIpMimeClock::Random = [] { return 65534u; };
    QCOMPARE(QString::fromStdString(TIpMimeEntity::NewBoundary()),
             QString("_NextPart_0000B5F3-00001388-DEADBEEF-FFFE"));
    TIpMimeClock::Restore();
    const std::string real = TIpMimeEntity::NewBoundary();
    QCOMPARE(real.size(), size_t(41));
    QVERIFY(QString::fromStdString(real).contains(
        QRegularExpression("^_NextPart_[0-9A-F]{8}-[0-9A-F]{8}-[0-9A-F]{8}-[0-9A-F]{4}$")));
}

void TestEntity::addChildMakesMultipartOnce() {
    TIpMimeEntity root;
    TIpMimeEntity* first = root.AddChild();
    QVERIFY(root.IsMime && root.IsMultipart);
    QCOMPARE(QString::fromStdString(root.ContentType), QString("multipart"));
    QCOMPARE(QString::fromStdString(root.ContentSubtype), QString("mixed"));
    QCOMPARE(QString::fromStdString(first->ParentBoundary), QString(FixedBoundary));
    TIpMimeEntity::BoundaryGenerator = [] { return std::string("other"); };
    TIpMimeEntity* second = root.AddChild();
    QCOMPARE(second->ParentBoundary, first->ParentBoundary); // made once
    root.Boundary = "changed";
    QCOMPARE(QString::fromStdString(first->ParentBoundary), QString(FixedBoundary));
    QCOMPARE(root.Parts.Count(), 2);
    QCOMPARE(first->Parent(), &root);

    TIpMimeEntity alternative;
    alternative.ContentSubtype = "alternative";
    alternative.AddChild();
    QCOMPARE(QString::fromStdString(alternative.ContentSubtype), QString("alternative"));
}

void TestEntity::contentTypeFolding_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("lines");
    const QString n45(41, 'n');
    QTest::newRow("45-character name fits")
        << n45 + ".gif" << QStringList{"Content-Type: image/gif; name=\"" + n45 + ".gif\""};
    const QString n46(42, 'n');
    QTest::newRow("46-character name folds")
        << n46 + ".gif" << QStringList{"Content-Type: image/gif; ", "\tname=\"" + n46 + ".gif\""};
}

void TestEntity::contentTypeFolding() {
    QFETCH(QString, name);
    QFETCH(QStringList, lines);
    TIpMimeEntity part;
    part.ContentType = "image";
    part.ContentSubtype = "gif";
    part.ContentName = name.toStdString();
    part.ContentTransferEncoding = TIpMimeEncodingMethod::emUnknown;
    QCOMPARE(Headers(part), lines);
    for (const QString& line : Headers(part))
        QVERIFY(line.size() <= 77);

    // The multipart root: type, subtype and the quoted 41-character boundary need two lines.
    TIpMimeEntity root;
    root.AddChild();
    root.ContentTransferEncoding = TIpMimeEncodingMethod::emUnknown;
    QCOMPARE(Headers(root), (QStringList{"Content-Type: multipart/mixed; ",
                                         QString("\tboundary=\"%1\"").arg(FixedBoundary)}));
}

void TestEntity::encodingHeaderLine() {
    TIpMimeEntity fresh;
    fresh.ContentType = "text";
    QVERIFY(Headers(fresh).contains("Content-Transfer-Encoding: 7bit"));
    fresh.Clear();
    fresh.ContentType = "text";
    QCOMPARE(Headers(fresh), QStringList{"Content-Type: text"});
    QCOMPARE(Headers(TIpMimeEntity()), QStringList{}); // no type, no headers
    const QStringList names{"7bit",      "8bit", "base64", "binary", "binhex", "quoted-printable",
                            "uuencoded", ""};
    for (int i = 0; i <= int(TIpMimeEncodingMethod::emUnknown); ++i) {
        const auto method = TIpMimeEncodingMethod(i);
        QCOMPARE(QString::fromStdString(EncodingName(method)), names[i]);
        if (i < int(TIpMimeEncodingMethod::emUnknown))
            QCOMPARE(EncodingFromName(names[i].toUpper().toStdString()), method);
    }
    QCOMPARE(EncodingFromName("x-gzip"), TIpMimeEncodingMethod::emUnknown);
}

void TestEntity::dispositionHeader() {
    TIpMimeEntity part;
    part.ContentType = "image";
    part.ContentSubtype = "gif";
    part.DispositionType = "Attachment";
    part.FileName = "a.gif";
    part.FileSize = (int64_t(3) << 30) + 1; // past 2 GiB: no wrap into a negative size
    part.CharSet = "us-ascii";
    part.RelatedType = "text";
    part.RelatedSubtype = "html";
    part.RelatedStart = "<s>";
    QCOMPARE(Headers(part),
             (QStringList{"Content-Type: image/gif; charset=us-ascii; type=\"text/html\"; "
                          "start=\"<s>\"",
                          "Content-Transfer-Encoding: 7bit",
                          "Content-Disposition: Attachment; filename=\"a.gif\"; size=3221225473"}));
    part.FileSize = 0;
    part.ReadDate = "today";
    QCOMPARE(Headers(part).last(),
             QString("Content-Disposition: Attachment; filename=\"a.gif\"; read-date=today"));
}

void TestEntity::loadFromFileTypesByExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("encoding");
    const int b64 = int(TIpMimeEncodingMethod::emBase64);
    QTest::newRow("gif") << "p.gif"
                         << "image/gif" << b64;
    QTest::newRow("upper-case GIF") << "P.GIF"
                                    << "application/octet-stream" << b64;
    QTest::newRow("txt") << "notes.txt"
                         << "text/plain" << int(TIpMimeEncodingMethod::em8Bit);
    QTest::newRow("ps") << "x.ps"
                        << "application/postscript" << int(TIpMimeEncodingMethod::em8Bit);
    QTest::newRow("zip") << "x.zip"
                         << "application/x-zip-compressed" << b64;
    QTest::newRow("wav") << "x.wav"
                         << "video/wave" << b64;
    QTest::newRow("no extension") << "README"
                                  << "application/octet-stream" << b64;
}

void TestEntity::loadFromFileTypesByExtension() {
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(int, encoding);
    QTemporaryDir dir;
    const QByteArray bytes("line 1\nline 2\r\nlast");
    const QString path = WriteFile(dir, name, bytes);
    TIpMimeEntity parent;
    TIpMimeEntity* part = parent.AddChild();
    part->LoadFromFile(path.toStdString());
    QCOMPARE(QString::fromStdString(part->ContentType + "/" + part->ContentSubtype), type);
    QCOMPARE(int(part->ContentTransferEncoding), encoding);
    QCOMPARE(QString::fromStdString(part->FileName), name);
    QCOMPARE(part->FileSize, int64_t(bytes.size()));
    const QByteArray body = StreamBytes(part->Body);
    if (encoding == int(TIpMimeEncodingMethod::em8Bit))
        QCOMPARE(body, QByteArray("line 1\r\nline 2\r\nlast\r\n"));
    else
        QCOMPARE(QByteArray::fromBase64(QByteArray(body).replace("\r\n", "")), bytes);
}

void TestEntity::loadFromFileMissing() {
    TIpMimeEntity part;
    part.ContentType = "image";
    part.ContentSubtype = "gif";
    QVERIFY_THROWS_EXCEPTION(EIpBaseException, part.LoadFromFile("/nonexistent/dir/x.jpg"));
    QCOMPARE(QString::fromStdString(part.ContentSubtype), QString("gif"));
    QCOMPARE(part.Body.Size(), int64_t(0));
}

void TestEntity::loadFromStreamAndStrings() {
    TIpMimeEntity part;
    part.Body.WriteLine(std::string("kept"));
    TIpMemoryStream empty;
    part.LoadFromStream(empty, "dir/e.bin");
    QCOMPARE(StreamBytes(part.Body), QByteArray("kept\r\n"));
    QCOMPARE(part.FileSize, int64_t(0));
    QCOMPARE(QString::fromStdString(part.FileName), QString("e.bin"));

    part.LoadFromStrings({}, "ignored"); // an empty list changes nothing
    QCOMPARE(QString::fromStdString(part.FileName), QString("e.bin"));
    part.LoadFromStrings({"one", "", "three"}, "t.txt");
    QCOMPARE(StreamBytes(part.Body), QByteArray("one\r\n\r\nthree\r\n"));
    QCOMPARE(part.FileSize, int64_t(14));
}

void TestEntity::splitValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("a;b") << "a;b" << QStringList{"a", "b"};
    QTest::newRow("a; blank") << "a; " << QStringList{"a", ""};
    QTest::newRow("a;") << "a;" << QStringList{"a"};
    QTest::newRow("empty pieces dropped") << " ;; x ; ;y" << QStringList{"x", "y"};
    QTest::newRow("folded TAB trimmed")
        << "image/gif; \tname=\"n\"" << QStringList{"image/gif", "name=\"n\""};
}

void TestEntity::splitValue() {
    QFETCH(QString, text);
    QFETCH(QStringList, pieces);
    TStrings got;
    TIpMimeHeaders::SplitValue(text.toStdString(), ';', got);
    QCOMPARE(ToQt(got), pieces);
}

void TestEntity::paramAndHeaderValues() {
    const TStrings items{"multipart/mixed", "BOUNDARY=\"b\"c\"", "name=x"};
    QCOMPARE(TIpMimeHeaders::ParamValue("boundary=", items), std::string("bc"));
    QCOMPARE(TIpMimeHeaders::ParamValue("charset=", items), std::string());
    const TStrings headers{"Subject: s", "content-type: text/plain; ", "\tcharset=x", " more",
                           "X-A: 1"};
    QCOMPARE(TIpMimeHeaders::HeaderValue("Content-Type: ", headers),
             std::string("text/plain; \tcharset=x more"));
    QCOMPARE(TIpMimeHeaders::HeaderValue("To: ", headers), std::string());
}

void TestEntity::findChildAndDescendant() {
    TIpMimeEntity root;
    TIpMimeEntity* mixed = root.FindChild("multipart", "alternative", true);
    TIpMimeEntity* plain = mixed->FindChild("text", "plain", true, "<id1>");
    QCOMPARE(root.Parts.Count(), 1);
    QCOMPARE(QString::fromStdString(plain->ContentID), QString("<id1>"));
    plain->Body.WriteLine(std::string("x"));
    QCOMPARE(mixed->FindChild("other", "kind", false, "<id1>"), plain); // the ID decides
    QCOMPARE(plain->Body.Position(), int64_t(0));
    QCOMPARE(root.FindChild("text", "plain", false), nullptr); // only direct children
    QCOMPARE(root.FindDescendant("text", "plain"), plain);
    QCOMPARE(root.FindDescendant("nothing", "here"), nullptr);
    QCOMPARE(mixed->Parts.Count(), 1);                         // searching created nothing
    QCOMPARE(root.FindChild("Text", "Plain", false), nullptr); // case counts
}

void TestEntity::partsOwnership() {
    TIpMimeEntity root;
    TIpMimeEntity* a = root.AddChild();
    TIpMimeEntity* b = root.AddChild();
    TIpMimeEntity* c = root.AddChild();
    b->AddChild()->AddChild();
    QCOMPARE(root.Parts.Items(3), nullptr);
    QCOMPARE(root.Parts.Items(-1), nullptr);
    root.Parts.Delete(1);
    QCOMPARE(root.Parts.Count(), 2);
    QCOMPARE(root.Parts.Items(1), c);
    delete a; // an entity destroyed on its own leaves its parent's list
    QCOMPARE(root.Parts.Count(), 1);
    root.Parts.Remove(c);
    QCOMPARE(root.Parts.Count(), 0);
    delete c;
    root.Parts.Delete(0); // out of range: nothing happens
}

void TestEntity::progressOncePerTenPercent() {
    TIpMimeEntity root;
    TIpMimeEntity* child = root.AddChild();
    QList<int> seen;
    root.OnCodingProgress = [&](TIpMimeEntity& sender, uint8_t progress, bool&) {
        QCOMPARE(&sender, &root);
        seen << progress;
    };
    bool abort = false;
    for (int64_t position = 0; position <= 1000; position += 7)
        child->ReportProgress(position, 1000, abort);
    child->ReportProgress(1000, 1000, abort);
    QCOMPARE(seen, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    seen.clear();
    child->ReportProgress(5, 1000, abort); // a new coding starts below ten percent again
    child->ReportProgress(150, 1000, abort);
    QCOMPARE(seen, QList<int>{15});

    // A real coding reports through the root and stops when asked.
    root.OnCodingProgress = [&](TIpMimeEntity&, uint8_t progress, bool& stop) {
        stop = progress >= 30;
    };
    TIpMimeEntity* part = root.AddChild();
    part->ContentTransferEncoding = TIpMimeEncodingMethod::emBase64;
    TIpMemoryStream source;
    FillStream(source, RandomBytes(45000, 1));
    part->LoadFromStream(source, "r.bin");
    const int64_t encoded = part->Body.Size();
    QVERIFY(encoded > 45000 * 4 / 3 * 3 / 10 && encoded < 45000 * 4 / 3 * 4 / 10);
    QCOMPARE(part->FileSize, int64_t(45000));
}

void TestEntity::parseMimeHeaders() {
    TIpMimeEntity entity;
    entity.ParseMimeHeaders({"Content-Type: Multipart/Related; ",
                             "\tboundary=\"xyz\"; type=\"text/html\"; start=\"<a>\"",
                             "MIME-Version: 1.0", "Content-Transfer-Encoding: BASE64",
                             "Content-ID: <c>",
                             "Content-Disposition: attachment; filename=\"f.gif\"; size=12x"});
    QVERIFY(entity.IsMime && entity.IsMultipart);
    QCOMPARE(QString::fromStdString(entity.ContentType), QString("Multipart"));
    QCOMPARE(QString::fromStdString(entity.ContentSubtype), QString("Related"));
    QCOMPARE(QString::fromStdString(entity.Boundary), QString("xyz"));
    QCOMPARE(QString::fromStdString(entity.RelatedType + "|" + entity.RelatedSubtype + "|" +
                                    entity.RelatedStart),
             QString("text|html|<a>"));
    QCOMPARE(entity.ContentTransferEncoding, TIpMimeEncodingMethod::emBase64);
    QCOMPARE(QString::fromStdString(entity.ContentID), QString("<c>"));
    QCOMPARE(QString::fromStdString(entity.FileName), QString("f.gif"));
    QCOMPARE(entity.FileSize, int64_t(0)); // not a number

    TIpMimeEntity big;
    big.ParseMimeHeaders({"Content-Type: image/gif", "Content-Disposition: a; size=5000000000"});
    QCOMPARE(big.FileSize, int64_t(5000000000));

    TIpMimeEntity broken;
    try {
        broken.ParseMimeHeaders({"Content-Type: multipart/mixed"});
        QFAIL("a multipart type without a boundary was accepted");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("No Mime boundary"));
    }
    TIpMimeEntity plain;
    plain.IsMime = true;
    plain.ParseMimeHeaders({"Subject: no type"});
    QVERIFY(!plain.IsMime);
}

void TestEntity::clearResetsEverything() {
    TIpMimeEntity entity;
    entity.AddChild();
    entity.Body.WriteLine(std::string("body"));
    entity.CreationDate = std::string(1, 'd');
    entity.ModificationDate = std::string(1, 'd');
    entity.ReadDate = std::string(1, 'd');
    entity.FileSize = 99;
    entity.DispositionType = "Attachment";
    entity.Clear();
    QCOMPARE(entity.Parts.Count(), 0);
    QCOMPARE(entity.Body.Size(), int64_t(0));
    QVERIFY(entity.Boundary.empty() && entity.ContentType.empty() && entity.ContentSubtype.empty());
    QVERIFY(entity.CreationDate.empty() && entity.ModificationDate.empty() &&
            entity.ReadDate.empty());
    QCOMPARE(entity.FileSize, int64_t(0));
    QCOMPARE(entity.ContentTransferEncoding, TIpMimeEncodingMethod::emUnknown);
    QVERIFY(!entity.IsMime && !entity.IsMultipart);
}

void TestEntity::writeEntityTree() {
    TIpMimeEntity root;
    TIpMimeEntity* text = root.AddChild();
    text->ContentType = "text";
    text->ContentSubtype = "plain";
    text->Body.WriteLine(std::string("hello"));
    TIpMimeEntity* nested = root.AddChild();
    TIpMimeEntity::BoundaryGenerator = [] { return std::string("inner"); };
    TIpMimeEntity* leaf = nested->AddChild();
    leaf->ContentType = "text";
    leaf->ContentTransferEncoding = TIpMimeEncodingMethod::emUnknown;
    leaf->Body.Write("raw", 3); // a body not ending in a line break still ends before the boundary
    TIpMemoryStream out;
    {
        TIpAnsiTextStream target(&out);
        std::string boundary;
        root.WriteEntity(target, boundary);
        QVERIFY(boundary.empty());
    }
    const QByteArray b = FixedBoundary;
    QCOMPARE(StreamBytes(out),
             "--" + b +
                 "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                 "hello\r\n--" +
                 b +
                 "\r\nContent-Type: multipart/mixed; boundary=\"inner\"\r\n"
                 "Content-Transfer-Encoding: 7bit\r\n\r\n"
                 "--inner\r\nContent-Type: text\r\n\r\nraw\r\n--inner--\r\n--" +
                 b + "--\r\n");
}

QTEST_APPLESS_MAIN(TestEntity)
#include "tst_entity.moc"
