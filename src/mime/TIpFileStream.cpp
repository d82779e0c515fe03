#include "mime/TIpFileStream.h"

#include "mime/EIpBaseException.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TIpFileStream::TIpFileStream(const std::string& path) {
    FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle >= 0) {
        // Opening a directory succeeds on Linux; reading it would not.
        struct stat info {};
        if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(FHandle);
            FHandle = -1;
            errno = EISDIR;
        }
    }
    if (FHandle < 0)
        throw EIpBaseException("Cannot open file \"" + path + "\". " + std::strerror(errno));
}

TIpFileStream::~TIpFileStream() {
    if (FHandle >= 0)
        ::close(FHandle);
}

int64_t TIpFileStream::Read(void* buffer, int64_t count) {
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(FHandle, out + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t TIpFileStream::Write(const void*, int64_t) {
    return 0;
}

int64_t TIpFileStream::Seek(int64_t offset, int origin) {
    int whence = SEEK_SET;
    switch (origin) {
    case soFromBeginning:
        whence = SEEK_SET;
        break;
    case soFromCurrent:
        whence = SEEK_CUR;
        break;
    case soFromEnd:
        whence = SEEK_END;
        break;
    default:
        throw EIpBaseException("Invalid seek origin");
    }
    const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}
