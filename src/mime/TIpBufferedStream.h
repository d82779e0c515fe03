#pragma once

#include "mime/TIpStream.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

// A write-back block buffer over any seekable stream. One 4096-byte block of the underlying
// stream is held at a time:
//
//   underlying:  |........ block at BufferPos ........|........ next block ...
//   buffer:      [0 ........ BufferOffset ...... BufferCount ...... 4096)
//                            ^ logical position = BufferPos + BufferOffset
//
// Bytes written reach the underlying stream only when the block is flushed: when the cursor moves
// to another block, when the stream is exchanged or released, and on destruction. Seen through
// this wrapper, size and contents are always current.
class TIpBufferedStream : public TIpStream {
public:
    static constexpr int64_t BufferSize = 4096;

    // Without a stream, Read, Write and Seek do nothing and return 0.
    TIpBufferedStream();
    // Raises "Stream not assigned" when stream is null. The stream is not owned.
    explicit TIpBufferedStream(TIpStream* stream);
    ~TIpBufferedStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    // The logical size; unlike the generic Size it never moves the buffered block.
    int64_t Size() override { return FStream ? FStreamSize : 0; }

    // Re-reads the underlying size and drops the loaded block (unwritten bytes are discarded).
    virtual void Refresh();

    // The next byte; false at the logical end.
    bool ReadChar(char& c) {
        if (FBufferOffset < FBufferCount && FBufferPos + FBufferOffset < FStreamSize) {
            c = FBuffer[FBufferOffset++];
            return true;
        }
        return ReadCharSlow(c);
    }

    // Writes the loaded block back to the underlying stream when it holds unwritten bytes, so
    // that the underlying stream shows everything written so far.
    void Flush() {
        if (FStream && FDirty)
            FlushBuffer();
    }

    // Attaches a stream the caller keeps owning; flushes the old one first.
    void AssignStream(TIpStream* stream);
    // Attaches a stream this object owns from now on (released by FreeStream or destruction).
    void AssignStream(std::unique_ptr<TIpStream> stream);
    // Flushes, detaches the underlying stream and releases it when it is owned.
    void FreeStream();
    TIpStream* Stream() const { return FStream; }

    int64_t BufferPos() const { return FBufferPos; }
    int64_t BufferOffset() const { return FBufferOffset; }
    int64_t BufferCount() const { return FBufferCount; }
    bool Dirty() const { return FDirty; }
    int64_t StreamSize() const { return FStreamSize; }

protected:
    // Appends the bytes up to the next terminator to out and consumes the terminator; false when
    // the logical end came first. Scans block by block, without a call per byte.
    bool AppendUntil(char terminator, std::string& out);
    void FillBuffer();
    void FlushBuffer();
    // After bytes were appended to the underlying stream directly (with nothing unwritten held
    // here): takes its new size and moves to its end.
    void SyncToStreamEnd();
    // The write path without a virtual call while the bytes fit in the current block.
    void WriteBytes(const char* bytes, int64_t count) {
        if (FStream && count > 0 && FBufferCount > 0 && FBufferOffset + count <= BufferSize) {
            std::memcpy(FBuffer.get() + FBufferOffset, bytes, static_cast<size_t>(count));
            FDirty = true;
            FBufferOffset += count;
            if (FBufferOffset > FBufferCount) {
                FBufferCount = FBufferOffset;
                FStreamSize = FBufferPos + FBufferOffset;
            }
            return;
        }
        WriteSlow(bytes, count);
    }

private:
    bool ReadCharSlow(char& c);
    void WriteSlow(const char* bytes, int64_t count);
    void NextBlock();
    void Detach();

    TIpStream* FStream = nullptr;
    std::unique_ptr<TIpStream> FOwnedStream;
    std::unique_ptr<char[]> FBuffer;
    int64_t FBufferPos = 0;
    int64_t FBufferOffset = 0;
    int64_t FBufferCount = 0;
    bool FDirty = false;
    int64_t FStreamSize = 0;
};
