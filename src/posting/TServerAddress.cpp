#include "posting/TServerAddress.h"

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

TServerAddress TServerAddress::Of(const std::string& text, TIpNntpSecurity security) {
    const std::string whole = Trimmed(text);
    TServerAddress unread{whole, 0};
    std::string host = whole;
    std::string portText;
    if (!whole.empty() && whole.front() == '[') {
        const size_t close = whole.find(']');
        if (close == std::string::npos)
            return unread;
        host = whole.substr(1, close - 1);
        const std::string rest = whole.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return unread;
            portText = rest.substr(1);
        }
    } else if (const size_t colon = whole.find(':'); colon != std::string::npos) {
        // More than one colon: an IPv6 address without brackets, which carries no port.
        if (whole.find(':', colon + 1) == std::string::npos) {
            host = whole.substr(0, colon);
            portText = whole.substr(colon + 1);
        }
    }
    if (host.empty() || host.find_first_of("/\\@ ") != std::string::npos)
        return unread;
    TServerAddress address{host, DefaultPort(security)};
    if (!portText.empty() && !ReadPort(portText, address.Port))
        return unread;
    std::transform(address.Host.begin(), address.Host.end(), address.Host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return address;
}

std::string TServerAddress::Text() const {
    if (Port == 0)
        return Host;
    const bool ipv6 = Host.find(':') != std::string::npos;
    return (ipv6 ? '[' + Host + ']' : Host) + ':' + std::to_string(Port);
}
