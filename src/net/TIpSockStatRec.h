#pragma once

#include <cstdint>

// The status changes a socket reports to its owner's OnStatus event.
enum class TIpStatusType : uint8_t { stConnect, stDisconnect, stProgress };

// Both ends of a connection, as OnStatus reports them: addresses in network order, ports in
// host order. An IPv6 connection has its addresses in the 16-byte fields and 0 in the IPv4 ones.
#pragma pack(push, 1)
struct TIpConnRec {
    uint32_t RemoteAddress = 0;
    uint16_t RemotePort = 0;
    uint32_t LocalAddress = 0;
    uint16_t LocalPort = 0;
    bool IPv6 = false;
    uint8_t RemoteAddress6[16] = {};
    uint8_t LocalAddress6[16] = {};
};
#pragma pack(pop)

// The byte counters of a connection. "Data" counts what the owner sees and sends, "raw" what
// passed through the system's receive and send calls. The second four repeat the first four.
struct TIpSockStatRec {
    uint32_t DataReceived = 0;
    uint32_t DataSent = 0;
    uint32_t RawReceived = 0;
    uint32_t RawSent = 0;
    uint32_t DataReceived2 = 0;
    uint32_t DataSent2 = 0;
    uint32_t RawReceived2 = 0;
    uint32_t RawSent2 = 0;

    bool operator==(const TIpSockStatRec&) const = default;
};
