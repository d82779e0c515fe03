#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What one unit from the data socket completed.
enum class TIpJoinedLine : uint8_t {
    jlNone,   // nothing complete yet: the unit was the start or the middle of a line
    jlWhole,  // a whole line, without its CR LF
    jlTooLong // a line has just passed MaxLineLength; the rest of it will be dropped
};

// Joins the units the data socket delivers (cut at CR LF, terminator kept) into whole reply
// lines. The socket hands on a unit as large as its receive buffer without waiting for the line
// to end, so a long line arrives in several units; only the last one ends in CR LF.
//
// A line is held until its end, up to MaxLineLength bytes. The unit that takes it past that
// reports jlTooLong once; the held bytes are freed and every later unit up to the line's end is
// dropped, so a peer that never ends a line costs no more memory than the bound.
//
// A receive buffer that fills up right after the CR of a CR LF ends one unit with CR and starts
// the next with LF. That LF ends the held line, and the rest of the unit is handed back as `rest`
// to be joined next.
class TIpReplyLineJoiner {
public:
    static constexpr size_t MaxLineLength = 1024 * 1024;

    // Takes one unit. With jlWhole, `line` views the line: the unit itself when it held the whole
    // line (the common case, no copy), else `storage`, which then holds it. `rest` is empty unless
    // part of the unit still has to be joined (call Join again with it).
    TIpJoinedLine Join(std::string_view unit, std::string& storage, std::string_view& line,
                       std::string_view& rest);
    // At the end of the connection: whatever is held, as the last line (true when there was one).
    bool Flush(std::string& line);
    // Forgets a held or dropped line (a new connection starts clean).
    void Reset();

private:
    std::string FHeld;
    bool FDropping = false;
    bool FEndsInCR = false;
};
