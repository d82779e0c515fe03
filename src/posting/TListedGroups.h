#pragma once

#include "posting/TGroupNames.h"

#include <cstddef>
#include <string_view>

// The group names of a LIST reply, gathered line by line as the reply arrives: each line is cut
// to the name it begins with and only the name is kept, laid end to end with the others, so a
// list of a million groups is held once, as names, until a group list takes them whole
// (TGroupList::Assign moves them in). Lines that hold no group name are counted, not kept.
class TListedGroups {
public:
    void AddLine(std::string_view line);
    // The names in the order they came, repeats included; the gatherer is empty afterwards.
    TGroupNames Take();
    const TGroupNames& Names() const { return FNames; }
    size_t LeftOut() const { return FLeftOut; }
    // Forgets the names and the count, and gives their memory back.
    void Clear();

private:
    TGroupNames FNames;
    size_t FLeftOut = 0;
};
