#include "mime/TIpBufferedStream.h"

#include "mime/EIpBaseException.h"

#include <algorithm>

TIpBufferedStream::TIpBufferedStream() : FBuffer(std::make_unique<char[]>(BufferSize)) {
    TIpBufferedStream::Refresh();
}

TIpBufferedStream::TIpBufferedStream(TIpStream* stream)
    : FBuffer(std::make_unique<char[]>(BufferSize)) {
    if (!stream)
        throw EIpBaseException("Stream not assigned");
    FStream = stream;
    TIpBufferedStream::Refresh();
}

TIpBufferedStream::~TIpBufferedStream() {
    // A destructor must not throw; a failed final flush loses only what the owner discards anyway.
    try {
        if (FStream && FDirty)
            FlushBuffer();
    } catch (const EIpBaseException&) {
    }
}

void TIpBufferedStream::Refresh() {
    FStreamSize = FStream ? FStream->Size() : 0;
    FBufferCount = 0;
    FBufferPos = 0;
    FBufferOffset = 0;
    FDirty = false;
}

void TIpBufferedStream::FillBuffer() {
    if (FStream->Seek(FBufferPos, soFromBeginning) != FBufferPos)
        throw EIpBaseException("No seek for read");
    FBufferCount = FStream->Read(FBuffer.get(), BufferSize);
}

void TIpBufferedStream::FlushBuffer() {
    if (FStream->Seek(FBufferPos, soFromBeginning) != FBufferPos)
        throw EIpBaseException("No seek for write");
    if (FStream->Write(FBuffer.get(), FBufferCount) < FBufferCount)
        throw EIpBaseException("Cannot write to stream");
    FDirty = false;
}

void TIpBufferedStream::SyncToStreamEnd() {
    FStreamSize = FStream->Size();
    FBufferPos = FStreamSize / BufferSize * BufferSize;
    FBufferOffset = FStreamSize - FBufferPos;
    FBufferCount = 0; // loaded again before the next write, as the block may hold data
    FDirty = false;
}

// Moves to the block after the current one (which is exhausted) and loads it.
void TIpBufferedStream::NextBlock() {
    if (FDirty)
        FlushBuffer();
    FBufferOffset = 0;
    FBufferPos += BufferSize;
    FillBuffer();
}

bool TIpBufferedStream::ReadCharSlow(char& c) {
    if (!FStream || FBufferPos + FBufferOffset >= FStreamSize)
        return false;
    if (FBufferCount == 0)
        FillBuffer();
    else if (FBufferOffset == FBufferCount)
        NextBlock();
    if (FBufferOffset >= FBufferCount)
        return false; // the underlying stream delivered less than its size promised
    c = FBuffer[FBufferOffset++];
    return true;
}

bool TIpBufferedStream::AppendUntil(char terminator, std::string& out) {
    if (!FStream)
        return false;
    for (;;) {
        if (FBufferPos + FBufferOffset >= FStreamSize)
            return false;
        if (FBufferCount == 0)
            FillBuffer();
        else if (FBufferOffset == FBufferCount)
            NextBlock();
        const int64_t available = std::min(FBufferCount, FStreamSize - FBufferPos) - FBufferOffset;
        if (available <= 0)
            return false; // the underlying stream is shorter than it claimed
        const char* start = FBuffer.get() + FBufferOffset;
        const auto* hit = static_cast<const char*>(std::memchr(start, terminator, available));
        if (hit) {
            out.append(start, hit);
            FBufferOffset += (hit - start) + 1;
            return true;
        }
        out.append(start, static_cast<size_t>(available));
        FBufferOffset += available;
    }
}

int64_t TIpBufferedStream::Read(void* buffer, int64_t count) {
    if (!FStream)
        return 0;
    count = std::min(count, FStreamSize - (FBufferPos + FBufferOffset));
    if (count <= 0)
        return count;
    if (FBufferCount == 0)
        FillBuffer();
    auto* out = static_cast<char*>(buffer);
    int64_t remaining = count;
    for (;;) {
        const int64_t n = std::min(remaining, FBufferCount - FBufferOffset);
        if (n > 0) {
            std::memcpy(out, FBuffer.get() + FBufferOffset, static_cast<size_t>(n));
            out += n;
            FBufferOffset += n;
            remaining -= n;
        }
        if (remaining == 0)
            break;
        if (FDirty)
            FlushBuffer();
        FBufferOffset = 0;
        FBufferPos += BufferSize;
        // Whole blocks go straight from the underlying stream to the caller; only the current
        // block can be dirty, and it was flushed above.
        if (remaining >= BufferSize) {
            const int64_t whole = remaining / BufferSize * BufferSize;
            if (FStream->Seek(FBufferPos, soFromBeginning) != FBufferPos)
                throw EIpBaseException("No seek for read");
            const int64_t got = FStream->Read(out, whole);
            FBufferCount = 0;
            if (got < whole)
                return count - remaining; // the underlying stream is shorter than it claimed
            out += whole;
            remaining -= whole;
            FBufferPos += whole;
            if (remaining == 0)
                break;
        }
        FillBuffer();
        if (FBufferCount == 0)
            return count - remaining;
    }
    return count;
}

int64_t TIpBufferedStream::Write(const void* buffer, int64_t count) {
    if (!FStream)
        return 0;
    if (count <= 0)
        return count;
    WriteBytes(static_cast<const char*>(buffer), count);
    return count;
}

void TIpBufferedStream::WriteSlow(const char* bytes, int64_t count) {
    if (!FStream || count <= 0)
        return;
    // Load the block first whenever it holds data, so that the bytes of it not written now are
    // kept: also when writing at the end, as the block's earlier bytes go back on the flush.
    if (FBufferCount == 0 && FBufferPos < FStreamSize)
        FillBuffer();
    for (;;) {
        const int64_t n = std::min(count, BufferSize - FBufferOffset);
        std::memcpy(FBuffer.get() + FBufferOffset, bytes, static_cast<size_t>(n));
        FDirty = true;
        FBufferOffset += n;
        if (FBufferOffset > FBufferCount) {
            FBufferCount = FBufferOffset;
            FStreamSize = std::max(FStreamSize, FBufferPos + FBufferOffset);
        }
        bytes += n;
        count -= n;
        if (count == 0)
            break;
        FlushBuffer();
        FBufferOffset = 0;
        FBufferPos += BufferSize;
        FBufferCount = 0;
        // Whole blocks replace what lies there entirely, so they go straight to the underlying
        // stream; only a partial last block passes through the buffer.
        if (count >= BufferSize) {
            const int64_t whole = count / BufferSize * BufferSize;
            if (FStream->Seek(FBufferPos, soFromBeginning) != FBufferPos)
                throw EIpBaseException("No seek for write");
            if (FStream->Write(bytes, whole) < whole)
                throw EIpBaseException("Cannot write to stream");
            FBufferPos += whole;
            FStreamSize = std::max(FStreamSize, FBufferPos);
            bytes += whole;
            count -= whole;
            if (count == 0)
                break;
        }
        if (FBufferPos < FStreamSize)
            FillBuffer();
    }
}

int64_t TIpBufferedStream::Seek(int64_t offset, int origin) {
    if (!FStream)
        return 0;
    const int64_t position = FBufferPos + FBufferOffset;
    if (offset == 0 && origin == soFromCurrent)
        return position;
    // No holes: a seek past the end lands on the end.
    const int64_t target =
        std::clamp<int64_t>(SeekTarget(offset, origin, position, FStreamSize), 0, FStreamSize);
    const int64_t blockStart = (target / BufferSize) * BufferSize;
    if (blockStart != FBufferPos) {
        if (FDirty)
            FlushBuffer();
        FBufferPos = blockStart;
        FBufferCount = 0;
    }
    FBufferOffset = target - FBufferPos;
    return target;
}

void TIpBufferedStream::Detach() {
    if (FStream && FDirty)
        FlushBuffer();
}

void TIpBufferedStream::AssignStream(TIpStream* stream) {
    if (stream == FStream)
        return;
    Detach();
    FOwnedStream.reset();
    FStream = stream;
    Refresh();
}

void TIpBufferedStream::AssignStream(std::unique_ptr<TIpStream> stream) {
    if (stream.get() == FStream) {
        stream.release();
        return;
    }
    Detach();
    FOwnedStream = std::move(stream);
    FStream = FOwnedStream.get();
    Refresh();
}

void TIpBufferedStream::FreeStream() {
    if (!FStream)
        return;
    Detach();
    FOwnedStream.reset();
    FStream = nullptr;
    Refresh();
}
