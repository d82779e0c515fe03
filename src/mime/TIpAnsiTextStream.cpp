#include "mime/TIpAnsiTextStream.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpPieceStream.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

namespace {
constexpr char CR = '\r';
constexpr char LF = '\n';
const char* const InvalidTerminator = "Invalid line terminator";

} // namespace

TIpAnsiTextStream::TIpAnsiTextStream() {
    TIpAnsiTextStream::Refresh();
}

TIpAnsiTextStream::TIpAnsiTextStream(TIpStream* stream) : TIpBufferedStream(stream) {
    TIpAnsiTextStream::Refresh();
}

void TIpAnsiTextStream::Refresh() {
    TIpBufferedStream::Refresh();
    // The settings get their defaults once; exchanging the stream later keeps them.
    if (!FSettingsMade) {
        FSettingsMade = true;
        LineTerminator = TIpLineTerminator::ltCRLF;
        LineTermChar = LF;
        FixedLineLength = 80;
    }
}

std::string TIpAnsiTextStream::ReadLine() {
    std::string line;
    ReadLine(line);
    return line;
}

void TIpAnsiTextStream::ReadLine(std::string& line) {
    line.clear();
    if (!Stream())
        return;
    char terminator = LF;
    switch (LineTerminator) {
    case TIpLineTerminator::ltNone: {
        const int64_t start = Position();
        const int64_t end = Seek(start + FixedLineLength, soFromBeginning);
        Seek(start, soFromBeginning);
        line.resize(static_cast<size_t>(end - start));
        Read(line.data(), end - start);
        line.resize(static_cast<size_t>(std::max<int64_t>(FixedLineLength, 0)), ' ');
        return;
    }
    case TIpLineTerminator::ltCR:
        terminator = CR;
        break;
    case TIpLineTerminator::ltLF:
    case TIpLineTerminator::ltCRLF:
        terminator = LF;
        break;
    case TIpLineTerminator::ltOther:
        terminator = LineTermChar;
        break;
    }
    if (static_cast<uint8_t>(LineTerminator) > static_cast<uint8_t>(TIpLineTerminator::ltOther))
        throw EIpBaseException(InvalidTerminator);
    if (AppendUntil(terminator, line) && LineTerminator == TIpLineTerminator::ltCRLF &&
        !line.empty() && line.back() == CR)
        line.pop_back();
}

void TIpAnsiTextStream::WriteLine(const char* text) {
    WriteLine(text, text ? static_cast<int64_t>(std::strlen(text)) : 0);
}

void TIpAnsiTextStream::WriteLine(const char* bytes, int64_t length) {
    if (!Stream())
        return;
    if (LineTerminator == TIpLineTerminator::ltNone) {
        const auto fixed = static_cast<size_t>(std::max<int64_t>(FixedLineLength, 0));
        FFixedLine.assign(fixed, ' ');
        if (bytes && length > 0)
            std::memcpy(FFixedLine.data(), bytes, std::min(fixed, static_cast<size_t>(length)));
        WriteBytes(FFixedLine.data(), static_cast<int64_t>(fixed));
        return;
    }
    if (bytes && length > 0)
        WriteBytes(bytes, length);
    static const char crlf[2] = {CR, LF};
    switch (LineTerminator) {
    case TIpLineTerminator::ltCR:
        WriteBytes(crlf, 1);
        return;
    case TIpLineTerminator::ltLF:
        WriteBytes(crlf + 1, 1);
        return;
    case TIpLineTerminator::ltCRLF:
        WriteBytes(crlf, 2);
        return;
    case TIpLineTerminator::ltOther:
        WriteBytes(&LineTermChar, 1);
        return;
    case TIpLineTerminator::ltNone:
        return;
    }
    throw EIpBaseException(InvalidTerminator);
}

void TIpAnsiTextStream::CopyLinesGeneric(TIpStream& source,
                                         const std::function<bool(int64_t)>& afterLine) {
    TIpAnsiTextStream reader(&source);
    reader.Seek(source.Position(), soFromBeginning);
    std::string line;
    while (!reader.AtEndOfStream()) {
        reader.ReadLine(line);
        WriteLine(line);
        if (afterLine && !afterLine(reader.Position()))
            break;
    }
}

bool TIpAnsiTextStream::CopyLinesFromMemory(TIpStream& source) {
    auto* buffered = dynamic_cast<TIpBufferedStream*>(&source);
    if (buffered)
        buffered->Flush();
    TIpStream* under = buffered ? buffered->Stream() : &source;
    // Only a plain memory stream is read directly: a derived one may read differently. Writing
    // here may move this stream's own memory, so a copy onto itself takes the long way.
    if (!under || typeid(*under) != typeid(TIpMemoryStream) || under == Stream() || &source == this)
        return false;
    auto* memory = static_cast<TIpMemoryStream*>(under);
    const char* data = memory->Memory();
    const int64_t begin = source.Position();
    const int64_t end = std::min(source.Size(), memory->Size());
    if (begin >= end)
        return true;
    // Lines that end in CR LF already are the bulk of a body: they go over as they are, in
    // pieces small enough to stay in the cache between the scan and the copy. Only a lone LF
    // is replaced, and an unterminated last line ended. When this stream is pieced together and
    // written at its end, long runs of such lines are not copied at all but shared.
    auto* pieces = dynamic_cast<TIpPieceStream*>(Stream());
    const bool share = pieces && Position() == Size();
    // A source that never had a lone LF needs no scan (unless the copy starts with the LF of a
    // CR LF pair, which is a line of its own here).
    const bool crlfOnly = memory->CrlfOnly() && data[begin] != LF;
    static const char crlf[2] = {CR, LF};
    constexpr int64_t Piece = 64 * 1024;
    bool afterCR = false; // a line starts at begin, whatever byte lies before it
    for (int64_t i = begin; i < end;) {
        const int64_t to = share ? end : std::min(end, i + Piece);
        const int64_t lone = crlfOnly ? to : TIpMemoryStream::FindLoneLF(data, i, to, afterCR);
        if (share && lone - i >= Piece) {
            Flush();
            pieces->AppendShared(*memory, i, lone - i);
            SyncToStreamEnd();
        } else {
            WriteBytes(data + i, lone - i);
        }
        if (lone < to) {
            WriteBytes(crlf, 2);
            i = lone + 1;
            afterCR = false;
        } else {
            afterCR = data[to - 1] == CR;
            i = to;
        }
    }
    if (data[end - 1] != LF)
        WriteBytes(crlf, 2);
    source.Seek(end, soFromBeginning);
    return true;
}

void TIpAnsiTextStream::CopyLinesFrom(TIpStream& source,
                                      const std::function<bool(int64_t)>& afterLine) {
    if (!Stream())
        return;
    if (LineTerminator != TIpLineTerminator::ltCRLF) {
        CopyLinesGeneric(source, afterLine);
        return;
    }
    if (!afterLine && CopyLinesFromMemory(source))
        return;
    static const char crlf[2] = {CR, LF};
    constexpr int64_t ChunkSize = 64 * 1024;
    std::vector<char> chunk(ChunkSize);
    int64_t chunkStart = source.Position();
    // A line is open when bytes of it have been seen but not its LF. A CR at the end of a chunk
    // is held back: it is dropped if the next chunk begins with LF. Lines that already end in
    // CR LF are gathered into one span and written together.
    bool lineOpen = false;
    bool heldCR = false;
    for (;;) {
        const int64_t n = source.Read(chunk.data(), ChunkSize);
        if (n <= 0)
            break;
        const char* data = chunk.data();
        int64_t span = 0; // start of the CR LF lines not yet written
        int64_t i = 0;
        const auto writeSpan = [&] {
            WriteBytes(data + span, i - span);
            span = i;
        };
        while (i < n) {
            const auto* lf = static_cast<const char*>(std::memchr(data + i, LF, n - i));
            if (!lf) {
                writeSpan();
                if (heldCR)
                    WriteBytes(crlf, 1);
                int64_t end = n;
                heldCR = data[n - 1] == CR;
                if (heldCR)
                    --end;
                WriteBytes(data + i, end - i);
                lineOpen = true;
                i = span = n;
                break;
            }
            const int64_t j = lf - data;
            if (j > i && data[j - 1] == CR && !heldCR) {
                // already CR LF: stays in the span
            } else {
                writeSpan();
                if (j > i) {
                    if (heldCR)
                        WriteBytes(crlf, 1);
                    WriteBytes(data + i, data[j - 1] == CR ? j - 1 - i : j - i);
                }
                // else: a held CR, if any, belonged to this LF
                WriteBytes(crlf, 2);
                span = j + 1;
            }
            heldCR = false;
            lineOpen = false;
            i = j + 1;
            if (afterLine && !afterLine(chunkStart + i)) {
                writeSpan();
                source.Seek(chunkStart + i, soFromBeginning);
                return;
            }
        }
        writeSpan();
        chunkStart += n;
    }
    if (lineOpen) {
        if (heldCR)
            WriteBytes(crlf, 1);
        WriteBytes(crlf, 2);
        if (afterLine)
            afterLine(chunkStart);
    }
}
