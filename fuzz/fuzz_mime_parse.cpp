// Reads any bytes as a news article, then writes the tree it built back out.

#include "mime/EIpBaseException.h"
#include "mime/TIpNewsArticle.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TIpNewsArticle article;
    article.MessageStream.Write(reinterpret_cast<const char*>(data), static_cast<int64_t>(size));
    try {
        article.ParseText();
    } catch (const EIpBaseException&) {
        return 0;
    }
    TIpMemoryStream out;
    TIpAnsiTextStream target(&out);
    std::string boundary;
    article.WriteEntity(target, boundary);
    return 0;
}
