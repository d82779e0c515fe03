#pragma once

#include <cstdint>

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

    const char* Memory() const { return FData; }
    // Makes room for capacity bytes in one step, so a body of known size grows without copies.
    void Reserve(int64_t capacity);

private:
    void Grow(int64_t capacity);

    // Raw storage grown with realloc: a large body grows in place where the allocator can, and
    // new capacity is never zero-filled only to be overwritten.
    char* FData = nullptr;
    int64_t FSize = 0;
    int64_t FCapacity = 0;
    int64_t FPosition = 0;
};
