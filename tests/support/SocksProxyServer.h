#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>

// A real SOCKS server on 127.0.0.1, run by a test for its own lifetime on a free port with a
// private configuration in a temporary directory:
//   - danted (SOCKS4 and SOCKS5, no log-on) that refuses connects to `blockedPort`;
//   - microsocks (SOCKS5) that asks for a user name and password.
// The process is stopped (by its own id) when the object goes.
//
//   SocksProxyServer proxy;
//   QVERIFY2(proxy.StartDante(blocked), proxy.Error().c_str());
//   info.Port = proxy.Port();
class SocksProxyServer {
public:
    SocksProxyServer() = default;
    ~SocksProxyServer();
    SocksProxyServer(const SocksProxyServer&) = delete;
    SocksProxyServer& operator=(const SocksProxyServer&) = delete;

    bool StartDante(uint16_t blockedPort);
    bool StartMicrosocks(const std::string& user, const std::string& password);
    void Stop();

    uint16_t Port() const { return FPort; }
    // Why a start failed, with the server's own output when it said something.
    std::string Error() const { return FError; }

private:
    bool Launch(const QString& program, const QStringList& arguments);
    bool WaitListening(int timeoutMs);

    QTemporaryDir FDir;
    std::unique_ptr<QProcess> FProcess;
    uint16_t FPort = 0;
    std::string FError;
};
