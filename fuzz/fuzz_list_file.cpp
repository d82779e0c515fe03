// Any bytes as a list file: every entry is a group name, and saving and loading again gives the
// same entries.

#include "nntp/TIpGroupName.h"
#include "selection/TGroupList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TGroupList list;
    list.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const std::string& entry : list.Entries())
        if (!IsGroupName(entry))
            std::abort();
    TGroupList again;
    again.LoadFromText(list.SaveToText());
    if (again.Entries() != list.Entries())
        std::abort();
    return 0;
}
