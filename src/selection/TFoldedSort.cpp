#include "selection/TFoldedSort.h"

#include "selection/TGroupList.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

// Below this many names a range is put in order by insertion sort on the words.
static constexpr size_t kInsertionCutoff = 32;

// A word's low byte counts the name's bytes left at its depth, at most 8: 8 means the name goes
// on past the seven bytes the word holds. A repeat is marked with a count no word can have.
static constexpr uint64_t kLeftMask = 0xff;
static constexpr uint64_t kGoesOn = 8;
static constexpr uint64_t kRepeat = 0xff;

// a-z onto A-Z in all eight bytes at once: a byte below 0x80 whose low seven bits lie in a-z
// loses its 0x20 bit. The additions carry into a byte's top bit only, never into the next byte.
static uint64_t FoldEight(uint64_t bytes) {
    constexpr uint64_t ones = 0x0101010101010101;
    const uint64_t low = bytes & (0x7f * ones);
    const uint64_t fromA = low + (0x80 - 'a') * ones;
    const uint64_t pastZ = low + (0x80 - 'z' - 1) * ones;
    const uint64_t lower = fromA & ~pastZ & ~bytes & (0x80 * ones);
    return bytes ^ (lower >> 2);
}

// Seven folded bytes of the name from `depth` on, big-endian in the high bytes (zero past its
// end), and how many bytes are left in the low byte. Comparing two words as numbers compares the
// names' next seven bytes as the list does: an ended name is padded with zeros, and when the
// padding meets real NUL bytes the smaller count (the shorter name) still sorts first.
static inline uint64_t WordAt(const TFoldedKey& key, size_t depth) {
    const size_t left = key.size - depth;
    const auto* bytes = reinterpret_cast<const unsigned char*>(key.data) + depth;
    if (left >= kGoesOn) {
        uint64_t word = 0;
        std::memcpy(&word, bytes, sizeof word);
        if constexpr (std::endian::native == std::endian::little)
            word = __builtin_bswap64(word);
        return (FoldEight(word) & ~kLeftMask) | kGoesOn;
    }
    uint64_t word = 0;
    for (size_t i = 0; i < left; ++i)
        word |= uint64_t{bytes[i]} << (56 - 8 * i);
    return FoldEight(word) | left;
}

static void InsertionSortWords(TFoldedKey* keys, size_t count) {
    for (size_t i = 1; i < count; ++i) {
        const TFoldedKey key = keys[i];
        size_t j = i;
        for (; j > 0 && keys[j - 1].word > key.word; --j)
            keys[j] = keys[j - 1];
        keys[j] = key;
    }
}

// Each step seven bytes deeper into names that are set apart one by one costs a few frames of
// stack; past this many steps the rest is compared name against name, so that no list (one made
// to drive the sort ever deeper, say) can use up the stack.
static constexpr unsigned kMaxSteps = 16;

static void SortFrom(TFoldedKey* keys, size_t count, size_t depth, bool inInputOrder,
                     unsigned step);

static int CompareFrom(const TFoldedKey& a, const TFoldedKey& b, size_t depth) {
    return TGroupList::CompareText(a.View().substr(depth), b.View().substr(depth));
}

static void CompareSort(TFoldedKey* keys, size_t count, size_t depth) {
    std::sort(keys, keys + count, [depth](const TFoldedKey& a, const TFoldedKey& b) {
        const int order = CompareFrom(a, b, depth);
        return order != 0 ? order < 0 : a.index < b.index;
    });
    for (size_t i = 1; i < count; ++i)
        if (CompareFrom(keys[i - 1], keys[i], depth) == 0)
            keys[i].word = kRepeat;
}

// Keys whose words are equal: their names agree up to `depth` + 7 and either go on, to be sorted
// on their next bytes, or ended together, and are then equal: the first of them in the input
// (the smallest index) stays, the others are marked repeats.
static void SortEqualWords(TFoldedKey* keys, size_t count, size_t depth, unsigned step) {
    if ((keys[0].word & kLeftMask) == kGoesOn)
        return SortFrom(keys, count, depth + 7, false, step + 1);
    std::swap(keys[0], *std::min_element(keys, keys + count, [](const auto& a, const auto& b) {
                  return a.index < b.index;
              }));
    for (size_t i = 1; i < count; ++i)
        keys[i].word = kRepeat;
}

static inline size_t ByteAt(const TFoldedKey& key, unsigned shift) {
    return (key.word >> shift) & 0xff;
}

// MSD radix sort of keys[0, count) on their words, whose bytes above `shift` are equal. The keys
// are swapped into their buckets in place: a second array as large as the list would cost more
// in fresh memory than the sort itself. Keys with equal words lose their order, which matters only
// for equal names, and of those the first is found by its index.
static void SortWords(TFoldedKey* keys, size_t count, unsigned shift, size_t depth,
                      unsigned step) {
    while (count >= kInsertionCutoff) {
        std::array<size_t, 256> sizes{};
        for (size_t i = 0; i < count; ++i)
            ++sizes[ByteAt(keys[i], shift)];
        if (sizes[ByteAt(keys[0], shift)] == count) {
            if (shift == 0)
                return SortEqualWords(keys, count, depth, step);
            shift -= 8; // a shared byte; nothing to move
            continue;
        }
        std::array<size_t, 256> next{};
        std::array<size_t, 256> ends{};
        for (size_t b = 0, start = 0; b < 256; start += sizes[b++]) {
            next[b] = start;
            ends[b] = start + sizes[b];
        }
        // A key taken from a bucket's next free place goes to its own bucket and takes the key
        // found there on, until one belongs in the bucket being filled.
        for (size_t b = 0; b < 256; ++b) {
            while (next[b] < ends[b]) {
                TFoldedKey key = keys[next[b]];
                for (size_t to = ByteAt(key, shift); to != b; to = ByteAt(key, shift))
                    std::swap(key, keys[next[to]++]);
                keys[next[b]++] = key;
            }
        }
        for (size_t b = 0, start = 0; b < 256; start += sizes[b++]) {
            if (sizes[b] > 1 && shift == 0)
                SortEqualWords(keys + start, sizes[b], depth, step);
            else if (sizes[b] > 1)
                SortWords(keys + start, sizes[b], shift - 8, depth, step);
        }
        return;
    }
    InsertionSortWords(keys, count);
    for (size_t start = 0; start < count;) {
        size_t end = start + 1;
        while (end < count && keys[end].word == keys[start].word)
            ++end;
        if (end - start > 1)
            SortEqualWords(keys + start, end - start, depth, step);
        start = end;
    }
}

// Sorts keys[0, count) whose names agree (folded) on their first `depth` bytes, seven bytes a
// step. Each step reads the names once into the keys' words; after that the passes read the keys
// in order instead of going to every name for every byte.
//
// A beginning the whole range shares moves no key; it is stepped over seven bytes at a time. While
// the keys are still in input order, reading the names is one sequential pass, cheap enough to
// step over a shared beginning to the exact byte, so that the words start where the names differ
// ("alt.bulk.g0000000" .. "alt.bulk.g0999999" then need one word each, not three).
static void SortFrom(TFoldedKey* keys, size_t count, size_t depth, bool inInputOrder,
                     unsigned step) {
    if (step > kMaxSteps)
        return CompareSort(keys, count, depth);
    uint64_t differ = 0;
    for (;;) {
        keys[0].word = WordAt(keys[0], depth);
        uint64_t shortest = keys[0].word & kLeftMask;
        for (size_t i = 1; i < count; ++i) {
            keys[i].word = WordAt(keys[i], depth);
            differ |= keys[i].word ^ keys[0].word;
            shortest = std::min(shortest, keys[i].word & kLeftMask);
        }
        const uint64_t shared = std::min<uint64_t>(std::countl_zero(differ) / 8, shortest);
        if (differ == 0 ? shortest != kGoesOn : !inInputOrder || shared == 0)
            break;
        depth += std::min<uint64_t>(shared, 7);
        differ = 0;
    }
    if (differ == 0)
        return SortEqualWords(keys, count, depth, step);
    // The bytes all words share need no pass.
    const auto shift = static_cast<unsigned>(56 - std::countl_zero(differ) / 8 * 8);
    SortWords(keys, count, shift, depth, step);
}

void TFoldedSort::SortUnique(std::vector<TFoldedKey>& keys) {
    if (keys.size() < 2)
        return;
    SortFrom(keys.data(), keys.size(), 0, true, 0);
    std::erase_if(keys, [](const TFoldedKey& key) { return key.word == kRepeat; });
}
