#include "selection/TFoldedSort.h"

#include "selection/TGroupList.h"

#include <array>
#include <cstring>

// Below this many names a bucket is finished by insertion sort.
static constexpr size_t kInsertionCutoff = 24;

static constexpr std::array<uint16_t, 256> MakeBucketTable() {
    std::array<uint16_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] =
            static_cast<uint16_t>((c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c) + 1);
    return table;
}

// Bucket of a byte: its folded value + 1; bucket 0 holds the names that end before the byte.
static constexpr std::array<uint16_t, 256> kBucket = MakeBucketTable();

static inline size_t BucketAt(const TFoldedKey& key, size_t depth) {
    return depth < key.size ? kBucket[static_cast<unsigned char>(key.data[depth])] : 0;
}

static void InsertionSort(TFoldedKey* keys, size_t count, size_t depth) {
    for (size_t i = 1; i < count; ++i) {
        const TFoldedKey key = keys[i];
        const std::string_view tail = key.View().substr(depth);
        size_t j = i;
        while (j > 0 && TGroupList::CompareText(keys[j - 1].View().substr(depth), tail) > 0) {
            keys[j] = keys[j - 1];
            --j;
        }
        keys[j] = key;
    }
}

// Sorts keys[0, count) whose names agree (folded) on their first `depth` bytes. Each pass
// distributes by one byte into `scratch` in input order, which keeps the sort stable.
static void RadixSort(TFoldedKey* keys, TFoldedKey* scratch, size_t count, size_t depth) {
    while (count >= kInsertionCutoff) {
        std::array<size_t, 257> sizes{};
        for (size_t i = 0; i < count; ++i)
            ++sizes[BucketAt(keys[i], depth)];
        if (sizes[0] == count)
            return; // all equal and ended: already in input order
        size_t single = 257;
        for (size_t b = 1; b < 257; ++b)
            if (sizes[b] == count)
                single = b;
        if (single != 257) {
            ++depth; // a shared byte; nothing to move
            continue;
        }
        std::array<size_t, 257> starts{};
        for (size_t b = 1; b < 257; ++b)
            starts[b] = starts[b - 1] + sizes[b - 1];
        std::array<size_t, 257> next = starts;
        for (size_t i = 0; i < count; ++i)
            scratch[next[BucketAt(keys[i], depth)]++] = keys[i];
        std::memcpy(keys, scratch, count * sizeof(TFoldedKey));
        for (size_t b = 1; b < 257; ++b)
            if (sizes[b] > 1)
                RadixSort(keys + starts[b], scratch + starts[b], sizes[b], depth + 1);
        return;
    }
    InsertionSort(keys, count, depth);
}

void TFoldedSort::SortUnique(std::vector<TFoldedKey>& keys) {
    if (keys.size() > 1) {
        std::vector<TFoldedKey> scratch(keys.size());
        RadixSort(keys.data(), scratch.data(), keys.size(), 0);
    }
    // Names of different lengths never fold to the same name; only equal lengths are compared.
    size_t kept = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        if (kept == 0 || keys[kept - 1].size != keys[i].size ||
            TGroupList::CompareText(keys[kept - 1].View(), keys[i].View()) != 0)
            keys[kept++] = keys[i];
    keys.resize(kept);
}
