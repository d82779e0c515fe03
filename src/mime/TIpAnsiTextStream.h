#pragma once

#include "mime/TIpBufferedStream.h"
#include "mime/TIpLineTerminator.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Reads and writes lines over a buffered stream. Every text stream of this program uses CR LF;
// the other terminator modes exist for callers that read foreign records.
//
// Reading with ltCRLF: LF ends a line and a CR right before it is dropped, so a lone LF also
// ends a line while a lone CR stays in the text. A last line without terminator is still a line.
class TIpAnsiTextStream : public TIpBufferedStream {
public:
    TIpAnsiTextStream();
    explicit TIpAnsiTextStream(TIpStream* stream);

    void Refresh() override;

    // The next line without its terminator; empty without an underlying stream.
    std::string ReadLine();
    // The same into a caller's string, whose capacity is reused from line to line.
    void ReadLine(std::string& line);

    void WriteLine(std::string_view text) {
        WriteLine(text.data(), static_cast<int64_t>(text.size()));
    }
    void WriteLine(const char* bytes, int64_t length);
    // A null text is an empty line.
    void WriteLine(const char* text);

    bool AtEndOfStream() const { return BufferPos() + BufferOffset() == StreamSize(); }

    // Copies the lines of source, from its current position to its end, as this stream's lines.
    // With CR LF on both sides this is a bulk copy that turns every lone LF into CR LF and ends an
    // unterminated last line; the result is the same as ReadLine/WriteLine for each line.
    // afterLine, when set, is told the source position after each line and returns false to
    // stop the copy there.
    void CopyLinesFrom(TIpStream& source, const std::function<bool(int64_t)>& afterLine = {});

    TIpLineTerminator LineTerminator = TIpLineTerminator::ltCRLF;
    char LineTermChar = '\n';
    int64_t FixedLineLength = 80;

private:
    void CopyLinesGeneric(TIpStream& source, const std::function<bool(int64_t)>& afterLine);
    // The copy from bytes already in memory; false when source keeps no memory to read.
    bool CopyLinesFromMemory(TIpStream& source);

    bool FSettingsMade = false;
    std::vector<char> FFixedLine;
};
