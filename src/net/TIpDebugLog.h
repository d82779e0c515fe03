#pragma once

#include "net/TIpBaseLog.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TIpWriteMode : uint8_t { wmOverwrite, wmAppend };

// Turns one debug-log entry into its text. Each component class has its own; the payload is
// present only for negative entry types, the value only for the others.
using TIpLogFormatter = std::string (*)(int32_t handle, int32_t entryType, uint32_t data,
                                        const char* payload, uint32_t length);

// Entry types the socket layer records.
struct TIpDebugEntry {
    static constexpr int32_t LogEnabled = 1;
    static constexpr int32_t LogDisabled = 2;
    static constexpr int32_t Telnet = 3;
    static constexpr int32_t Text = INT32_MIN;          // 0x80000000
    static constexpr int32_t ReadData = INT32_MIN + 1;  // data read
    static constexpr int32_t WriteData = INT32_MIN + 2; // data written
    static constexpr int32_t RecvCall = INT32_MIN + 3;  // receive call
    static constexpr int32_t SendCall = INT32_MIN + 4;  // send call
};

// Compact entries recorded into a fixed ring in memory, written out as text only on request
// (FlushToFile). Recording never touches the disk and, once the ring exists, allocates nothing
// unless a wrapping entry needs a larger scratch block. When the ring is full the oldest
// entries go.
//
// Ring layout: each entry is a 24-byte header of six 32-bit fields (formatter, tick, handle,
// type, data, length) followed, for negative types only, by `length` payload bytes. An entry
// may wrap around the end of the ring. One byte always stays free so that full and empty differ.
class TIpDebugLog : public TIpBaseLog {
public:
    static constexpr uint32_t EntryHeaderSize = 24;

    explicit TIpDebugLog(TIpBaseComponent* owner);
    ~TIpDebugLog() override;

    void SetEnabled(bool value) override;
    uint32_t BufferSize() const;
    void SetBufferSize(uint32_t value);
    TIpWriteMode WriteMode() const;
    void SetWriteMode(TIpWriteMode value);

    // Records one entry; for a negative type `payload` points at `length` bytes that are copied.
    void AddEntry(TIpLogFormatter formatter, int32_t handle, int32_t entryType, uint32_t data,
                  uint32_t length);
    void AddEntry(TIpLogFormatter formatter, int32_t handle, int32_t entryType, const void* payload,
                  uint32_t length);
    // Records raw text (entry type 0x80000000), written to the file as it is.
    void AddText(int32_t handle, const std::string& text);

    // Writes the entries, oldest first, to FileName and empties the ring. A file that ends up
    // empty first gets the header block. Throws std::ios_base::failure when the file cannot be
    // opened or written.
    void FlushToFile();
    // The entries as FlushToFile would write them (without the header), oldest first.
    std::string Text() const;
    bool IsEmpty() const;
    void Clear();

    // The header block that starts a new file.
    static std::string HeaderBlock();
    // "  000000: 41 42 ... : AB..\r\n" lines, 16 bytes each.
    static std::string HexDump(const char* data, uint32_t length);
    // "%07.7d : " with a "." before the fifth character: 12345 ms gives "0012.345 : ".
    static std::string TimeStamp(uint32_t milliseconds);

private:
    struct Header {
        uint32_t Formatter;
        uint32_t Tick;
        int32_t Handle;
        int32_t EntryType;
        uint32_t Data;
        uint32_t Length;
    };
    static_assert(sizeof(Header) == EntryHeaderSize);

    void Record(TIpLogFormatter formatter, int32_t handle, int32_t entryType, uint32_t data,
                const void* payload, uint32_t length);
    uint32_t FreeSpace() const;
    void CopyOut(uint32_t offset, void* target, uint32_t count) const;
    void DropOldest();
    std::string EntryText(uint32_t offset, uint32_t& size) const;

    uint32_t FBufferSize = 65536;
    TIpWriteMode FWriteMode = TIpWriteMode::wmOverwrite;
    std::vector<char> FRing;
    uint32_t FHead = 0;
    uint32_t FTail = 0;
    std::vector<char> FScratch;
    uint32_t FStartTick = 0;
};
