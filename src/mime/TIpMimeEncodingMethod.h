#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How an entity's body is encoded. The ordinals are stored and compared as numbers.
enum class TIpMimeEncodingMethod : uint8_t {
    em7Bit,
    em8Bit,
    emBase64,
    emBinary,
    emBinHex,
    emQuoted,
    emUUEncode,
    emUnknown
};

// The Content-Transfer-Encoding value; empty for emUnknown, which writes no header line.
std::string EncodingName(TIpMimeEncodingMethod method);
// The method a Content-Transfer-Encoding value names, compared without regard to case;
// emUnknown for anything else.
TIpMimeEncodingMethod EncodingFromName(std::string_view name);
