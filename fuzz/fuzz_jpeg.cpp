// Any bytes as the banner picture: decoded or refused, never a crash.

#include "banner/TJpegDecoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString error;
    TJpegDecoder::Decode(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
        &error);
    return 0;
}
