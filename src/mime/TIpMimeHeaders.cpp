#include "mime/TIpMimeHeaders.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpHeaderEncoding.h"

#include <algorithm>
#include <iterator>

namespace {
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
void AddLine(std::vector<std::string>& list, std::string_view head, std::string_view body,
             std::string_view tail) {
    std::string line;
    line.reserve(head.size() + body.size() + tail.size());
    line.append(head).append(body).append(tail);
    list.push_back(std::move(line));
}

bool IsContinuation(const std::string& line) {
    return line.empty() || line.front() == ' ' || line.front() == '\t';
}

void RefuseLineBreak(std::string_view name, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos)
        throw EIpBaseException("A header value cannot hold a line break: " +
                               std::string(name.empty() ? value.substr(0, value.find(':')) : name));
}

// Where the line that begins at start ends when folded at width: before the last blank that
// leaves it at most width long and not blank only, else before the first blank after that;
// npos when the rest fits or cannot be broken.
size_t FoldPoint(const std::string& text, size_t start, size_t firstCandidate, size_t width) {
    if (text.size() - start <= width)
        return std::string::npos;
    size_t point = std::string::npos;
    for (size_t at = std::max(start + 1, firstCandidate); at < text.size(); ++at) {
        if (at - start > width && point != std::string::npos)
            break;
        if (text[at] != ' ' || text[at - 1] == ' ')
            continue;
        point = at;
        if (at - start > width)
            break;
    }
    // A continuation line of blanks alone would read as the end of the header block to some.
    if (point != std::string::npos && text.find_first_not_of(' ', point) == std::string::npos)
        return std::string::npos;
    return point;
}
} // namespace

void TIpMimeHeaders::AddHeader(TStrings& list, std::string_view name, std::string_view value) {
    if (value.empty())
        return;
    RefuseLineBreak(name, value);
    std::string line;
    line.reserve(name.size() + value.size());
    line.append(name).append(value);
    list.push_back(std::move(line));
}

void TIpMimeHeaders::AddFoldedHeader(TStrings& list, std::string_view name, std::string_view value,
                                     size_t width) {
    if (value.empty())
        return;
    RefuseLineBreak(name, value);
    std::string text;
    text.reserve(name.size() + value.size());
    text.append(name).append(value);
    size_t start = 0;
    for (;;) {
        const size_t point = FoldPoint(text, start, start == 0 ? name.size() : start + 1, width);
        if (point == std::string::npos)
            break;
        list.push_back(text.substr(start, point - start));
        start = point;
    }
    list.push_back(text.substr(start));
}

void TIpMimeHeaders::AddTextHeader(TStrings& list, std::string_view name, std::string_view text) {
    if (!TIpHeaderEncoding::NeedsEncoding(text)) {
        TStrings folded;
        AddFoldedHeader(folded, name, text, MaxLineLength);
        // A word too long for any line is split across encoded-words instead (RFC 2047 allows
        // it), which readers join again.
        if (std::all_of(folded.begin(), folded.end(),
                        [](const std::string& line) { return line.size() <= MaxLineLength; })) {
            list.insert(list.end(), std::make_move_iterator(folded.begin()),
                        std::make_move_iterator(folded.end()));
            return;
        }
    }
    const size_t room =
        name.size() < ReadableLineLength ? ReadableLineLength - name.size() : size_t(0);
    AddFoldedHeader(list, name, TIpHeaderEncoding::EncodedWords(text, room), ReadableLineLength);
}

void TIpMimeHeaders::AddListHeader(TStrings& list, std::string_view name, const TStrings& items,
                                   bool linePerItem, std::string_view separator) {
    if (items.empty())
        return;
    for (const std::string& item : items)
        RefuseLineBreak(name, item);
    std::string current(name);
    // A line is folded only after an item: a fold before the first one leaves the header's first
    // line without content, and news servers refuse such a Newsgroups header.
    bool itemOnLine = false;
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string& item = items[i];
        if (itemOnLine && current.size() + item.size() > FoldWidth) {
            list.push_back(current);
            current.assign(1, '\t');
        }
        current += item;
        itemOnLine = true;
        if (i + 1 < items.size()) {
            current.append(separator).push_back(' ');
            if (linePerItem) {
                list.push_back(current);
                current.assign(1, '\t');
                itemOnLine = false;
            }
        }
    }
    list.push_back(std::move(current));
}

void TIpMimeHeaders::AddRepeatedHeader(TStrings& list, std::string_view name, const TStrings& items,
                                       bool split, char delimiter) {
    for (const std::string& item : items) {
        RefuseLineBreak(name, item);
        if (!split) {
            AddLine(list, name, item, {});
            continue;
        }
        TStrings pieces;
        SplitValue(item, delimiter, pieces);
        for (size_t i = 0; i < pieces.size(); ++i) {
            const char tail[1] = {delimiter};
            AddLine(list, i == 0 ? name : std::string_view("\t"), pieces[i],
                    i + 1 < pieces.size() ? std::string_view(tail, 1) : std::string_view());
        }
    }
}

void TIpMimeHeaders::SplitValue(std::string_view text, char delimiter, TStrings& pieces) {
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(delimiter, start);
        if (end == std::string_view::npos)
            break;
        std::string piece = Trim(text.substr(start, end - start));
        if (!piece.empty())
            pieces.push_back(std::move(piece));
        start = end + 1;
    }
    // The rest counts when it holds a character, even one that trims away.
    if (start < text.size())
        pieces.push_back(Trim(text.substr(start)));
}

std::string TIpMimeHeaders::ParamValue(std::string_view prefix, const TStrings& items) {
    for (const std::string& item : items) {
        if (!StartsText(item, prefix))
            continue;
        std::string value = item.substr(prefix.size());
        value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
        return value;
    }
    return {};
}

bool TIpMimeHeaders::HeaderLines(std::string_view name, const TStrings& headers, TStrings& lines) {
    lines.clear();
    for (size_t i = 0; i < headers.size(); ++i) {
        if (!StartsText(headers[i], name))
            continue;
        lines.push_back(headers[i].substr(name.size()));
        for (size_t j = i + 1; j < headers.size() && IsContinuation(headers[j]); ++j)
            lines.push_back(headers[j]);
        return true;
    }
    return false;
}

std::string TIpMimeHeaders::HeaderValue(std::string_view name, const TStrings& headers) {
    TStrings lines;
    HeaderLines(name, headers, lines);
    std::string value;
    for (const std::string& line : lines)
        value += line;
    return value;
}

bool TIpMimeHeaders::StartsText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool TIpMimeHeaders::SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string TIpMimeHeaders::Trim(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return std::string(text.substr(first, last - first));
}
