#include "mime/TIpStream.h"

#include "mime/EIpBaseException.h"

#include <algorithm>
#include <cstring>

int64_t TIpStream::Size() {
    const int64_t position = Seek(0, soFromCurrent);
    const int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

int64_t TIpMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t available = static_cast<int64_t>(FData.size()) - FPosition;
    const int64_t n = std::min(count, available);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TIpMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const auto end = static_cast<size_t>(FPosition + count);
    if (end > FData.size()) {
        // Grow geometrically: bodies are written a few bytes at a time.
        if (end > FData.capacity())
            FData.reserve(std::max(end, FData.capacity() * 2));
        FData.resize(end);
    }
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition += count;
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
        target = static_cast<int64_t>(FData.size()) + offset;
        break;
    default:
        throw EIpBaseException("Invalid seek origin");
    }
    // A memory stream may be positioned past its end; a later write fills the gap with zeros.
    FPosition = std::max<int64_t>(0, target);
    return FPosition;
}
