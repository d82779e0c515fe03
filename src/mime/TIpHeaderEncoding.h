#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Header text as readers expect it. A header may carry only ASCII: other text (UTF-8 here) goes
// out as encoded-words ("=?UTF-8?Q?...?="), which readers turn back into the characters. Values
// inside structured fields follow the quoting of those fields: a display name is atoms or a
// quoted string, a MIME parameter a quoted string or an extended ("utf-8''...") value.
class TIpHeaderEncoding {
public:
    // Readers accept no longer encoded-word.
    static constexpr size_t EncodedWordLimit = 75;
    // The longest word a display name keeps as it is: with room for a header's name before it,
    // it fits an article line (998 octets) whatever line it is folded onto.
    static constexpr size_t LongestPlainWord = 998 - 78;

    // True when text cannot go into a header as it is: a control character, a byte outside ASCII,
    // or "=?", which a reader would take for the start of an encoded-word.
    static bool NeedsEncoding(std::string_view text);
    // True for text of printable ASCII only (blank to "~").
    static bool IsPrintableAscii(std::string_view text);

    // UTF-8 text as Q-encoded words joined by blanks; readers drop the blanks between two
    // encoded-words, so the text's own blanks travel inside them (as "_"). No word passes 75
    // characters, the first not firstLimit (so that it fits after the header's name), and no
    // character is divided between two words.
    static std::string EncodedWords(std::string_view text, size_t firstLimit = EncodedWordLimit);

    // text in double quotes, with backslash and double quote escaped by a backslash.
    static std::string QuotedString(std::string_view text);
    // A display name: words of plain letters and the like as they are, other ASCII text as a
    // quoted string, anything else, and any word longer than LongestPlainWord, as encoded-words
    // (the first at most firstLimit long).
    static std::string Phrase(std::string_view name, size_t firstLimit = EncodedWordLimit);
    // "name <address>", or the address alone when there is no name.
    static std::string Mailbox(std::string_view name, std::string_view address,
                               size_t firstLimit = EncodedWordLimit);
    // A MIME parameter value in its extended form: "utf-8''" and the bytes, every one that is
    // not a plain letter, digit or one of "!#$&+-.^_`|~" written as "%XX".
    static std::string ExtendedValue(std::string_view text);
};
