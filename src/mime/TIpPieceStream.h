#pragma once

#include "mime/TIpStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A stream in memory pieced together from bytes of its own and stretches of memory streams it
// shares, so that a composed message refers to its large encoded bodies instead of copying them.
// It reads and seeks like a memory stream. A write at the end adds bytes of its own; a write
// inside that changes bytes first turns the whole text into bytes of its own. Rewriting bytes
// with what they already are (a buffered stream writing back a block it only extended) keeps
// the pieces.
class TIpPieceStream : public TIpStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override { return FSize; }

    // Appends count bytes of source from offset on by reference when the position is at the end
    // (otherwise they are written as copies); the range is clipped to the source's size.
    void AppendShared(TIpMemoryStream& source, int64_t offset, int64_t count);
    // The number of pieces (for tests).
    size_t PieceCount() const { return FPieces.size(); }

private:
    struct TPiece {
        std::shared_ptr<const TIpMemoryBlock> Shared; // null: the bytes are in Own
        int64_t Offset = 0;                           // of the bytes in Shared
        std::string Own;
        int64_t Start = 0; // stream position of the first byte
        int64_t Size = 0;
        const char* Data() const { return Shared ? Shared->Data + Offset : Own.data(); }
    };

    // The index of the piece holding the byte at position (position < FSize).
    size_t PieceAt(int64_t position) const;
    // Copies count bytes from position to out; the range lies inside the stream.
    void CopyOut(int64_t position, char* out, int64_t count) const;
    bool Holds(int64_t position, const char* bytes, int64_t count) const;
    void AppendOwn(const char* bytes, int64_t count);
    void Flatten();

    std::vector<TPiece> FPieces;
    int64_t FSize = 0;
    int64_t FPosition = 0;
};
