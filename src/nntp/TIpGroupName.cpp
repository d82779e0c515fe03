#include "nntp/TIpGroupName.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A control character (TAB and NUL among them) or DEL: no group name holds one.
static bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

bool IsGroupName(std::string_view name) {
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        return IsControl(static_cast<unsigned char>(c));
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
#if defined(__SSE2__)
    // Sixteen bytes at a time up to the first that ends a name or spoils it: a blank, a control
    // character or DEL (all of them bytes up to 0x20, or 0x7F). The loop below looks at that one.
    const __m128i blank = _mm_set1_epi8(0x20);
    const __m128i del = _mm_set1_epi8(0x7F);
    for (; length + 16 <= line.size(); length += 16) {
        const __m128i bytes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + length));
        const __m128i upToBlank = _mm_cmpeq_epi8(_mm_min_epu8(bytes, blank), bytes);
        const int stops = _mm_movemask_epi8(_mm_or_si128(upToBlank, _mm_cmpeq_epi8(bytes, del)));
        if (stops != 0) {
            length += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(stops)));
            break;
        }
    }
#endif
    for (; length < line.size(); ++length) {
        const auto byte = static_cast<unsigned char>(line[length]);
        if (byte == ' ' || byte == '\t')
            break;
        if (IsControl(byte))
            return {};
    }
    return line.substr(0, length);
}
