#include "mime/TIpMimeEncodingMethod.h"

#include "mime/TIpMimeHeaders.h"

std::string EncodingName(TIpMimeEncodingMethod method) {
    switch (method) {
    case TIpMimeEncodingMethod::em7Bit:
        return "7bit";
    case TIpMimeEncodingMethod::em8Bit:
        return "8bit";
    case TIpMimeEncodingMethod::emBase64:
        return "base64";
    case TIpMimeEncodingMethod::emBinary:
        return "binary";
    case TIpMimeEncodingMethod::emBinHex:
        return "binhex";
    case TIpMimeEncodingMethod::emQuoted:
        return "quoted-printable";
    case TIpMimeEncodingMethod::emUUEncode:
        return "uuencoded";
    case TIpMimeEncodingMethod::emUnknown:
        return {};
    }
    return {};
}

TIpMimeEncodingMethod EncodingFromName(std::string_view name) {
    for (uint8_t i = 0; i < static_cast<uint8_t>(TIpMimeEncodingMethod::emUnknown); ++i) {
        const auto method = static_cast<TIpMimeEncodingMethod>(i);
        if (TIpMimeHeaders::SameText(name, EncodingName(method)))
            return method;
    }
    return TIpMimeEncodingMethod::emUnknown;
}
