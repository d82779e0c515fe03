#include "posting/TListedGroups.h"

#include "nntp/TIpGroupName.h"

#include <utility>

void TListedGroups::AddLine(std::string_view line) {
    const std::string_view name = ListLineGroupName(line);
    if (name.empty())
        ++FLeftOut;
    else
        FNames.PushBack(name);
}

TGroupNames TListedGroups::Take() {
    FLeftOut = 0;
    return std::exchange(FNames, {});
}

void TListedGroups::Clear() {
    FNames.Clear();
    FLeftOut = 0;
}
