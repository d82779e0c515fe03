#include "net/TIpSocksNegotiation.h"

#include <algorithm>

#include <arpa/inet.h>

static constexpr uint8_t Socks4Granted = 90;
static constexpr uint8_t MethodNone = 0;
static constexpr uint8_t MethodUserPassword = 2;
static constexpr uint8_t MethodRefused = 255;
static constexpr uint8_t AddressIPv4 = 1;
static constexpr uint8_t AddressDomain = 3;
static constexpr uint8_t AddressIPv6 = 4;

static uint8_t Byte(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]);
}

static void AppendRaw(std::string& out, const void* data, size_t length) {
    out.append(static_cast<const char*>(data), length);
}

// A length-prefixed field of the user-name/password request, cut to what one byte can count.
static void AppendCounted(std::string& out, const std::string& text) {
    const size_t length = std::min<size_t>(text.size(), 255);
    out += static_cast<char>(length);
    out.append(text, 0, length);
}

TIpSocksNegotiation::TIpSocksNegotiation(const TIpSocksServerInfo& proxy)
    : FVersion(proxy.SocksVersion), FUserCode(proxy.UserCode), FPassword(proxy.Password) {}

std::string TIpSocksNegotiation::Start(const TIpSockAddr& destination,
                                       const std::string& hostName) {
    FDestination = destination;
    FReply.clear();
    FRefused = false;
    std::string request;
    switch (FVersion) {
    case TIpSocksVersion::svSocks4:
    case TIpSocksVersion::svSocks4a: {
        // An address of 0.0.0.x with x not 0 tells a SOCKS4a proxy that the host name follows
        // the user code; a plain SOCKS4 proxy would try to reach 0.0.0.0 instead.
        const bool byName = FVersion == TIpSocksVersion::svSocks4a &&
                            destination.V4Address() == 0 && !hostName.empty();
        const uint16_t port = htons(destination.Port());
        const in_addr_t address = destination.V4Address();
        request += '\x04';
        request += '\x01';
        AppendRaw(request, &port, 2);
        if (byName)
            request.append("\0\0\0\x01", 4);
        else
            AppendRaw(request, &address, 4);
        request.append(FUserCode.c_str()); // the user code ends at its first NUL
        request += '\0';
        if (byName) {
            request += hostName;
            request += '\0';
        }
        break;
    }
    case TIpSocksVersion::svSocks5:
        request.append("\x05\x02\x00\x02", 4);
        break;
    }
    return request;
}

std::string TIpSocksNegotiation::ConnectRequest() const {
    std::string request("\x05\x01\x00", 3);
    if (FDestination.IsV6()) {
        request += static_cast<char>(AddressIPv6);
        AppendRaw(request, FDestination.V6Address().s6_addr, 16);
    } else {
        const in_addr_t address = FDestination.V4Address();
        request += static_cast<char>(AddressIPv4);
        AppendRaw(request, &address, 4);
    }
    const uint16_t port = htons(FDestination.Port());
    AppendRaw(request, &port, 2);
    return request;
}

uint32_t TIpSocksNegotiation::ReplyLength(uint8_t proxyState) const {
    if (FVersion != TIpSocksVersion::svSocks5)
        return 8;
    if (proxyState != 4)
        return 2;
    // The connect reply carries the proxy's bound address in the form its fourth byte names.
    if (FReply.size() < 5)
        return 0;
    switch (Byte(FReply, 3)) {
    case AddressDomain:
        return 4 + 1 + Byte(FReply, 4) + 2;
    case AddressIPv6:
        return 4 + 16 + 2;
    case AddressIPv4:
    default:
        return 4 + 4 + 2;
    }
}

TIpSocksOutcome TIpSocksNegotiation::Refuse(int32_t code) {
    FRefused = true;
    TIpSocksOutcome outcome;
    outcome.Step = TIpSocksStep::ssRefused;
    outcome.Code = code;
    return outcome;
}

TIpSocksOutcome TIpSocksNegotiation::Feed(const char* data, uint32_t count, uint32_t& used,
                                          uint8_t& proxyState) {
    used = 0;
    if (FRefused) {
        used = count;
        return {};
    }
    // Bytes are taken one reply at a time: a reply's length may depend on its own first bytes.
    uint32_t length = 0;
    while (used < count && ((length = ReplyLength(proxyState)) == 0 || FReply.size() < length))
        FReply += data[used++];
    if (length == 0 || FReply.size() < length)
        return {};

    const std::string reply = std::move(FReply);
    FReply.clear();
    TIpSocksOutcome outcome;
    if (FVersion != TIpSocksVersion::svSocks5) {
        if (Byte(reply, 1) != Socks4Granted)
            return Refuse(Byte(reply, 1));
        outcome.Step = TIpSocksStep::ssEstablished;
        proxyState = 5;
        return outcome;
    }
    switch (proxyState) {
    case 2:
        switch (Byte(reply, 1)) {
        case MethodNone:
            outcome.Step = TIpSocksStep::ssSend;
            outcome.Request = ConnectRequest();
            proxyState = 4;
            return outcome;
        case MethodUserPassword:
            outcome.Step = TIpSocksStep::ssSend;
            outcome.Request = "\x01";
            AppendCounted(outcome.Request, FUserCode);
            AppendCounted(outcome.Request, FPassword);
            proxyState = 3;
            return outcome;
        case MethodRefused:
            return Refuse(MethodRefused);
        default:
            outcome.Step = TIpSocksStep::ssIgnored;
            return outcome;
        }
    case 3:
        if (Byte(reply, 1) != 0)
            return Refuse(Byte(reply, 1));
        outcome.Step = TIpSocksStep::ssSend;
        outcome.Request = ConnectRequest();
        proxyState = 4;
        return outcome;
    default:
        if (Byte(reply, 1) != 0)
            return Refuse(Byte(reply, 1));
        outcome.Step = TIpSocksStep::ssEstablished;
        proxyState = 5;
        return outcome;
    }
}
