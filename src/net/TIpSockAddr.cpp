#include "net/TIpSockAddr.h"

#include <arpa/inet.h>

TIpSockAddr::TIpSockAddr() : FAddress{} {
    FAddress.V4.sin_family = AF_INET;
}

TIpSockAddr::TIpSockAddr(const sockaddr_in& address) : FAddress{} {
    FAddress.V4 = address;
}

TIpSockAddr::TIpSockAddr(const sockaddr_in6& address) : FAddress{} {
    FAddress.V6 = address;
}

bool TIpSockAddr::FromText(const std::string& text, TIpSockAddr& address) {
    TIpSockAddr parsed;
    // inet_aton: the shorter numeric IPv4 forms ("127.1") are addresses too, as they always were.
    if (!text.empty() && inet_aton(text.c_str(), &parsed.FAddress.V4.sin_addr) != 0) {
        address = parsed;
        return true;
    }
    parsed.FAddress.V6 = sockaddr_in6{};
    parsed.FAddress.V6.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, text.c_str(), &parsed.FAddress.V6.sin6_addr) == 1) {
        address = parsed;
        return true;
    }
    return false;
}

uint16_t TIpSockAddr::Port() const {
    return ntohs(IsV6() ? FAddress.V6.sin6_port : FAddress.V4.sin_port);
}

void TIpSockAddr::SetPort(uint16_t port) {
    (IsV6() ? FAddress.V6.sin6_port : FAddress.V4.sin_port) = htons(port);
}

std::string TIpSockAddr::AddressText() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsV6())
        inet_ntop(AF_INET6, &FAddress.V6.sin6_addr, text, sizeof text);
    else
        inet_ntop(AF_INET, &FAddress.V4.sin_addr, text, sizeof text);
    return text;
}

socklen_t TIpSockAddr::Length() const {
    return IsV6() ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}
