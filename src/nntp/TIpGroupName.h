#pragma once

#include <string_view>

// A newsgroup name as the lists keep it: not empty, and free of control characters (NUL, CR,
// LF, TAB, the rest of 0-31, and DEL). A name holding one could not be written to a list file
// and read back as the same name. Bytes from 128 on are allowed: names may be UTF-8.
bool IsGroupName(std::string_view name);

// The text of a list file without the UTF-8 byte-order mark some editors write at its start.
std::string_view WithoutByteOrderMark(std::string_view text);
// The group name a line of a list file holds: the line without the blanks (spaces and tabs)
// around it.
std::string_view ListFileName(std::string_view line);

// The group name a LIST reply line begins with: the text before its first blank (space or tab),
// or the whole line when it has no blank. Empty when that text is not a group name.
std::string_view ListLineGroupName(std::string_view line);
