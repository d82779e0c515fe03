#include "MimeTestTools.h"

#include <QProcess>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <random>

QByteArray StreamBytes(TIpStream& stream) {
    const int64_t saved = stream.Position();
    stream.SetPosition(0);
    QByteArray bytes(static_cast<qsizetype>(stream.Size()), '\0');
    const int64_t n = stream.Read(bytes.data(), bytes.size());
    bytes.resize(static_cast<qsizetype>(std::max<int64_t>(n, 0)));
    stream.SetPosition(saved);
    return bytes;
}

void FillStream(TIpMemoryStream& stream, const QByteArray& bytes) {
    stream.Write(bytes.constData(), bytes.size());
    stream.SetPosition(0);
}

QByteArray CrlfLines(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

QByteArray RandomBytes(int64_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    QByteArray bytes(static_cast<qsizetype>(count), '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

int RunTool(const QString& program, const QStringList& arguments, const QByteArray& input,
            QByteArray* output, QByteArray* errors, const QString& workDir) {
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return -1;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        return -1;
    if (output)
        *output = process.readAllStandardOutput();
    if (errors)
        *errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int RunPythonScript(const QString& script, const QStringList& arguments, const QByteArray& input,
                    QByteArray* output, QByteArray* errors) {
    const QString source = qEnvironmentVariable("HERALDIX_SOURCE_DIR", HERALDIX_SOURCE_DIR);
    return RunTool("python3", QStringList{source + "/tests/mime/" + script} + arguments, input,
                   output, errors);
}

int64_t TSyntheticStream::Read(void* buffer, int64_t count) {
    const int64_t n = std::min(count, FSize - FPosition);
    if (n <= 0)
        return 0;
    auto* out = static_cast<char*>(buffer);
    if (FLineLength <= 0) {
        std::memset(out, 0, static_cast<size_t>(n));
    } else {
        std::memset(out, 'a', static_cast<size_t>(n));
        const int64_t period = FLineLength + 1;
        for (int64_t at = period - 1 - FPosition % period; at < n; at += period)
            out[at] = '\n';
    }
    FPosition += n;
    return n;
}

int64_t TSyntheticStream::Write(const void* buffer, int64_t count) {
    (void)buffer;
    FWritten += count;
    FPosition += count;
    FSize = std::max(FSize, FPosition);
    return count;
}

int64_t TSyntheticStream::Seek(int64_t offset, int origin) {
    int64_t target = offset;
    if (origin == soFromCurrent)
        target += FPosition;
    else if (origin == soFromEnd)
        target += FSize;
    FPosition = std::clamp<int64_t>(target, 0, FSize);
    return FPosition;
}
