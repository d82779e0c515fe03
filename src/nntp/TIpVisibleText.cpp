#include "nntp/TIpVisibleText.h"

namespace {
const char Hex[] = "0123456789abcdef";

bool IsContinuation(unsigned char c, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return c >= low && c <= high;
}

// The length of the well-formed UTF-8 sequence at text[at] (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), 0 when there is none.
size_t SequenceLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF)
        return IsContinuation(byte(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return IsContinuation(byte(1), low, high) && IsContinuation(byte(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return IsContinuation(byte(1), low, high) && IsContinuation(byte(2)) &&
                       IsContinuation(byte(3))
                   ? 4
                   : 0;
    }
    return 0;
}

void AppendByteEscape(std::string& out, unsigned char c) {
    out += "\\x";
    out += Hex[c >> 4];
    out += Hex[c & 15];
}

void AppendCharacterEscape(std::string& out, unsigned code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += Hex[(code >> shift) & 15];
}
} // namespace

void AppendVisibleText(std::string& out, std::string_view text, TIpLineFeeds lineFeeds) {
    size_t run = 0; // the start of the bytes not yet copied
    size_t at = 0;
    const auto escape = [&](size_t length, auto append) {
        out.append(text.substr(run, at - run));
        append();
        at += length;
        run = at;
    };
    while (at < text.size()) {
        const auto c = static_cast<unsigned char>(text[at]);
        if ((c >= 0x20 && c < 0x7F) || c == '\t' ||
            (c == '\n' && lineFeeds == TIpLineFeeds::Kept)) {
            ++at;
            continue;
        }
        if (c >= 0x80) {
            const size_t length = SequenceLength(text, at);
            if (length == 0 && c > 0x9F) {
                // A stray byte outside the C1 range: left for the view to show as bad text.
                ++at;
                continue;
            }
            if (length > 0) {
                const auto second = static_cast<unsigned char>(text[at + 1]);
                unsigned code = 0;
                if (c == 0xC2 && second <= 0x9F)
                    code = second;
                else if (c == 0xE2 && second == 0x80 &&
                         (text[at + 2] == '\xA8' || text[at + 2] == '\xA9'))
                    code = text[at + 2] == '\xA8' ? 0x2028 : 0x2029;
                if (code == 0) {
                    at += length;
                    continue;
                }
                escape(length, [&] { AppendCharacterEscape(out, code); });
                continue;
            }
        }
        escape(1, [&] { AppendByteEscape(out, c); });
    }
    out.append(text.substr(run));
}

std::string VisibleText(std::string_view text, TIpLineFeeds lineFeeds) {
    std::string out;
    out.reserve(text.size());
    AppendVisibleText(out, text, lineFeeds);
    return out;
}
