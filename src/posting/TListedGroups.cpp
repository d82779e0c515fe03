#include "posting/TListedGroups.h"

#include "nntp/TIpGroupName.h"

#include <utility>

void TListedGroups::AddLine(const std::string& line) {
    const std::string_view name = ListLineGroupName(line);
    if (name.empty())
        ++FLeftOut;
    else
        FNames.emplace_back(name);
}

std::vector<std::string> TListedGroups::Take() {
    FLeftOut = 0;
    return std::exchange(FNames, {});
}

void TListedGroups::Clear() {
    std::vector<std::string>().swap(FNames);
    FLeftOut = 0;
}
