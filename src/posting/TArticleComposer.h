#pragma once

#include "mime/TIpNewsArticle.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What the user wrote for a posting run, as the window, the wizard or the command line hands it
// over; all text UTF-8.
struct TArticleRequest {
    std::string Name;
    std::string Address;
    std::string Organization;
    std::string Newsreader;
    std::string Subject;
    std::vector<std::string> BodyLines;
    // The file to attach, as the file system names it; empty for none.
    std::string AttachmentPath;
    std::string PostingHost;
    // Where replies should go: group names divided by commas, or "poster"; empty for none.
    std::string FollowupTo;
    // The address replies by mail should go to; empty for none.
    std::string ReplyTo;
    // The user's Cancel-Lock secret (TCancelLock): every article then carries the lock made
    // from it and its own Message-ID, so that the user alone can withdraw it later. Empty: no
    // Cancel-Lock. The run journal never writes it; a resumed run is handed it afresh.
    std::string CancelSecret;
    // The Cancel-Key of the article this one withdraws or replaces ("sha256:..."); empty for none.
    std::string CancelKey;
    // The Message-ID of the article this one replaces; empty for none.
    std::string Supersedes;
};

// A moment as an article's Date gives it: the time and the local offset from UTC.
struct TArticleTime {
    int64_t UtcSeconds = 0;
    int OffsetMinutes = 0;
};

// Composes the article for one group of a run from a request, so that every caller sends the
// same bytes. The article carries the poster's identity: its own Date and Message-ID, a From
// with the sender's name, and "Path: not-for-mail", to which each server adds its own name.
//
// Text that reaches a header on a single line (subject, name, address, organization,
// newsreader, attachment name) has its line breaks and other control characters replaced by
// blanks first: a typed or pasted line end would otherwise end the header line, or the header
// block, early. The body is cut into lines at every line break, U+2028 and U+2029 included.
// Without an attachment the article is one text/plain entity; with one, multipart/mixed.
class TArticleComposer {
public:
    using TClock = std::function<TArticleTime()>;
    using TRandom = std::function<void(uint8_t* bytes, size_t count)>;

    // Why an address cannot go into an article; what the Message page says of a missing one.
    static constexpr std::string_view MissingAddressText = "You haven't entered an email address";
    static constexpr std::string_view LongAddressText =
        "The address is too long for a news article";
    // An address cannot be encoded or folded, and Sender carries it alone on its line.
    static constexpr size_t MaxAddressLength = 998 - std::string_view("Sender: ").size();

    // Random bits in a Message-ID: enough that no two articles ever share one.
    static constexpr size_t MessageIdRandomBytes = 16;
    // The longest Message-ID a server must take (RFC 5536 §3.1.3).
    static constexpr size_t MessageIdMaxLength = 250;
    // The right-hand side when the address gives no usable domain.
    static constexpr std::string_view FallbackDomain = "heraldix.invalid";

    // The system clock and the system's random source.
    TArticleComposer();
    TArticleComposer(TClock clock, TRandom random);

    // Fills article afresh for group and returns its Message-ID (also in article.MessageID).
    // Raises what reading the attachment raises, and AddressProblem's text.
    std::string Compose(const TArticleRequest& request, const std::string& group,
                        TIpNewsArticle& article) const;
    // The same under messageId, for an article that may already be on the server: posted again
    // under its own Message-ID, a server that has it refuses it instead of showing it twice.
    std::string Compose(const TArticleRequest& request, const std::string& group,
                        TIpNewsArticle& article, const std::string& messageId) const;
    // One article for all of groups (a cross-post: its Newsgroups header lists them in order).
    std::string Compose(const TArticleRequest& request, const std::vector<std::string>& groups,
                        TIpNewsArticle& article, const std::string& messageId) const;

    // The cancel control message that withdraws the article `withdrawn` from groups: "Control:
    // cancel <id>", "Subject: cmsg cancel <id>", from the request's sender, with the Cancel-Key
    // for `withdrawn` made from the request's CancelSecret (none without one: a server that
    // requires it then keeps the article). The cancel itself carries no lock; the request's
    // subject, body, attachment and follow-up choices are not the cancel's.
    std::string ComposeCancel(const TArticleRequest& request,
                              const std::vector<std::string>& groups, const std::string& withdrawn,
                              TIpNewsArticle& article, const std::string& messageId) const;

    // The articles of a run that puts up to perArticle groups into each: the groups' indexes
    // (from 0, in the user's order) batch by batch. perArticle 1 (or 0) is one group each.
    static std::vector<std::vector<size_t>> Batches(size_t groupCount, size_t perArticle);
    // The Newsgroups header's value: the names divided by commas alone. An article carries it as
    // its one Newsgroups item, since a list header would put each name on a line of its own
    // after a comma and a blank.
    static std::string NewsgroupsValue(const std::vector<std::string>& groups);
    // The Followup-To header's value for what the user typed: the names without blanks,
    // divided by single commas, empty names dropped.
    static std::string FollowupToValue(std::string_view typed);

    // Appends the file at path to article as an attachment part, typed by its extension and
    // named by its file name (as a single line). Raises when the file cannot be read.
    static void AddAttachment(TIpNewsArticle& article, const std::string& path);

    // MissingAddressText or LongAddressText when the address, as the article would carry it,
    // is empty or too long for its header line; empty when it will do.
    static std::string_view AddressProblem(std::string_view address);
    // text with CR, LF, U+2028, U+2029 and every other control character as a blank.
    static std::string SingleLine(std::string_view text);
    // The lines of a body whose lines may themselves hold line breaks.
    static std::vector<std::string> BodyLines(const std::vector<std::string>& lines);
    // "Tue, 8 Dec 2026 01:02:03 +0100", in English whatever the locale.
    static std::string DateText(const TArticleTime& time);
    // The domain of an address when it is a usable host name, else FallbackDomain.
    static std::string MessageIdDomain(std::string_view address);
    // A run's random part: MessageIdRandomBytes random bytes in lower-case hex.
    std::string NewRunId() const;
    // The Message-ID of the group at `place` (from 0) in the run `runId`, the same whenever it is
    // asked: a run resumed after its journal lost the line that named an article computes the
    // Message-ID that article went out under, and can ask the server for it.
    static std::string RunMessageId(std::string_view address, std::string_view runId, size_t place);
    // The Message-ID of a run's article to `groups` groups, the first of them at `place`: that of
    // RunMessageId for one group, "<runId.place.groups@domain>" for a cross-post. The groups of
    // two articles of a run are either apart or one within the other (a cross-post the server
    // refused is posted again in parts), so no two articles share their first group and count.
    static std::string ArticleMessageId(std::string_view address, std::string_view runId,
                                        size_t place, size_t groups);

    static TArticleTime SystemTime();
    static void SystemRandom(uint8_t* bytes, size_t count);

private:
    std::string NewMessageId(std::string_view address) const;

    TClock FClock;
    TRandom FRandom;
};
