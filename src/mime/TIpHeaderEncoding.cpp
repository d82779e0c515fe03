#include "mime/TIpHeaderEncoding.h"

#include <algorithm>

namespace {
const char Hex[] = "0123456789ABCDEF";
const std::string_view WordStart = "=?UTF-8?Q?";
const std::string_view WordEnd = "?=";

bool IsAlphaNumeric(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// What a display name may hold outside quotes: letters, digits and the other atom characters.
bool IsAtomText(unsigned char c) {
    return IsAlphaNumeric(c) ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
               std::string_view::npos;
}

// Inside an encoded-word of a display name only these stand for themselves.
bool IsQLiteral(unsigned char c) {
    return IsAlphaNumeric(c) || c == '!' || c == '*' || c == '+' || c == '-' || c == '/';
}

// The bytes of the UTF-8 character that begins at text[at]; a stray byte counts alone.
size_t CharacterLength(std::string_view text, size_t at) {
    size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80 && length < 4)
        ++length;
    return length;
}

void AppendQ(std::string& out, unsigned char c) {
    if (c == ' ') {
        out += '_';
    } else if (IsQLiteral(c)) {
        out += static_cast<char>(c);
    } else {
        out += '=';
        out += Hex[c >> 4];
        out += Hex[c & 15];
    }
}

size_t QLength(unsigned char c) {
    return c == ' ' || IsQLiteral(c) ? 1 : 3;
}
} // namespace

bool TIpHeaderEncoding::IsPrintableAscii(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool TIpHeaderEncoding::NeedsEncoding(std::string_view text) {
    return !IsPrintableAscii(text) || text.find("=?") != std::string_view::npos;
}

std::string TIpHeaderEncoding::EncodedWords(std::string_view text, size_t firstLimit) {
    const size_t frame = WordStart.size() + WordEnd.size();
    std::string out;
    std::string word;
    size_t limit = std::min(firstLimit, EncodedWordLimit);
    const auto closeWord = [&] {
        if (!out.empty())
            out += ' ';
        out.append(WordStart).append(word).append(WordEnd);
        word.clear();
        limit = EncodedWordLimit;
    };
    for (size_t at = 0; at < text.size();) {
        const size_t length = CharacterLength(text, at);
        size_t encoded = 0;
        for (size_t i = 0; i < length; ++i)
            encoded += QLength(static_cast<unsigned char>(text[at + i]));
        // A word too short for even one character still takes one, so the text always ends.
        if (!word.empty() && frame + word.size() + encoded > limit)
            closeWord();
        for (size_t i = 0; i < length; ++i)
            AppendQ(word, static_cast<unsigned char>(text[at + i]));
        at += length;
    }
    if (!word.empty())
        closeWord();
    return out;
}

std::string TIpHeaderEncoding::QuotedString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string TIpHeaderEncoding::Phrase(std::string_view name, size_t firstLimit) {
    const auto isAtom = [](std::string_view word) {
        return !word.empty() && word.size() <= LongestPlainWord && !NeedsEncoding(word) &&
               std::all_of(word.begin(), word.end(),
                           [](char c) { return IsAtomText(static_cast<unsigned char>(c)); });
    };
    // Blanks are where a long header line folds; a word longer than a line cannot stay whole.
    bool longWord = false;
    for (size_t start = 0; start <= name.size() && !longWord;) {
        const size_t end = std::min(name.find(' ', start), name.size());
        longWord = end - start > LongestPlainWord;
        start = end + 1;
    }
    if (!NeedsEncoding(name) && !longWord) {
        // Atoms divided by single blanks read back as typed; anything else is quoted.
        bool atoms = true;
        for (size_t start = 0; start <= name.size() && atoms;) {
            const size_t end = std::min(name.find(' ', start), name.size());
            atoms = isAtom(name.substr(start, end - start));
            start = end + 1;
        }
        return atoms ? std::string(name) : QuotedString(name);
    }
    // Words that are atoms stay as they are; each run of other words (with the blanks between
    // them) becomes encoded-words. Whitespace between a plain word and an encoded-word is kept
    // by every reader, so the name reads back with its blanks.
    std::string out;
    size_t runStart = std::string_view::npos;
    const auto closeRun = [&](size_t end) {
        if (runStart == std::string_view::npos)
            return;
        if (!out.empty())
            out += ' ';
        out += EncodedWords(name.substr(runStart, end - runStart),
                            out.empty() ? firstLimit : EncodedWordLimit);
        runStart = std::string_view::npos;
    };
    for (size_t start = 0; start <= name.size();) {
        const size_t end = std::min(name.find(' ', start), name.size());
        const std::string_view word = name.substr(start, end - start);
        if (isAtom(word)) {
            closeRun(start == 0 ? 0 : start - 1);
            if (!out.empty())
                out += ' ';
            out += word;
        } else if (runStart == std::string_view::npos) {
            runStart = start;
        }
        start = end + 1;
    }
    closeRun(name.size());
    return out;
}

std::string TIpHeaderEncoding::Mailbox(std::string_view name, std::string_view address,
                                       size_t firstLimit) {
    if (name.empty())
        return std::string(address);
    std::string out = Phrase(name, firstLimit);
    out.append(" <").append(address).append(">");
    return out;
}

std::string TIpHeaderEncoding::ExtendedValue(std::string_view text) {
    std::string out = "utf-8''";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAlphaNumeric(c) ||
            std::string_view("!#$&+-.^_`|~").find(ch) != std::string_view::npos) {
            out += ch;
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}
