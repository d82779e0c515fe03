#pragma once

#include "posting/TPlainArray.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Group names laid end to end in one buffer, with one row (offset and length) per name. A list of
// a million names costs one allocation for their bytes and one for the rows instead of a heap
// block per name, names that arrive one after another lie one after another in memory, and both
// arrays grow in place as a server's list streams in.
//
// The rows can be put into any order without moving a byte. A removed name leaves its bytes
// behind until they are more than half the buffer; then the buffer is written again, compact.
class TGroupNames {
public:
    struct TRow {
        size_t Offset = 0;
        size_t Size = 0;
    };

    class TIterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        TIterator() = default;
        TIterator(const TGroupNames* names, size_t row) : FNames(names), FRow(row) {}
        std::string_view operator*() const { return (*FNames)[FRow]; }
        std::string_view operator[](difference_type n) const {
            return (*FNames)[FRow + static_cast<size_t>(n)];
        }
        TIterator& operator++() { return ++FRow, *this; }
        TIterator operator++(int) { return {FNames, FRow++}; }
        TIterator& operator--() { return --FRow, *this; }
        TIterator operator--(int) { return {FNames, FRow--}; }
        TIterator& operator+=(difference_type n) { return FRow += static_cast<size_t>(n), *this; }
        TIterator& operator-=(difference_type n) { return FRow -= static_cast<size_t>(n), *this; }
        friend TIterator operator+(TIterator it, difference_type n) { return it += n; }
        friend TIterator operator+(difference_type n, TIterator it) { return it += n; }
        friend TIterator operator-(TIterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const TIterator& a, const TIterator& b) {
            return static_cast<difference_type>(a.FRow) - static_cast<difference_type>(b.FRow);
        }
        friend bool operator==(const TIterator& a, const TIterator& b) { return a.FRow == b.FRow; }
        friend auto operator<=>(const TIterator& a, const TIterator& b) { return a.FRow <=> b.FRow; }

    private:
        const TGroupNames* FNames = nullptr;
        size_t FRow = 0;
    };

    TGroupNames() = default;
    TGroupNames(const TGroupNames&) = default;
    TGroupNames& operator=(const TGroupNames&) = default;
    // The names left behind are none, with nothing counted.
    TGroupNames(TGroupNames&& other) noexcept
        : FBytes(std::move(other.FBytes)), FRows(std::move(other.FRows)),
          FLiveBytes(std::exchange(other.FLiveBytes, 0)) {}
    TGroupNames& operator=(TGroupNames&& other) noexcept {
        FBytes = std::move(other.FBytes);
        FRows = std::move(other.FRows);
        FLiveBytes = std::exchange(other.FLiveBytes, 0);
        return *this;
    }

    size_t size() const { return FRows.size(); }
    bool empty() const { return FRows.empty(); }
    std::string_view operator[](size_t row) const {
        const TRow& r = FRows[row];
        return {FBytes.data() + r.Offset, r.Size};
    }
    // The names' bytes, removed names' bytes included until the buffer is compacted.
    std::string_view Bytes() const { return {FBytes.data(), FBytes.size()}; }
    TIterator begin() const { return {this, 0}; }
    TIterator end() const { return {this, FRows.size()}; }

    void Reserve(size_t rows, size_t bytes);
    void PushBack(std::string_view name);
    // Puts `name` at `row`; the rows from there move down by one.
    void Insert(size_t row, std::string_view name);
    void Erase(size_t row);
    // Keeps the rows whose mark is zero (rows past the end of `marks` are kept).
    void EraseMarked(const std::vector<uint8_t>& marks);
    // Forgets every name and gives the memory back.
    void Clear();

    // The bytes of the names the rows hold.
    size_t NameBytes() const { return FLiveBytes; }
    // Puts the rows into another order or leaves some out: `rows` are rows of these names, as
    // TakeRows() gave them. No name moves.
    void SetRows(TPlainArray<TRow> rows);
    // Hands the rows out, to be written in another order and given back with SetRows: a list of
    // a million names is put in order without a second million rows. Until then there are none.
    TPlainArray<TRow> TakeRows();

    std::vector<std::string> ToStrings() const;

private:
    void CompactWhenSparse();

    TPlainArray<char> FBytes;
    TPlainArray<TRow> FRows;
    size_t FLiveBytes = 0;
};
