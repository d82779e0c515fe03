#include "posting/TGroupNames.h"

void TGroupNames::Reserve(size_t rows, size_t bytes) {
    FRows.Reserve(rows);
    FBytes.Reserve(bytes);
}

void TGroupNames::PushBack(std::string_view name) {
    FRows.PushBack({FBytes.size(), name.size()});
    FBytes.Append(name.data(), name.size());
    FLiveBytes += name.size();
}

void TGroupNames::Insert(size_t row, std::string_view name) {
    FRows.Insert(row, {FBytes.size(), name.size()});
    FBytes.Append(name.data(), name.size());
    FLiveBytes += name.size();
}

void TGroupNames::Erase(size_t row) {
    FLiveBytes -= FRows[row].Size;
    FRows.Erase(row);
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
    FRows.Truncate(kept);
    CompactWhenSparse();
}

void TGroupNames::SetRows(TPlainArray<TRow> rows) {
    FRows = std::move(rows);
    FLiveBytes = 0;
    for (size_t i = 0; i < FRows.size(); ++i)
        FLiveBytes += FRows[i].Size;
    CompactWhenSparse();
}

TPlainArray<TGroupNames::TRow> TGroupNames::TakeRows() {
    FLiveBytes = 0;
    return std::move(FRows);
}

void TGroupNames::Clear() {
    FBytes.Clear();
    FRows.Clear();
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
    TPlainArray<char> bytes;
    bytes.Reserve(FLiveBytes);
    for (size_t i = 0; i < FRows.size(); ++i) {
        TRow& row = FRows[i];
        const size_t offset = bytes.size();
        bytes.Append(FBytes.data() + row.Offset, row.Size);
        row.Offset = offset;
    }
    FBytes = std::move(bytes);
}
