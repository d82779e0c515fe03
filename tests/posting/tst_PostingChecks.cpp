// What the checks before a posting run find: one row per thing a user gets wrong, each starting
// from a run they find nothing in.

#include "posting/TPostingChecks.h"

#include <QTest>

#include <algorithm>
#include <functional>
#include <optional>

namespace {
// A change to a run the checks find nothing in; `server` is the server's list once fetched.
using R = TNewsRequest;
using TEdit = std::function<void(R& r, std::optional<std::vector<std::string>>& server)>;

std::vector<std::string> Numbered(int count) {
    std::vector<std::string> groups;
    for (int i = 1; i <= count; ++i)
        groups.push_back("test.g" + std::to_string(i));
    return groups;
}

TEdit Named(std::vector<std::string> groups) {
    return [=](R& r, auto&) { r.Groups = groups; };
}

TEdit Groups(int count, int perArticle, const char* followupTo = "") {
    return [=](R& r, auto&) {
        r.Groups = Numbered(count);
        r.GroupsPerArticle = perArticle;
        r.Article.FollowupTo = followupTo;
    };
}
} // namespace

Q_DECLARE_METATYPE(TEdit)

class tst_PostingChecks : public QObject {
    Q_OBJECT
private slots:
    void findings_data() {
        QTest::addColumn<TEdit>("edit");
        QTest::addColumn<QStringList>("found");
        const auto row = [](const char* name, TEdit edit, QStringList found) {
            QTest::newRow(name) << edit << found;
        };
        const std::string readable = HERALDIX_SOURCE_DIR "/README.md";
        row("nothing wrong", [](R&, auto&) {}, {});
        row("blank subject", [](R& r, auto&) { r.Article.Subject = " \t"; },
            {"error: You haven't entered a subject"});
        row("no address", [](R& r, auto&) { r.Article.Address = " "; },
            {"error: You haven't entered an email address"});
        row("address with a blank", [](R& r, auto&) { r.Article.Address = "p q@x.org"; },
            {"error: \"p q@x.org\" is not an email address (local@domain, without blanks)"});
        row("attachment missing", [](R& r, auto&) { r.Article.AttachmentPath = "/no"; },
            {"error: Cannot read the attachment /no"});
        row("attachment a directory", [](R& r, auto&) { r.Article.AttachmentPath = "/"; },
            {"error: Cannot read the attachment /"});
        row("no groups", Named({}), {"error: You haven't selected any groups to post to"});
        row("group names that cannot be", Named({"a b", "a,b", "a\x01", ""}),
            {"error: \"a b\" is no group name", "error: \"a,b\" is no group name",
             "error: \"a\\x01\" is no group name", "error: \"\" is no group name"});
        row("Followup-To names", Groups(1, 1, " poster, a.b , bad name,"),
            {"error: Followup-To: \"bad name\" is no group name"});
        row("empty body, after the errors",
            [](R& r, auto&) {
                r.Article.BodyLines = {"", " "};
                r.Groups.clear();
            },
            {"error: You haven't selected any groups to post to",
             "warning: The message body is empty"});
        row("empty body with an attachment",
            [readable](R& r, auto&) {
                r.Article.BodyLines.clear();
                r.Article.AttachmentPath = readable;
            },
            {});
        row("group twice", Named({"x", "y", "x", "x"}),
            {"warning: x is in the list more than once; each group is posted once"});
        row("groups not on the server, ten named",
            [](R& r, auto& server) {
                r.Groups = Numbered(13);
                server = {"test.g9", "test.g0", "test.g2"};
            },
            {"warning: 11 groups are not in the server's list: test.g1, test.g3, test.g4, "
             "test.g5, test.g6, test.g7, test.g8, test.g10, test.g11, test.g12 and 1 more"});
        row("twenty separate copies", Groups(20, 1), {});
        row("twenty-one separate copies", Groups(21, 1),
            {"warning: Posting the same text separately to 21 groups is treated as spam by many "
             "servers; cross-posting sends one article to several groups"});
        row("cross-post to three without Followup-To", Groups(30, 3),
            {"warning: A cross-post to 3 groups without Followup-To sends the replies to every "
             "one of them; Followup-To names where they should go"});
        row("cross-post to three with Followup-To", Groups(30, 3, "test.g1"), {});
        row("cross-post to two", Groups(2, 5), {});
    }
    void findings() {
        QFETCH(TEdit, edit);
        QFETCH(QStringList, found);
        TNewsRequest request;
        request.Groups = {"a.one"};
        request.Article.Subject = "Subject";
        request.Article.Address = "p@example.com";
        request.Article.BodyLines = {"Text."};
        std::optional<std::vector<std::string>> server;
        edit(request, server);
        QStringList findings;
        for (const TPostingFinding& finding :
             TPostingChecks::Check(request, server ? [&server](const std::string& group) {
                 return std::find(server->begin(), server->end(), group) != server->end();
             } : TPostingChecks::TKnownGroup()))
            findings << QString::fromStdString((finding.IsError() ? "error: " : "warning: ") +
                                               finding.Text);
        QCOMPARE(findings, found);
    }

    void addresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("fit");
        for (const char* fit : {"p@example.com", " p@example.com ", "first.last+tag@x.org",
                                "p@localhost", "\"odd..name\"@x.org", "\"a\\\"b\"@x.org",
                                "p@[192.0.2.1]", "j\xc3\xbcrg@b\xc3\xbc.de"})
            QTest::newRow(fit) << QString::fromUtf8(fit) << true;
        for (const char* unfit : {"poster", "@x.org", "p@", "p@@x.org", ".p@x.org", "p.@x.org",
                                  "a..b@x.org", "p@x..org", "p@.x.org", "p@x.org.", "p q@x.org",
                                  "p@x\t.org", "p@x\n.org", "Pat <p@x.org>", "p(c)@x.org",
                                  "\"a b\"@x.org", "\"a\"b@x.org", "p@[1.2.3.4", "p@x.org,q@y.org"})
            QTest::newRow(unfit) << QString::fromUtf8(unfit) << false;
    }
    void addresses() {
        QFETCH(QString, address);
        QFETCH(bool, fit);
        QCOMPARE(TPostingChecks::AddressProblem(address.toStdString()).empty(), fit);
    }
};

QTEST_APPLESS_MAIN(tst_PostingChecks)
#include "tst_PostingChecks.moc"
