#pragma once

#include "mime/TIpAnsiTextStream.h"
#include "mime/TIpStream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Told the source position and size while an encoder runs; setting abort stops the encoder after
// its current step, and the target keeps what was written.
using TIpProgressReport = std::function<void(int64_t position, int64_t size, bool& abort)>;

// The content-transfer encoders. Each reads its source from the beginning to the end (or until
// aborted) and appends CR LF lines to the target, the body of an entity.
class TIpMimeEncoder {
public:
    static const char Base64Alphabet[65];
    static const char BinHexAlphabet[65];

    TIpMimeEncoder(TIpAnsiTextStream& target, TIpProgressReport report);

    // Each returns false when it was aborted.
    // Text lines: every line end (CR LF, or a lone LF) becomes CR LF; nothing else changes.
    bool EncodeLines(TIpStream& source);
    // Groups of 3 bytes as 4 characters of alphabet, cut into lines of 76; delimiter (when not 0)
    // opens and closes the text, pad (when not 0) fills a final partial group.
    bool EncodeSixBit(TIpStream& source, char delimiter, char pad, const char* alphabet);
    bool EncodeBase64(TIpStream& source);
    // Quoted-printable that decodes to the source byte for byte: CR LF becomes a hard line break,
    // every other byte outside "!".."~" (and "=") is written as =XX, and no line passes 76.
    bool EncodeQuoted(TIpStream& source);
    bool EncodeUU(TIpStream& source, const std::string& fileName);
    // Nothing at all is written when aborted.
    bool EncodeBinHex(TIpStream& source, const std::string& fileName);

    // The BinHex CRC-16 (polynomial 0x1021, initial 0, two zero bytes appended) of count bytes
    // at offset; raises "Invalid stream offset" for a range past the end of data.
    static uint16_t BinHexCrc(const std::vector<uint8_t>& data, size_t offset, size_t count);
    // The run-length step of BinHex: runs of 3..255 equal bytes as byte, 0x90, length; a data
    // byte 0x90 as 0x90, 0x00. report (when set) sees each step; false when aborted.
    static bool BinHexCompress(const std::vector<uint8_t>& data, std::vector<uint8_t>& packed,
                               const std::function<bool(int64_t)>& step = {});

private:
    class TLineWriter;

    TIpAnsiTextStream& FTarget;
    TIpProgressReport FReport;
};
