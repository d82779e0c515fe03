#pragma once

#include "mime/TIpAnsiTextStream.h"
#include "mime/TIpStream.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

// Helpers shared by the tests of the article-composition layer.

// The bytes of a stream from its start, read through the stream itself.
QByteArray StreamBytes(TIpStream& stream);
// A memory stream holding bytes, positioned at 0.
void FillStream(TIpMemoryStream& stream, const QByteArray& bytes);
// Lines joined with CR LF after each.
QByteArray CrlfLines(const QStringList& lines);
// Reproducible random bytes.
QByteArray RandomBytes(int64_t count, uint32_t seed);

// Runs a program with input on standard input; returns its exit code (-1 when it could not run)
// and its standard output and error.
int RunTool(const QString& program, const QStringList& arguments, const QByteArray& input,
            QByteArray* output, QByteArray* errors = nullptr, const QString& workDir = {});
// Runs a Python script from this test folder with input on standard input.
int RunPythonScript(const QString& script, const QStringList& arguments, const QByteArray& input,
                    QByteArray* output, QByteArray* errors = nullptr);

// A stream that keeps no bytes: it counts what is written and hands out a computed pattern, so
// positions past 4 GiB can be exercised without holding the data.
class TSyntheticStream : public TIpStream {
public:
    // size: the bytes the stream holds; lineLength: the pattern is lines of 'a' of that length
    // ending in LF (0: all bytes are zero).
    TSyntheticStream(int64_t size, int64_t lineLength) : FSize(size), FLineLength(lineLength) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;

    int64_t Written() const { return FWritten; }

private:
    int64_t FSize = 0;
    int64_t FLineLength = 0;
    int64_t FPosition = 0;
    int64_t FWritten = 0;
};
