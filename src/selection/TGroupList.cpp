#include "selection/TGroupList.h"

#include "nntp/TIpGroupName.h"
#include "selection/TFoldedSort.h"

#include <QSaveFile>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

static constexpr std::array<uint8_t, 256> MakeFoldTable() {
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] =
            static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    return table;
}

static constexpr std::array<uint8_t, 256> kFold = MakeFoldTable();

// Whether every name sorts strictly after the one before it, as the rows of a list do.
template <typename Name> static bool IsSortedUnique(const std::vector<Name>& names) {
    for (size_t i = 1; i < names.size(); ++i)
        if (TGroupList::CompareText(names[i - 1], names[i]) >= 0)
            return false;
    return true;
}

// Sorts `names` in list order without repeats (the first of equal names stays). The names move
// within `names` itself: a server's list of a million groups is never held twice.
static void SortUniqueStrings(std::vector<std::string>& names) {
    if (IsSortedUnique(names))
        return;
    std::vector<uint32_t> row(names.size(), UINT32_MAX);
    uint32_t kept = 0;
    {
        std::vector<TFoldedKey> keys(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            keys[i] = {names[i].data(), static_cast<uint32_t>(names[i].size()),
                       static_cast<uint32_t>(i)};
        TFoldedSort::SortUnique(keys);
        for (const TFoldedKey& key : keys)
            row[key.index] = kept++;
    }
    // The repeats take the rows after the kept names, to be cut off at the end.
    uint32_t spare = kept;
    for (uint32_t& r : row)
        if (r == UINT32_MAX)
            r = spare++;
    // Each cycle of the permutation is followed with swaps until every name is on its row.
    for (size_t i = 0; i < names.size(); ++i)
        while (row[i] != i) {
            const uint32_t to = row[i];
            std::swap(names[i], names[to]);
            std::swap(row[i], row[to]);
        }
    names.resize(kept);
}

int TGroupList::CompareText(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
    const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
    for (size_t i = 0; i < n; ++i) {
        if (pa[i] == pb[i])
            continue;
        const int ca = kFold[pa[i]];
        const int cb = kFold[pb[i]];
        if (ca != cb)
            return ca - cb;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

int TGroupList::IndexOf(std::string_view name) const {
    const auto it = std::lower_bound(
        FEntries.begin(), FEntries.end(), name,
        [](const std::string& e, std::string_view n) { return CompareText(e, n) < 0; });
    if (it == FEntries.end() || CompareText(*it, name) != 0)
        return -1;
    return static_cast<int>(it - FEntries.begin());
}

bool TGroupList::Add(std::string_view name) {
    const auto it = std::lower_bound(
        FEntries.begin(), FEntries.end(), name,
        [](const std::string& e, std::string_view n) { return CompareText(e, n) < 0; });
    if (it != FEntries.end() && CompareText(*it, name) == 0)
        return false;
    const int row = static_cast<int>(it - FEntries.begin());
    if (FObserver)
        FObserver->ListAboutToInsert(row);
    FEntries.emplace(it, name);
    if (FObserver)
        FObserver->ListInserted();
    return true;
}

int TGroupList::AddMany(std::vector<std::string> names) {
    SortUniqueStrings(names);
    return MergeSorted(names);
}

int TGroupList::AddSorted(std::vector<std::string_view> names) {
    if (!IsSortedUnique(names))
        return AddMany(std::vector<std::string>(names.begin(), names.end()));
    return MergeSorted(names);
}

template <typename Name> int TGroupList::MergeSorted(std::vector<Name>& names) {
    const size_t oldCount = FEntries.size();
    size_t fresh = 0;
    if (oldCount == 0) {
        fresh = names.size();
    } else {
        for (size_t i = 0, j = 0; j < names.size();) {
            const int order = i < oldCount ? CompareText(FEntries[i], names[j]) : 1;
            if (order <= 0)
                ++i;
            if (order >= 0) {
                fresh += order > 0 ? 1 : 0;
                ++j;
            }
        }
    }
    if (fresh == 0)
        return 0;

    if (FObserver)
        FObserver->ListAboutToReset();
    std::vector<std::string> merged;
    merged.reserve(oldCount + fresh);
    size_t i = 0;
    for (size_t j = 0; j < names.size();) {
        const int order = i < oldCount ? CompareText(FEntries[i], names[j]) : 1;
        if (order <= 0)
            merged.push_back(std::move(FEntries[i++]));
        else
            merged.emplace_back(std::move(names[j]));
        if (order >= 0)
            ++j;
    }
    while (i < oldCount)
        merged.push_back(std::move(FEntries[i++]));
    FEntries = std::move(merged);
    if (FObserver)
        FObserver->ListReset();
    return static_cast<int>(fresh);
}

void TGroupList::Delete(int index) {
    if (index < 0 || index >= Count())
        return;
    if (FObserver)
        FObserver->ListAboutToRemove(index, index);
    FEntries.erase(FEntries.begin() + index);
    if (FObserver)
        FObserver->ListRemoved();
}

void TGroupList::DeleteMarked(const std::vector<uint8_t>& marks) {
    const size_t limit = std::min(marks.size(), FEntries.size());
    if (std::find_if(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(limit),
                     [](uint8_t m) { return m != 0; }) ==
        marks.begin() + static_cast<std::ptrdiff_t>(limit))
        return;
    if (FObserver)
        FObserver->ListAboutToReset();
    size_t kept = 0;
    for (size_t row = 0; row < FEntries.size(); ++row) {
        if (row < limit && marks[row] != 0)
            continue;
        if (kept != row)
            FEntries[kept] = std::move(FEntries[row]);
        ++kept;
    }
    FEntries.resize(kept);
    if (FObserver)
        FObserver->ListReset();
}

void TGroupList::Clear() {
    ReplaceWith({});
}

void TGroupList::Assign(std::vector<std::string> names) {
    SortUniqueStrings(names);
    ReplaceWith(std::move(names));
}

void TGroupList::Assign(const TGroupList& other) {
    if (&other != this)
        ReplaceWith(other.FEntries);
}

void TGroupList::ReplaceWith(std::vector<std::string> sortedUnique) {
    if (FObserver)
        FObserver->ListAboutToReset();
    FEntries = std::move(sortedUnique);
    if (FObserver)
        FObserver->ListReset();
}

void TGroupList::LoadFromText(std::string_view text) {
    text = WithoutByteOrderMark(text);
    std::vector<TFoldedKey> lines;
    lines.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* eol = p;
        while (eol < end && *eol != '\r' && *eol != '\n')
            ++eol;
        const std::string_view name =
            ListFileName(std::string_view(p, static_cast<size_t>(eol - p)));
        if (IsGroupName(name))
            lines.push_back({name.data(), static_cast<uint32_t>(name.size()), 0});
        if (eol < end)
            eol += (*eol == '\r' && eol + 1 < end && eol[1] == '\n') ? 2 : 1;
        p = eol;
    }
    TFoldedSort::SortUnique(lines);

    // The old entries go before the new ones are made, so a reload never holds both lists.
    if (FObserver)
        FObserver->ListAboutToReset();
    std::vector<std::string>().swap(FEntries);
    FEntries.reserve(lines.size());
    for (const TFoldedKey& line : lines)
        FEntries.emplace_back(line.View());
    if (FObserver)
        FObserver->ListReset();
}

std::string TGroupList::SaveToText() const {
    size_t size = 0;
    for (const std::string& e : FEntries)
        size += e.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& e : FEntries) {
        // An entry that is no group name would come back as another name, or as none.
        if (!IsGroupName(e))
            continue;
        text += e;
        text += "\r\n";
    }
    return text;
}

void TGroupList::LoadFromFile(const QString& path) {
    const QByteArray bytes = TWholeFile::Read(path);
    LoadFromText(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

void TGroupList::SaveToFile(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw EFileError::Make("Cannot create file", path, file.errorString());
    const std::string text = SaveToText();
    if (file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit())
        throw EFileError::Make("Cannot write file", path, file.errorString());
}
