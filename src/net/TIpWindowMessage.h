#pragma once

#include <QEvent>

#include <cstdint>
#include <string>

// The messages of a component's event-loop window. A derived component may post its own, numbered
// from IpWmUser up, and handle them by extending WindowProcedure.
struct TIpWm {
    static constexpr uint32_t Timer = 1;           // timer tick
    static constexpr uint32_t QueryEndSession = 2; // may the system shut down? Result 1 = yes
    static constexpr uint32_t Socket = 3;          // WParam handle, LParam event | error << 16
    static constexpr uint32_t FreeSocket = 4;      // WParam handle: deferred release
    static constexpr uint32_t Line = 5;            // WParam handle, Text the line
    static constexpr uint32_t WindowSize = 6;      // WParam handle: resend the Telnet window size
    static constexpr uint32_t LookupReply = 7;     // WParam task handle, LParam error << 16
    static constexpr uint32_t User = 0x400;
};

// Event codes of socket notifications, as carried in the low half of LParam.
struct TIpFd {
    static constexpr uint16_t Read = 1;
    static constexpr uint16_t Write = 2;
    static constexpr uint16_t Oob = 4;
    static constexpr uint16_t Accept = 8;
    static constexpr uint16_t Connect = 16;
    static constexpr uint16_t Close = 32;
};

// One message to a component's window, delivered by Qt's event loop in posting order.
class TIpWindowMessage : public QEvent {
public:
    TIpWindowMessage(uint32_t msg, intptr_t wParam = 0, intptr_t lParam = 0, std::string text = {});

    static QEvent::Type EventType();
    static intptr_t MakeSelectReply(uint16_t event, int32_t error) {
        return static_cast<intptr_t>(event) | (static_cast<intptr_t>(error) << 16);
    }
    uint16_t SelectEvent() const { return static_cast<uint16_t>(LParam & 0xFFFF); }
    int32_t SelectError() const { return static_cast<int32_t>(LParam >> 16); }

    uint32_t Msg = 0;
    intptr_t WParam = 0;
    intptr_t LParam = 0;
    std::string Text;
    intptr_t Result = 0;
};
