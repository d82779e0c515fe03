#include "posting/TArticleComposer.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpHeaderEncoding.h"
#include "mime/TIpMimeHeaders.h"
#include "posting/TCancelLock.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <random>

namespace {
// The UTF-8 forms of U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR.
bool IsUnicodeBreak(std::string_view text, size_t at) {
    return at + 2 < text.size() && text[at] == '\xE2' && text[at + 1] == '\x80' &&
           (text[at + 2] == '\xA8' || text[at + 2] == '\xA9');
}

// A C1 control character (U+0080 to U+009F) in UTF-8.
bool IsC1Control(std::string_view text, size_t at) {
    return at + 1 < text.size() && text[at] == '\xC2' &&
           static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool IsHostLabelCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Days since 1970-01-01 to year, month (1-12), day (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

std::string WithoutDirectory(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}
} // namespace

TArticleComposer::TArticleComposer() : TArticleComposer(SystemTime, SystemRandom) {}

TArticleComposer::TArticleComposer(TClock clock, TRandom random)
    : FClock(std::move(clock)), FRandom(std::move(random)) {}

std::string TArticleComposer::SingleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (IsUnicodeBreak(text, at)) {
            out += ' ';
            at += 2;
        } else if (IsC1Control(text, at)) {
            out += ' ';
            at += 1;
        } else {
            out += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
        }
    }
    return out;
}

std::string_view TArticleComposer::AddressProblem(std::string_view address) {
    const std::string carried = Trimmed(SingleLine(address));
    if (carried.empty())
        return MissingAddressText;
    if (carried.size() > MaxAddressLength)
        return LongAddressText;
    return {};
}

std::vector<std::string> TArticleComposer::BodyLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const std::string& line : lines) {
        size_t start = 0;
        for (size_t at = 0; at < line.size(); ++at) {
            size_t breakLength = 0;
            if (line[at] == '\r')
                breakLength = at + 1 < line.size() && line[at + 1] == '\n' ? 2 : 1;
            else if (line[at] == '\n')
                breakLength = 1;
            else if (IsUnicodeBreak(line, at))
                breakLength = 3;
            if (breakLength == 0)
                continue;
            out.push_back(line.substr(start, at - start));
            at += breakLength - 1;
            start = at + 1;
        }
        out.push_back(start == 0 ? line : line.substr(start));
    }
    return out;
}

std::string TArticleComposer::DateText(const TArticleTime& time) {
    static const char* const Weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int64_t local = time.UtcSeconds + int64_t(time.OffsetMinutes) * 60;
    int64_t days = local / 86400;
    int64_t seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int64_t year = 0;
    unsigned month = 1;
    unsigned day = 1;
    CivilFromDays(days, year, month, day);
    const int64_t weekday = ((days % 7) + 11) % 7; // 1970-01-01 was a Thursday
    const int offset = time.OffsetMinutes < 0 ? -time.OffsetMinutes : time.OffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %u %s %lld %02d:%02d:%02d %c%02d%02d", Weekdays[weekday],
                  day, Months[month - 1], static_cast<long long>(year),
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60), time.OffsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}

std::string TArticleComposer::MessageIdDomain(std::string_view address) {
    const size_t at = address.rfind('@');
    if (at == std::string_view::npos)
        return std::string(FallbackDomain);
    const std::string_view domain = address.substr(at + 1);
    // A host name of two labels at least, of letters, digits and hyphens; short enough that the
    // Message-ID stays within 250 octets.
    bool usable = !domain.empty() && domain.size() <= 200 &&
                  domain.find('.') != std::string_view::npos && domain.front() != '.' &&
                  domain.back() != '.' && domain.find("..") == std::string_view::npos;
    for (const char c : domain)
        usable = usable && (c == '.' || IsHostLabelCharacter(c));
    return usable ? std::string(domain) : std::string(FallbackDomain);
}

TArticleTime TArticleComposer::SystemTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {static_cast<int64_t>(now), static_cast<int>(local.tm_gmtoff / 60)};
}

void TArticleComposer::SystemRandom(uint8_t* bytes, size_t count) {
    std::random_device device;
    for (size_t i = 0; i < count; i += 4) {
        const uint32_t value = device();
        for (size_t j = 0; j < 4 && i + j < count; ++j)
            bytes[i + j] = static_cast<uint8_t>(value >> (8 * j));
    }
}

std::string TArticleComposer::NewRunId() const {
    static const char Hex[] = "0123456789abcdef";
    std::array<uint8_t, MessageIdRandomBytes> random{};
    FRandom(random.data(), random.size());
    std::string id;
    for (const uint8_t b : random) {
        id += Hex[b >> 4];
        id += Hex[b & 15];
    }
    return id;
}

std::string TArticleComposer::NewMessageId(std::string_view address) const {
    return "<" + NewRunId() + "@" + MessageIdDomain(address) + ">";
}

std::string TArticleComposer::RunMessageId(std::string_view address, std::string_view runId,
                                           size_t place) {
    return ArticleMessageId(address, runId, place, 1);
}

std::string TArticleComposer::ArticleMessageId(std::string_view address, std::string_view runId,
                                               size_t place, size_t groups) {
    std::string left = std::string(runId) + "." + std::to_string(place);
    if (groups > 1)
        left += "." + std::to_string(groups);
    const std::string id = "<" + left + "@" + MessageIdDomain(Trimmed(SingleLine(address))) + ">";
    if (id.size() <= MessageIdMaxLength)
        return id;
    return "<" + left + "@" + std::string(FallbackDomain) + ">";
}

std::string TArticleComposer::Compose(const TArticleRequest& request, const std::string& group,
                                      TIpNewsArticle& article) const {
    return Compose(request, group, article, std::string());
}

std::string TArticleComposer::Compose(const TArticleRequest& request, const std::string& group,
                                      TIpNewsArticle& article, const std::string& messageId) const {
    return Compose(request, std::vector<std::string>{group}, article, messageId);
}

std::string TArticleComposer::Compose(const TArticleRequest& request,
                                      const std::vector<std::string>& groups,
                                      TIpNewsArticle& article, const std::string& messageId) const {
    if (const std::string_view problem = AddressProblem(request.Address); !problem.empty())
        throw EIpBaseException(std::string(problem));
    article.NewMessage();
    const std::string address = Trimmed(SingleLine(request.Address));
    const std::string name = Trimmed(SingleLine(request.Name));
    article.PostingHost = request.PostingHost;
    article.Path = {"not-for-mail"};
    article.Newsgroups = {NewsgroupsValue(groups)};
    article.MessageID = messageId.empty() ? NewMessageId(address) : messageId;
    article.Date = DateText(FClock());
    article.From =
        TIpHeaderEncoding::Mailbox(name, address, TIpMimeHeaders::ReadableLineLength - 6);
    article.Sender = address;
    article.Subject = SingleLine(request.Subject);
    article.Organization = SingleLine(request.Organization);
    article.ReplyTo = Trimmed(SingleLine(request.ReplyTo));
    // Group names are not words of text: they go out as they are, never encoded or folded.
    if (const std::string followupTo = FollowupToValue(request.FollowupTo); !followupTo.empty())
        article.UserFields.push_back("Followup-To: " + followupTo);
    TIpMimeHeaders::AddTextHeader(article.UserFields,
                                  "User-Agent: ", Trimmed(SingleLine(request.Newsreader)));
    if (!request.Supersedes.empty())
        article.UserFields.push_back("Supersedes: " + Trimmed(SingleLine(request.Supersedes)));
    if (!request.CancelSecret.empty())
        article.UserFields.push_back("Cancel-Lock: " +
                                     TCancelLock::Lock(request.CancelSecret, article.MessageID));
    if (!request.CancelKey.empty())
        article.UserFields.push_back("Cancel-Key: " + Trimmed(SingleLine(request.CancelKey)));

    const std::vector<std::string> lines = BodyLines(request.BodyLines);
    if (request.AttachmentPath.empty()) {
        article.LoadText(lines);
        return article.MessageID;
    }
    article.PlainTextPart(true)->LoadText(lines);
    AddAttachment(article, request.AttachmentPath);
    return article.MessageID;
}

std::string TArticleComposer::ComposeCancel(const TArticleRequest& request,
                                            const std::vector<std::string>& groups,
                                            const std::string& withdrawn, TIpNewsArticle& article,
                                            const std::string& messageId) const {
    const std::string target = Trimmed(SingleLine(withdrawn));
    TArticleRequest cancel;
    cancel.Name = request.Name;
    cancel.Address = request.Address;
    cancel.Organization = request.Organization;
    cancel.Newsreader = request.Newsreader;
    cancel.PostingHost = request.PostingHost;
    cancel.Subject = "cmsg cancel " + target;
    cancel.BodyLines = {"This message withdraws " + target + "."};
    if (!request.CancelSecret.empty())
        cancel.CancelKey = TCancelLock::Key(request.CancelSecret, target);
    const std::string id = Compose(cancel, groups, article, messageId);
    article.UserFields.insert(article.UserFields.begin(), "Control: cancel " + target);
    return id;
}

std::string TArticleComposer::NewsgroupsValue(const std::vector<std::string>& groups) {
    std::string value;
    for (const std::string& group : groups)
        value += (value.empty() ? "" : ",") + group;
    return value;
}

std::vector<std::vector<size_t>> TArticleComposer::Batches(size_t groupCount, size_t perArticle) {
    perArticle = std::max<size_t>(perArticle, 1);
    std::vector<std::vector<size_t>> batches;
    for (size_t first = 0; first < groupCount; first += perArticle) {
        std::vector<size_t>& batch = batches.emplace_back();
        for (size_t group = first; group < std::min(groupCount, first + perArticle); ++group)
            batch.push_back(group);
    }
    return batches;
}

std::string TArticleComposer::FollowupToValue(std::string_view typed) {
    std::string value;
    std::string name;
    const auto endName = [&] {
        if (name.empty())
            return;
        value += (value.empty() ? "" : ",") + name;
        name.clear();
    };
    for (const char c : SingleLine(typed)) {
        if (c == ',')
            endName();
        else if (c != ' ' && c != '\t')
            name += c;
    }
    endName();
    return value;
}

void TArticleComposer::AddAttachment(TIpNewsArticle& article, const std::string& path) {
    TIpMimeEntity* part = article.AddChild();
    part->DispositionType = "Attachment";
    part->LoadFromFile(path);
    // Set after loading, which names the part by the path as it stands.
    const std::string fileName = SingleLine(WithoutDirectory(path));
    part->ContentName = fileName;
    part->FileName = fileName;
}
