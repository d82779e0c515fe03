#pragma once

#include <cstdint>
#include <string>

// What the Telnet layer asks of the terminal a data socket serves: its emulation name (sent as
// the terminal type) and its window size in characters. A terminal whose size changes calls
// TIpDataSocket::TerminalResized so that the peer is told again.
class TIpTerminal {
public:
    virtual ~TIpTerminal() = default;

    // Empty means the layer reports "dumb".
    virtual std::string EmulationName() const = 0;
    virtual uint16_t WindowWidth() const = 0;
    virtual uint16_t WindowHeight() const = 0;
};
