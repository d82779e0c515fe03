#include "mime/TIpStream.h"

#include "mime/EIpBaseException.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int64_t TIpStream::Size() {
    const int64_t position = Seek(0, soFromCurrent);
    const int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

TIpMemoryBlock::~TIpMemoryBlock() {
    std::free(Data);
}

TIpMemoryStream::~TIpMemoryStream() = default;

void TIpMemoryStream::Reserve(int64_t capacity) {
    if (!FBlock || capacity > FBlock->Capacity)
        Own(capacity);
}

std::shared_ptr<const TIpMemoryBlock> TIpMemoryStream::Share() {
    return FBlock;
}

void TIpMemoryStream::Own(int64_t capacity) {
    if (FBlock && FBlock.use_count() > 1) {
        // Shared: the readers keep the old block as it is, this stream goes on in a copy.
        auto copy = std::make_shared<TIpMemoryBlock>();
        copy->Data = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
        if (!copy->Data)
            throw std::bad_alloc();
        copy->Capacity = capacity;
        std::memcpy(copy->Data, FBlock->Data, static_cast<size_t>(std::min(FSize, capacity)));
        FBlock = std::move(copy);
    } else {
        if (!FBlock)
            FBlock = std::make_shared<TIpMemoryBlock>();
        auto* grown = static_cast<char*>(std::realloc(FBlock->Data, static_cast<size_t>(capacity)));
        if (!grown)
            throw std::bad_alloc();
        FBlock->Data = grown;
        FBlock->Capacity = capacity;
    }
    // A large body (an attachment, a composed article) is filled once from start to end. Backed
    // by huge pages it costs one fault per 2 MiB instead of one per 4 KiB, which is a fifth of
    // the time of filling it otherwise. Only the whole huge pages inside the block are asked
    // for; the system may refuse, and then nothing changes.
    constexpr uintptr_t HugePage = uintptr_t(2) << 20;
    if (capacity >= int64_t(4 * HugePage)) {
        const auto data = reinterpret_cast<uintptr_t>(FBlock->Data);
        const auto start = (data + HugePage - 1) & ~(HugePage - 1);
        const auto end = (data + uintptr_t(capacity)) & ~(HugePage - 1);
        if (end > start)
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
}

int64_t TIpMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::min(count, FSize - FPosition);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, FBlock->Data + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TIpMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const int64_t end = FPosition + count;
    const int64_t capacity = FBlock ? FBlock->Capacity : 0;
    if (end > capacity)
        Own(std::max({end, capacity * 2, int64_t(4096)}));
    else if (FBlock.use_count() > 1)
        Own(capacity);
    char* data = FBlock->Data;
    if (FPosition > FSize) // a gap left by seeking past the end reads as zeros
        std::memset(data + FSize, 0, static_cast<size_t>(FPosition - FSize));
    std::memcpy(data + FPosition, buffer, static_cast<size_t>(count));
    if (FPosition < FSize)
        FCrlfOnly = false;
    else if (FCrlfOnly)
        FCrlfOnly =
            FindLoneLF(data, FPosition, end, FPosition > 0 && data[FPosition - 1] == '\r') == end;
    FPosition = end;
    FSize = std::max(FSize, end);
    return count;
}

int64_t TIpStream::SeekTarget(int64_t offset, int origin, int64_t position, int64_t size) {
    switch (origin) {
    case soFromBeginning:
        return offset;
    case soFromCurrent:
        return position + offset;
    case soFromEnd:
        return size + offset;
    default:
        throw EIpBaseException("Invalid seek origin");
    }
}

int64_t TIpMemoryStream::Seek(int64_t offset, int origin) {
    const int64_t target = SeekTarget(offset, origin, FPosition, FSize);
    // A memory stream may be positioned past its end; a later write fills the gap with zeros.
    FPosition = std::max<int64_t>(0, target);
    return FPosition;
}

int64_t TIpMemoryStream::FindLoneLF(const char* data, int64_t from, int64_t to, bool afterCR) {
    int64_t i = from;
#if defined(__SSE2__)
    // Sixteen bytes at a time: the LFs whose preceding byte (within the block, or carried over
    // from the last byte of the block before) is not a CR.
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i crs = _mm_set1_epi8('\r');
    unsigned carry = afterCR ? 1 : 0;
    for (; i + 16 <= to; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const auto lf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lfs)));
        const auto cr = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, crs)));
        const unsigned lone = lf & ~((cr << 1) | carry);
        if (lone)
            return i + __builtin_ctz(lone);
        carry = cr >> 15;
    }
#endif
    while (i < to) {
        const auto* lf = static_cast<const char*>(std::memchr(data + i, '\n', size_t(to - i)));
        if (!lf)
            return to;
        const int64_t j = lf - data;
        if (j == from ? !afterCR : data[j - 1] != '\r')
            return j;
        i = j + 1;
    }
    return to;
}
