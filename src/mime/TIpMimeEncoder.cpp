#include "mime/TIpMimeEncoder.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpByteStream.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <limits>
#include <memory>
#include <optional>

const char TIpMimeEncoder::Base64Alphabet[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char TIpMimeEncoder::BinHexAlphabet[65] =
    "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

namespace {

constexpr int64_t SixBitBlock = 45; // source bytes per block of the six-bit encoders
constexpr size_t SixBitLine = 76;   // characters per encoded line
constexpr size_t QuotedLimit = 74;  // characters of a quoted-printable line before its "="

// Calls the progress report only when the whole percentage changes: the report works in whole
// percent, so the calls skipped would have had no effect. This keeps a call per byte (or per
// 45-byte block) off the encoders' hot loops.
class TProgressGate {
public:
    TProgressGate(const TIpProgressReport& report, int64_t size, std::function<void()> beforeReport)
        : FReport(report), FSize(size), FBeforeReport(std::move(beforeReport)) {
        if (!FReport)
            FNext = std::numeric_limits<int64_t>::max();
    }

    // True when the coding is to stop.
    bool Step(int64_t position) {
        if (position < FNext)
            return false;
        const int percent = Percent(position);
        if (FBeforeReport)
            FBeforeReport();
        FReport(position, FSize, FAborted);
        // The first position at which the percentage exceeds this one.
        FNext = percent >= 100 || FSize <= 0 ? std::numeric_limits<int64_t>::max()
                                             : ((percent + 1) * FSize + 99) / 100;
        return FAborted;
    }
    bool Aborted() const { return FAborted; }
    // The first position at which Step does anything; below it Step is a no-op.
    int64_t Next() const { return FNext; }

private:
    int Percent(int64_t position) const {
        if (FSize <= 0)
            return 100;
        return static_cast<int>(std::min<int64_t>(100, position * 100 / FSize));
    }

    const TIpProgressReport& FReport;
    int64_t FSize = 0;
    std::function<void()> FBeforeReport;
    int64_t FNext = 0;
    bool FAborted = false;
};

} // namespace

// Collects encoded characters into lines of a fixed width. With CR LF lines (every body here)
// the lines are laid out in one output buffer that goes to the target in large writes;
// otherwise each line goes through WriteLine.
class TIpMimeEncoder::TLineWriter {
public:
    TLineWriter(TIpAnsiTextStream& target, size_t width)
        : FTarget(target), FWidth(width), FBulk(target.LineTerminator == TIpLineTerminator::ltCRLF),
          FOut(std::make_unique<char[]>(OutCapacity)) {}

    // Appends characters; a full line is ended only when more characters follow it.
    void Add(const char* chars, size_t count) {
        while (count > 0) {
            if (FLineLength == FWidth)
                EndLine();
            const size_t n = std::min(count, FWidth - FLineLength);
            Reserve(n);
            std::memcpy(FOut.get() + FOutLength, chars, n);
            FOutLength += n;
            FLineLength += n;
            chars += n;
            count -= n;
        }
    }
    void Add(char c) { Add(&c, 1); }

    // Writes a whole line as given, after any pending characters.
    void Line(const char* chars, size_t count) {
        if (FLineLength > 0)
            EndLine();
        if (FBulk && count + 2 <= OutCapacity) {
            Reserve(count + 2);
            std::memcpy(FOut.get() + FOutLength, chars, count);
            FOutLength += count;
            std::memcpy(FOut.get() + FOutLength, "\r\n", 2);
            FOutLength += 2;
            return;
        }
        Flush();
        FTarget.WriteLine(chars, static_cast<int64_t>(count));
    }
    void Line(const std::string& text) { Line(text.data(), text.size()); }

    bool Bulk() const { return FBulk; }
    size_t Width() const { return FWidth; }
    // Characters still fitting into the current line (a full line counts as an empty next one).
    size_t Room() const { return FLineLength == FWidth ? FWidth : FWidth - FLineLength; }

    // With CR LF lines and the current line empty or full: appends count whole lines, each
    // filled in place by fill(out) with exactly Width() characters.
    template <typename Fill> void AddWholeLines(size_t count, Fill&& fill) {
        for (; count > 0; --count) {
            Reserve(FWidth + 2);
            char* out = FOut.get() + FOutLength;
            if (FLineLength == FWidth) {
                out[0] = '\r';
                out[1] = '\n';
                out += 2;
                FOutLength += 2;
            }
            fill(out);
            FOutLength += FWidth;
            FLineLength = FWidth;
        }
    }

    // Ends the pending characters as the last line and writes everything to the target.
    void Finish() {
        if (FLineLength > 0)
            EndLine();
        Flush();
    }
    void Flush() {
        if (FOutLength > 0)
            FTarget.Write(FOut.get(), static_cast<int64_t>(FOutLength));
        FOutLength = 0;
    }

private:
    static constexpr size_t OutCapacity = 64 * 1024;

    void Reserve(size_t count) {
        if (FOutLength + count > OutCapacity)
            Flush();
    }
    void EndLine() {
        if (FBulk) {
            Reserve(2);
            std::memcpy(FOut.get() + FOutLength, "\r\n", 2);
            FOutLength += 2;
        } else {
            // Characters of an open line are kept in the buffer until the line is complete.
            FTarget.WriteLine(FOut.get() + FOutLength - FLineLength,
                              static_cast<int64_t>(FLineLength));
            FOutLength -= FLineLength;
        }
        FLineLength = 0;
    }

    TIpAnsiTextStream& FTarget;
    size_t FWidth = 0;
    bool FBulk = true;
    std::unique_ptr<char[]> FOut;
    size_t FOutLength = 0;
    size_t FLineLength = 0;
};

TIpMimeEncoder::TIpMimeEncoder(TIpAnsiTextStream& target, TIpProgressReport report)
    : FTarget(target), FReport(std::move(report)) {}

bool TIpMimeEncoder::EncodeLines(TIpStream& source) {
    const int64_t size = source.Size();
    source.Seek(0, TIpStream::soFromBeginning);
    TProgressGate gate(FReport, size, {});
    FTarget.CopyLinesFrom(source, [&gate](int64_t position) { return !gate.Step(position); });
    return !gate.Aborted();
}

namespace {
// Two output characters for every 12-bit value, so a group of 3 bytes takes two look-ups.
struct TPairTable {
    char Pairs[4096][2] = {};
    explicit TPairTable(const char* alphabet) {
        for (unsigned v = 0; v < 4096; ++v) {
            Pairs[v][0] = alphabet[v >> 6];
            Pairs[v][1] = alphabet[v & 63];
        }
    }
};

// Encodes count bytes (count <= 57) into characters; returns how many were produced.
size_t SixBitGroups(const uint8_t* in, size_t count, char pad, const char* alphabet,
                    const TPairTable& table, char* out) {
    char* o = out;
    size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(o, table.Pairs[v >> 12], 2);
        std::memcpy(o + 2, table.Pairs[v & 4095], 2);
        o += 4;
    }
    const size_t rest = count - i;
    if (rest == 1) {
        *o++ = alphabet[in[i] >> 2];
        *o++ = alphabet[(in[i] & 3) << 4];
        if (pad) {
            *o++ = pad;
            *o++ = pad;
        }
    } else if (rest == 2) {
        *o++ = alphabet[in[i] >> 2];
        *o++ = alphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        *o++ = alphabet[(in[i + 1] & 15) << 2];
        if (pad)
            *o++ = pad;
    }
    return static_cast<size_t>(o - out);
}

constexpr size_t LineBytes = SixBitLine / 4 * 3; // source bytes of one full line: 57

// One full line (57 bytes into 76 characters) with the pair table.
void SixBitLineScalar(const uint8_t* in, const TPairTable& table, char* out) {
    SixBitGroups(in, LineBytes, 0, nullptr, table, out);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define HERALDIX_SIXBIT_SSSE3 1
// One full line of the base64 alphabet, 12 bytes into 16 characters per step: the bytes of each
// group are spread so that every 32-bit lane holds one group, the four 6-bit values are moved
// into the low bits of their own byte by two multiplies, and each value is turned into its
// character by adding the offset of its range of the alphabet ("A".."Z", "a".."z", "0".."9",
// "+", "/"), looked up by a byte shuffle. Four steps cover 48 bytes, all read inside the line;
// the last 9 bytes take the table.
__attribute__((target("ssse3"))) void Base64LineSsse3(const uint8_t* in, const TPairTable& table,
                                                      char* out) {
    const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
    const __m128i highMask = _mm_set1_epi32(0x0fc0fc00);
    const __m128i highShift = _mm_set1_epi32(0x04000040);
    const __m128i lowMask = _mm_set1_epi32(0x003f03f0);
    const __m128i lowShift = _mm_set1_epi32(0x01000010);
    const __m128i offsets =
        _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    for (int step = 0; step < 4; ++step) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * step));
        v = _mm_shuffle_epi8(v, spread);
        const __m128i high = _mm_mulhi_epu16(_mm_and_si128(v, highMask), highShift);
        const __m128i low = _mm_mullo_epi16(_mm_and_si128(v, lowMask), lowShift);
        const __m128i values = _mm_or_si128(high, low);
        // 52..63 become 1..12, 26..51 become 0, 0..25 become 13: the index of the range.
        __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
        range = _mm_or_si128(
            range, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), values), _mm_set1_epi8(13)));
        const __m128i chars = _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * step), chars);
    }
    SixBitGroups(in + 48, LineBytes - 48, 0, nullptr, table, out + 64);
}
#endif

using TSixBitLine = void (*)(const uint8_t*, const TPairTable&, char*);

TSixBitLine LineEncoderFor(const char* alphabet) {
#ifdef HERALDIX_SIXBIT_SSSE3
    if (alphabet == TIpMimeEncoder::Base64Alphabet && __builtin_cpu_supports("ssse3"))
        return Base64LineSsse3;
#else
    (void)alphabet;
#endif
    return SixBitLineScalar;
}
} // namespace

bool TIpMimeEncoder::EncodeSixBit(TIpStream& source, char delimiter, char pad,
                                  const char* alphabet) {
    const int64_t size = source.Size();
    source.Seek(0, TIpStream::soFromBeginning);
    TLineWriter writer(FTarget, SixBitLine);
    TProgressGate gate(FReport, size, [&writer] { writer.Flush(); });
    static const TPairTable base64Pairs(Base64Alphabet);
    static const TPairTable binHexPairs(BinHexAlphabet);
    std::optional<TPairTable> ownPairs;
    const TPairTable* pairs = &base64Pairs;
    if (alphabet == BinHexAlphabet)
        pairs = &binHexPairs;
    else if (alphabet != Base64Alphabet)
        pairs = &ownPairs.emplace(alphabet);
    const TSixBitLine encodeLine = LineEncoderFor(alphabet);
    if (delimiter)
        writer.Add(delimiter);

    // Encodes count bytes; count is a multiple of 3 except for the very last bytes. Where the
    // output is at a line start, whole lines are encoded in place; otherwise groups go through
    // a small buffer, as many as complete the current line when they fit it exactly.
    char encoded[LineBytes / 3 * 4 + 4];
    const auto encode = [&](const uint8_t* in, size_t count) {
        while (count > 0) {
            const size_t room = writer.Room();
            if (writer.Bulk() && room == writer.Width() && count >= LineBytes) {
                const size_t lines = count / LineBytes;
                writer.AddWholeLines(lines, [&](char* out) {
                    encodeLine(in, *pairs, out);
                    in += LineBytes;
                });
                count -= lines * LineBytes;
                continue;
            }
            const size_t take = std::min(count, room % 4 == 0 ? room / 4 * 3 : size_t(45));
            writer.Add(encoded, SixBitGroups(in, take, pad, alphabet, *pairs, encoded));
            in += take;
            count -= take;
        }
    };

    // The source is read in large chunks and consumed in 45-byte blocks; a block short of 45
    // bytes is the last one. Progress is told after a block, and only the blocks at which the
    // gate reports need a stop: everything between is encoded in one run.
    constexpr int64_t Chunk = SixBitBlock * LineBytes * 26;
    std::vector<uint8_t> chunk(static_cast<size_t>(Chunk));
    int64_t position = 0;
    bool more = true;
    while (more) {
        const int64_t n = source.Read(chunk.data(), Chunk);
        if (n <= 0)
            break;
        const int64_t chunkStart = position;
        int64_t offset = 0;
        while (offset < n) {
            int64_t end = n;
            const int64_t due = gate.Next() - chunkStart;
            if (due < n) {
                // The first block end at or after the position due (past this run's start).
                const int64_t at = std::max(due, offset + 1);
                end = std::min(n, (at + SixBitBlock - 1) / SixBitBlock * SixBitBlock);
            }
            encode(chunk.data() + offset, static_cast<size_t>(end - offset));
            offset = end;
            position = chunkStart + end;
            if (gate.Step(position) || end % SixBitBlock != 0) {
                more = false;
                break;
            }
        }
    }
    if (delimiter)
        writer.Add(delimiter);
    writer.Finish();
    return !gate.Aborted();
}

bool TIpMimeEncoder::EncodeBase64(TIpStream& source) {
    return EncodeSixBit(source, 0, '=', Base64Alphabet);
}

bool TIpMimeEncoder::EncodeUU(TIpStream& source, const std::string& fileName) {
    const auto uu = [](unsigned v) { return v == 0 ? '`' : static_cast<char>(32 + v); };
    const int64_t size = source.Size();
    source.Seek(0, TIpStream::soFromBeginning);
    TLineWriter writer(FTarget, SixBitLine);
    TProgressGate gate(FReport, size, [&writer] { writer.Flush(); });
    writer.Line("begin 600 " + fileName);
    uint8_t in[SixBitBlock];
    char line[1 + SixBitBlock / 3 * 4];
    int64_t position = 0;
    for (;;) {
        const int64_t n = source.Read(in, SixBitBlock);
        if (n <= 0)
            break;
        char* o = line;
        *o++ = uu(static_cast<unsigned>(n));
        int64_t i = 0;
        for (; i + 3 <= n; i += 3) {
            *o++ = uu(in[i] >> 2);
            *o++ = uu(((in[i] & 3) << 4) | (in[i + 1] >> 4));
            *o++ = uu(((in[i + 1] & 15) << 2) | (in[i + 2] >> 6));
            *o++ = uu(in[i + 2] & 63);
        }
        if (n - i == 1) {
            *o++ = uu(in[i] >> 2);
            *o++ = uu((in[i] & 3) << 4);
        } else if (n - i == 2) {
            *o++ = uu(in[i] >> 2);
            *o++ = uu(((in[i] & 3) << 4) | (in[i + 1] >> 4));
            *o++ = uu((in[i + 1] & 15) << 2);
        }
        writer.Line(line, static_cast<size_t>(o - line));
        position += n;
        if (gate.Step(position) || n < SixBitBlock)
            break;
    }
    writer.Line("`");
    writer.Line("end");
    writer.Finish();
    return !gate.Aborted();
}

bool TIpMimeEncoder::EncodeQuoted(TIpStream& source) {
    static const char Hex[] = "0123456789ABCDEF";
    const int64_t size = source.Size();
    source.Seek(0, TIpStream::soFromBeginning);
    TIpByteStream bytes(source);
    TLineWriter writer(FTarget, QuotedLimit + 2);
    TProgressGate gate(FReport, size, [&writer] { writer.Flush(); });

    // Words end after a blank or TAB; lines break between words where possible. Every break the
    // source did not ask for is a soft break ("=" at the end), so a run without blanks is cut
    // safely, and a line never holds more than 74 characters before that "=".
    std::string line;
    std::string word;
    const auto writeSoft = [&] {
        line.push_back('=');
        writer.Line(line);
        line.clear();
    };
    const auto flushWord = [&] {
        if (!line.empty() && line.size() + word.size() > QuotedLimit)
            writeSoft();
        line += word;
        word.clear();
    };
    const auto addToken = [&](const char* token, size_t count) {
        if (word.size() + count > QuotedLimit)
            flushWord();
        word.append(token, count);
    };
    const auto addHex = [&](uint8_t b) {
        const char token[3] = {'=', Hex[b >> 4], Hex[b & 15]};
        addToken(token, 3);
    };
    // A blank or TAB right before a hard break would be dropped by a decoder, so it is encoded.
    const auto hardBreak = [&] {
        flushWord();
        if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
            const char blank = line.back();
            line.pop_back();
            line += blank == ' ' ? "=20" : "=09";
        }
        writer.Line(line);
        line.clear();
    };

    bool pendingCR = false;
    int64_t position = 0;
    uint8_t b = 0;
    while (bytes.ReadByte(b)) {
        ++position;
        if (pendingCR) {
            pendingCR = false;
            if (b == '\n') {
                hardBreak();
                if (gate.Step(position))
                    break;
                continue;
            }
            addHex('\r');
        }
        if (b == '\r') {
            pendingCR = true; // a line break only when LF follows
        } else if (b >= '!' && b <= '~' && b != '=') {
            const char c = static_cast<char>(b);
            addToken(&c, 1);
        } else if (b == ' ' || b == '\t') {
            const char c = static_cast<char>(b);
            addToken(&c, 1);
            flushWord();
        } else {
            addHex(b);
        }
        if (gate.Step(position))
            break;
    }
    if (pendingCR)
        addHex('\r');
    flushWord();
    // A source that does not end in a line break ends in a soft break, so none is added.
    if (!line.empty())
        writeSoft();
    writer.Finish();
    return !gate.Aborted();
}

namespace {
// A read-only view of bytes in memory, so the six-bit step can read the packed BinHex data
// without a further copy.
class TSpanStream : public TIpStream {
public:
    explicit TSpanStream(const std::vector<uint8_t>& data) : FData(data) {}
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(FData.size()) - FPosition);
        if (n <= 0)
            return 0;
        std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
        FPosition += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, int origin) override {
        const int64_t size = static_cast<int64_t>(FData.size());
        int64_t target = offset;
        if (origin == soFromCurrent)
            target += FPosition;
        else if (origin == soFromEnd)
            target += size;
        else if (origin != soFromBeginning)
            throw EIpBaseException("Invalid seek origin");
        FPosition = std::clamp<int64_t>(target, 0, size);
        return FPosition;
    }

private:
    const std::vector<uint8_t>& FData;
    int64_t FPosition = 0;
};

void PutBig(std::vector<uint8_t>& data, uint64_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        data.push_back(static_cast<uint8_t>(value >> shift));
}

struct TCrcTable {
    uint16_t Entries[256] = {};
    TCrcTable() {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
            Entries[i] = crc;
        }
    }
};
} // namespace

uint16_t TIpMimeEncoder::BinHexCrc(const std::vector<uint8_t>& data, size_t offset, size_t count) {
    if (offset > data.size() || count > data.size() - offset)
        throw EIpBaseException("Invalid stream offset");
    // Feeding the bytes through the table equals the bitwise CRC over the bytes followed by two
    // zero bytes, which is how the format defines it.
    static const TCrcTable table;
    uint16_t crc = 0;
    for (size_t i = offset; i < offset + count; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ table.Entries[(crc >> 8) ^ data[i]]);
    return crc;
}

bool TIpMimeEncoder::BinHexCompress(const std::vector<uint8_t>& data, std::vector<uint8_t>& packed,
                                    const std::function<bool(int64_t)>& step) {
    constexpr uint8_t Marker = 0x90;
    packed.clear();
    packed.reserve(data.size() + data.size() / 64 + 16);
    size_t i = 0;
    while (i < data.size()) {
        const uint8_t b = data[i];
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == b && run < 255)
            ++run;
        if (b == Marker) {
            // Each marker byte stands alone as 0x90 0x00; runs of it are not packed.
            packed.push_back(Marker);
            packed.push_back(0);
            run = 1;
        } else if (run >= 3) {
            packed.push_back(b);
            packed.push_back(Marker);
            packed.push_back(static_cast<uint8_t>(run));
        } else {
            packed.insert(packed.end(), run, b);
        }
        i += run;
        if (step && !step(static_cast<int64_t>(i)))
            return false;
    }
    return true;
}

bool TIpMimeEncoder::EncodeBinHex(TIpStream& source, const std::string& fileName) {
    const int64_t size = source.Size();
    if (size > 0xFFFFFFFFLL)
        throw EIpBaseException("File too large for BinHex");
    std::string name = fileName.substr(fileName.find_last_of('/') + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (name.size() > 77)
        name.resize(77);

    std::vector<uint8_t> data;
    data.reserve(static_cast<size_t>(size) + name.size() + 32);
    data.push_back(static_cast<uint8_t>(name.size()));
    data.insert(data.end(), name.begin(), name.end());
    data.push_back(0); // version
    for (int i = 0; i < 2; ++i)
        data.insert(data.end(), {'I', 'B', 'M', '?'}); // type, then creator
    PutBig(data, 0, 2);                                // flags
    PutBig(data, static_cast<uint64_t>(size), 4);      // data fork length
    PutBig(data, 0, 4);                                // resource fork length
    PutBig(data, BinHexCrc(data, 0, data.size()), 2);
    const size_t forkStart = data.size();
    data.resize(forkStart + static_cast<size_t>(size));
    source.Seek(0, TIpStream::soFromBeginning);
    const int64_t got = size > 0 ? source.Read(data.data() + forkStart, size) : 0;
    data.resize(forkStart + static_cast<size_t>(std::max<int64_t>(got, 0)));
    PutBig(data, BinHexCrc(data, forkStart, data.size() - forkStart), 2);
    PutBig(data, 0, 2); // resource fork CRC

    std::vector<uint8_t> packed;
    TProgressGate gate(FReport, static_cast<int64_t>(data.size()), {});
    if (!BinHexCompress(data, packed, [&gate](int64_t position) { return !gate.Step(position); }))
        return false;
    data.clear();
    data.shrink_to_fit();
    {
        TLineWriter writer(FTarget, SixBitLine);
        writer.Line(std::string("(This file must be converted with BinHex 4.0)"));
        writer.Finish();
    }
    TSpanStream packedStream(packed);
    return EncodeSixBit(packedStream, ':', 0, BinHexAlphabet);
}
