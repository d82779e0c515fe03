#include "net/TIpDataSocket.h"

#include "net/EIpWinSockError.h"

// The proxy and Telnet layers of the data socket. The client's sockets run with neither: no
// proxy Address and no soTelnet, so none of these is reached on its road.

void TIpDataSocket::SendProxyRequest() {
    throw EIpProgrammerError("SOCKS proxy negotiation is not available");
}

uint32_t TIpDataSocket::HandleProxyReply(char*, uint32_t count) {
    return count;
}

uint32_t TIpDataSocket::TelnetReceiveFilter(char*, uint32_t count) {
    return count;
}

void TIpDataSocket::SendWindowSize() {}
