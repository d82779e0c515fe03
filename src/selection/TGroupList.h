#pragma once

#include "posting/TGroupNames.h"
#include "selection/EFileError.h"

#include <QString>
#include <string>
#include <string_view>
#include <vector>

// Told about every change of a TGroupList before and after it happens, so that a view can keep
// its row count equal to the number of entries.
class TGroupListObserver {
public:
    virtual void ListAboutToInsert(int row) = 0;
    virtual void ListInserted() = 0;
    virtual void ListAboutToRemove(int first, int last) = 0;
    virtual void ListRemoved() = 0;
    virtual void ListAboutToReset() = 0;
    virtual void ListReset() = 0;

protected:
    ~TGroupListObserver() = default;
};

// The entries of a newsgroup list: 8-bit names kept in ascending order and free of duplicates,
// both compared without regard to ASCII letter case. The comparison folds a-z onto A-Z and
// compares the bytes unsigned, independent of the locale, so a list file sorts the same way on
// every machine (and the same way as `LC_ALL=C sort -f`).
//
// Adding one entry is a binary search and one insertion. Replacing the whole content (Assign,
// LoadFromFile) sorts stably and keeps the first of each run of equal names, so of two names
// differing only in case the one met first stays.
class TGroupList {
public:
    TGroupList() = default;
    TGroupList(const TGroupList&) = delete;
    TGroupList& operator=(const TGroupList&) = delete;

    int Count() const { return static_cast<int>(FEntries.size()); }
    bool IsEmpty() const { return FEntries.empty(); }
    std::string_view operator[](int index) const { return FEntries[static_cast<size_t>(index)]; }
    const TGroupNames& Entries() const { return FEntries; }

    // Adds `name` at its sorted place; returns false (and changes nothing) when an entry that
    // compares equal is already there.
    bool Add(std::string_view name);
    // The same as adding each of `names` in order, done as one sort and one merge: names already
    // present, or repeated among `names`, are ignored. Returns how many were added.
    int AddMany(std::vector<std::string> names);
    // The same as AddMany for names that usually arrive in list order and free of repeats, such
    // as the rows of another list taken in order: then it is one linear merge with no sort and no
    // copy of the names beyond the list's own. Names out of order are sorted first, so the result
    // never depends on that. The views need to stay valid only during the call.
    int AddSorted(std::vector<std::string_view> names);
    // Row of the entry equal to `name` without regard to case, or -1.
    int IndexOf(std::string_view name) const;
    void Delete(int index);
    // Deletes every entry whose row has a non-zero byte in `marks` (rows past its end are kept).
    void DeleteMarked(const std::vector<uint8_t>& marks);
    void Clear();
    void Assign(std::vector<std::string> names);
    // Takes the names themselves (a server's list as it arrived): sorted in place, no copy.
    void Assign(TGroupNames names);
    void Assign(const TGroupList& other);

    // Replaces the content with the lines of `text`: lines end at CR LF, CR or LF. The whole
    // text is read whatever bytes it holds; a byte-order mark at its start and blanks around a
    // name are dropped, and a line that is no group name (IsGroupName: empty, or holding a NUL,
    // a TAB or another control character) is left out.
    void LoadFromText(std::string_view text);
    // Every entry that is a group name followed by CR LF, in list order.
    std::string SaveToText() const;

    // Throws EFileError when the file cannot be opened or read.
    void LoadFromFile(const QString& path);
    // Rewrites the file whole; throws EFileError when it cannot be written. The old file is
    // replaced only once the new content is completely on disk.
    void SaveToFile(const QString& path) const;

    void SetObserver(TGroupListObserver* observer) { FObserver = observer; }

    // <0, 0, >0 as `a` sorts before, equal to or after `b` without regard to ASCII case.
    static int CompareText(std::string_view a, std::string_view b);

private:
    void ReplaceWith(TGroupNames sortedUnique);
    // Merges `sortedUnique` (in list order, no two equal) into the entries with one reset.
    int MergeSorted(const std::vector<std::string_view>& sortedUnique);

    TGroupNames FEntries;
    TGroupListObserver* FObserver = nullptr;
};
