#include "net/TIpHostPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

static bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

static bool IsIPv6(const std::string& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// "[literal]" with what may follow it: ":port", a path. Anything before the bracket is a scheme.
static bool ParseBracketed(const std::string& text, TIpHostPort& parsed) {
    const size_t open = text.find('[');
    const size_t close = text.find(']', open);
    if (open == std::string::npos || close == std::string::npos)
        return false;
    const std::string before = text.substr(0, open);
    if (!before.empty() && before.back() != ':' && before.back() != '/')
        return false;
    parsed.Host = text.substr(open + 1, close - open - 1);
    if (close + 1 < text.size() && text[close + 1] == ':') {
        const size_t end = text.find('/', close + 2);
        parsed.PortText =
            text.substr(close + 2, end == std::string::npos ? std::string::npos : end - close - 2);
    }
    return true;
}

TIpHostPort TIpHostPort::Parse(const std::string& text) {
    TIpHostPort parsed;
    if (IsIPv6(text)) {
        parsed.Host = text;
        return parsed;
    }
    if (ParseBracketed(text, parsed))
        return parsed;

    // Positions of the first '.', ':' and '/'; a missing character counts as the last position.
    const size_t last = text.empty() ? 0 : text.size() - 1;
    auto position = [&](char c) {
        const size_t at = text.find(c);
        return at == std::string::npos ? last : at;
    };
    const size_t colon = position(':');
    const size_t dot = position('.');
    const size_t slash = position('/');
    if (text.empty() || text[0] == '.' || text[0] == '/')
        return parsed;

    size_t hostStart = 0;
    bool scheme = false;
    if (colon < dot && colon < slash && text[colon] == ':') {
        // "name:8119" is a host and its port, not a scheme followed by a host "8119".
        const size_t end = text.find('/', colon + 1);
        const std::string afterColon =
            text.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
        if (!AllDigits(afterColon)) {
            scheme = true;
            hostStart = colon + 1;
            while (hostStart < text.size() && text[hostStart] == '/')
                ++hostStart;
        }
    }
    if (scheme) {
        size_t separator = text.find('/', hostStart);
        if (separator == std::string::npos)
            separator = text.find('\\', hostStart);
        if (separator != std::string::npos && separator < dot)
            return parsed;
    }
    const size_t end = text.find('/', hostStart);
    parsed.Host =
        text.substr(hostStart, end == std::string::npos ? std::string::npos : end - hostStart);
    const size_t portColon = parsed.Host.find(':');
    if (portColon != std::string::npos) {
        parsed.PortText = parsed.Host.substr(portColon + 1);
        parsed.Host.resize(portColon);
    }
    return parsed;
}

std::string TIpHostPort::Join(const std::string& host, uint16_t port) {
    const bool brackets = host.find(':') != std::string::npos;
    return (brackets ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool TIpHostPort::IsIpLiteral(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 || IsIPv6(host);
}
