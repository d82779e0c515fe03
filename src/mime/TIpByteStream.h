#pragma once

#include "mime/TIpStream.h"

#include <cstdint>

// A forward-only reader handing out one byte at a time from 1024-byte refills, so a byte-wise
// encoder makes one virtual call per refill rather than per byte.
class TIpByteStream {
public:
    static constexpr int64_t BufferSize = 1024;

    // The source is not owned.
    explicit TIpByteStream(TIpStream& source) : FSource(source) {}

    bool ReadByte(uint8_t& b) {
        if (FIndex >= FCount) {
            FCount = FSource.Read(FBuffer, BufferSize);
            FIndex = 0;
            if (FCount <= 0) {
                FCount = 0;
                return false;
            }
        }
        b = FBuffer[FIndex++];
        return true;
    }

    // The position of the next byte handed out.
    int64_t Position() { return FSource.Position() - (FCount - FIndex); }
    int64_t Size() { return FSource.Size(); }

private:
    TIpStream& FSource;
    uint8_t FBuffer[BufferSize] = {};
    int64_t FCount = 0;
    int64_t FIndex = 0;
};
