#pragma once

#include <cstdint>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

// An IPv4 or IPv6 socket address in the form the system's calls take. A default one is the IPv4
// any-address with port 0. Ports are given and returned in host order.
class TIpSockAddr {
public:
    TIpSockAddr();
    TIpSockAddr(const sockaddr_in& address);  // NOLINT: an IPv4 address is one of ours
    TIpSockAddr(const sockaddr_in6& address); // NOLINT

    // The address of a numeric IPv4 or IPv6 text (no brackets, no port); false for a name.
    static bool FromText(const std::string& text, TIpSockAddr& address);

    int Family() const { return FAddress.Any.sa_family; }
    bool IsV6() const { return Family() == AF_INET6; }
    uint16_t Port() const;
    void SetPort(uint16_t port);
    // The IPv4 address in network order; 0 for an IPv6 address.
    in_addr_t V4Address() const { return IsV6() ? 0 : FAddress.V4.sin_addr.s_addr; }
    const in6_addr& V6Address() const { return FAddress.V6.sin6_addr; }

    // The numeric address without the port ("192.0.2.1", "2001:db8::1").
    std::string AddressText() const;

    const sockaddr* Data() const { return &FAddress.Any; }
    sockaddr* Data() { return &FAddress.Any; }
    socklen_t Length() const;
    static constexpr socklen_t Capacity() { return sizeof(sockaddr_in6); }

private:
    union {
        sockaddr Any;
        sockaddr_in V4;
        sockaddr_in6 V6;
    } FAddress;
};
