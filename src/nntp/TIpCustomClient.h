#pragma once

#include "net/TIpDataSocket.h"
#include "net/TIpSockControl.h"
#include "net/TIpSocksServerInfo.h"

#include <cstdint>
#include <memory>
#include <string>

class QObject;

// The base of a client for a line-oriented protocol: it owns at most one data socket, the
// outgoing connection, and knows the port to use when the address names none.
//
// Life of the connection:
//   no socket --Connect--> socket connecting --connect completes--> Connected()
//     --peer closes / close sequence--> not connected --FreeSocket--> no socket (Handle() -1)
// A later Connect creates a new socket with a new handle; nothing of the old one is kept.
class TIpCustomClient : public TIpSockControl {
public:
    // Listener notifications carry the handle in WParam and the event code in the low half of
    // LParam (1 connected, 2 disconnected) with the value 1 in the high half.
    static constexpr uint32_t ListenerMessage = TIpWm::User;
    static constexpr uint16_t ListenerConnect = 1;
    static constexpr uint16_t ListenerDisconnect = 2;

    TIpCustomClient();
    ~TIpCustomClient() override;

    // True while a data socket exists and reports itself connected; a connect still in progress
    // reads as not connected.
    bool Connected() const;
    // The data socket's handle, or -1 without one.
    int Handle() const;
    uint16_t DefaultPort() const { return FDefaultPort; }
    TIpSocksServerInfo& SocksServer() { return *FSocksServer; }
    // The current data socket or nullptr; for callers that need its counters.
    TIpDataSocket* DataSocket() const { return FDataSocket.get(); }

    void CreateSocket() override;
    void FreeSocket(int handle) override;
    bool IsActive() const override;
    void NotifyStatus(int handle, TIpStatusType type, const TIpConnRec& connection) override;
    void NotifyTls(int handle, const TIpTlsPeer& peer) override;
    // True while the connection is encrypted.
    bool Encrypted() const;
    // What the last TLS handshake told (also of a refused certificate).
    const TIpTlsPeer& TlsPeer() const { return FTlsPeer; }
    void Tick(uint32_t elapsed) override;
    TIpDataSocket* FindSocket(int handle, bool raise) override;
    void AddListener(QObject* window) override;

    // Closes and releases the connection with this handle; nothing when it is not ours.
    virtual void CloseSocket(int handle);
    // Starts a non-blocking connect to "host" or "host:port" and returns the socket's handle.
    // Completion, failure and the later end of the connection arrive as notifications.
    virtual int Connect(const std::string& address);

protected:
    void SetDefaultPort(uint16_t port) { FDefaultPort = port; }

private:
    void NotifyListener(QObject* window, int handle, uint16_t eventCode) const;

    uint16_t FDefaultPort = 0;
    std::unique_ptr<TIpSocksServerInfo> FSocksServer;
    std::unique_ptr<TIpDataSocket> FDataSocket;
    // The handle the socket was created with; the notifications of its close and release name it.
    int FSocketHandle = -1;
    TIpTlsPeer FTlsPeer;
};

// The common base of mail and news clients; it adds nothing of its own.
class TIpCustomEmailClass : public TIpCustomClient {};
