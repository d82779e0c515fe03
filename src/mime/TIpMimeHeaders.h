#pragma once

#include <string>
#include <string_view>
#include <vector>

// Building and reading header lines. Lists fold by items: a line is broken before an item that
// would take it past 77 characters, and the continuation begins with a TAB. Free text folds by
// words: a line is broken before a blank, which begins the continuation (AddFoldedHeader).
class TIpMimeHeaders {
public:
    using TStrings = std::vector<std::string>;
    static constexpr size_t FoldWidth = 77;

    // An article line may hold at most 998 octets; a header folded for readers keeps within 78.
    static constexpr size_t MaxLineLength = 998;
    static constexpr size_t ReadableLineLength = 78;

    // name + value, when the value is not empty. Every header builder refuses a value or item
    // with CR or LF (EIpBaseException): it would end the header line early and let the text
    // after it pass for header lines of its own, or end the header block.
    static void AddHeader(TStrings& list, std::string_view name, std::string_view value);
    // name + value, when the value is not empty, broken into lines of at most width characters
    // where it can be: a line ends before a blank, which begins the next line, so a reader that
    // joins the lines again gets the value unchanged.
    static void AddFoldedHeader(TStrings& list, std::string_view name, std::string_view value,
                                size_t width);
    // name + free text: ASCII as it is (folded only past the line limit), other text, and ASCII
    // with a word too long for a line, as encoded-words folded to readable lines.
    static void AddTextHeader(TStrings& list, std::string_view name, std::string_view text);
    // The items joined by separator and one blank, folded (never before an item that begins a
    // line, however long); with linePerItem every item after the first goes on its own
    // continuation line. Nothing for an empty list; one empty item still
    // gives the header with an empty value.
    static void AddListHeader(TStrings& list, std::string_view name, const TStrings& items,
                              bool linePerItem, std::string_view separator);
    // One header line per item; with split each item is cut at delimiter and every further piece
    // goes on a continuation line. With an empty name the item is the whole line.
    static void AddRepeatedHeader(TStrings& list, std::string_view name, const TStrings& items,
                                  bool split, char delimiter);

    // The non-empty pieces between delimiters, trimmed; see the tests for the exact rule at the
    // end of the text.
    static void SplitValue(std::string_view text, char delimiter, TStrings& pieces);
    // The rest of the first item beginning with prefix (without regard to case), with every
    // double quote removed; empty when none matches.
    static std::string ParamValue(std::string_view prefix, const TStrings& items);
    // The value of the first header line beginning with name (without regard to case), followed
    // by its continuation lines (empty ones or ones beginning with a blank or TAB) as they stand.
    static std::string HeaderValue(std::string_view name, const TStrings& headers);
    // The same, but the first line's value and every continuation line kept apart; false when
    // no line has that name.
    static bool HeaderLines(std::string_view name, const TStrings& headers, TStrings& lines);

    static bool StartsText(std::string_view text, std::string_view prefix);
    static bool SameText(std::string_view a, std::string_view b);
    // Without leading and trailing blanks and control characters.
    static std::string Trim(std::string_view text);
};
