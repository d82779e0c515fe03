#pragma once

#include "mime/TIpStream.h"

#include <string>

// A file opened read-only, as an attachment is read while it is encoded.
class TIpFileStream : public TIpStream {
public:
    // Raises EIpBaseException when the file cannot be opened.
    explicit TIpFileStream(const std::string& path);
    ~TIpFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    // A read-only stream accepts nothing.
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

private:
    int FHandle = -1;
};
