#pragma once

#include "net/TIpSockAddr.h"
#include "net/TIpSockOptionSet.h"
#include "net/TIpSockStatRec.h"
#include "net/TIpSocksServerInfo.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <netinet/in.h>

class TIpSockControl;
class TIpSocketReadiness;

// One operating-system socket handle with its addresses, proxy state and options. Readiness of
// the handle reaches the owner's window (TIpSockControl::SocketReadiness), never the socket
// directly, so the owner can find out first whether it still holds the socket.
class TIpBaseSocket {
public:
    // Opens a new IPv4 socket of the owner's type (existingHandle -1) or adopts an accepted one,
    // registers it for readiness, applies `options`, binds when `bindAddress` is not the
    // any-address and copies the proxy settings (a non-empty Address puts the proxy state at 1).
    // A connect to an IPv6 address reopens the handle for IPv6 (ReopenHandle).
    TIpBaseSocket(TIpSockControl& owner, const TIpSocksServerInfo* proxy,
                  const TIpSockOptionSet& options, const sockaddr_in& bindAddress,
                  int existingHandle);
    TIpBaseSocket(const TIpBaseSocket&) = delete;
    TIpBaseSocket& operator=(const TIpBaseSocket&) = delete;
    virtual ~TIpBaseSocket();

    bool Connected() const { return FConnected; }
    // True from ConnectTo until the connect completes or fails.
    bool Connecting() const { return FConnecting; }
    // The handle identifies the connection to the owner for the socket's whole life, also after
    // the close sequence has released it to the system (HandleOpen() then answers false).
    int Handle() const { return FHandle; }
    bool HandleOpen() const { return FHandleOpen; }
    const std::string& HostText() const { return FHostText; }
    const TIpSockAddr& LocalAddress() const { return FLocalAddress; }
    const TIpSockAddr& RemoteAddress() const { return FRemoteAddress; }
    uint8_t ProxyState() const { return FProxyState; }
    int SocketType() const { return FSocketType; }
    TIpConnRec ConnectionRecord() const;

    // Sets each system option on or off by membership; a refusal raises on 'SetSockOpt'.
    void ApplySocketOptions(const TIpSockOptionSet& options);
    // The buffer-size rule: while the size is above 1460 try to set it, halving on refusal, and
    // stop on success or on 10042/10022. Sizes of 1460 or less are never applied.
    void ApplyBufferSize(int option, int32_t size);

    // Called by the owner when the connect attempt has failed; the socket stays connecting-capable
    // and a later ConnectTo may try again.
    void ConnectFailed();

protected:
    // Asks for read or write readiness, or stops asking.
    void WantRead(bool want);
    void WantWrite(bool want);
    // Stops readiness and closes the handle (once).
    void CloseHandle();
    // A fresh, unconnected socket of `family` under the same handle, with the options and bind
    // address it was made with: a connect that failed cannot be tried again on its socket, and
    // the owner knows the connection by its handle.
    void ReopenHandle(int family);

    bool FConnected = false;
    bool FConnecting = false;
    int FHandle = -1;
    bool FHandleOpen = false;
    std::string FHostText;
    bool FDiscardReceived = false;
    bool FEchoReceived = false;
    bool FEchoSent = false;
    bool FStripHighBit = false;
    bool FTelnet = false;
    TIpSockAddr FLocalAddress;
    TIpSockAddr FRemoteAddress;
    mutable std::recursive_mutex FLock;
    TIpSocksServerInfo FProxy;
    uint8_t FProxyState = 0;
    int FSocketType = 1;
    // The address family of the socket under the handle.
    int FFamily = AF_INET;
    TIpSockControl& FOwner;

private:
    std::unique_ptr<TIpSocketReadiness> FReadiness;
    TIpSockOptionSet FOptions;
    TIpSockAddr FBindAddress;
    bool FBound = false;
};
