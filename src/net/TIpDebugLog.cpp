#include "net/TIpDebugLog.h"

#include "net/TIpBaseComponent.h"
#include "net/TIpTickCount.h"
#include "net/TIpWinSockAccess.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/utsname.h>

// The ring stores formatters as 32-bit numbers; this table gives each function its number
// (0 stands for "no formatter").
static std::mutex formatterLock;
static std::vector<TIpLogFormatter>& Formatters() {
    static std::vector<TIpLogFormatter> formatters{nullptr};
    return formatters;
}

static uint32_t FormatterIndex(TIpLogFormatter formatter) {
    if (formatter == nullptr)
        return 0;
    std::scoped_lock lock(formatterLock);
    auto& formatters = Formatters();
    for (uint32_t i = 1; i < formatters.size(); ++i)
        if (formatters[i] == formatter)
            return i;
    formatters.push_back(formatter);
    return static_cast<uint32_t>(formatters.size() - 1);
}

static TIpLogFormatter FormatterAt(uint32_t index) {
    std::scoped_lock lock(formatterLock);
    const auto& formatters = Formatters();
    return index < formatters.size() ? formatters[index] : nullptr;
}

static const char* const telnetOptions[50] = {
    "transmit binary",
    "echo",
    "reconnect",
    "suppress go-ahead",
    "approx msg size",
    "status",
    "timing mark",
    "remote trans & echo",
    "output line width",
    "output page size",
    "output C/R disp",
    "output horz tabs",
    "output horz tab disp",
    "output FF disp",
    "output vert tabs",
    "output vert tab disp",
    "output linefeed disp",
    "extended ASCII",
    "logout",
    "byte macro",
    "data entry terminal subcommands",
    "SUPDUP",
    "SUPDUP output",
    "send location",
    "terminal type",
    "end of record",
    "TACACS user ID",
    "output marking",
    "terminal loc num",
    "Telnet3270 Regime",
    "X.3-Pad operations",
    "negotiate about window size",
    "terminal speed",
    "toggle flow control",
    "line mode",
    "X display location",
    "environment variables",
    "authentication",
    "encryption option",
    "new environment variables",
    "TN3270E",
    "XAUTH",
    "character set",
    "telnet remote serial port (RSP)",
    "com port control option",
    "telnet suppress local echo",
    "telnet start TLS",
    "KERMIT",
    "SEND-URL",
    "FORWARD_X",
};

static std::string Printf(const char* format, auto... values) {
    char text[160] = {};
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

TIpDebugLog::TIpDebugLog(TIpBaseComponent* owner) : TIpBaseLog(owner), FStartTick(IpTickCount()) {
    FFileName = "debug.log";
}

TIpDebugLog::~TIpDebugLog() = default;

void TIpDebugLog::SetEnabled(bool value) {
    std::scoped_lock lock(FLock);
    if (value == FEnabled)
        return;
    if (value) {
        if (FRing.empty())
            FRing.assign(FBufferSize, 0);
        if (FScratch.empty())
            FScratch.assign(1024, 0);
        FEnabled = true;
        AddEntry(nullptr, 0, TIpDebugEntry::LogEnabled, 0u, 0u);
    } else {
        AddEntry(nullptr, 0, TIpDebugEntry::LogDisabled, 0u, 0u);
        FEnabled = false;
    }
}

uint32_t TIpDebugLog::BufferSize() const {
    std::scoped_lock lock(FLock);
    return FBufferSize;
}

void TIpDebugLog::SetBufferSize(uint32_t value) {
    std::scoped_lock lock(FLock);
    if (value == FBufferSize)
        return;
    FBufferSize = value;
    if (!FRing.empty())
        FRing.assign(FBufferSize, 0);
    FHead = FTail = 0;
}

TIpWriteMode TIpDebugLog::WriteMode() const {
    std::scoped_lock lock(FLock);
    return FWriteMode;
}

void TIpDebugLog::SetWriteMode(TIpWriteMode value) {
    std::scoped_lock lock(FLock);
    FWriteMode = value;
}

void TIpDebugLog::AddEntry(TIpLogFormatter formatter, int32_t handle, int32_t entryType,
                           uint32_t data, uint32_t length) {
    Record(formatter, handle, entryType, data, nullptr, entryType < 0 ? 0 : length);
}

void TIpDebugLog::AddEntry(TIpLogFormatter formatter, int32_t handle, int32_t entryType,
                           const void* payload, uint32_t length) {
    Record(formatter, handle, entryType, 0, payload, length);
}

void TIpDebugLog::AddText(int32_t handle, const std::string& text) {
    Record(nullptr, handle, TIpDebugEntry::Text, 0, text.data(),
           static_cast<uint32_t>(text.size()));
}

uint32_t TIpDebugLog::FreeSpace() const {
    return FTail < FHead ? FHead - FTail - 1 : FBufferSize - FTail + FHead - 1;
}

void TIpDebugLog::CopyOut(uint32_t offset, void* target, uint32_t count) const {
    const uint32_t first = std::min(count, FBufferSize - offset);
    std::memcpy(target, FRing.data() + offset, first);
    std::memcpy(static_cast<char*>(target) + first, FRing.data(), count - first);
}

void TIpDebugLog::DropOldest() {
    Header header{};
    CopyOut(FHead, &header, EntryHeaderSize);
    const uint32_t size = EntryHeaderSize + (header.EntryType < 0 ? header.Length : 0);
    FHead = (FHead + size) % FBufferSize;
}

void TIpDebugLog::Record(TIpLogFormatter formatter, int32_t handle, int32_t entryType,
                         uint32_t data, const void* payload, uint32_t length) {
    std::scoped_lock lock(FLock);
    if (!FEnabled || FRing.empty())
        return;
    const uint64_t payloadSize = entryType < 0 ? length : 0;
    const uint64_t size = EntryHeaderSize + payloadSize;
    // One byte of the ring always stays free, so an entry of the ring's full size cannot fit.
    if (size >= FBufferSize)
        return;
    while (FreeSpace() < size && FHead != FTail)
        DropOldest();

    const Header header{FormatterIndex(formatter), IpTickCount(), handle, entryType, data, length};
    if (FTail + size <= FBufferSize) {
        std::memcpy(FRing.data() + FTail, &header, EntryHeaderSize);
        if (payloadSize != 0)
            std::memcpy(FRing.data() + FTail + EntryHeaderSize, payload, payloadSize);
    } else {
        if (FScratch.size() < size)
            FScratch.resize(size);
        std::memcpy(FScratch.data(), &header, EntryHeaderSize);
        if (payloadSize != 0)
            std::memcpy(FScratch.data() + EntryHeaderSize, payload, payloadSize);
        const uint32_t first = FBufferSize - FTail;
        std::memcpy(FRing.data() + FTail, FScratch.data(), first);
        std::memcpy(FRing.data(), FScratch.data() + first, size - first);
    }
    FTail = static_cast<uint32_t>((FTail + size) % FBufferSize);
}

std::string TIpDebugLog::TimeStamp(uint32_t milliseconds) {
    // Seven digits at least, with the point before the milliseconds: 12345 gives "0012.345 : ".
    return Printf("%04u.%03u : ", milliseconds / 1000, milliseconds % 1000);
}

std::string TIpDebugLog::HexDump(const char* data, uint32_t length) {
    static const char template_[] = "  000000: 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 : "
                                    "0000000000000000\r\n";
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve((length + 15) / 16 * (sizeof template_ - 1));
    for (uint32_t offset = 0; offset < length; offset += 16) {
        std::string line(template_);
        const std::string position = Printf("%6.6X", offset);
        line.replace(2, 6, position);
        for (uint32_t i = 0; i < 16; ++i) {
            const size_t hexAt = (i < 8 ? 10 : 35) + (i % 8) * 3;
            const size_t charAt = (i < 8 ? 61 : 69) + (i % 8);
            if (offset + i < length) {
                const auto byte = static_cast<unsigned char>(data[offset + i]);
                line[hexAt] = hex[byte >> 4];
                line[hexAt + 1] = hex[byte & 15];
                line[charAt] = byte < 32 || byte > 126 ? '.' : static_cast<char>(byte);
            } else {
                line[hexAt] = line[hexAt + 1] = ' ';
                line[charAt] = ' ';
            }
        }
        out += line;
    }
    return out;
}

std::string TIpDebugLog::EntryText(uint32_t offset, uint32_t& size) const {
    Header header{};
    CopyOut(offset, &header, EntryHeaderSize);
    const uint32_t payloadSize = header.EntryType < 0 ? header.Length : 0;
    size = EntryHeaderSize + payloadSize;
    std::string payload(payloadSize, '\0');
    if (payloadSize != 0)
        CopyOut((offset + EntryHeaderSize) % FBufferSize, payload.data(), payloadSize);

    std::string text = TimeStamp(header.Tick - FStartTick);
    if (TIpLogFormatter formatter = FormatterAt(header.Formatter)) {
        text +=
            formatter(header.Handle, header.EntryType, header.Data, payload.data(), header.Length);
    } else if (header.EntryType == TIpDebugEntry::LogEnabled) {
        text += "**** Logging Enabled\r\n";
    } else if (header.EntryType == TIpDebugEntry::LogDisabled) {
        text += "**** Logging Disabled\r\n";
    } else if (header.EntryType == TIpDebugEntry::Text) {
        text += payload;
    } else if (header.EntryType == TIpDebugEntry::Telnet) {
        const uint32_t command = header.Length >> 8 & 0xFF;
        const uint32_t option = header.Length & 0xFF;
        static const char* const commands[] = {"WILL", "WON'T", "DO", "DON'T"};
        const std::string commandText =
            command >= 251 && command <= 254 ? commands[command - 251] : Printf("[%d]", command);
        const std::string optionText = option < 50 ? telnetOptions[option] : Printf("[%d]", option);
        const std::string direction = header.Data == 1   ? "received."
                                      : header.Data == 2 ? "sent."
                                                         : Printf("[%8.8X]", header.Data);
        text += Printf("[%d] Telnet ", header.Handle) + commandText + " " + optionText + " " +
                direction;
    } else {
        text += Printf("!!!! Unknown log entry : [%d][%8.8X][%8.8X][%8.8X]\r\n", header.Handle,
                       static_cast<uint32_t>(header.EntryType), header.Data, header.Length);
    }
    return text + "\r\n";
}

std::string TIpDebugLog::Text() const {
    std::scoped_lock lock(FLock);
    std::string out;
    for (uint32_t offset = FHead; offset != FTail;) {
        uint32_t size = 0;
        out += EntryText(offset, size);
        offset = (offset + size) % FBufferSize;
    }
    return out;
}

bool TIpDebugLog::IsEmpty() const {
    std::scoped_lock lock(FLock);
    return FHead == FTail;
}

void TIpDebugLog::Clear() {
    std::scoped_lock lock(FLock);
    FHead = FTail = 0;
}

std::string TIpDebugLog::HeaderBlock() {
    utsname name{};
    uname(&name);
    int major = 0;
    int minor = 0;
    std::sscanf(name.release, "%d.%d", &major, &minor);
    const TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    std::string out = "Heraldix socket layer " + TIpBaseComponent::Version() +
                      " compiled with g++ " + __VERSION__ + "\r\n";
    out += std::string("Operating System : ") + name.sysname + " " + std::to_string(major) + "." +
           std::to_string(minor) + " " + name.release + "\r\n";
    out += "Description : " + access.Description() + "\r\n";
    out += Printf("Negotiated Version : $%4.4X", access.Version()) + "\r\n";
    out += "System Status : " + access.SystemStatus() + "\r\n";
    out += std::string(77, '=') + "\r\n";
    out += "\r\n";
    return out;
}

void TIpDebugLog::FlushToFile() {
    std::scoped_lock lock(FLock);
    std::error_code error;
    const bool append =
        FWriteMode == TIpWriteMode::wmAppend && std::filesystem::exists(FFileName, error);
    std::ofstream file;
    file.exceptions(std::ios::failbit | std::ios::badbit);
    file.open(FFileName, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    const bool empty = !append || std::filesystem::file_size(FFileName, error) == 0;
    std::string out = empty ? HeaderBlock() : std::string();
    out += Text();
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    file.close();
    Clear();
}
