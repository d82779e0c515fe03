#include "posting/TPostingChecks.h"

#include "nntp/TIpVisibleText.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

namespace {
using TKind = TPostingFinding::TKind;

std::string Quoted(std::string_view text) {
    return "\"" + VisibleText(text) + "\"";
}

std::string Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// RFC 5322's atext, and any byte of a UTF-8 sequence (RFC 6532).
bool IsAtext(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           byte >= 0x80 || std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

bool IsDotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string_view::npos)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || IsAtext(c); });
}

bool IsBlankOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

// A quoted local part without blanks: a quote or backslash inside it only escaped.
bool IsQuotedString(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return false;
    for (size_t at = 1; at + 1 < text.size(); ++at) {
        if (IsBlankOrControl(text[at]) || text[at] == '"')
            return false;
        if (text[at] == '\\' && (++at + 1 >= text.size() || IsBlankOrControl(text[at])))
            return false;
    }
    return true;
}

bool IsDomainLiteral(std::string_view text) {
    if (text.size() < 3 || text.front() != '[' || text.back() != ']')
        return false;
    return std::none_of(text.begin() + 1, text.end() - 1, [](char c) {
        return IsBlankOrControl(c) || c == '[' || c == ']' || c == '\\';
    });
}

bool IsAddrSpec(std::string_view address) {
    size_t at = std::string_view::npos;
    if (address.starts_with('"')) {
        // The local part's closing quote: the first one no backslash escapes.
        for (size_t i = 1; i < address.size(); ++i) {
            if (address[i] == '\\')
                ++i;
            else if (address[i] == '"') {
                at = i + 1;
                break;
            }
        }
    } else {
        at = address.find('@');
    }
    if (at == std::string_view::npos || at >= address.size() || address[at] != '@')
        return false;
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    return (IsDotAtom(local) || IsQuotedString(local)) &&
           (IsDotAtom(domain) || IsDomainLiteral(domain));
}

bool Readable(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && std::ifstream(path).is_open();
}

bool IsBlankBody(const std::vector<std::string>& lines) {
    return std::all_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find_first_not_of(" \t\r\n") == std::string::npos;
    });
}

// "a, b, c" of the names, the first NamesShown of them, and how many more there are.
std::string NameList(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < TPostingChecks::NamesShown; ++i)
        text += (i == 0 ? "" : ", ") + VisibleText(names[i]);
    if (names.size() > TPostingChecks::NamesShown)
        text += " and " + std::to_string(names.size() - TPostingChecks::NamesShown) + " more";
    return text;
}

std::string Groups(size_t count) {
    return std::to_string(count) + (count == 1 ? " group" : " groups");
}

// The names of a Followup-To as typed: divided by commas, blanks around a name not counted.
std::vector<std::string> FollowupToNames(std::string_view typed) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= typed.size()) {
        const size_t end = std::min(typed.find(',', start), typed.size());
        const std::string_view name = typed.substr(start, end - start);
        const size_t first = name.find_first_not_of(" \t");
        if (first != std::string_view::npos)
            names.emplace_back(name.substr(first, name.find_last_not_of(" \t") - first + 1));
        start = end + 1;
    }
    return names;
}
} // namespace

bool TPostingFinding::IsError() const {
    switch (Kind) {
    case TKind::NoSubject:
    case TKind::BadAddress:
    case TKind::UnreadableAttachment:
    case TKind::NoGroups:
    case TKind::BadGroupName:
    case TKind::BadFollowupTo:
        return true;
    case TKind::EmptyBody:
    case TKind::RepeatedGroups:
    case TKind::UnknownGroups:
    case TKind::ManySeparateCopies:
    case TKind::CrossPostWithoutFollowupTo:
        return false;
    }
    return true;
}

bool TPostingChecks::IsPostableGroupName(std::string_view name) {
    return !name.empty() && std::none_of(name.begin(), name.end(),
                                         [](char c) { return IsBlankOrControl(c) || c == ','; });
}

std::string TPostingChecks::AddressProblem(std::string_view address) {
    if (const std::string_view problem = TArticleComposer::AddressProblem(address);
        !problem.empty())
        return std::string(problem);
    // As the article carries it: line breaks pasted in become blanks, and blanks are no part of
    // an address.
    const std::string carried = Trimmed(TArticleComposer::SingleLine(address));
    if (IsAddrSpec(carried))
        return {};
    return Quoted(carried) + " is not an email address (local@domain, without blanks)";
}

std::vector<std::string> TPostingChecks::WithoutRepeats(const std::vector<std::string>& groups) {
    std::vector<std::string> kept;
    kept.reserve(groups.size());
    std::unordered_set<std::string_view> seen;
    for (const std::string& group : groups)
        if (seen.insert(group).second)
            kept.push_back(group);
    return kept;
}

bool TPostingChecks::HasErrors(const std::vector<TPostingFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const TPostingFinding& finding) { return finding.IsError(); });
}

bool TPostingChecks::OffersCrossPost(const std::vector<TPostingFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(), [](const TPostingFinding& finding) {
        return finding.Kind == TKind::ManySeparateCopies;
    });
}

std::vector<TPostingFinding> TPostingChecks::Check(const TNewsRequest& request,
                                                   const TKnownGroup& knownGroup) {
    std::vector<TPostingFinding> found;
    const auto add = [&found](TKind kind, std::string text) {
        found.push_back({kind, std::move(text)});
    };
    const TArticleRequest& article = request.Article;
    if (Trimmed(TArticleComposer::SingleLine(article.Subject)).empty())
        add(TKind::NoSubject, "You haven't entered a subject");
    if (std::string problem = AddressProblem(article.Address); !problem.empty())
        add(TKind::BadAddress, std::move(problem));
    if (!article.AttachmentPath.empty() && !Readable(article.AttachmentPath))
        add(TKind::UnreadableAttachment, "Cannot read the attachment " + article.AttachmentPath);
    if (request.Groups.empty())
        add(TKind::NoGroups, "You haven't selected any groups to post to");
    for (const std::string& group : request.Groups)
        if (!IsPostableGroupName(group))
            add(TKind::BadGroupName, Quoted(group) + " is no group name");
    for (const std::string& name : FollowupToNames(article.FollowupTo))
        if (!IsPostableGroupName(name))
            add(TKind::BadFollowupTo, "Followup-To: " + Quoted(name) + " is no group name");

    // The warnings, after every error. An article with an attachment has a body of its own.
    if (article.AttachmentPath.empty() && IsBlankBody(article.BodyLines))
        add(TKind::EmptyBody, "The message body is empty");
    const std::vector<std::string> groups = WithoutRepeats(request.Groups);
    if (groups.size() < request.Groups.size()) {
        std::vector<std::string> repeated;
        std::unordered_set<std::string_view> seen;
        for (const std::string& group : request.Groups)
            if (!seen.insert(group).second &&
                std::find(repeated.begin(), repeated.end(), group) == repeated.end())
                repeated.push_back(group);
        add(TKind::RepeatedGroups, NameList(repeated) + (repeated.size() == 1 ? " is" : " are") +
                                       " in the list more than once; each group is posted once");
    }
    if (knownGroup) {
        std::vector<std::string> names;
        std::copy_if(groups.begin(), groups.end(), std::back_inserter(names),
                     [&knownGroup](const std::string& group) { return !knownGroup(group); });
        if (!names.empty())
            add(TKind::UnknownGroups, Groups(names.size()) + (names.size() == 1 ? " is" : " are") +
                                          " not in the server's list: " + NameList(names));
    }
    const size_t perArticle = static_cast<size_t>(std::max(request.GroupsPerArticle, 1));
    if (perArticle == 1 && groups.size() > MaxSeparateCopies)
        add(TKind::ManySeparateCopies,
            "Posting the same text separately to " + std::to_string(groups.size()) +
                " groups is treated as spam by many servers; cross-posting sends one article to "
                "several groups");
    const size_t widest = std::min(perArticle, groups.size());
    if (perArticle > 1 && widest > MaxGroupsWithoutFollowupTo &&
        TArticleComposer::FollowupToValue(article.FollowupTo).empty())
        add(TKind::CrossPostWithoutFollowupTo,
            "A cross-post to " + std::to_string(widest) +
                " groups without Followup-To sends the replies to every one of them; "
                "Followup-To names where they should go");
    return found;
}
