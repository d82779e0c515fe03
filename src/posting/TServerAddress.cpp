#include "posting/TServerAddress.h"

#include "net/TIpHostPort.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ReadPort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

uint16_t DefaultPort(TIpNntpSecurity security) {
    switch (security) {
    case TIpNntpSecurity::nySecTls:
        return TIpCustomNntpClient::NntpsPort;
    case TIpNntpSecurity::nySecNone:
    case TIpNntpSecurity::nySecStartTls:
        return TIpCustomNntpClient::NntpPort;
    }
    return TIpCustomNntpClient::NntpPort;
}

} // namespace

// Read as the connection reads it, so that two texts compare equal exactly when they reach the
// same host and port.
TServerAddress TServerAddress::Of(const std::string& text, TIpNntpSecurity security) {
    const std::string whole = Trimmed(text);
    const TServerAddress unread{whole, 0};
    const TIpHostPort parsed = TIpHostPort::Parse(whole);
    if (parsed.Host.empty() || parsed.Host.find_first_of("/\\@ ") != std::string::npos)
        return unread;
    TServerAddress address{parsed.Host, DefaultPort(security)};
    if (!parsed.PortText.empty() && !ReadPort(parsed.PortText, address.Port))
        return unread;
    std::transform(address.Host.begin(), address.Host.end(), address.Host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return address;
}

std::string TServerAddress::Text() const {
    return Port == 0 ? Host : TIpHostPort::Join(Host, Port);
}
