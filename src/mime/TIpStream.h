#pragma once

#include <cstdint>
#include <memory>

// The seekable byte stream every buffered and text stream sits on. Positions and sizes are 64-bit
// throughout, so a file of more than 2 GiB never wraps into a negative size.
//
// Seek origins are plain numbers, as callers pass them through unchecked: 0 from the beginning,
// 1 from the current position, 2 from the end.
class TIpStream {
public:
    static constexpr int soFromBeginning = 0;
    static constexpr int soFromCurrent = 1;
    static constexpr int soFromEnd = 2;

    TIpStream() = default;
    TIpStream(const TIpStream&) = delete;
    TIpStream& operator=(const TIpStream&) = delete;
    virtual ~TIpStream() = default;

    // Bytes actually read / written; 0 at the end or on failure.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // The new position.
    virtual int64_t Seek(int64_t offset, int origin) = 0;

    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
    // Seeks to the end and back; streams that know their size cheaply override it.
    virtual int64_t Size();

protected:
    // The position a seek aims at, before any clamping; raises "Invalid seek origin".
    static int64_t SeekTarget(int64_t offset, int origin, int64_t position, int64_t size);
};

// The storage of a memory stream; shared read-only with the pieced texts made from it.
struct TIpMemoryBlock {
    TIpMemoryBlock() = default;
    TIpMemoryBlock(const TIpMemoryBlock&) = delete;
    TIpMemoryBlock& operator=(const TIpMemoryBlock&) = delete;
    ~TIpMemoryBlock();

    char* Data = nullptr;
    int64_t Capacity = 0;
};

// A growable stream in memory; the backing store of every entity body and message text.
class TIpMemoryStream : public TIpStream {
public:
    TIpMemoryStream() = default;
    ~TIpMemoryStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override { return FSize; }

    const char* Memory() const { return FBlock ? FBlock->Data : nullptr; }
    // Makes room for capacity bytes in one step, so a body of known size grows without copies.
    void Reserve(int64_t capacity);
    // The block holding the bytes, for a reader that keeps it: the bytes it holds now never
    // change, as a later write or growth of this stream first moves to a copy of its own.
    std::shared_ptr<const TIpMemoryBlock> Share();
    // True while every LF in the stream follows a CR. Kept up as bytes are appended (they are
    // scanned while they are still in the cache), so text in CR LF lines can be handed on
    // without being read again; any write inside the existing bytes makes it false.
    bool CrlfOnly() const { return FCrlfOnly; }

    // The offset of the first LF in [from, to) of data without a CR right before it, or to when
    // there is none. afterCR tells whether the byte before from counts as a CR.
    static int64_t FindLoneLF(const char* data, int64_t from, int64_t to, bool afterCR);

private:
    // Room for capacity bytes in a block that only this stream uses.
    void Own(int64_t capacity);

    // Raw storage grown with realloc: a large body grows in place where the allocator can, and
    // new capacity is never zero-filled only to be overwritten.
    std::shared_ptr<TIpMemoryBlock> FBlock;
    int64_t FSize = 0;
    int64_t FPosition = 0;
    bool FCrlfOnly = true;
};
