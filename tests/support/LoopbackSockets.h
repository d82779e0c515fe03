#pragma once

// Plain POSIX sockets on loopback, for the test servers and relays that run on threads of their
// own (so a test's thread may block while they serve).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket listening on a free loopback port, 127.0.0.1 or with `ipv6` ::1 (`flags` as for
// socket(), e.g. SOCK_NONBLOCK): its descriptor and the port in `port`, or -1 with errno set.
inline int ListenOnLoopback(uint16_t& port, int flags = 0, bool ipv6 = false) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    sockaddr_in address4 = Loopback(0);
    sockaddr* address =
        ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address4);
    socklen_t length = ipv6 ? sizeof address6 : sizeof address4;
    if (::bind(fd, address, length) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, address, &length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    port = ntohs(ipv6 ? address6.sin6_port : address4.sin_port);
    return fd;
}

// Sends every byte; false once the other side has gone.
inline bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}
