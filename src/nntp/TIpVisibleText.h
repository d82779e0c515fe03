#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Whether a line feed inside the text stays a line break (a message of several lines the program
// wrote itself) or is shown as an escape like every other control character (one line a server
// sent, which must read as one line).
enum class TIpLineFeeds : uint8_t { Escaped, Kept };

// Text from a news server made fit to show: on a terminal, in the status log, in a box. A server
// may send anything in a reply line, and what reaches a terminal as it came is obeyed (ESC starts
// a sequence that can set the window title or write the clipboard); a NUL ends the text wherever
// it becomes a C string; a line or paragraph separator breaks a text view's line where the
// server sent none. So the C0 control characters (TAB aside) and DEL, the C1 control characters
// (U+0080 to U+009F, or such a byte outside a UTF-8 sequence) and U+2028 / U+2029 are written
// as visible escapes: "\x1b" for a byte, "\u009b" for a character. Everything else, other UTF-8
// text included, stays as it is. Printable ASCII is copied in runs, so a long list costs little.
void AppendVisibleText(std::string& out, std::string_view text,
                       TIpLineFeeds lineFeeds = TIpLineFeeds::Escaped);
std::string VisibleText(std::string_view text, TIpLineFeeds lineFeeds = TIpLineFeeds::Escaped);
