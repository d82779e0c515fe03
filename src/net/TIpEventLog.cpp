#include "net/TIpEventLog.h"

#include <chrono>
#include <cstdio>
#include <fstream>

TIpEventLog::TIpEventLog(TIpBaseComponent* owner) : TIpBaseLog(owner) {}

std::string TIpEventLog::DateTimeFormat() const {
    std::scoped_lock lock(FLock);
    return FDateTimeFormat;
}

void TIpEventLog::SetDateTimeFormat(const std::string& value) {
    std::scoped_lock lock(FLock);
    FDateTimeFormat = value;
}

static void AppendNumber(std::string& out, int value, int digits) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%0*d", digits, value);
    out += text;
}

std::string TIpEventLog::FormatDateTime(const std::string& format, const std::tm& time,
                                        int milliseconds) {
    struct Letter {
        const char* Text;
        int Field;
        int Digits;
    };
    // Longest first, so "yyyy" is not read as two "yy".
    static constexpr Letter letters[] = {
        {"yyyy", 0, 4}, {"zzz", 6, 3}, {"yy", 7, 2}, {"mm", 1, 2}, {"dd", 2, 2},
        {"hh", 3, 2},   {"nn", 4, 2},  {"ss", 5, 2}, {"m", 1, 1},  {"d", 2, 1},
        {"h", 3, 1},    {"n", 4, 1},   {"s", 5, 1},  {"z", 6, 1},
    };
    const int values[] = {
        time.tm_year + 1900, time.tm_mon + 1, time.tm_mday, time.tm_hour,
        time.tm_min,         time.tm_sec,     milliseconds, (time.tm_year + 1900) % 100};
    std::string out;
    for (size_t i = 0; i < format.size();) {
        bool matched = false;
        for (const Letter& letter : letters) {
            const std::string_view text(letter.Text);
            if (format.compare(i, text.size(), text) == 0) {
                AppendNumber(out, values[letter.Field], letter.Digits);
                i += text.size();
                matched = true;
                break;
            }
        }
        if (!matched)
            out += format[i++];
    }
    return out;
}

void TIpEventLog::WriteLine(const std::string& text) {
    std::scoped_lock lock(FLock);
    if (!FEnabled)
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const int milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    const std::string line =
        FormatDateTime(FDateTimeFormat, local, milliseconds) + " " + text + "\r\n";

    std::ofstream file;
    file.exceptions(std::ios::failbit | std::ios::badbit);
    file.open(FFileName, std::ios::binary | std::ios::app);
    file.write(line.data(), static_cast<std::streamsize>(line.size()));
    file.close();
}
