// The Telnet receive filter keeps the same bytes and sends the same answers whether a chunk comes
// whole or one byte at a time.

#include "net/TIpTelnetLayer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

static std::string Filter(const uint8_t* data, size_t size, size_t step, std::string& answers) {
    TIpTelnetLayer layer([&answers](const std::string& bytes) { answers += bytes; },
                         [](uint8_t, uint8_t, bool) {});
    std::string buffer(reinterpret_cast<const char*>(data), size);
    std::string kept;
    for (size_t at = 0; at < size; at += step) {
        const size_t count = step < size - at ? step : size - at;
        kept.append(buffer.data() + at,
                    layer.Filter(buffer.data() + at, static_cast<uint32_t>(count)));
    }
    return kept;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    std::string wholeAnswers;
    std::string byteAnswers;
    if (Filter(data, size, size, wholeAnswers) != Filter(data, size, 1, byteAnswers) ||
        wholeAnswers != byteAnswers)
        std::abort();
    return 0;
}
