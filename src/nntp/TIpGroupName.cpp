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

std::string_view ListLineGroupName(std::string_view line) {
    const std::string_view name = line.substr(0, line.find_first_of(" \t"));
    return IsGroupName(name) ? name : std::string_view();
}
