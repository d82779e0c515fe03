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
template <typename Names> static bool IsSortedUnique(const Names& names) {
    for (size_t i = 1; i < names.size(); ++i)
        if (TGroupList::CompareText(names[i - 1], names[i]) >= 0)
            return false;
    return true;
}

// Keys for sorting `names`, which must stay where they are while the keys are used.
template <typename Names> static std::vector<TFoldedKey> KeysOf(const Names& names) {
    std::vector<TFoldedKey> keys(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string_view name = names[i];
        keys[i] = {name.data(), static_cast<uint32_t>(name.size()), static_cast<uint32_t>(i)};
    }
    return keys;
}

// `views` in list order without repeats (the first of equal names stays).
static std::vector<std::string_view> SortedUnique(std::vector<std::string_view> views) {
    if (IsSortedUnique(views))
        return views;
    std::vector<TFoldedKey> keys = KeysOf(views);
    TFoldedSort::SortUnique(keys);
    views.resize(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        views[i] = keys[i].View();
    return views;
}

// Puts the rows of `names` in list order without repeats (the first of equal names stays). Only
// the rows move: a server's list of a million groups is never held twice.
static void SortUniqueRows(TGroupNames& names) {
    if (IsSortedUnique(names))
        return;
    std::vector<TFoldedKey> keys = KeysOf(names);
    TFoldedSort::SortUnique(keys);
    // The rows are written again from the sorted keys, over the rows they were made from.
    TPlainArray<TGroupNames::TRow> rows = names.TakeRows();
    rows.Truncate(keys.size());
    const char* const bytes = names.Bytes().data();
    for (size_t i = 0; i < keys.size(); ++i)
        rows[i] = {static_cast<size_t>(keys[i].data - bytes), keys[i].size};
    std::vector<TFoldedKey>().swap(keys);
    names.SetRows(std::move(rows));
}

int TGroupList::CompareText(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
    const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
    // Names in a list share long beginnings ("comp.lang."): equal bytes are skipped eight at a
    // time, as they fold alike.
    size_t i = 0;
    for (uint64_t x, y; i + 8 <= n; i += 8) {
        std::memcpy(&x, pa + i, 8);
        std::memcpy(&y, pb + i, 8);
        if (x != y)
            break;
    }
    for (; i < n; ++i) {
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

static TGroupNames::TIterator LowerBound(const TGroupNames& names, std::string_view name) {
    return std::lower_bound(names.begin(), names.end(), name,
                            [](std::string_view e, std::string_view n) {
                                return TGroupList::CompareText(e, n) < 0;
                            });
}

int TGroupList::IndexOf(std::string_view name) const {
    const auto it = LowerBound(FEntries, name);
    if (it == FEntries.end() || CompareText(*it, name) != 0)
        return -1;
    return static_cast<int>(it - FEntries.begin());
}

bool TGroupList::Add(std::string_view name) {
    const auto it = LowerBound(FEntries, name);
    if (it != FEntries.end() && CompareText(*it, name) == 0)
        return false;
    const int row = static_cast<int>(it - FEntries.begin());
    if (FObserver)
        FObserver->ListAboutToInsert(row);
    FEntries.Insert(static_cast<size_t>(row), name);
    if (FObserver)
        FObserver->ListInserted();
    return true;
}

int TGroupList::AddMany(std::vector<std::string> names) {
    return MergeSorted(SortedUnique({names.begin(), names.end()}));
}

int TGroupList::AddSorted(std::vector<std::string_view> names) {
    return MergeSorted(SortedUnique(std::move(names)));
}

int TGroupList::MergeSorted(const std::vector<std::string_view>& names) {
    const size_t oldCount = FEntries.size();
    size_t fresh = 0;
    size_t freshBytes = 0;
    for (size_t i = 0, j = 0; j < names.size();) {
        const int order = i < oldCount ? CompareText(FEntries[i], names[j]) : 1;
        if (order <= 0)
            ++i;
        if (order >= 0) {
            if (order > 0) {
                ++fresh;
                freshBytes += names[j].size();
            }
            ++j;
        }
    }
    if (fresh == 0)
        return 0;

    if (FObserver)
        FObserver->ListAboutToReset();
    TGroupNames merged;
    merged.Reserve(oldCount + fresh, FEntries.Bytes().size() + freshBytes);
    size_t i = 0;
    for (size_t j = 0; j < names.size();) {
        const int order = i < oldCount ? CompareText(FEntries[i], names[j]) : 1;
        merged.PushBack(order <= 0 ? FEntries[i++] : names[j]);
        if (order >= 0)
            ++j;
    }
    while (i < oldCount)
        merged.PushBack(FEntries[i++]);
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
    FEntries.Erase(static_cast<size_t>(index));
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
    FEntries.EraseMarked(marks);
    if (FObserver)
        FObserver->ListReset();
}

void TGroupList::Clear() {
    ReplaceWith({});
}

void TGroupList::Assign(std::vector<std::string> names) {
    TGroupNames laidOut;
    size_t bytes = 0;
    for (const std::string& name : names)
        bytes += name.size();
    laidOut.Reserve(names.size(), bytes);
    for (const std::string& name : names)
        laidOut.PushBack(name);
    std::vector<std::string>().swap(names);
    Assign(std::move(laidOut));
}

void TGroupList::Assign(TGroupNames names) {
    SortUniqueRows(names);
    ReplaceWith(std::move(names));
}

void TGroupList::Assign(const TGroupList& other) {
    if (&other != this)
        ReplaceWith(other.FEntries);
}

void TGroupList::ReplaceWith(TGroupNames sortedUnique) {
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
            lines.push_back({name.data(), static_cast<uint32_t>(name.size()),
                             static_cast<uint32_t>(lines.size())});
        if (eol < end)
            eol += (*eol == '\r' && eol + 1 < end && eol[1] == '\n') ? 2 : 1;
        p = eol;
    }
    TFoldedSort::SortUnique(lines);

    // The old entries go before the new ones are made, so a reload never holds both lists.
    if (FObserver)
        FObserver->ListAboutToReset();
    FEntries.Clear();
    size_t bytes = 0;
    for (const TFoldedKey& line : lines)
        bytes += line.size;
    FEntries.Reserve(lines.size(), bytes);
    for (const TFoldedKey& line : lines)
        FEntries.PushBack(line.View());
    if (FObserver)
        FObserver->ListReset();
}

std::string TGroupList::SaveToText() const {
    size_t size = 0;
    for (const std::string_view e : FEntries)
        size += e.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string_view e : FEntries) {
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
