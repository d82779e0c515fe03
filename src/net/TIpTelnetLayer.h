#pragma once

#include "net/TIpTerminal.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

// Telnet command bytes.
struct TIpTelnet {
    static constexpr uint8_t SE = 240; // end of subnegotiation
    static constexpr uint8_t SB = 250; // start of subnegotiation
    static constexpr uint8_t WILL = 251;
    static constexpr uint8_t WONT = 252;
    static constexpr uint8_t DO = 253;
    static constexpr uint8_t DONT = 254;
    static constexpr uint8_t IAC = 255; // interpret as command

    static constexpr uint8_t OptBinary = 0;
    static constexpr uint8_t OptStatus = 5;
    static constexpr uint8_t OptTerminalType = 24;
    static constexpr uint8_t OptWindowSize = 31;
};

using TIpTelnetOptionSet = std::bitset<256>;

// The receiving half of a data socket's Telnet layer and its option negotiation. It takes the
// commands out of received bytes, answers them through `send` (bytes that go out raw and
// internal) and reports each command it saw or sent through `log`.
//
// It never starts a negotiation; it answers:
//   WILL o: DO o when o is remote-allowed (and marks it remote-enabled), else DON'T o;
//   WON'T o: DON'T o when o was remote-enabled; DO o: WILL o when o is local-allowed (for the
//   window size the size goes first), else WON'T o; DON'T o: WON'T o when o was local-enabled.
//   An option already in the asked state gets no answer, so two peers never loop.
// Subnegotiations answered: status SEND (when status is enabled locally) and terminal-type SEND
// (when terminal type is enabled locally).
//
// Parsing survives any split of the input: a command cut at the end of a chunk waits in the
// carry-over state (the subnegotiation bytes collected so far and where in a sequence the last
// byte left off) and completes with the next chunk.
class TIpTelnetLayer {
public:
    using SendFunction = std::function<void(const std::string& bytes)>;
    // `sent` false for a received command, true for an answer.
    using LogFunction = std::function<void(uint8_t command, uint8_t option, bool sent)>;

    // Longest subnegotiation payload kept; a longer one is cut (the requests answered are short).
    static constexpr size_t MaxSubnegotiation = 1024;

    TIpTelnetLayer(SendFunction send, LogFunction log);

    // Removes commands from data[0..count), handles them and returns how many data bytes remain
    // at the front. A NUL after a carriage return is dropped while the peer does not send binary.
    uint32_t Filter(char* data, uint32_t count);

    // Sends the window size when the option is enabled locally and a terminal is attached.
    void SendWindowSize();
    // 255 250 31 width height 255 240, with 255 inside doubled.
    static std::string WindowSizeCommand(uint16_t width, uint16_t height);
    // The answer to a status SEND: the options enabled on both sides.
    std::string StatusReply() const;

    TIpTerminal* Terminal = nullptr;
    TIpTelnetOptionSet LocalAllowed;
    TIpTelnetOptionSet LocalEnabled;
    TIpTelnetOptionSet RemoteAllowed;
    TIpTelnetOptionSet RemoteEnabled;

    // True while part of a command sequence waits for the next chunk.
    bool Carrying() const { return FParse != TIpTelnetParse::tpData; }

private:
    enum class TIpTelnetParse : uint8_t { tpData, tpCommand, tpOption, tpSub, tpSubCommand };

    void Negotiate(uint8_t command, uint8_t option);
    void Answer(uint8_t command, uint8_t option);
    void Subnegotiation();

    SendFunction FSend;
    LogFunction FLog;
    TIpTelnetParse FParse = TIpTelnetParse::tpData;
    uint8_t FCommand = 0;
    std::string FCarry; // payload of the subnegotiation being received
    bool FLastWasCR = false;
};
