#include "selection/TGroupSearchIndex.h"

#include "selection/TGroupList.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A match that does not contain the separator lies wholly inside one name.
static constexpr char kSeparator = '\n';

bool TGroupSearchIndex::Build(const TGroupList& list) {
    Drop();
    const TGroupNames& entries = list.Entries();
    const size_t bytes = entries.NameBytes() + entries.size();
    if (bytes >= UINT32_MAX)
        return false;
    FBuffer.resize(bytes);
    FStarts.reserve(entries.size() + 1);
    char* out = FBuffer.data();
    for (size_t row = 0; row < entries.size(); ++row) {
        // A list that had to be sorted keeps its names in the order they came, not in row
        // order; asking for the next ones early hides most of the cost of visiting them.
        if (row + 16 < entries.size())
            __builtin_prefetch(entries[row + 16].data());
        FStarts.push_back(static_cast<uint32_t>(out - FBuffer.data()));
        const std::string_view name = entries[row];
        std::memcpy(out, name.data(), name.size());
        out += name.size();
        *out++ = kSeparator;
    }
    FStarts.push_back(static_cast<uint32_t>(bytes));
    FBuilt = true;
    return true;
}

void TGroupSearchIndex::Drop() {
    std::vector<char>().swap(FBuffer);
    std::vector<uint32_t>().swap(FStarts);
    FBuilt = false;
}

std::string_view TGroupSearchIndex::Name(int row) const {
    const size_t at = static_cast<size_t>(row);
    return {FBuffer.data() + FStarts[at], FStarts[at + 1] - FStarts[at] - 1};
}

bool TGroupSearchIndex::CanSearch(std::string_view text) {
    return !text.empty() && text.find(kSeparator) == std::string_view::npos;
}

// Offset of the first occurrence of `text` at or after `from`, or npos. On x86-64 candidates are
// the positions where both the first and the last byte of the text match, sixteen positions at a
// time; only those are compared in full. A text search restarted after every hit this way costs
// nothing to set up, which matters when thousands of names match.
static size_t FindFrom(const std::vector<char>& buffer, size_t from, std::string_view text) {
    const char* const s = buffer.data();
    const size_t n = text.size();
    if (n > buffer.size())
        return std::string_view::npos;
    const size_t positions = buffer.size() - n + 1;
    size_t i = from;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(text.front());
    const __m128i last = _mm_set1_epi8(text.back());
    for (; i + 16 <= positions; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + n - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        for (; mask != 0; mask &= mask - 1) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            if (n <= 2 || std::memcmp(s + at + 1, text.data() + 1, n - 2) == 0)
                return at;
        }
    }
#endif
    if (i >= positions)
        return std::string_view::npos;
    const void* const hit = memmem(s + i, buffer.size() - i, text.data(), n);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - s) : std::string_view::npos;
}

std::vector<int> TGroupSearchIndex::Rows(std::string_view text) const {
    std::vector<int> rows;
    if (!FBuilt || !CanSearch(text))
        return rows;
    auto row = FStarts.begin();
    for (size_t at = 0; at < FBuffer.size();) {
        const size_t hit = FindFrom(FBuffer, at, text);
        if (hit == std::string_view::npos)
            break;
        // The row whose name holds the hit: the last start at or before it.
        row = std::upper_bound(row, FStarts.end(), static_cast<uint32_t>(hit)) - 1;
        rows.push_back(static_cast<int>(row - FStarts.begin()));
        ++row;
        at = *row; // go on with the next name: one hit per row is enough
    }
    return rows;
}
