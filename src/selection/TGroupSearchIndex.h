#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class TGroupList;

// All names of a group list laid end to end in one buffer, so that a substring search runs over
// contiguous memory at the speed of a plain text search instead of visiting a million separate
// strings scattered over the heap. Built on demand and dropped when the list changes.
//
//   buffer:  alt.test\ncomp.lang.c\nmisc.test\n
//   starts:  0         9            21          31   (one past the end, so row r is
//                                                     buffer[starts[r] .. starts[r+1]-1))
class TGroupSearchIndex {
public:
    bool IsBuilt() const { return FBuilt; }
    // False (and nothing built) for a list too large for 32-bit offsets.
    bool Build(const TGroupList& list);
    void Drop();

    // Rows, in list order, whose name contains `text` (letter case counting). `text` must not be
    // empty and must not contain the separator; see CanSearch.
    std::vector<int> Rows(std::string_view text) const;
    static bool CanSearch(std::string_view text);
    // The name of `row` as laid out in the buffer; reading it here is cheaper than from the list.
    std::string_view Name(int row) const;

private:
    std::vector<char> FBuffer;
    std::vector<uint32_t> FStarts;
    bool FBuilt = false;
};
