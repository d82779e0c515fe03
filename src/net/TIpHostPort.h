#pragma once

#include <cstdint>
#include <string>

// The host and port of a destination as the user types it: "host", "host:port",
// "scheme://host:port/path", and IPv6 literals in brackets ("[2001:db8::1]:563", "[::1]"). A bare
// IPv6 literal ("2001:db8::1") is a host without a port: its colons cannot be told from a port's.
struct TIpHostPort {
    // The host without brackets; empty when the text names none.
    std::string Host;
    // The port as typed; empty when none was given.
    std::string PortText;

    static TIpHostPort Parse(const std::string& text);
    // "host:port" for messages and keys, an IPv6 literal in brackets: "[::1]:563".
    static std::string Join(const std::string& host, uint16_t port);
    // True for a numeric IPv4 or IPv6 address, which gets no SNI and is checked against the
    // certificate's IP entries.
    static bool IsIpLiteral(const std::string& host);
};
