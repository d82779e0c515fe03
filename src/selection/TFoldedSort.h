#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// One name to be sorted: its bytes and its position in the caller's input, which decides which of
// equal names stays.
struct TFoldedKey {
    const char* data = nullptr;
    uint32_t size = 0;
    uint32_t index = 0;
    // The sort's own: the folded bytes of the name it is looking at.
    uint64_t word = 0;

    std::string_view View() const { return {data, size}; }
};

// Sorts names the way a newsgroup list orders them (bytes compared unsigned after folding a-z
// onto A-Z) and removes repeats, keeping of equal names the one with the smallest index.
//
// A whole list is sorted at once when a list file is loaded or the server's list arrives, often
// a million names sharing long prefixes ("comp.lang."); an MSD radix sort over the folded
// bytes looks at each distinguishing byte about once instead of comparing prefixes again and
// again as a comparison sort does. The bytes are read from the names seven at a time into the
// keys, so that the passes run over the keys in order rather than to a name for every byte.
class TFoldedSort {
public:
    static void SortUnique(std::vector<TFoldedKey>& keys);
};
