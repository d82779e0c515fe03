#pragma once

#include "net/TIpBaseLog.h"

#include <ctime>
#include <string>

// One time-stamped line per call, appended to the file at once: the file is opened and closed for
// every line so that lines survive a crash.
class TIpEventLog : public TIpBaseLog {
public:
    explicit TIpEventLog(TIpBaseComponent* owner);

    std::string DateTimeFormat() const;
    void SetDateTimeFormat(const std::string& value);

    // Appends "<date time> <text>\r\n" when enabled. Throws std::ios_base::failure when the file
    // cannot be opened or written.
    void WriteLine(const std::string& text);

    // Formats a local time by the letters yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s and zzz
    // (milliseconds); other characters are copied.
    static std::string FormatDateTime(const std::string& format, const std::tm& time,
                                      int milliseconds = 0);

private:
    std::string FDateTimeFormat;
};
