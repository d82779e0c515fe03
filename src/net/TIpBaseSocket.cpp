#include "net/TIpBaseSocket.h"

#include "net/EIpWinSockError.h"
#include "net/TIpSockControl.h"
#include "net/TIpSocketReadiness.h"
#include "net/TIpWinSockAccess.h"

#include <netinet/tcp.h>

#include <cstring>

static bool IsAnyAddress(const sockaddr_in& address) {
    return address.sin_family == AF_INET && address.sin_port == 0 && address.sin_addr.s_addr == 0;
}

TIpBaseSocket::TIpBaseSocket(TIpSockControl& owner, const TIpSocksServerInfo* proxy,
                             const TIpSockOptionSet& options, const sockaddr_in& bindAddress,
                             int existingHandle)
    : FSocketType(owner.SocketType()), FOwner(owner) {
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    FOptions = options;
    FBindAddress = bindAddress;
    if (existingHandle == -1) {
        FHandle = access.Socket(FSocketType);
        if (FHandle < 0) {
            FHandle = -1;
            throw EIpWinSockError(access.LastError(), "Socket");
        }
    } else {
        FHandle = existingHandle;
    }
    FHandleOpen = true;
    try {
        if (existingHandle != -1) {
            int type = 0;
            if (access.GetSockOpt(FHandle, SOL_SOCKET, SO_TYPE, type) != 0)
                throw EIpWinSockError(access.LastError(), "GetSockOpt");
            FSocketType = type == SOCK_DGRAM ? 2 : 1;
        }
        if (access.SetNonBlocking(FHandle) != 0)
            throw EIpWinSockError(access.LastError(), "WsaAsyncSelect");
        FReadiness = std::make_unique<TIpSocketReadiness>(owner, FHandle);
        ApplySocketOptions(options);
        if (existingHandle != -1) {
            access.GetSockName(FHandle, FLocalAddress);
            access.GetPeerName(FHandle, FRemoteAddress);
            FFamily = FLocalAddress.Family();
            FConnected = true;
            WantRead(true);
        } else if (!IsAnyAddress(bindAddress)) {
            FBound = true;
            FLocalAddress = FBindAddress;
            if (access.Bind(FHandle, FLocalAddress) != 0)
                throw EIpWinSockError(access.LastError(), "Bind");
        }
    } catch (...) {
        CloseHandle();
        throw;
    }
    if (proxy != nullptr) {
        FProxy.Assign(*proxy);
        if (!FProxy.Address.empty())
            FProxyState = 1;
    }
}

TIpBaseSocket::~TIpBaseSocket() {
    CloseHandle();
}

TIpConnRec TIpBaseSocket::ConnectionRecord() const {
    std::scoped_lock lock(FLock);
    TIpConnRec record;
    record.RemoteAddress = FRemoteAddress.V4Address();
    record.RemotePort = FRemoteAddress.Port();
    record.LocalAddress = FLocalAddress.V4Address();
    record.LocalPort = FLocalAddress.Port();
    record.IPv6 = FRemoteAddress.IsV6();
    if (FRemoteAddress.IsV6())
        std::memcpy(record.RemoteAddress6, FRemoteAddress.V6Address().s6_addr, 16);
    if (FLocalAddress.IsV6())
        std::memcpy(record.LocalAddress6, FLocalAddress.V6Address().s6_addr, 16);
    return record;
}

void TIpBaseSocket::ApplySocketOptions(const TIpSockOptionSet& options) {
    std::scoped_lock lock(FLock);
    using O = TIpSockOptions;
    FDiscardReceived = options.Contains(O::soDiscardReceived);
    FEchoReceived = options.Contains(O::soEchoReceived);
    FEchoSent = options.Contains(O::soEchoSent);
    FStripHighBit = options.Contains(O::soStripHighBit);
    FTelnet = options.Contains(O::soTelnet);

    struct SystemOption {
        O Member;
        int Level;
        int Name;
        int OnlyForType; // 0: any socket type
    };
    static constexpr SystemOption systemOptions[] = {
        {O::soBroadcast, SOL_SOCKET, SO_BROADCAST, 2},
        {O::soDebug, SOL_SOCKET, SO_DEBUG, 0},
        {O::soDontRoute, SOL_SOCKET, SO_DONTROUTE, 0},
        {O::soKeepAlive, SOL_SOCKET, SO_KEEPALIVE, 1},
        {O::soNoDelay, IPPROTO_TCP, TCP_NODELAY, 1},
        {O::soReuseAddr, SOL_SOCKET, SO_REUSEADDR, 0},
    };
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    for (const SystemOption& option : systemOptions) {
        if (option.OnlyForType != 0 && option.OnlyForType != FSocketType)
            continue;
        if (access.SetSockOpt(FHandle, option.Level, option.Name,
                              options.Contains(option.Member)) != 0)
            throw EIpWinSockError(access.LastError(), "SetSockOpt");
    }
}

void TIpBaseSocket::ApplyBufferSize(int option, int32_t size) {
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    while (size > 1460) {
        if (access.SetSockOpt(FHandle, SOL_SOCKET, option, size) == 0)
            return;
        const int32_t error = access.LastError();
        if (error == TIpWsaCode::BadProtocolOption || error == TIpWsaCode::InvalidArgument)
            return;
        size /= 2;
    }
}

void TIpBaseSocket::ConnectFailed() {
    std::scoped_lock lock(FLock);
    FConnecting = false;
    WantWrite(false);
}

void TIpBaseSocket::ReopenHandle(int family) {
    std::scoped_lock lock(FLock);
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    // The notifiers watched the old socket; new ones watch the new one.
    if (FReadiness) {
        FReadiness->Release();
        FReadiness.reset();
    }
    if (access.ReplaceSocket(FHandle, FSocketType, family) != 0 ||
        access.SetNonBlocking(FHandle) != 0)
        throw EIpWinSockError(access.LastError(), "Socket");
    FFamily = family;
    FReadiness = std::make_unique<TIpSocketReadiness>(FOwner, FHandle);
    ApplySocketOptions(FOptions);
    FLocalAddress = TIpSockAddr();
    // The bind address is IPv4: it applies to IPv4 sockets only.
    if (FBound && family == FBindAddress.Family()) {
        FLocalAddress = FBindAddress;
        if (access.Bind(FHandle, FLocalAddress) != 0)
            throw EIpWinSockError(access.LastError(), "Bind");
    }
}

void TIpBaseSocket::WantRead(bool want) {
    if (FReadiness)
        FReadiness->SetReadEnabled(want && FHandleOpen);
}

void TIpBaseSocket::WantWrite(bool want) {
    if (FReadiness)
        FReadiness->SetWriteEnabled(want && FHandleOpen);
}

void TIpBaseSocket::CloseHandle() {
    std::scoped_lock lock(FLock);
    if (FReadiness) {
        FReadiness->Release();
        FReadiness.reset();
    }
    if (FHandleOpen) {
        FHandleOpen = false;
        TIpWinSockAccess::Instance().CloseSocket(FHandle);
    }
}
