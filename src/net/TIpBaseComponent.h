#pragma once

#include <cstdint>
#include <string>

// The root of the program's socket components.
class TIpBaseComponent {
public:
    TIpBaseComponent() = default;
    TIpBaseComponent(const TIpBaseComponent&) = delete;
    TIpBaseComponent& operator=(const TIpBaseComponent&) = delete;
    virtual ~TIpBaseComponent() = default;

    // "v1.02"; read-only.
    static std::string Version();

    // Turns a debug-log entry recorded on behalf of this class into text. Each class that records
    // entries hides this with its own static function and passes that to TIpDebugLog::AddEntry.
    static std::string FormatLogEntry(int32_t handle, int32_t entryType, uint32_t data,
                                      const char* payload, uint32_t length);
};
