#include "MimeTestTools.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpNewsArticle.h"
#include "mime/TIpPieceStream.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using TStrings = std::vector<std::string>;

namespace {
const char* const Boundary = "_NextPart_0000B5F3-00001388-0001E240-04D2";

// A 2 x 2 GIF picture, generated rather than stored.
QByteArray GifBytes() {
    return QByteArray::fromHex("474946383961020002008000000000ffffff21f90401000000002c00000000"
                               "020002000002028c0b003b") +
           RandomBytes(300, 21); // trailing bytes make several base64 lines
}

// Fills an article field by field, as a multipart message with a text part.
void FillArticle(TIpNewsArticle& article, const TStrings& body, const QString& attachment) {
    article.NewMessage();
    article.PostingHost = "news.example.com";
    article.From = "me@example.com";
    article.Sender = "me@example.com";
    article.Subject = "Hello";
    article.Newsgroups = {"alt.test"};
    article.Path = {"alt.test"};
    TIpMimeEntity* text = article.PlainTextPart(true);
    if (attachment.isEmpty()) {
        for (const std::string& line : body)
            text->Body.WriteLine(line);
        return;
    }
    text->LoadFromStrings(body, "");
    TIpMimeEntity* part = article.AddChild();
    const std::string path = attachment.toStdString();
    part->ContentName = path.substr(path.find_last_of('/') + 1);
    part->DispositionType = "Attachment";
    part->LoadFromFile(path);
}

QByteArray Composed(TIpMessage& message) {
    message.ComposeText();
    return StreamBytes(message.MessageStream);
}

QStringList TextLines(const QByteArray& text) {
    QStringList lines = QString::fromLatin1(text).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList ToQt(const TStrings& items) {
    QStringList list;
    for (const std::string& item : items)
        list << QString::fromStdString(item);
    return list;
}

// A summary of an entity tree: type, encoding, file name and body of each node, indented.
QStringList Tree(const TIpMimeEntity& entity, int depth = 0) {
    QStringList out;
    const QString indent(depth * 2, ' ');
    out << indent + QString::fromStdString(
                        entity.ContentType + "/" + entity.ContentSubtype + " " +
                        EncodingName(entity.ContentTransferEncoding) + " " + entity.FileName + " " +
                        entity.ContentName + " " + entity.DispositionType + " " +
                        // only a disposition carries the size
                        std::to_string(entity.DispositionType.empty() ? 0 : entity.FileSize));
    auto& body = const_cast<TIpMimeEntity&>(entity).Body;
    out << indent + QString::fromLatin1(StreamBytes(body).toHex());
    for (int i = 0; i < entity.Parts.Count(); ++i)
        out += Tree(*entity.Parts.Items(i), depth + 1);
    return out;
}
} // namespace

class TestArticle : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void postedArticleLines();
    void postedArticleWithGif();
    void pythonEmailParsesComposedArticle_data();
    void pythonEmailParsesComposedArticle();
    void headerRules_data();
    void headerRules();
    void lineBreakInAHeaderValue_data();
    void lineBreakInAHeaderValue();
    void emptyAndPlainMessages();
    void composeIsRepeatable();
    void largeBodyIsSharedNotCopied();
    void roundTripKeepsFieldsAndTree();
    void parseAttachmentDisposition();
    void parseSurvivesBrokenInput();
    void parseBoundsNesting();
    void messageStreamAccess();
    void assignRules();
    void clearLeavesNoEncodingLine();
};

// The lines every posted test article starts with, down to the blank line that opens the text
// part's body.
static QStringList PostedHead(const QString& b) {
    return {"Path: alt.test",
            "Newsgroups: alt.test",
            "From: me@example.com",
            "Subject: Hello",
            "Sender: me@example.com",
            "MIME-Version: 1.0",
            "Content-Type: multipart/mixed; ",
            "\tboundary=\"" + b + "\"",
            "",
            "--" + b,
            "Content-Type: text/plain",
            "Content-Transfer-Encoding: 7bit",
            ""};
}

void TestArticle::init() {
    TIpMimeEntity::BoundaryGenerator = [] { return Boundary; };
}

void TestArticle::cleanup() {
    TIpMimeEntity::BoundaryGenerator = nullptr;
}

void TestArticle::postedArticleLines() {
    TIpNewsArticle article;
    FillArticle(article, {"First line", ".", "", ".. two dots", "caf\xc3\xa9"}, {});
    const QString b = Boundary;
    const QStringList expected =
        PostedHead(b) +
        QStringList{"First line",    ".", "", ".. two dots", QString::fromLatin1("caf\xc3\xa9"),
                    "--" + b + "--", "."};
    QCOMPARE(TextLines(Composed(article)), expected);
}

void TestArticle::postedArticleWithGif() {
    QTemporaryDir dir;
    const QByteArray gif = GifBytes();
    QFile file(dir.filePath("picture.gif"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(gif);
    file.close();
    TIpNewsArticle article;
    FillArticle(article, {"See the picture."}, file.fileName());
    const QStringList lines = TextLines(Composed(article));
    const QString b = Boundary;
    const QStringList expectedHead =
        PostedHead(b) +
        QStringList{"See the picture.",
                    "--" + b,
                    "Content-Type: image/gif; name=\"picture.gif\"",
                    "Content-Transfer-Encoding: base64",
                    QString("Content-Disposition: Attachment; filename=\"picture.gif\"; size=%1")
                        .arg(gif.size()),
                    ""};
    QCOMPARE(lines.mid(0, expectedHead.size()), expectedHead);
    const QStringList encoded =
        lines.mid(expectedHead.size(), lines.size() - expectedHead.size() - 2);
    for (int i = 0; i + 1 < encoded.size(); ++i)
        QCOMPARE(encoded[i].size(), 76);
    QCOMPARE(QByteArray::fromBase64(encoded.join("").toLatin1()), gif);
    QCOMPARE(lines.mid(lines.size() - 2), (QStringList{"--" + b + "--", "."}));
}

void TestArticle::pythonEmailParsesComposedArticle_data() {
    QTest::addColumn<bool>("withAttachment");
    QTest::newRow("text only") << false;
    QTest::newRow("with GIF") << true;
}

void TestArticle::pythonEmailParsesComposedArticle() {
    QFETCH(bool, withAttachment);
    TIpMimeEntity::BoundaryGenerator = nullptr; // the real generator
    QTemporaryDir dir;
    const QByteArray gif = GifBytes();
    QString path;
    if (withAttachment) {
        QFile file(dir.filePath("picture.gif"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(gif);
        path = file.fileName();
    }
    TIpNewsArticle article;
    FillArticle(article, {"Body line", "second"}, path);
    QByteArray parsed;
    QByteArray errors;
    QCOMPARE(RunPythonScript("parse_article.py", {}, Composed(article), &parsed, &errors), 0);
    QVERIFY2(errors.isEmpty(), errors.constData());
    const QStringList report = QString::fromUtf8(parsed).split('\n', Qt::SkipEmptyParts);
    QVERIFY(report.contains("header Newsgroups: alt.test"));
    QVERIFY(report.contains("header Subject: Hello"));
    // The script hands the text over with LF line ends; the break before a boundary belongs to
    // the boundary.
    const QByteArray textSha =
        QCryptographicHash::hash("Body line\nsecond", QCryptographicHash::Sha256).toHex();
    QStringList expected{"part 0 multipart/mixed - -", "part 1 text/plain 7bit -",
                         "payload 1 " + textSha + " 16"};
    if (withAttachment) {
        const QByteArray gifSha = QCryptographicHash::hash(gif, QCryptographicHash::Sha256).toHex();
        expected << "part 1 image/gif base64 picture.gif"
                 << QString("payload 1 %1 %2").arg(QString(gifSha)).arg(gif.size());
    }
    expected << "defects 0";
    QStringList parts;
    for (const QString& line : report) {
        if (!line.startsWith("header "))
            parts << line;
    }
    QCOMPARE(parts, expected);
}

void TestArticle::headerRules_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("two groups") << "Newsgroups" << QStringList{"a.b", "c.d"}
                                << QStringList{"Newsgroups: a.b, ", "\tc.d"};
    const QString longGroup = "comp." + QString(61, 'g');
    QTest::newRow("group over 65 characters, not folded before it")
        << "Newsgroups" << QStringList{longGroup} << QStringList{"Newsgroups: " + longGroup};
    QTest::newRow("references packed")
        << "References" << QStringList{"x", "y"} << QStringList{"References: x y"};
    QTest::newRow("CC packed and folded")
        << "CC" << QStringList{QString(40, 'a'), QString(40, 'b')}
        << QStringList{"CC: " + QString(40, 'a') + ", ", "\t" + QString(40, 'b')};
    QTest::newRow("user field as is")
        << "UserFields" << QStringList{"X-Test: 1"} << QStringList{"X-Test: 1"};
    QTest::newRow("received split at TAB")
        << "Received" << QStringList{"from a\tby b"} << QStringList{"Received: from a\t", "\tby b"};
    QTest::newRow("one empty item") << "To" << QStringList{""} << QStringList{"To: "};
}

void TestArticle::headerRules() {
    QFETCH(QString, field);
    QFETCH(QStringList, items);
    QFETCH(QStringList, lines);
    TIpNewsArticle article;
    article.NewMessage();
    TStrings values;
    for (const QString& item : items)
        values.push_back(item.toStdString());
    if (field == "Newsgroups")
        article.Newsgroups = values;
    else if (field == "References")
        article.References = values;
    else if (field == "CC")
        article.CC = values;
    else if (field == "UserFields")
        article.UserFields = values;
    else if (field == "Received")
        article.Received = values;
    else if (field == "To")
        article.To = values;
    QCOMPARE(TextLines(Composed(article)), lines + QStringList({"", "."}));
}

// A line break inside a value would end the header line, or the header block, early: the fields
// written as they stand refuse it, free text is encoded instead.
void TestArticle::lineBreakInAHeaderValue_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("written"); // empty when composing must be refused
    QTest::newRow("From") << "From"
                          << "";
    QTest::newRow("Sender") << "Sender"
                            << "";
    QTest::newRow("Message-ID") << "MessageID"
                                << "";
    QTest::newRow("a group") << "Newsgroups"
                             << "";
    QTest::newRow("a user field") << "UserFields"
                                  << "";
    QTest::newRow("a file name")
        << "FileName"
        << "Content-Disposition: inline; filename*=utf-8''a%0D%0AX-Injected%3A%20y";
    QTest::newRow("Subject") << "Subject"
                             << "Subject: =?UTF-8?Q?a=0D=0AX-Injected=3A_y?=";
}

void TestArticle::lineBreakInAHeaderValue() {
    QFETCH(QString, field);
    QFETCH(QString, written);
    TIpNewsArticle article;
    FillArticle(article, {"x"}, {});
    const std::string value = "a\r\nX-Injected: y";
    TIpMimeEntity* text = article.PlainTextPart(false);
    if (field == "FileName") {
        text->DispositionType = "inline";
        text->FileName = value;
    } else if (field == "From")
        article.From = value;
    else if (field == "Sender")
        article.Sender = value;
    else if (field == "MessageID")
        article.MessageID = value;
    else if (field == "Newsgroups")
        article.Newsgroups = {value};
    else if (field == "UserFields")
        article.UserFields = {value};
    else if (field == "Subject")
        article.Subject = value;
    if (written.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(EIpBaseException, article.ComposeText());
        return;
    }
    const QStringList lines = TextLines(Composed(article));
    QVERIFY(lines.contains(written));
    QVERIFY(!lines.contains("X-Injected: y"));
}

void TestArticle::emptyAndPlainMessages() {
    TIpNewsArticle article;
    article.NewMessage();
    QCOMPARE(Composed(article), QByteArray()); // no blank line, no period
    article.PostingHost = "ignored.example";
    article.NNTPPostingHost = "ignored.example";
    QCOMPARE(Composed(article), QByteArray());

    article.Subject = "Only";
    article.Body.WriteLine(std::string("."));
    article.Body.WriteLine(std::string("body"));
    QCOMPARE(Composed(article), QByteArray("Subject: Only\r\n\r\n.\r\nbody\r\n.\r\n"));

    // Header order, whatever order the fields were set in.
    article.Keywords = "k";
    article.UserFields = {"X-Mailer: test"};
    article.Date = "d";
    article.ReturnPath = "<r>";
    article.MessageID = "<m>";
    article.ReplyTo = "r@x";
    article.Organization = "o";
    article.InReplyTo = "<i>";
    article.Sender = "s";
    article.From = "f";
    article.To = {"t"};
    article.BCC = {"b"};
    QCOMPARE(TextLines(Composed(article)).mid(0, 14),
             (QStringList{"Return-Path: <r>", "Message-ID: <m>", "From: f", "Reply-To: r@x",
                          "Date: d", "To: t", "Subject: Only", "Organization: o", "BCC: b",
                          "In-Reply-To: <i>", "Sender: s", "Keywords: k", "X-Mailer: test", ""}));
}

void TestArticle::composeIsRepeatable() {
    TIpNewsArticle article;
    FillArticle(article, {"a"}, {});
    const QByteArray first = Composed(article);
    QCOMPARE(Composed(article), first); // composed afresh, never appended
    FillArticle(article, {"b"}, {});    // the next group: everything from before is gone
    QVERIFY(!Composed(article).contains("\r\na\r\n"));
}

// A large encoded body goes into the composed text by reference. The text must still read
// line by line as the client sends it, and it is a snapshot: changing the body afterwards (or
// the text) leaves the other alone.
void TestArticle::largeBodyIsSharedNotCopied() {
    QTemporaryDir dir;
    QFile file(dir.filePath("data.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray data = RandomBytes(300000, 31);
    file.write(data);
    file.close();
    TIpNewsArticle article;
    FillArticle(article, {"text"}, file.fileName());
    TIpMimeEntity* part = article.Parts.Items(1);
    const QByteArray body = StreamBytes(part->Body);
    const QByteArray composed = Composed(article);

    const auto* pieces = dynamic_cast<TIpPieceStream*>(article.MessageStream.Stream());
    QVERIFY(pieces && pieces->PieceCount() >= 3); // text before, the shared body, text after
    QCOMPARE(composed.count(body), 1);
    QVERIFY(composed.indexOf(body) + body.size() ==
            composed.indexOf("--" + QByteArray::fromStdString(article.Boundary) + "--"));
    QByteArray decoded;
    QCOMPARE(RunTool("base64", {"-d"}, QByteArray(body).replace("\r", ""), &decoded), 0);
    QCOMPARE(decoded, data);

    QByteArray sent;
    article.SetPosition(0);
    while (!article.AtEndOfStream())
        sent += QByteArray::fromStdString(article.ReadLineCRLF());
    QCOMPARE(sent, composed);

    part->Body.Seek(0, TIpStream::soFromEnd);
    part->Body.WriteLine("added");
    part->Body.SetPosition(0);
    QCOMPARE(StreamBytes(article.MessageStream), composed);
    QVERIFY(Composed(article).contains(body + "added\r\n"));

    const int64_t inside = composed.indexOf(body) + 100;
    article.SetPosition(inside);
    article.MessageStream.Write("CHANGED", 7);
    article.MessageStream.Flush();
    QCOMPARE(StreamBytes(article.MessageStream).mid(inside, 7), QByteArray("CHANGED"));
    QCOMPARE(StreamBytes(part->Body), body + "added\r\n");
}

void TestArticle::roundTripKeepsFieldsAndTree() {
    QTemporaryDir dir;
    QFile file(dir.filePath("data.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(RandomBytes(5000, 8));
    file.close();
    TIpNewsArticle article;
    FillArticle(article, {"Line 1", "  indented", "-- signature"}, file.fileName());
    article.Newsgroups = {"a.b", "c.d", "comp." + std::string(70, 'z')};
    article.Path = {"p1", "p2"};
    article.References = {"<r1>", "<r2>"};
    article.To = {"x@y", "z@w"};
    article.CC = {std::string(50, 'c'), std::string(50, 'd')};
    article.BCC = {"b@c"};
    article.Date = "Mon, 7 Dec 2026 10:00:00 +0000";
    article.MessageID = "<id@example>";
    article.ReplyTo = "reply@example";
    article.Organization = "Org";
    article.InReplyTo = "<parent@example>";
    article.Keywords = "k1, k2";
    article.ReturnPath = "<rp@example>";
    article.Received = {"from here"};
    article.UserFields = {"X-Test: 1"};
    const QByteArray text = Composed(article);

    TIpNewsArticle copy;
    copy.Assign(article);
    QCOMPARE(copy.Position(), int64_t(0));
    QCOMPARE(ToQt(copy.Newsgroups), ToQt(article.Newsgroups));
    QCOMPARE(ToQt(copy.Path), ToQt(article.Path));
    QCOMPARE(ToQt(copy.References), ToQt(article.References));
    QCOMPARE(ToQt(copy.To), ToQt(article.To));
    QCOMPARE(ToQt(copy.CC), ToQt(article.CC));
    QCOMPARE(ToQt(copy.BCC), ToQt(article.BCC));
    QCOMPARE(ToQt(copy.Received), ToQt(article.Received));
    QCOMPARE(ToQt(copy.UserFields), QStringList{"Test: 1"});
    for (auto field :
         {&TIpMessage::Date, &TIpMessage::From, &TIpMessage::MessageID, &TIpMessage::ReplyTo,
          &TIpMessage::Organization, &TIpMessage::InReplyTo, &TIpMessage::Keywords,
          &TIpMessage::ReturnPath, &TIpMessage::Sender, &TIpMessage::Subject})
        QCOMPARE(QString::fromStdString(copy.*field), QString::fromStdString(article.*field));
    QCOMPARE(Tree(copy), Tree(article));
    copy.UserFields = article.UserFields; // the one field read back without its "X-"
    QCOMPARE(Composed(copy), text);
}

void TestArticle::parseAttachmentDisposition() {
    TIpNewsArticle article;
    const QByteArray text("Subject: s\r\nContent-Type: image/gif\r\n"
                          "Content-Transfer-Encoding: base64\r\n"
                          "Content-Disposition: attachment; filename=p.gif; size=3\r\n"
                          "\r\nYWJj\r\n.\r\n");
    article.MessageStream.Write(text.constData(), text.size());
    article.ParseText();
    QCOMPARE(article.Parts.Count(), 1);
    const TIpMimeEntity* part = article.Parts.Items(0);
    QCOMPARE(QString::fromStdString(part->FileName), QString("p.gif"));
    QCOMPARE(part->FileSize, int64_t(3));
    QVERIFY(part->IsMime && !part->IsMultipart);
    QCOMPARE(StreamBytes(const_cast<TIpMimeEntity*>(part)->Body), QByteArray("YWJj\r\n"));
}

// Whatever the text, reading it back ends: with fields, or with an EIpBaseException.
void TestArticle::parseSurvivesBrokenInput() {
    const QList<QByteArray> corpus{
        "",
        "\r\n",
        "Content-Type: multipart/mixed\r\n\r\nx\r\n",
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n--b\r\n--b--",
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: multipart/x; "
        "boundary=b\r\n\r\n--b\r\n--b",
        "Content-Type: multipart/mixed; boundary=\"\"\r\n",
        "Content-Type: ;;;\r\nContent-Disposition: ;\r\n\r\n\r\n",
        "Newsgroups: \r\n\t\r\n \r\nTo: ,,,\r\n\r\n.",
        "Content-Type: text/plain\r\n\r\n--\r\nbody",
        QByteArray(9000, '\r'),
        QByteArray(9000, '\n'),
    };
    std::mt19937 generator(5);
    QList<QByteArray> inputs = corpus;
    const QList<QByteArray> pieces{
        "--b",   "--b--", "Content-Type: multipart/a; boundary=b", "Content-Type: text/plain",
        "",      ".",     "Content-Disposition: attachment",       "\t",
        "X-A: 1"};
    for (int round = 0; round < 200; ++round) {
        QByteArray text;
        const int lines = int(generator() % 30);
        for (int i = 0; i < lines; ++i)
            text += pieces[generator() % pieces.size()] + (generator() % 5 ? "\r\n" : "\n");
        inputs << text;
    }
    int parsed = 0;
    for (const QByteArray& input : inputs) {
        TIpNewsArticle article;
        article.MessageStream.Write(input.constData(), input.size());
        try {
            article.ParseText();
            ++parsed;
        } catch (const EIpBaseException& e) {
            QCOMPARE(QString(e.what()), QString("No Mime boundary"));
        }
    }
    QVERIFY(parsed > inputs.size() / 2);
}

// Multiparts nested far past the bound: the tree stops at MaxNesting levels, the deeper parts
// stay as text of the deepest one, and the tree is written and freed without running out of stack.
void TestArticle::parseBoundsNesting() {
    constexpr int Levels = 12000;
    QByteArray text("Subject: deep\r\n");
    for (int i = 0; i < Levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + QByteArray::number(i) +
                "\r\n\r\n--b" + QByteArray::number(i) + "\r\n";
    text += "Content-Type: text/plain\r\n\r\ninnermost\r\n";
    for (int i = Levels - 1; i >= 0; --i)
        text += "--b" + QByteArray::number(i) + "--\r\n";
    text += ".\r\n";
    auto article = std::make_unique<TIpNewsArticle>();
    article->MessageStream.Write(text.constData(), text.size());
    article->ParseText();

    TIpMimeEntity* deepest = article.get();
    int depth = 0;
    while (deepest->Parts.Count() > 0) {
        QCOMPARE(deepest->Parts.Count(), 1);
        deepest = deepest->Parts.Items(0);
        ++depth;
    }
    QCOMPARE(depth, TIpMimeEntity::MaxNesting);
    QCOMPARE(deepest->Depth(), TIpMimeEntity::MaxNesting);
    const QByteArray kept = StreamBytes(deepest->Body);
    QVERIFY(kept.startsWith("--b100\r\nContent-Type: multipart/mixed; boundary=b101\r\n"));
    QVERIFY(kept.contains("\r\ninnermost\r\n--b11999--\r\n"));

    TIpMemoryStream out;
    {
        TIpAnsiTextStream target(&out);
        std::string boundary;
        article->WriteEntity(target, boundary);
    }
    QVERIFY(StreamBytes(out).contains("innermost"));
    article.reset();
}

void TestArticle::messageStreamAccess() {
    TIpNewsArticle article;
    FillArticle(article, {"x"}, {});
    article.ComposeText();
    article.SetPosition(0);
    QCOMPARE(QString::fromStdString(article.ReadLineCRLF()), QString("Path: alt.test\r\n"));
    int lines = 1;
    std::string line;
    while (article.Position() < article.Size()) {
        article.ReadLineCRLF(line);
        ++lines;
    }
    QCOMPARE(line, std::string(".\r\n"));
    QVERIFY(article.AtEndOfStream());
    QCOMPARE(lines, TextLines(StreamBytes(article.MessageStream)).size());

    article.Clear(); // detaches the message stream
    QCOMPARE(article.Position(), int64_t(0));
    QCOMPARE(article.Size(), int64_t(0));
    QVERIFY(article.ReadLine().empty());
    QVERIFY(article.AtEndOfStream());
    article.WriteLine("ignored");
    QCOMPARE(article.Size(), int64_t(0));
    article.NewMessage();
    article.WriteLine("now kept");
    QCOMPARE(article.Size(), int64_t(10));
}

void TestArticle::assignRules() {
    TIpNewsArticle article;
    TIpMimeEntity entity;
    try {
        article.Assign(entity);
        QFAIL("an entity was assigned to an article");
    } catch (const EIpBaseException& e) {
        QCOMPARE(QString(e.what()), QString("Cannot assign a TIpMimeEntity to a TIpNewsArticle"));
    }
    FillArticle(article, {"body"}, {});
    article.ComposeText();
    article.SetPosition(17);
    TIpMessage message;
    message.Assign(article);
    QCOMPARE(article.Position(), int64_t(17)); // the source's position is kept
    QCOMPARE(StreamBytes(message.MessageStream), StreamBytes(article.MessageStream));
    message.Assign(message); // onto itself: nothing is lost
    QCOMPARE(StreamBytes(message.MessageStream), StreamBytes(article.MessageStream));
}

void TestArticle::clearLeavesNoEncodingLine() {
    TIpNewsArticle article;
    article.ContentTransferEncoding = TIpMimeEncodingMethod::emBase64;
    FillArticle(article, {"x"}, {});
    QVERIFY(!Composed(article).contains("base64"));
    QCOMPARE(Composed(article).count("Content-Transfer-Encoding: "), 1); // the text part's only
}

QTEST_APPLESS_MAIN(TestArticle)
#include "tst_article.moc"
