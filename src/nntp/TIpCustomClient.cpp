#include "nntp/TIpCustomClient.h"

#include "net/EIpWinSockError.h"
#include "net/TIpWindowMessage.h"

#include <QCoreApplication>
#include <QObject>

TIpCustomClient::TIpCustomClient() : FSocksServer(std::make_unique<TIpSocksServerInfo>()) {}

TIpCustomClient::~TIpCustomClient() {
    // The socket reaches back into this object while it closes, so it goes while we are whole.
    FDataSocket.reset();
}

bool TIpCustomClient::Connected() const {
    return FDataSocket && FDataSocket->Connected();
}

int TIpCustomClient::Handle() const {
    return FDataSocket ? FDataSocket->Handle() : -1;
}

void TIpCustomClient::CreateSocket() {
    FDataSocket =
        std::make_unique<TIpDataSocket>(*this, FSocksServer.get(), &Settings(), BindAddress(), -1);
    FSocketHandle = FDataSocket->Handle();
}

void TIpCustomClient::FreeSocket(int handle) {
    FindSocket(handle, true);
    // Move it out first: a notification raised while the socket is destroyed must already see
    // the client without it.
    std::unique_ptr<TIpDataSocket> socket = std::move(FDataSocket);
    FSocketHandle = -1;
    socket.reset();
}

bool TIpCustomClient::IsActive() const {
    return FDataSocket != nullptr;
}

void TIpCustomClient::NotifyStatus(int handle, TIpStatusType type, const TIpConnRec& connection) {
    TIpSockControl::NotifyStatus(handle, type, connection);
    switch (type) {
    case TIpStatusType::stConnect:
        for (QObject* window : Listeners())
            NotifyListener(window, handle, ListenerConnect);
        break;
    case TIpStatusType::stDisconnect:
        for (QObject* window : Listeners())
            NotifyListener(window, handle, ListenerDisconnect);
        break;
    case TIpStatusType::stProgress:
        break;
    }
}

void TIpCustomClient::NotifyTls(int handle, const TIpTlsPeer& peer) {
    FTlsPeer = peer;
    TIpSockControl::NotifyTls(handle, peer);
}

bool TIpCustomClient::Encrypted() const {
    return FDataSocket && FDataSocket->Encrypted();
}

void TIpCustomClient::Tick(uint32_t elapsed) {
    if (FDataSocket)
        FDataSocket->HandleTick(elapsed);
    TIpSockControl::Tick(elapsed);
}

TIpDataSocket* TIpCustomClient::FindSocket(int handle, bool raise) {
    if (FDataSocket && handle != -1 && handle == FSocketHandle)
        return FDataSocket.get();
    if (raise)
        throw EIpNoSocketError("Socket not assigned");
    return nullptr;
}

void TIpCustomClient::AddListener(QObject* window) {
    if (Connected())
        NotifyListener(window, Handle(), ListenerConnect);
    TIpSockControl::AddListener(window);
}

void TIpCustomClient::CloseSocket(int handle) {
    TIpDataSocket* socket = FindSocket(handle, false);
    if (!socket)
        return;
    socket->Shutdown();
    FreeSocket(handle);
}

int TIpCustomClient::Connect(const std::string& address) {
    if (FDataSocket && FDataSocket->Connected())
        throw EIpWinSockError("Socket is already connected");
    // Only a connect still in progress continues on the same socket. A socket whose connect
    // failed (the system will not connect it again) or that has closed is replaced by a new one.
    if (FDataSocket && !FDataSocket->Connecting())
        FreeSocket(FSocketHandle);
    if (!FDataSocket)
        CreateSocket();
    FDataSocket->ConnectTo(ResolveAddress(address, FDefaultPort), address);
    return FDataSocket->Handle();
}

void TIpCustomClient::NotifyListener(QObject* window, int handle, uint16_t eventCode) const {
    QCoreApplication::postEvent(
        window, new TIpWindowMessage(ListenerMessage, handle,
                                     TIpWindowMessage::MakeSelectReply(eventCode, 1)));
}
