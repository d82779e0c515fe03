#include "posting/TGroupNames.h"

#include <algorithm>
#include <utility>

void TGroupNames::Reserve(size_t rows, size_t bytes) {
    FRows.reserve(rows);
    FBytes.reserve(bytes);
}

void TGroupNames::PushBack(std::string_view name) {
    FRows.push_back({FBytes.size(), name.size()});
    FBytes.append(name);
    FLiveBytes += name.size();
}

void TGroupNames::Insert(size_t row, std::string_view name) {
    FRows.insert(FRows.begin() + static_cast<std::ptrdiff_t>(row), {FBytes.size(), name.size()});
    FBytes.append(name);
    FLiveBytes += name.size();
}

void TGroupNames::Erase(size_t row) {
    FLiveBytes -= FRows[row].Size;
    FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(row));
    CompactWhenSparse();
}

void TGroupNames::EraseMarked(const std::vector<uint8_t>& marks) {
    size_t kept = 0;
    for (size_t row = 0; row < FRows.size(); ++row) {
        if (row < marks.size() && marks[row] != 0)
            FLiveBytes -= FRows[row].Size;
        else
            FRows[kept++] = FRows[row];
    }
    FRows.resize(kept);
    CompactWhenSparse();
}

void TGroupNames::SetRows(std::vector<TRow> rows) {
    FRows = std::move(rows);
    FLiveBytes = 0;
    for (const TRow& row : FRows)
        FLiveBytes += row.Size;
    CompactWhenSparse();
}

std::vector<TGroupNames::TRow> TGroupNames::TakeRows() {
    FLiveBytes = 0;
    return std::exchange(FRows, {});
}

void TGroupNames::Clear() {
    std::string().swap(FBytes);
    std::vector<TRow>().swap(FRows);
    FLiveBytes = 0;
}

std::vector<std::string> TGroupNames::ToStrings() const {
    return {begin(), end()};
}

void TGroupNames::CompactWhenSparse() {
    if (FRows.empty()) {
        Clear();
        return;
    }
    if (FLiveBytes * 2 >= FBytes.size())
        return;
    std::string bytes;
    bytes.reserve(FLiveBytes);
    for (TRow& row : FRows) {
        const size_t offset = bytes.size();
        bytes.append(FBytes, row.Offset, row.Size);
        row.Offset = offset;
    }
    FBytes.swap(bytes);
}
