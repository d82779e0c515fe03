#pragma once

#include <cstdint>
#include <mutex>
#include <string>

enum class TIpSocksVersion : uint8_t { svSocks4, svSocks4a, svSocks5 };

// The proxy a data socket tunnels through. An empty Address means no proxy.
class TIpSocksServerInfo {
public:
    TIpSocksServerInfo() = default;
    TIpSocksServerInfo(const TIpSocksServerInfo& other) { Assign(other); }
    TIpSocksServerInfo& operator=(const TIpSocksServerInfo& other) {
        Assign(other);
        return *this;
    }

    // Copies all five settings under this object's lock.
    void Assign(const TIpSocksServerInfo& other) {
        if (&other == this)
            return;
        std::scoped_lock lock(FLock);
        Address = other.Address;
        Password = other.Password;
        Port = other.Port;
        SocksVersion = other.SocksVersion;
        UserCode = other.UserCode;
    }

    std::string Address;
    std::string Password;
    uint16_t Port = 1080;
    TIpSocksVersion SocksVersion = TIpSocksVersion::svSocks4;
    std::string UserCode;

private:
    std::recursive_mutex FLock;
};
