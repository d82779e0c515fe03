// The article a posting run sends for one group: its exact text, and what two independent
// readers (Python's email package, munpack) make of it.

#include "mime/TIpMimeEntity.h"
#include "posting/TArticleComposer.h"
#include "support/ArticleReader.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <set>

namespace {
const char* const Boundary = "_NextPart_0000B5F3-00001388-0001E240-04D2";

// 2026-11-30 01:53:20 in a zone one hour east of UTC, and the bytes 0, 1, ... 15.
TArticleComposer FixedComposer() {
    return TArticleComposer(
        [] {
            return TArticleTime{1796000000, 60};
        },
        [](uint8_t* bytes, size_t count) {
            for (size_t i = 0; i < count; ++i)
                bytes[i] = static_cast<uint8_t>(i);
        });
}

// The MIME lines of an article with an attachment, down to the blank line that opens the text
// part's body.
QStringList MultipartHead() {
    const QString b = Boundary;
    return {"MIME-Version: 1.0",
            "Content-Type: multipart/mixed; ",
            "\tboundary=\"" + b + "\"",
            "",
            "--" + b,
            "Content-Type: text/plain",
            "Content-Transfer-Encoding: 7bit",
            ""};
}

TArticleRequest Request(const QString& name, const QString& subject, const QStringList& body) {
    TArticleRequest request;
    request.Name = name.toStdString();
    request.Address = "pat@example.com";
    request.Organization = "Example Club";
    request.Newsreader = "Heraldix/9.9";
    request.Subject = subject.toStdString();
    for (const QString& line : body)
        request.BodyLines.push_back(line.toStdString());
    return request;
}

QByteArray Composed(const TArticleComposer& composer, const TArticleRequest& request,
                    TIpNewsArticle& article) {
    composer.Compose(request, "alt.test", article);
    article.ComposeText();
    article.SetPosition(0);
    QByteArray text;
    while (!article.AtEndOfStream())
        text += QByteArray::fromStdString(article.ReadLineCRLF());
    return text;
}

QStringList Lines(const QByteArray& text) {
    QStringList lines = QString::fromUtf8(text).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The lines of text from the one beginning with `from` up to, not including, the one
// beginning with `to` (to the end when `to` is empty).
QStringList Section(const QStringList& lines, const QString& from, const QString& to) {
    qsizetype first = 0;
    while (first < lines.size() && !lines[first].startsWith(from))
        ++first;
    qsizetype last = first;
    while (last < lines.size() && (to.isEmpty() || !lines[last].startsWith(to)))
        ++last;
    return lines.mid(first, last - first);
}

// Lines of text whatever its line ends.
QStringList TextLines(const QByteArray& text) {
    QStringList lines = QString::fromUtf8(text).replace("\r\n", "\n").split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList JsonLines(const QJsonValue& value) {
    QStringList lines;
    for (const QJsonValue& line : value.toArray())
        lines << line.toString();
    return lines;
}
} // namespace

class tst_ArticleComposer : public QObject {
    Q_OBJECT

private slots:
    void init() {
        TIpMimeEntity::BoundaryGenerator = [] { return std::string(Boundary); };
    }
    void cleanup() { TIpMimeEntity::BoundaryGenerator = nullptr; }

    // The header block down to the MIME fields, for what the user typed.
    void headerLines_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("organization");
        QTest::addColumn<QString>("newsreader");
        QTest::addColumn<QStringList>("expected");
        // Path, Newsgroups, Message-ID, From and Date, then the rest.
        const auto head = [](const QString& from, const QStringList& rest,
                             const QString& domain = "example.com") {
            return QStringList{"Path: not-for-mail", "Newsgroups: alt.test",
                               "Message-ID: <000102030405060708090a0b0c0d0e0f@" + domain + ">",
                               "From: " + from, "Date: Mon, 30 Nov 2026 01:53:20 +0100"} +
                   rest;
        };
        const QString sender = "Sender: pat@example.com";
        QTest::newRow("ascii as typed") << "Pat Example"
                                        << "pat@example.com"
                                        << "Hello"
                                        << "Example Club"
                                        << "Heraldix/9.9"
                                        << head("Pat Example <pat@example.com>",
                                                {"Subject: Hello", "Organization: Example Club",
                                                 sender, "User-Agent: Heraldix/9.9"});
        QTest::newRow("no name, no organization, no newsreader")
            << ""
            << "pat@example.com"
            << "Hello"
            << ""
            << "" << head("pat@example.com", {"Subject: Hello", sender});
        QTest::newRow("name with specials is quoted")
            << "Pat \"the Poster\" O'Neil, Jr. \\o/"
            << "pat@example.com"
            << "Hello"
            << ""
            << ""
            << head("\"Pat \\\"the Poster\\\" O'Neil, Jr. \\\\o/\" <pat@example.com>",
                    {"Subject: Hello", sender});
        QTest::newRow("line breaks and controls become blanks")
            << "Pat\nBcc: all"
            << " pat@example.com\r\n"
            << "Hello\r\nX-Injected: yes" << QString::fromUtf8("Club\tInc\x01\xc2\x85")
            << QStringLiteral("Reader\u2028"
                              "1")
            << head("\"Pat Bcc: all\" <pat@example.com>",
                    {"Subject: Hello  X-Injected: yes", "Organization: Club Inc  ", sender,
                     "User-Agent: Reader 1"});
        QTest::newRow("non-ascii as encoded-words")
            << QStringLiteral("Jürgen Müller") << "pat@example.com"
            << QStringLiteral("Grüße aus Köln") << QStringLiteral("Société Générale") << ""
            << head("=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <pat@example.com>",
                    {"Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=",
                     "Organization: =?UTF-8?Q?Soci=C3=A9t=C3=A9_G=C3=A9n=C3=A9rale?=", sender});
        // The first word fits after "Subject: " within 78 characters, the others take 75 at
        // most; no character is cut between two words.
        const QString word10 = " =?UTF-8?Q?" + QString("=C3=A9").repeated(10) + "?=";
        QTest::newRow("long non-ascii subject folded")
            << ""
            << "pat@example.com" << QString(60, QChar(0xE9)) << ""
            << ""
            << head("pat@example.com",
                    QStringList{"Subject: =?UTF-8?Q?" + QString("=C3=A9").repeated(9) + "?="} +
                        QStringList(5, word10) + QStringList{" =?UTF-8?Q?=C3=A9?=", sender});
        QTest::newRow("ascii that reads as an encoded-word")
            << "=?utf-8?q?x?="
            << "pat"
            << "=?utf-8?q?x?="
            << ""
            << ""
            << head("=?UTF-8?Q?=3D=3Futf-8=3Fq=3Fx=3F=3D?= <pat>",
                    {"Subject: =?UTF-8?Q?=3D=3Futf-8=3Fq=3Fx=3F=3D?=", "Sender: pat"},
                    "heraldix.invalid");
    }
    void headerLines() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, subject);
        QFETCH(QString, organization);
        QFETCH(QString, newsreader);
        QFETCH(QStringList, expected);
        TArticleRequest request = Request(name, subject, {"x"});
        request.Address = address.toStdString();
        request.Organization = organization.toStdString();
        request.Newsreader = newsreader.toStdString();
        TIpNewsArticle article;
        const QStringList lines = Lines(Composed(FixedComposer(), request, article));
        QCOMPARE(Section(lines, "Path: ", "MIME-Version: "), expected);
    }

    // The headers that withdraw or replace an article go out only when set; the lock is what
    // the canlock tool gives for the secret and the article's Message-ID.
    void withdrawalHeaders() {
        TArticleRequest request = Request("Pat", "Hello", {"x"});
        const QRegularExpression withdrawal("^(Cancel-|Supersedes:)");
        TIpNewsArticle article;
        QCOMPARE(Lines(Composed(FixedComposer(), request, article)).filter(withdrawal).size(), 0);
        request.CancelSecret = "composer-secret";
        request.CancelKey = "sha256:a2V5";
        request.Supersedes = "<old@example.com>\r\n";
        QCOMPARE(Lines(Composed(FixedComposer(), request, article)).filter(withdrawal),
                 QStringList({"Supersedes: <old@example.com>",
                              "Cancel-Lock: sha256:TvPm7U8a2OHZNly2PGs6hhK6CGngQqHZfp8kt2TCctk=",
                              "Cancel-Key: sha256:a2V5"}));
    }

    // From the MIME fields to the end, for the body and the attachment.
    void mimeLines_data() {
        QTest::addColumn<QStringList>("body");
        QTest::addColumn<QString>("attachment");
        QTest::addColumn<QStringList>("expected");
        const QString b = Boundary;
        QTest::newRow("ascii body: plain text/plain")
            << QStringList{"First line", ".", "", ".. two dots"} << ""
            << QStringList{"MIME-Version: 1.0",
                           "Content-Type: text/plain",
                           "Content-Transfer-Encoding: 7bit",
                           "",
                           "First line",
                           ".",
                           "",
                           ".. two dots",
                           "."};
        QTest::newRow("empty body") << QStringList{} << ""
                                    << QStringList{"MIME-Version: 1.0", "Content-Type: text/plain",
                                                   "Content-Transfer-Encoding: 7bit", "", "."};
        QTest::newRow("utf-8 body") << QStringList{QStringLiteral("café")} << ""
                                    << QStringList{"MIME-Version: 1.0",
                                                   "Content-Type: text/plain; charset=utf-8",
                                                   "Content-Transfer-Encoding: 8bit",
                                                   "",
                                                   QStringLiteral("café"),
                                                   "."};
        QTest::newRow("line and paragraph separators end lines")
            << QStringList{QStringLiteral("first line\u2028second line"),
                           QStringLiteral("third\r\nfourth\rfifth\u2029sixth\n")}
            << ""
            << QStringList{"MIME-Version: 1.0",
                           "Content-Type: text/plain",
                           "Content-Transfer-Encoding: 7bit",
                           "",
                           "first line",
                           "second line",
                           "third",
                           "fourth",
                           "fifth",
                           "sixth",
                           "",
                           "."};
        QTest::newRow("line of 998 octets stays 7bit")
            << QStringList{QString(998, 'a')} << ""
            << QStringList{"MIME-Version: 1.0",
                           "Content-Type: text/plain",
                           "Content-Transfer-Encoding: 7bit",
                           "",
                           QString(998, 'a'),
                           "."};
        QTest::newRow("line of 999 octets goes quoted-printable")
            << QStringList{"short", QString(999, 'a')} << ""
            << QStringList{"MIME-Version: 1.0", "Content-Type: text/plain",
                           "Content-Transfer-Encoding: quoted-printable", "", "short"} +
                   QStringList(13, QString(74, 'a') + "=") + QStringList{QString(37, 'a'), "."};
        QTest::newRow("attachment with a blank and parentheses")
            << QStringList{"See it."} << "My photo(1).jpg"
            << MultipartHead() +
                   QStringList{
                       "See it.",
                       "--" + b,
                       "Content-Type: image/jpeg; name=\"My photo(1).jpg\"",
                       "Content-Transfer-Encoding: base64",
                       "Content-Disposition: Attachment; filename=\"My photo(1).jpg\"; size=3",
                       "",
                       "YWJj",
                       "--" + b + "--",
                       "."};
        QTest::newRow("attachment named outside ascii, with quotes and a comma")
            << QStringList{} << QStringLiteral("Résumé \"final\", v2.pdf")
            << MultipartHead() +
                   QStringList{
                       "--" + b,
                       "Content-Type: application/octet-stream; ",
                       "\tname=\"=?UTF-8?Q?R=C3=A9sum=C3=A9_=22final=22=2C_v2=2Epdf?=\"",
                       "Content-Transfer-Encoding: base64",
                       "Content-Disposition: Attachment; ",
                       "\tfilename*=utf-8''R%C3%A9sum%C3%A9%20%22final%22%2C%20v2.pdf; size=3",
                       "",
                       "YWJj",
                       "--" + b + "--",
                       "."};
    }
    void mimeLines() {
        QFETCH(QStringList, body);
        QFETCH(QString, attachment);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        TArticleRequest request = Request("Pat", "Hello", body);
        if (!attachment.isEmpty()) {
            const QString path = dir.filePath(attachment);
            QVERIFY(WriteTestFile(path, "abc"));
            request.AttachmentPath = QFile::encodeName(path).toStdString();
        }
        TIpNewsArticle article;
        const QStringList lines = Lines(Composed(FixedComposer(), request, article));
        QCOMPARE(Section(lines, "MIME-Version: ", {}), expected);
    }

    // Every article reads back, with Python's email package and with munpack, as what was
    // typed and attached; no line passes 998 octets.
    void readersAgree_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("body");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("readName"); // the name a reader should give the file
        QTest::addColumn<QString>("textType");
        const QByteArray binary = [] {
            QByteArray bytes;
            for (int i = 0; i < 3000; ++i)
                bytes.append(static_cast<char>((i * 7) ^ (i >> 3)));
            return bytes;
        }();
        const QString longLine = QString("word ").repeated(600);
        QTest::newRow("plain ascii")
            << "Pat Example"
            << "Hello" << QStringList{"a", "", "b"} << "" << QByteArray() << ""
            << "text/plain 7bit";
        QTest::newRow("long non-ascii subject and name")
            << QStringLiteral("Zoë Ødegård-Łukasiewicz van der Berg-Ñúñez")
            << QStringLiteral("Ελληνικά, русский, 日本語 — ").repeated(4) + "end"
            << QStringList{QStringLiteral("Grüße")} << "" << QByteArray() << ""
            << "text/plain 8bit";
        QTest::newRow("ascii subject over 998 octets")
            << "Pat" << QString("subject ").repeated(150) + "end" << QStringList{"x"} << ""
            << QByteArray() << ""
            << "text/plain 7bit";
        QTest::newRow("3000-octet ascii line")
            << "Pat"
            << "long" << QStringList{"before", longLine, "after"} << "" << QByteArray() << ""
            << "text/plain quoted-printable";
        QTest::newRow("control characters in the body")
            << "Pat" << QString("ctl") << QStringList{"bell\a esc\x1b[2J nul" + QString(QChar(0))}
            << "" << QByteArray() << ""
            << "text/plain quoted-printable";
        QTest::newRow("3000-octet utf-8 line")
            << "Pat"
            << "long" << QStringList{QStringLiteral("é").repeated(1500)} << "" << QByteArray() << ""
            << "text/plain quoted-printable";
        QTest::newRow("name with a blank")
            << "Pat"
            << "file" << QStringList{"see"} << "My photo.jpg" << binary << "My photo.jpg"
            << "text/plain 7bit";
        QTest::newRow("name with parentheses")
            << "Pat"
            << "file" << QStringList{"see"} << "photo(1).jpg" << binary << "photo(1).jpg"
            << "text/plain 7bit";
        QTest::newRow("name with a comma")
            << "Pat"
            << "file" << QStringList{"see"} << "a,b.jpg" << binary << "a,b.jpg"
            << "text/plain 7bit";
        QTest::newRow("name with quote and backslash")
            << "Pat"
            << "file" << QStringList{"see"} << "say \"hi\" \\o.bin" << binary
            << "say \"hi\" \\o.bin"
            << "text/plain 7bit";
        QTest::newRow("name outside ascii")
            << QStringLiteral("José") << QStringLiteral("Résumé") << QStringList{"see"}
            << QStringLiteral("Résumé \"final\", v2.pdf") << binary
            << QStringLiteral("Résumé \"final\", v2.pdf") << "text/plain 7bit";
        QTest::newRow("name with a line feed")
            << "Pat"
            << "file" << QStringList{"see"} << "line\nfeed.bin" << binary << "line feed.bin"
            << "text/plain 7bit";
        // A word longer than a header line is split across encoded-words.
        QTest::newRow("1000-character subject word")
            << "Pat" << QString(1000, 'x') << QStringList{"x"} << "" << QByteArray() << ""
            << "text/plain 7bit";
        // Not clean text (a bare CR, a NUL, ESC): base64, and every byte comes back.
        QTest::newRow("text file with bare CR and NUL")
            << "Pat"
            << "file" << QStringList{"see"} << "old mac.txt"
            << QByteArray("one\rtwo\r\nthree") + '\0' + "four\x1b[31m\r"
            << "old mac.txt"
            << "text/plain 7bit";
        QTest::newRow("text file with a long line")
            << "Pat"
            << "file" << QStringList{"see"} << "notes.txt"
            << QByteArray("intro\r\n") + QByteArray(2000, 'n') + "\r\nend\r\n"
            << "notes.txt"
            << "text/plain 7bit";
    }
    void readersAgree() {
        QFETCH(QString, name);
        QFETCH(QString, subject);
        QFETCH(QStringList, body);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, readName);
        QFETCH(QString, textType);
        TIpMimeEntity::BoundaryGenerator = nullptr; // the real one
        QTemporaryDir dir;
        TArticleRequest request = Request(name, subject, body);
        if (!fileName.isEmpty()) {
            const QString path = dir.filePath(fileName);
            QVERIFY(WriteTestFile(path, bytes));
            request.AttachmentPath = QFile::encodeName(path).toStdString();
        }
        TIpNewsArticle article;
        const QByteArray text = Composed(TArticleComposer(), request, article);

        const QJsonObject read = ReadArticle(text);
        QVERIFY2(!read.isEmpty(), text.left(2000).constData());
        QCOMPARE(read.value("defects").toArray(), QJsonArray());
        QCOMPARE(read.value("subject").toString(), subject);
        QCOMPARE(read.value("name").toString(), name);
        QCOMPARE(read.value("address").toString(), QStringLiteral("pat@example.com"));
        QCOMPARE(read.value("organization").toString(), QStringLiteral("Example Club"));
        QCOMPARE(read.value("message_id").toString(), QString::fromStdString(article.MessageID));
        QCOMPARE(JsonLines(read.value("text")), body);
        QCOMPARE(read.value("text_type").toString(), textType);
        QVERIFY(read.value("longest_line").toInt() <= 998);
        QCOMPARE(read.value("multipart").toBool(), !fileName.isEmpty());
        const QJsonObject attachment = read.value("attachment").toObject();
        QCOMPARE(attachment.value("filename").toString(), readName);
        // A text file's line ends may come back as the reader's own; every other byte exactly.
        const QByteArray payload =
            QByteArray::fromBase64(attachment.value("payload").toString().toLatin1());
        if (fileName.endsWith(".txt"))
            QCOMPARE(TextLines(payload), TextLines(bytes));
        else
            QCOMPARE(payload, fileName.isEmpty() ? QByteArray() : bytes);

        // munpack writes an encoded or multipart text as part1 and the attachment under the name
        // of its name= parameter, with characters it finds risky as "X"; it does not decode
        // encoded-words in a parameter. A plain unencoded text it leaves alone.
        QMap<QString, QByteArray> attachments = UnpackArticle(text);
        if (!fileName.isEmpty() || textType.endsWith("quoted-printable"))
            QCOMPARE(TextLines(attachments.take("part1")), body);
        QCOMPARE(attachments.size(), fileName.isEmpty() ? 0 : 1);
        if (fileName.isEmpty())
            return;
        // A text file it writes with its own line ends: without any CR.
        QCOMPARE(
            TextLines(attachments.first()),
            TextLines(fileName.endsWith(".txt") ? QByteArray(bytes).replace('\r', "") : bytes));
        if (readName.toLatin1() == readName.toUtf8()) {
            QString cleaned = readName;
            for (QChar& c : cleaned)
                if (!c.isLetterOrNumber() && !QStringLiteral(".,-_").contains(c))
                    c = 'X';
            QCOMPARE(attachments.firstKey(), cleaned);
        }
    }

    // The right side of the Message-ID is the address's domain when that is a host name.
    void messageIdDomain_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("domain");
        QTest::newRow("domain") << "pat@news.example.org"
                                << "news.example.org";
        QTest::newRow("last @ counts") << "\"a@b\"@example.com"
                                       << "example.com";
        QTest::newRow("no @") << "pat"
                              << "heraldix.invalid";
        QTest::newRow("empty domain") << "pat@"
                                      << "heraldix.invalid";
        QTest::newRow("single label") << "pat@localhost"
                                      << "heraldix.invalid";
        QTest::newRow("literal") << "pat@[127.0.0.1]"
                                 << "heraldix.invalid";
        QTest::newRow("empty label") << "pat@example..com"
                                     << "heraldix.invalid";
        QTest::newRow("blank inside") << "pat@exa mple.com"
                                      << "heraldix.invalid";
        QTest::newRow("non-ascii") << QStringLiteral("pat@bücher.de") << "heraldix.invalid";
        QTest::newRow("too long") << "pat@" + QString("a.").repeated(101) + "com"
                                  << "heraldix.invalid";
    }

    // An address an article cannot carry is refused before anything is composed.
    void addressProblem_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("problem");
        const QString missing = QString::fromUtf8(TArticleComposer::MissingAddressText);
        const QString tooLong = QString::fromUtf8(TArticleComposer::LongAddressText);
        QTest::newRow("empty") << "" << missing;
        QTest::newRow("blanks and a line end") << " \r\n " << missing;
        QTest::newRow("longest that fits") << "p@" + QString(988, 'd') << "";
        QTest::newRow("1000-character domain") << "p@" + QString(1000, 'd') << tooLong;
    }
    void addressProblem() {
        QFETCH(QString, address);
        QFETCH(QString, problem);
        QCOMPARE(QString::fromUtf8(TArticleComposer::AddressProblem(address.toStdString())),
                 problem);
        TArticleRequest request = Request("Pat", "Hello", {"x"});
        request.Address = address.toStdString();
        TIpNewsArticle article;
        if (problem.isEmpty())
            QVERIFY(
                Lines(Composed(FixedComposer(), request, article)).contains("Sender: " + address));
        else
            QVERIFY_THROWS_EXCEPTION(std::exception,
                                     FixedComposer().Compose(request, "alt.test", article));
    }
    void messageIdDomain() {
        QFETCH(QString, address);
        QFETCH(QString, domain);
        QCOMPARE(QString::fromStdString(TArticleComposer::MessageIdDomain(address.toStdString())),
                 domain);
    }

    // With the system's random source every article of a run gets its own identity, within
    // the length readers and servers accept.
    void messageIdsAreUniqueAndShort() {
        const TArticleComposer composer;
        TArticleRequest request = Request("Pat", "Hello", {"x"});
        request.Address = "pat@" + std::string(200, 'd') + ".example";
        std::set<std::string> ids;
        TIpNewsArticle article;
        for (int i = 0; i < 200; ++i) {
            const std::string id = composer.Compose(request, "alt.test", article);
            QCOMPARE(id, article.MessageID);
            QVERIFY(id.size() <= 250);
            QVERIFY(id.front() == '<' && id.back() == '>');
            ids.insert(id);
        }
        QCOMPARE(ids.size(), size_t(200));
    }

    // An article posted again keeps the Message-ID it may already be on the server with.
    void composesUnderAGivenMessageId() {
        const TArticleComposer composer;
        TIpNewsArticle article;
        const std::string id = composer.Compose(Request("Pat", "Hello", {"x"}), "alt.test", article,
                                                "<old@example.com>");
        QCOMPARE(id, std::string("<old@example.com>"));
        QCOMPARE(article.MessageID, id);
    }

    // Followup-To as typed goes out without blanks or empty names, one line.
    void followupToValue_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("value");
        QTest::newRow("blanks and empty names") << QString(" a.b ,\tc.d,,e.f, ") << "a.b,c.d,e.f";
        QTest::newRow("line break") << QString("a.b\r\nX-Injected: yes") << "a.bX-Injected:yes";
    }
    void followupToValue() {
        QFETCH(QString, typed);
        QFETCH(QString, value);
        QCOMPARE(TArticleComposer::FollowupToValue(typed.toStdString()), value.toStdString());
    }

    void dateText_data() {
        QTest::addColumn<qint64>("utc");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("text");
        QTest::newRow("east of UTC")
            << qint64(1796000000) << 60 << "Mon, 30 Nov 2026 01:53:20 +0100";
        QTest::newRow("west, half hour, day before")
            << qint64(951782400) << -330 << "Mon, 28 Feb 2000 18:30:00 -0530";
        QTest::newRow("leap day") << qint64(951782400) << 0 << "Tue, 29 Feb 2000 00:00:00 +0000";
        QTest::newRow("epoch") << qint64(0) << 0 << "Thu, 1 Jan 1970 00:00:00 +0000";
    }
    void dateText() {
        QFETCH(qint64, utc);
        QFETCH(int, offset);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(TArticleComposer::DateText({utc, offset})), text);
    }

    // A file that cannot be read fails the article and names the problem.
    void missingAttachmentRaises() {
        TArticleRequest request = Request("Pat", "Hello", {"x"});
        request.AttachmentPath = "/nonexistent/file.bin";
        TIpNewsArticle article;
        QVERIFY_THROWS_EXCEPTION(std::exception,
                                 FixedComposer().Compose(request, "alt.test", article));
    }
};

QTEST_GUILESS_MAIN(tst_ArticleComposer)
#include "tst_ArticleComposer.moc"
