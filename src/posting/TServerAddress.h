#pragma once

#include "nntp/TIpCustomNntpClient.h"

#include <cstdint>
#include <string>

// The server a log-on belongs to: its host and the port a connection reaches, as typed in the
// window, given with --server or kept in the run journal ("news.example.org", "host:8119",
// "[::1]:563"). A password is sent only to the server it was saved for, so two texts name the
// same server when host (letter case aside) and port agree: "news.a.example" over TLS is
// "news.a.example:563", and not the same host over a clear connection (port 119).
//
// A text this does not read as host[:port] (a scheme, a path, a port that is no number) keeps
// the whole text as its host and port 0; it then equals only the same text.
struct TServerAddress {
    std::string Host;
    uint16_t Port = 0;

    static TServerAddress Of(const std::string& text, TIpNntpSecurity security);
    // "host:port", an IPv6 address in brackets; the text itself when it was not read.
    std::string Text() const;

    bool operator==(const TServerAddress&) const = default;
};
