#include "net/TIpDataSocket.h"

#include "net/EIpWinSockError.h"
#include "net/TIpHostPort.h"
#include "net/TIpSockControl.h"
#include "net/TIpWinSockAccess.h"

#include <QCoreApplication>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cstdio>
#include <cstring>

// The proxy, TLS and Telnet layers of the data socket, and the copies of received data for
// listeners. The client's sockets run without a proxy Address, soTelnet and listeners; TLS when
// the user chose it.

// The host part of a destination text such as "news.example:119", "nntp://news.example/" or
// "[2001:db8::1]:563".
static std::string HostOfText(const std::string& text) {
    return TIpHostPort::Parse(text).Host;
}

void TIpDataSocket::SendProxyRequest() {
    FSocks = std::make_unique<TIpSocksNegotiation>(FProxy);
    FProxyEstablished = false;
    FProxyRefusal = -1;
    QueueProxyRequest(FSocks->Start(FRemoteAddress, HostOfText(FHostText)));
}

uint32_t TIpDataSocket::HandleProxyReply(char* data, uint32_t count) {
    if (!FSocks) // nothing was asked of the proxy yet, so nothing it sends is data
        return 0;
    uint32_t offset = 0;
    while (offset < count && FProxyState >= 2 && FProxyState <= 4) {
        uint32_t used = 0;
        const TIpSocksOutcome outcome =
            FSocks->Feed(data + offset, count - offset, used, FProxyState);
        offset += used;
        switch (outcome.Step) {
        case TIpSocksStep::ssWaiting:
        case TIpSocksStep::ssIgnored:
            break;
        case TIpSocksStep::ssSend:
            QueueProxyRequest(outcome.Request);
            break;
        case TIpSocksStep::ssRefused:
            FProxyRefusal = outcome.Code;
            break;
        case TIpSocksStep::ssEstablished:
            FProxyEstablished = true;
            break;
        }
        if (used == 0)
            break;
    }
    const uint32_t remaining = count - offset;
    std::memmove(data, data + offset, remaining);
    return remaining;
}

void TIpDataSocket::ReportProxyOutcome() {
    if (FProxyRefusal >= 0) {
        const int32_t code = FProxyRefusal;
        FProxyRefusal = -1;
        char text[64] = {};
        std::snprintf(text, sizeof text, "SOCKS request refused - %d", code);
        FOwner.NotifyError(FHandle, code, text);
    }
    if (FProxyEstablished) {
        FProxyEstablished = false;
        TIpWinSockAccess::Instance().GetSockName(FHandle, FLocalAddress);
        // Owner items held back during the negotiation go out on the next write readiness.
        if (!FSendQueue.empty())
            FCanWrite = false;
        UpdateWriteInterest();
        if (FTlsOnConnect)
            StartTls();
        else
            FOwner.NotifyStatus(FHandle, TIpStatusType::stConnect, ConnectionRecord());
    }
}

bool TIpDataSocket::HeldByProxy(const SendItem& item) const {
    return FProxyState >= 1 && FProxyState <= 4 && !item.ProxyRequest;
}

void TIpDataSocket::QueueProxyRequest(const std::string& request) {
    auto item = std::make_unique<SendItem>();
    item->Internal = true;
    item->ProxyRequest = true;
    item->Buffer = request;
    item->DataLength = static_cast<uint32_t>(request.size());
    item->Number = ++FItemCounter;
    SendItem* added = item.get();
    FSendQueue.push_front(std::move(item));
    while (FCanWrite && FSendQueue.front().get() == added) {
        if (WriteHeadItem())
            FSendQueue.pop_front();
    }
    UpdateWriteInterest();
}

uint32_t TIpDataSocket::TelnetReceiveFilter(char* data, uint32_t count) {
    return FTelnetLayer.Filter(data, count);
}

void TIpDataSocket::LogTelnet(uint8_t command, uint8_t option, bool sent) {
    if (LogOptions.Contains(TIpLogOptions::loTelnet))
        FOwner.DebugLog().AddEntry(nullptr, FHandle, TIpDebugEntry::Telnet, sent ? 2u : 1u,
                                   uint32_t{command} << 8 | option);
}

void TIpDataSocket::SendWindowSize() {
    std::scoped_lock lock(FLock);
    if (FTelnet && FHandleOpen)
        FTelnetLayer.SendWindowSize();
}

void TIpDataSocket::TerminalResized() {
    FOwner.PostMessage(TIpWm::WindowSize, FHandle);
}

void TIpDataSocket::SetTerminal(TIpTerminal* terminal) {
    std::scoped_lock lock(FLock);
    FTelnetLayer.Terminal = terminal;
}

TIpTerminal* TIpDataSocket::Terminal() const {
    std::scoped_lock lock(FLock);
    return FTelnetLayer.Terminal;
}

void TIpDataSocket::AddListener(QObject* window) {
    std::scoped_lock lock(FLock);
    FListeners.emplace_back(window);
}

void TIpDataSocket::RemoveListener(QObject* window) {
    std::scoped_lock lock(FLock);
    std::erase_if(FListeners, [window](const QPointer<QObject>& p) { return p == window; });
}

void TIpDataSocket::PostToListeners(const char* data, uint32_t length) {
    std::erase_if(FListeners, [](const QPointer<QObject>& p) { return p.isNull(); });
    for (const QPointer<QObject>& window : FListeners)
        QCoreApplication::postEvent(window.data(), new TIpWindowMessage(ReceivedChunk, FHandle, 0,
                                                                        std::string(data, length)));
}

// Room for a few TLS records per receive call: one call per record would double the calls.
static constexpr size_t TlsScratchBytes = 64 * 1024;

void TIpDataSocket::StartTls() {
    std::scoped_lock lock(FLock);
    if (!FConnected)
        throw EIpWinSockError("Not connected");
    // Read on after the handshake, they would pass for the first decrypted bytes: a line
    // injected by anyone on the path before encryption began.
    FHead = FTail = 0;
    try {
        FTls = std::make_unique<TIpTlsLayer>(FTlsSettings, HostOfText(FHostText),
                                             FRemoteAddress.Port(), FTlsOnConnect);
    } catch (const EIpTlsError& error) {
        FailTls(TIpTlsCode::HandshakeFailed, error.what());
        return;
    }
    if (FTlsScratch.size() < TlsScratchBytes)
        FTlsScratch.resize(TlsScratchBytes);
    ContinueHandshake();
}

// What a user can do about a port that does not speak TLS, when TLS came first on it.
static std::string NotTlsAdvice() {
    return " If this server offers no encryption on this port, choose STARTTLS or None on Options "
           "(`--security starttls|none`), or use its TLS port (usually 563)";
}

void TIpDataSocket::ContinueHandshake() {
    TIpTlsLayer::THandshake step = TIpTlsLayer::THandshake::hsPending;
    try {
        step = FTls->Handshake();
    } catch (const EIpTlsError& error) {
        const bool advise = FTlsOnConnect && error.Cause() == TIpTlsFailure::tfNotTls;
        FailTls(TIpTlsCode::HandshakeFailed, error.what() + (advise ? NotTlsAdvice() : ""));
        return;
    }
    FlushTls();
    UpdateWriteInterest();
    if (step == TIpTlsLayer::THandshake::hsDone)
        FinishHandshake();
}

void TIpDataSocket::FinishHandshake() {
    TIpTlsPeer peer = FTls->Peer();
    peer.Address = FRemoteAddress.AddressText();
    if (!peer.Accepted && FTlsSettings.IsTrusted)
        peer.Accepted = FTlsSettings.IsTrusted(peer);
    FTls->Decide(peer.Accepted);
    FOwner.NotifyTls(FHandle, peer);
    if (!peer.Accepted) {
        FailTls(TIpTlsCode::CertificateRefused,
                "The server's certificate was refused: " + peer.ProblemText);
        return;
    }
    // Right after the handshake a server sends its session tickets and then its greeting, often
    // in separate small writes. A server that holds back a small write until the one before is
    // acknowledged would otherwise wait for this side's delayed acknowledgement (40 ms on Linux)
    // on every connection; acknowledging at once costs nothing. Best effort: a system without
    // the option only keeps its usual pace.
    TIpWinSockAccess::Instance().SetSockOpt(FHandle, IPPROTO_TCP, TCP_QUICKACK, 1);
    // Owner items queued during the handshake go out on the next write readiness.
    if (!FSendQueue.empty())
        FCanWrite = false;
    UpdateWriteInterest();
    if (FTlsOnConnect)
        FOwner.NotifyStatus(FHandle, TIpStatusType::stConnect, ConnectionRecord());
}

void TIpDataSocket::FailTls(int32_t code, const std::string& text) {
    // What the server sends from now on is neither read as data nor answered.
    FTls.reset();
    FDiscardReceived = true;
    FOwner.NotifyError(FHandle, code, text);
    Shutdown();
}

ssize_t TIpDataSocket::ReceiveTls(char* data, uint32_t room, int32_t& error, uint32_t& progress) {
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    if (FTls->Established()) {
        const int decrypted = FTls->Read(data, room);
        if (decrypted != 0) {
            FlushTls();
            progress = decrypted > 0 ? static_cast<uint32_t>(decrypted) : 0;
            return decrypted > 0 ? decrypted : 0;
        }
    }
    const ssize_t received = access.Recv(FHandle, FTlsScratch.data(), FTlsScratch.size());
    if (received < 0) {
        error = access.LastError();
        return -1;
    }
    if (received == 0) {
        // Without this the handshake would end as a plain close, and the user would not learn
        // that it was the encryption the server gave up on.
        if (!FTls->Established())
            FailTls(TIpTlsCode::HandshakeFailed,
                    TIpHostPort::Join(HostOfText(FHostText), FRemoteAddress.Port()) +
                        " closed the connection during the TLS handshake.");
        return 0;
    }
    progress = static_cast<uint32_t>(received);
    FTls->Feed(FTlsScratch.data(), static_cast<size_t>(received));
    if (!FTls->Established()) {
        ContinueHandshake();
        return 0;
    }
    const int decrypted = FTls->Read(data, room);
    FlushTls();
    if (decrypted < 0) // the peer closed the session
        progress = 0;
    return decrypted > 0 ? decrypted : 0;
}

ssize_t TIpDataSocket::SendTls(const char* data, uint32_t length, int32_t& error) {
    // New bytes are encrypted only once the last ones have gone, so the layer's output never
    // holds more than one write.
    if (!FlushTls()) {
        error = TIpWsaCode::WouldBlock;
        return -1;
    }
    const uint32_t taken = FTls->Write(data, length);
    FlushTls();
    if (taken == 0) {
        error = TIpWsaCode::WouldBlock;
        return -1;
    }
    return taken;
}

bool TIpDataSocket::FlushTls() {
    if (!FTls || !FHandleOpen)
        return true;
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    while (FTls->OutputSize() > 0) {
        const ssize_t sent = access.Send(FHandle, FTls->OutputData(), FTls->OutputSize());
        if (sent < 0) {
            const int32_t error = access.LastError();
            if (error != TIpWsaCode::WouldBlock)
                throw EIpWinSockError(error, "send");
            FCanWrite = false;
            return false;
        }
        FTls->Consumed(static_cast<size_t>(sent));
    }
    return true;
}
