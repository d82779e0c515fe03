#include "mime/TIpPieceStream.h"

#include <algorithm>
#include <cstring>

size_t TIpPieceStream::PieceAt(int64_t position) const {
    const auto after =
        std::upper_bound(FPieces.begin(), FPieces.end(), position,
                         [](int64_t at, const TPiece& piece) { return at < piece.Start; });
    return static_cast<size_t>(after - FPieces.begin()) - 1;
}

void TIpPieceStream::CopyOut(int64_t position, char* out, int64_t count) const {
    for (size_t i = PieceAt(position); count > 0; ++i) {
        const TPiece& piece = FPieces[i];
        const int64_t within = position - piece.Start;
        const int64_t n = std::min(count, piece.Size - within);
        std::memcpy(out, piece.Data() + within, static_cast<size_t>(n));
        out += n;
        position += n;
        count -= n;
    }
}

bool TIpPieceStream::Holds(int64_t position, const char* bytes, int64_t count) const {
    for (size_t i = PieceAt(position); count > 0; ++i) {
        const TPiece& piece = FPieces[i];
        const int64_t within = position - piece.Start;
        const int64_t n = std::min(count, piece.Size - within);
        if (std::memcmp(bytes, piece.Data() + within, static_cast<size_t>(n)) != 0)
            return false;
        bytes += n;
        position += n;
        count -= n;
    }
    return true;
}

int64_t TIpPieceStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::min(count, FSize - FPosition);
    if (n <= 0)
        return 0;
    CopyOut(FPosition, static_cast<char*>(buffer), n);
    FPosition += n;
    return n;
}

void TIpPieceStream::AppendOwn(const char* bytes, int64_t count) {
    if (FPieces.empty() || FPieces.back().Shared) {
        TPiece piece;
        piece.Start = FSize;
        FPieces.push_back(std::move(piece));
    }
    TPiece& last = FPieces.back();
    if (bytes)
        last.Own.append(bytes, static_cast<size_t>(count));
    else
        last.Own.append(static_cast<size_t>(count), '\0');
    last.Size += count;
    FSize += count;
    FPosition = FSize;
}

void TIpPieceStream::Flatten() {
    if (FPieces.size() == 1 && !FPieces.front().Shared)
        return;
    TPiece whole;
    whole.Own.resize(static_cast<size_t>(FSize));
    if (FSize > 0)
        CopyOut(0, whole.Own.data(), FSize);
    whole.Size = FSize;
    FPieces.clear();
    FPieces.push_back(std::move(whole));
}

int64_t TIpPieceStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const auto* bytes = static_cast<const char*>(buffer);
    if (FPosition < FSize) {
        const int64_t overlap = std::min(count, FSize - FPosition);
        if (Holds(FPosition, bytes, overlap)) {
            FPosition += overlap;
            if (overlap < count)
                AppendOwn(bytes + overlap, count - overlap);
            return count;
        }
        Flatten();
        TPiece& whole = FPieces.front();
        const int64_t end = FPosition + count;
        if (end > FSize) {
            whole.Own.resize(static_cast<size_t>(end));
            whole.Size = FSize = end;
        }
        std::memcpy(whole.Own.data() + FPosition, bytes, static_cast<size_t>(count));
        FPosition = end;
        return count;
    }
    if (FPosition > FSize) // a gap left by seeking past the end reads as zeros
        AppendOwn(nullptr, FPosition - FSize);
    AppendOwn(bytes, count);
    return count;
}

int64_t TIpPieceStream::Seek(int64_t offset, int origin) {
    const int64_t target = SeekTarget(offset, origin, FPosition, FSize);
    FPosition = std::max<int64_t>(0, target);
    return FPosition;
}

void TIpPieceStream::AppendShared(TIpMemoryStream& source, int64_t offset, int64_t count) {
    count = std::min(count, source.Size() - offset);
    if (offset < 0 || count <= 0)
        return;
    if (FPosition != FSize) {
        Write(source.Memory() + offset, count);
        return;
    }
    TPiece piece;
    piece.Shared = source.Share();
    piece.Offset = offset;
    piece.Start = FSize;
    piece.Size = count;
    FPieces.push_back(std::move(piece));
    FSize += count;
    FPosition = FSize;
}
