#pragma once

#include "net/TIpSockAddr.h"
#include "net/TIpSocksServerInfo.h"

#include <cstdint>
#include <string>

#include <netinet/in.h>

// What one step of a SOCKS negotiation asks of the socket.
enum class TIpSocksStep : uint8_t {
    ssWaiting,     // the reply is not complete yet; its bytes are kept
    ssSend,        // queue Request (internal, raw) and wait for the next reply
    ssEstablished, // the tunnel is up
    ssRefused,     // the proxy refused; Code says why
    ssIgnored      // a reply that changes nothing (an unknown SOCKS5 method)
};

struct TIpSocksOutcome {
    TIpSocksStep Step = TIpSocksStep::ssWaiting;
    std::string Request;
    int32_t Code = 0;
};

// The client side of a SOCKS4, SOCKS4a or SOCKS5 CONNECT, kept apart from the socket so that it
// sees only bytes. The proxy state is the socket's:
//
//   1 configured --Start--> 2 first request sent
//   SOCKS4/4a: 2 --reply 90--> 5 established; other reply codes refuse
//   SOCKS5:    2 --method 0--> 4 connect request sent
//              2 --method 2--> 3 credentials sent --status 0--> 4
//              4 --reply 0--> 5 established
//   method 255, a non-zero credentials status or reply code refuse.
//
// The address in a granting reply is the one the proxy bound for its own connection onward, not
// the destination, so it is read past: the socket goes on naming the destination as its peer.
//
// A reply is consumed whole, however it is split over received chunks; what follows it in the
// same chunk is left to the caller. Once refused, everything else the proxy sends is swallowed:
// it is not data from the destination.
class TIpSocksNegotiation {
public:
    explicit TIpSocksNegotiation(const TIpSocksServerInfo& proxy);

    // The first request for a connect to `destination`. `hostName` is used only by SOCKS4a when
    // the destination address is 0.0.0.0, which asks the proxy to resolve the name itself, or
    // IPv6, which SOCKS4 cannot carry. SOCKS5 carries either address.
    std::string Start(const TIpSockAddr& destination, const std::string& hostName);

    // Feeds received bytes. `used` is set to how many of them belonged to the proxy's reply;
    // `proxyState` moves along the transitions above.
    TIpSocksOutcome Feed(const char* data, uint32_t count, uint32_t& used, uint8_t& proxyState);

    bool Refused() const { return FRefused; }

private:
    // Length of the complete reply for the current state, or 0 while too little is known.
    uint32_t ReplyLength(uint8_t proxyState) const;
    std::string ConnectRequest() const;
    TIpSocksOutcome Refuse(int32_t code);

    TIpSocksVersion FVersion;
    std::string FUserCode;
    std::string FPassword;
    TIpSockAddr FDestination;
    std::string FReply;
    bool FRefused = false;
};
