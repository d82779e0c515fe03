// Reply lines as the NNTP client reads them: units of the data socket joined into whole lines,
// and the group name a LIST line begins with.

#include "NntpTestText.h"
#include "nntp/TIpGroupName.h"
#include "nntp/TIpReplyLineJoiner.h"
#include "nntp/TIpVisibleText.h"

#include <QTest>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

static constexpr size_t Max = TIpReplyLineJoiner::MaxLineLength;

// A long line is shown by its length, so a failure stays readable.
static std::string Shown(const std::string& line) {
    return line.size() > 40 ? "<" + std::to_string(line.size()) + " bytes>" : line;
}

// Joins the units in order and tells what came out: lines, "too long", and what the end of the
// connection still held ("end: ...").
static Lines JoinAll(const Lines& units) {
    TIpReplyLineJoiner joiner;
    Lines out;
    std::string line;
    for (const std::string& unit : units) {
        std::string_view rest = unit;
        do {
            std::string storage;
            std::string_view whole;
            switch (joiner.Join(rest, storage, whole, rest)) {
            case TIpJoinedLine::jlNone:
                break;
            case TIpJoinedLine::jlWhole:
                out.push_back(Shown(std::string(whole)));
                break;
            case TIpJoinedLine::jlTooLong:
                out.push_back("too long");
                break;
            }
        } while (!rest.empty());
    }
    if (joiner.Flush(line))
        out.push_back("end: " + Shown(line));
    return out;
}

class tst_ReplyLines : public QObject {
    Q_OBJECT

private slots:
    void joinsUnitsIntoLines_data() {
        QTest::addColumn<Lines>("units");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("whole lines") << Lines{"200 ready\r\n", "\r\n"} << Lines{"200 ready", ""};
        QTest::newRow("a line in three pieces")
            << Lines{"340 se", "nd it", " now\r\n", "240 ok\r\n"}
            << Lines{"340 send it now", "240 ok"};
        QTest::newRow("CR ends one piece, LF starts the next")
            << Lines{"215 list\r", "\nalt.test 1 1 y\r\n"} << Lines{"215 list", "alt.test 1 1 y"};
        QTest::newRow("CR ends one piece, the next is the LF alone")
            << Lines{"215 list\r", "\n"} << Lines{"215 list"};
        QTest::newRow("CR at a piece's end, no LF after it: data")
            << Lines{"a\r", "b\r\n"} << Lines{"a\rb"};
        QTest::newRow("bare LF inside a line") << Lines{"a\nb\r\n"} << Lines{"a\nb"};
        QTest::newRow("LF opening a unit with nothing held: data")
            << Lines{"\nx\r\n"} << Lines{"\nx"};
        QTest::newRow("unfinished last line is held to the end")
            << Lines{"205 bye\r\n", "205 aga", "in"} << Lines{"205 bye", "end: 205 again"};
        QTest::newRow("exactly the longest line") << Lines{std::string(Max - 1, 'a'), "b\r\n"}
                                                  << Lines{"<" + std::to_string(Max) + " bytes>"};
        QTest::newRow("one byte over: dropped to its end, the next line kept")
            << Lines{std::string(Max, 'a'), "bb", "cc\r\n", "next\r\n"}
            << Lines{"too long", "next"};
        QTest::newRow("over the bound in one unit with its end")
            << Lines{std::string(Max + 1, 'a') + "\r\n", "next\r\n"} << Lines{"too long", "next"};
        QTest::newRow("dropped line ends across a CR LF split")
            << Lines{std::string(Max + 1, 'a') + "\r", "\nnext\r\n"} << Lines{"too long", "next"};
        QTest::newRow("dropped line never ends: nothing held at the end")
            << Lines{std::string(Max + 1, 'a'), "more"} << Lines{"too long"};
    }
    void joinsUnitsIntoLines() {
        QFETCH(Lines, units);
        QFETCH(Lines, lines);
        QCOMPARE(JoinAll(units), lines);
    }

    void groupNameOfListLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("name and counts")
            << QByteArray("misc.test 3000 2000 y") << QByteArray("misc.test");
        QTest::newRow("no blank: the whole line") << QByteArray("nospace") << QByteArray("nospace");
        QTest::newRow("tab ends the name")
            << QByteArray("alt.test\t1 1 y") << QByteArray("alt.test");
        QTest::newRow("UTF-8 name")
            << QByteArray("de.t\xc3\xa4st 1 1 y") << QByteArray("de.t\xc3\xa4st");
        QTest::newRow("control characters after the name")
            << QByteArray("a.b 1\x01 1 y") << QByteArray("a.b");
        QTest::newRow("empty line") << QByteArray("") << QByteArray();
        QTest::newRow("leading blank: empty name")
            << QByteArray(" misc.test 1 1 y") << QByteArray();
        QTest::newRow("NUL in the name") << QByteArray("bad\0name 1 1 y", 14) << QByteArray();
        QTest::newRow("CR in the name") << QByteArray("bad\rname") << QByteArray();
        QTest::newRow("LF in the name") << QByteArray("bad\nname 1 1 y") << QByteArray();
        QTest::newRow("escape in the name") << QByteArray("bad\x1bname") << QByteArray();
        QTest::newRow("DEL in the name") << QByteArray("bad\x7f") << QByteArray();
    }
    void groupNameOfListLine() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, name);
        const std::string_view found =
            ListLineGroupName(std::string_view(line.constData(), static_cast<size_t>(line.size())));
        QCOMPARE(QByteArray(found.data(), static_cast<qsizetype>(found.size())), name);
    }

    // A server's text as it is shown: nothing in it a terminal or a text view would act on.
    void visibleText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("keepLineFeeds");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("printable, TAB and UTF-8 as they are")
            << QByteArray("a\tb \xc3\xa9 \xe6\x97\xa5") << false
            << QByteArray("a\tb \xc3\xa9 \xe6\x97\xa5");
        QTest::newRow("C0 and DEL")
            << QByteArray("\x1b[2J\0\r\x7f", 7) << false << QByteArray("\\x1b[2J\\x00\\x0d\\x7f");
        QTest::newRow("C1 as a character and as a stray byte")
            << QByteArray("\xc2\x9bm \x9b") << false << QByteArray("\\u009bm \\x9b");
        QTest::newRow("line and paragraph separators")
            << QByteArray("a\xe2\x80\xa8z\xe2\x80\xa9") << false << QByteArray("a\\u2028z\\u2029");
        QTest::newRow("other bad UTF-8 left to the view")
            << QByteArray("\xff\xc3(\xed\xa0\x80") << false << QByteArray("\xff\xc3(\xed\xa0\\x80");
        QTest::newRow("line feed escaped") << QByteArray("a\nb") << false << QByteArray("a\\x0ab");
        QTest::newRow("line feed kept") << QByteArray("a\nb") << true << QByteArray("a\nb");
    }
    void visibleText() {
        QFETCH(QByteArray, text);
        QFETCH(bool, keepLineFeeds);
        QFETCH(QByteArray, shown);
        const std::string out = VisibleText(
            text.toStdString(), keepLineFeeds ? TIpLineFeeds::Kept : TIpLineFeeds::Escaped);
        QCOMPARE(QByteArray::fromStdString(out), shown);
    }
};

QTEST_APPLESS_MAIN(tst_ReplyLines)
#include "tst_ReplyLines.moc"
