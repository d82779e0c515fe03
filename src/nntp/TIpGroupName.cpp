#include "nntp/TIpGroupName.h"

#include <algorithm>

bool IsGroupName(std::string_view name) {
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::string_view WithoutByteOrderMark(std::string_view text) {
    return text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
}

std::string_view ListFileName(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

// One pass that both finds the first blank and checks the bytes before it: a server's list of a
// million groups is read name by name through here.
std::string_view ListLineGroupName(std::string_view line) {
    size_t length = 0;
    for (; length < line.size(); ++length) {
        const auto byte = static_cast<unsigned char>(line[length]);
        if (byte == ' ' || byte == '\t')
            break;
        if (byte < 0x20 || byte == 0x7F)
            return {};
    }
    return line.substr(0, length);
}
