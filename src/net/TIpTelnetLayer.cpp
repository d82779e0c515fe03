#include "net/TIpTelnetLayer.h"

#include <cstring>
#include <utility>

TIpTelnetLayer::TIpTelnetLayer(SendFunction send, LogFunction log)
    : FSend(std::move(send)), FLog(std::move(log)) {
    for (uint8_t option : {0, 3, 5, 24, 31})
        LocalAllowed.set(option);
    for (uint8_t option : {0, 1, 3})
        RemoteAllowed.set(option);
}

uint32_t TIpTelnetLayer::Filter(char* data, uint32_t count) {
    if (count == 0)
        return 0;
    // Plain text, the usual case, passes without being copied. Without a command in the chunk
    // the peer's binary flag cannot change inside it.
    if (FParse == TIpTelnetParse::tpData && std::memchr(data, TIpTelnet::IAC, count) == nullptr &&
        (RemoteEnabled.test(TIpTelnet::OptBinary) || std::memchr(data, 0, count) == nullptr)) {
        FLastWasCR = data[count - 1] == '\r';
        return count;
    }

    // Every kept byte was read at or after the place it is written to, so the work is in place.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const auto byte = static_cast<uint8_t>(data[i]);
        switch (FParse) {
        case TIpTelnetParse::tpData:
            if (byte == TIpTelnet::IAC) {
                FParse = TIpTelnetParse::tpCommand;
            } else if (byte == 0 && FLastWasCR && !RemoteEnabled.test(TIpTelnet::OptBinary)) {
                // The flag is read here, not once per chunk: a WILL BINARY earlier in this chunk
                // already holds for this byte.
                FLastWasCR = false;
            } else {
                data[kept++] = static_cast<char>(byte);
                FLastWasCR = byte == '\r';
            }
            break;
        case TIpTelnetParse::tpCommand:
            FParse = TIpTelnetParse::tpData;
            if (byte == TIpTelnet::IAC) {
                data[kept++] = static_cast<char>(byte);
                FLastWasCR = false;
            } else if (byte == TIpTelnet::SB) {
                FCarry.clear();
                FParse = TIpTelnetParse::tpSub;
            } else if (byte >= TIpTelnet::WILL && byte <= TIpTelnet::DONT) {
                FCommand = byte;
                FParse = TIpTelnetParse::tpOption;
            }
            // Any other command (go-ahead, no-op, ...) means nothing here and is dropped.
            break;
        case TIpTelnetParse::tpOption:
            FParse = TIpTelnetParse::tpData;
            Negotiate(FCommand, byte);
            break;
        case TIpTelnetParse::tpSub:
            if (byte == TIpTelnet::IAC)
                FParse = TIpTelnetParse::tpSubCommand;
            else if (FCarry.size() < MaxSubnegotiation)
                FCarry += static_cast<char>(byte);
            break;
        case TIpTelnetParse::tpSubCommand:
            if (byte == TIpTelnet::SE) {
                FParse = TIpTelnetParse::tpData;
                Subnegotiation();
                break;
            }
            // A doubled 255 is a payload byte; any other pair inside is dropped.
            FParse = TIpTelnetParse::tpSub;
            if (byte == TIpTelnet::IAC && FCarry.size() < MaxSubnegotiation)
                FCarry += static_cast<char>(byte);
            break;
        }
    }
    return kept;
}

void TIpTelnetLayer::Answer(uint8_t command, uint8_t option) {
    const char bytes[] = {static_cast<char>(TIpTelnet::IAC), static_cast<char>(command),
                          static_cast<char>(option)};
    FSend(std::string(bytes, sizeof bytes));
    FLog(command, option, true);
}

void TIpTelnetLayer::Negotiate(uint8_t command, uint8_t option) {
    FLog(command, option, false);
    switch (command) {
    case TIpTelnet::WILL:
        if (RemoteEnabled.test(option))
            return;
        if (RemoteAllowed.test(option)) {
            RemoteEnabled.set(option);
            Answer(TIpTelnet::DO, option);
        } else {
            Answer(TIpTelnet::DONT, option);
        }
        return;
    case TIpTelnet::WONT:
        if (RemoteEnabled.test(option)) {
            RemoteEnabled.reset(option);
            Answer(TIpTelnet::DONT, option);
        }
        return;
    case TIpTelnet::DO:
        if (LocalEnabled.test(option))
            return;
        if (LocalAllowed.test(option)) {
            LocalEnabled.set(option);
            if (option == TIpTelnet::OptWindowSize)
                SendWindowSize();
            Answer(TIpTelnet::WILL, option);
        } else {
            Answer(TIpTelnet::WONT, option);
        }
        return;
    case TIpTelnet::DONT:
        if (LocalEnabled.test(option)) {
            LocalEnabled.reset(option);
            Answer(TIpTelnet::WONT, option);
        }
        return;
    }
}

void TIpTelnetLayer::Subnegotiation() {
    constexpr char Send = 1;
    if (FCarry.size() < 2 || FCarry[1] != Send)
        return;
    const auto option = static_cast<uint8_t>(FCarry[0]);
    if (option == TIpTelnet::OptStatus && LocalEnabled.test(TIpTelnet::OptStatus)) {
        FSend(StatusReply());
    } else if (option == TIpTelnet::OptTerminalType &&
               LocalEnabled.test(TIpTelnet::OptTerminalType)) {
        std::string name = Terminal ? Terminal->EmulationName() : std::string();
        if (name.empty())
            name = "dumb";
        FSend(std::string("\xFF\xFA\x18\x00", 4) + name + "\xFF\xF0");
    }
}

std::string TIpTelnetLayer::StatusReply() const {
    std::string inner;
    auto add = [&inner](uint8_t command, size_t option) {
        for (const uint8_t byte : {command, static_cast<uint8_t>(option)}) {
            inner += static_cast<char>(byte);
            if (byte == TIpTelnet::IAC || byte == TIpTelnet::SB)
                inner += static_cast<char>(byte);
        }
    };
    for (size_t option = 0; option < 50; ++option)
        if (LocalEnabled.test(option))
            add(TIpTelnet::WILL, option);
    for (size_t option = 0; option < RemoteEnabled.size(); ++option)
        if (RemoteEnabled.test(option))
            add(TIpTelnet::DO, option);
    return std::string("\xFF\xFA\x05\x00", 4) + inner + "\xFF\xF0";
}

std::string TIpTelnetLayer::WindowSizeCommand(uint16_t width, uint16_t height) {
    std::string command("\xFF\xFA\x1F", 3);
    for (const uint16_t value : {width, height})
        for (const auto byte : {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}) {
            command += static_cast<char>(byte);
            // A size byte of 255 would read as a command if it went out single.
            if (byte == TIpTelnet::IAC)
                command += static_cast<char>(byte);
        }
    return command + "\xFF\xF0";
}

void TIpTelnetLayer::SendWindowSize() {
    if (Terminal == nullptr || !LocalEnabled.test(TIpTelnet::OptWindowSize))
        return;
    FSend(WindowSizeCommand(Terminal->WindowWidth(), Terminal->WindowHeight()));
}
