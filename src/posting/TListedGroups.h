#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The group names of a LIST reply, gathered line by line as the reply arrives: each line is cut
// to the name it begins with and only the name is kept, so a list of a million groups is held
// once, as names, until a group list takes them whole (TGroupList::Assign moves them in).
// Lines that hold no group name are counted, not kept.
class TListedGroups {
public:
    void AddLine(const std::string& line);
    // The names in the order they came, repeats included; the gatherer is empty afterwards.
    std::vector<std::string> Take();
    const std::vector<std::string>& Names() const { return FNames; }
    size_t LeftOut() const { return FLeftOut; }
    // Forgets the names and the count, and gives their memory back.
    void Clear();

private:
    std::vector<std::string> FNames;
    size_t FLeftOut = 0;
};
