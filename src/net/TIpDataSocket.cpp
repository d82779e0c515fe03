#include "net/TIpDataSocket.h"

#include "net/EIpWinSockError.h"
#include "net/TIpSockControl.h"
#include "net/TIpWinSockAccess.h"

#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <exception>

static const TIpDataInits defaultSettings;

// Errors of a receive call that mean the connection is gone; they end the connection like a
// close notification carrying the error instead of being raised out of the read.
static bool IsBrokenConnection(int32_t error) {
    switch (error) {
    case TIpWsaCode::ConnReset:
    case TIpWsaCode::ConnAborted:
    case TIpWsaCode::TimedOut:
    case 10052: // network dropped connection on reset
    case 10050: // network is down
    case 10051: // network is unreachable
    case 10064: // host is down
    case 10065: // no route to host
        return true;
    default:
        return false;
    }
}

TIpDataSocket::TIpDataSocket(TIpSockControl& owner, const TIpSocksServerInfo* proxy,
                             const TIpDataInits* settings, const sockaddr_in& bindAddress,
                             int existingHandle)
    : TIpBaseSocket(owner, proxy, (settings ? *settings : defaultSettings).SocketOptions,
                    bindAddress, existingHandle),
      FTelnetLayer(
          [this](const std::string& bytes) {
              QueueSend(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, false, true,
                        true);
          },
          [this](uint8_t command, uint8_t option, bool sent) {
              LogTelnet(command, option, sent);
          }) {
    const TIpDataInits& inits = settings ? *settings : defaultSettings;
    FixedLineLength = inits.FixedLineLength;
    IdleTimeout = inits.IdleTimeout;
    LineTermChar = inits.LineTermChar;
    LineTerminator = inits.LineTerminator;
    LogOptions = inits.LogOptions;
    ReceiveMode = inits.ReceiveMode;
    StripLineTerminator = inits.StripLineTerminator;
    FTlsOnConnect = inits.TlsOnConnect;
    FTlsSettings = inits.Tls;
    ConnectTimeout = inits.ConnectTimeout;
    FIdleCounter = 0;
    ApplyBufferSize(SO_RCVBUF, inits.ReceiveBufferSize);
    ApplyBufferSize(SO_SNDBUF, inits.SendBufferSize);
}

TIpDataSocket::~TIpDataSocket() {
    std::scoped_lock lock(FLock);
    FSendQueue.clear();
}

void TIpDataSocket::ConnectTo(const TIpSockAddr& destination, const std::string& hostText) {
    ConnectTo(std::vector<TIpSockAddr>{destination}, hostText);
}

void TIpDataSocket::ConnectTo(const std::vector<TIpSockAddr>& destinations,
                              const std::string& hostText) {
    std::scoped_lock lock(FLock);
    if (destinations.empty())
        throw EIpWinSockError(std::string("Destination address required"));
    FHead = FTail = 0;
    FStatistics = {};
    FActivity = false;
    FPeerClosed = false;
    FPendingCloseError = 0;
    FTls.reset();
    FHostText = hostText;
    FRemoteAddress = destinations.front();
    FAttempts = destinations;
    FConnectApi = "Connect";
    if (FProxyState != 0) {
        FRemoteAddress = ProxyDestination(destinations);
        FAttempts = FOwner.ResolveHost(FProxy.Address);
        for (TIpSockAddr& proxy : FAttempts)
            proxy.SetPort(FProxy.Port);
        FConnectApi = "SocksConnect";
    }
    FAttempt = 0;
    FConnecting = true;
    int32_t error = 0;
    if (!StartAttempt(error)) {
        FConnecting = false;
        UpdateWriteInterest();
        throw EIpWinSockError(error, FConnectApi);
    }
    // Completion, immediate or not, is reported through write readiness.
    UpdateWriteInterest();
}

bool TIpDataSocket::StartAttempt(int32_t& error) {
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    for (; FAttempt < FAttempts.size(); ++FAttempt) {
        const TIpSockAddr& target = FAttempts[FAttempt];
        FAttemptElapsed = 0;
        if (FAttempt > 0 || target.Family() != FFamily)
            ReopenHandle(target.Family());
        if (FProxyState == 0)
            FRemoteAddress = target;
        if (access.Connect(FHandle, target) == 0)
            return true;
        error = access.LastError();
        if (error == TIpWsaCode::WouldBlock)
            return true;
    }
    return false;
}

bool TIpDataSocket::ConnectNext(int32_t& error) {
    std::scoped_lock lock(FLock);
    if (!FConnecting || FAttempt + 1 >= FAttempts.size())
        return false;
    ++FAttempt;
    try {
        if (!StartAttempt(error))
            return false;
    } catch (const EIpWinSockError& failure) {
        error = failure.ErrorCode();
        return false;
    }
    UpdateWriteInterest();
    return true;
}

TIpSockAddr TIpDataSocket::ProxyDestination(const std::vector<TIpSockAddr>& destinations) const {
    if (FProxy.SocksVersion == TIpSocksVersion::svSocks5)
        return destinations.front();
    for (const TIpSockAddr& destination : destinations)
        if (!destination.IsV6())
            return destination;
    if (FProxy.SocksVersion == TIpSocksVersion::svSocks4)
        throw EIpWinSockError(10047, "SocksConnect");
    // 0.0.0.0: the SOCKS4a proxy looks the name up itself.
    TIpSockAddr byName;
    byName.SetPort(destinations.front().Port());
    return byName;
}

void TIpDataSocket::HandleConnected() {
    std::scoped_lock lock(FLock);
    TIpWinSockAccess::Instance().GetSockName(FHandle, FLocalAddress);
    FConnected = true;
    FConnecting = false;
    WantRead(true);
    UpdateWriteInterest();
    if (FProxyState == 1) {
        FProxyState = 2;
        SendProxyRequest();
        return;
    }
    if (FTlsOnConnect) {
        StartTls();
        return;
    }
    FOwner.NotifyStatus(FHandle, TIpStatusType::stConnect, ConnectionRecord());
}

void TIpDataSocket::HandleReadable() {
    std::scoped_lock lock(FLock);
    FIdleCounter = 0;
    ReadAndDeliverAll(false);
}

void TIpDataSocket::ReadAndDeliverAll(bool evenWhenNotConnected) {
    while (ReadChunk(evenWhenNotConnected) != 0) {
        ReportProxyOutcome();
        while (ScanBuffer()) {
        }
        // A chunk shorter than the room offered means the system had no more for now; readiness
        // reports the rest (or the end of the stream), which saves a receive call per readiness.
        // The close sequence reads on until the system says there is nothing.
        if (FShortRead && !evenWhenNotConnected)
            break;
    }
}

void TIpDataSocket::LogData(int32_t entryType, const char* data, uint32_t length) {
    FOwner.DebugLog().AddEntry(&TIpSockControl::FormatLogEntry, FHandle, entryType, data, length);
}

uint32_t TIpDataSocket::ReadChunk(bool evenWhenNotConnected) {
    if (!FHandleOpen || (!FConnected && !evenWhenNotConnected))
        return 0;
    if (FHead == FTail)
        FHead = FTail = 0;
    if (FTail == ReceiveBufferCapacity)
        return 0;

    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    char* data = FBuffer + FTail;
    const uint32_t room = ReceiveBufferCapacity - FTail;
    int32_t error = 0;
    uint32_t progress = 0;
    ssize_t received = 0;
    if (FTls) {
        received = ReceiveTls(data, room, error, progress);
        // Decrypted bytes may wait inside the layer with nothing left in the system, so reading
        // goes on until the system says it has nothing.
        FShortRead = false;
    } else {
        received = access.Recv(FHandle, data, room);
        FShortRead = received < static_cast<ssize_t>(room);
        error = received < 0 ? access.LastError() : 0;
        progress = received > 0 ? static_cast<uint32_t>(received) : 0;
    }
    if (received < 0) {
        if (error == TIpWsaCode::WouldBlock || error == TIpWsaCode::NotConnected)
            return 0;
        if (IsBrokenConnection(error)) {
            FPendingCloseError = error;
            return 0;
        }
        throw EIpWinSockError(error, "Recv");
    }
    if (received == 0 && progress == 0) {
        FPeerClosed = true;
        return 0;
    }
    if (!FHandleOpen) // the handshake failed and the connection is closed
        return 0;
    auto count = static_cast<uint32_t>(received);
    if (count > 0 && LogOptions.Contains(TIpLogOptions::loLowData))
        LogData(TIpDebugEntry::RecvCall, data, count);
    FStatistics.RawReceived += progress;
    FStatistics.RawReceived2 += progress;

    if (FProxyState >= 1 && FProxyState <= 4)
        count = HandleProxyReply(data, count);
    if (FTelnet)
        count = TelnetReceiveFilter(data, count);
    if (FStripHighBit)
        for (uint32_t i = 0; i < count; ++i)
            data[i] = static_cast<char>(data[i] & 0x7F);
    if (FEchoReceived && count > 0)
        QueueSend(data, count, nullptr, false, true, false);
    if (FDiscardReceived)
        count = 0;
    if (count > 0 && LogOptions.Contains(TIpLogOptions::loHighData))
        LogData(TIpDebugEntry::ReadData, data, count);
    if (count > 0 && !FListeners.empty())
        PostToListeners(data, count);

    FStatistics.DataReceived += count;
    FStatistics.DataReceived2 += count;
    FActivity = true;
    FTail += count;
    // What the system gave counts as read even when none of it was data (a proxy reply, Telnet
    // commands, discarded bytes, a handshake message), so the caller keeps reading until the
    // system has no more.
    return progress;
}

bool TIpDataSocket::ScanBuffer() {
    if (FHead == FTail)
        return false;
    switch (ReceiveMode) {
    case TIpReceiveMode::rmLine: {
        bool delivered = CutUnit(false);
        // A unit as large as the whole buffer cannot wait for its end: deliver it as it is.
        if (!delivered && FHead == 0 && FTail == ReceiveBufferCapacity)
            delivered = CutUnit(true);
        // The unfinished unit moves to the start once the buffer holds no whole one, so a buffer
        // full of lines is cut with no moving at all.
        if (!delivered && FHead != 0 && FTail > ReceiveBufferCapacity / 2) {
            std::memmove(FBuffer, FBuffer + FHead, FTail - FHead);
            FTail -= FHead;
            FHead = 0;
        }
        return delivered;
    }
    case TIpReceiveMode::rmStream:
        if (Stream == nullptr)
            throw EIpProgrammerError("Stream not assigned");
        Stream->write(FBuffer + FHead, FTail - FHead);
        FHead = FTail;
        return false;
    case TIpReceiveMode::rmAny:
        return CutUnit(true);
    }
    return false;
}

void TIpDataSocket::Deliver(const char* data, uint32_t length) {
    // The unit is built in a string whose storage is reused from one unit to the next. A handler
    // that reads from this socket again (from a nested event loop) gets a string of its own, so
    // its units never overwrite the one being handled.
    if (FDelivering) {
        FOwner.DeliverLine(FHandle, std::string(data, length));
        return;
    }
    FUnit.assign(data, length);
    FDelivering = true;
    const auto delivered = qScopeGuard([this] { FDelivering = false; });
    FOwner.DeliverLine(FHandle, FUnit);
}

bool TIpDataSocket::CutUnit(bool flush) {
    const uint32_t unread = FTail - FHead;
    const char* start = FBuffer + FHead;
    if (flush || LineTerminator == TIpLineTerminator::ltNone) {
        const uint32_t length = flush ? unread : FixedLineLength;
        if (length == 0 || unread < length)
            return false;
        // The indexes move before the owner sees the unit, so a handler that reads from this
        // socket again finds them consistent.
        FHead += length;
        Deliver(start, length);
        return true;
    }

    char terminator = 0;
    switch (LineTerminator) {
    case TIpLineTerminator::ltCR:
        terminator = 13;
        break;
    case TIpLineTerminator::ltLF:
    case TIpLineTerminator::ltCRLF:
        terminator = 10;
        break;
    case TIpLineTerminator::ltOther:
        terminator = static_cast<char>(LineTermChar);
        break;
    case TIpLineTerminator::ltNone:
        break;
    }
    const bool crlf = LineTerminator == TIpLineTerminator::ltCRLF;
    if (!crlf && LineTerminator != TIpLineTerminator::ltCR &&
        LineTerminator != TIpLineTerminator::ltLF && LineTerminator != TIpLineTerminator::ltOther)
        throw EIpBaseException("Bad terminator");
    const uint32_t strip = StripLineTerminator ? (crlf ? 2 : 1) : 0;

    uint32_t from = 0;
    for (;;) {
        const void* found = std::memchr(start + from, terminator, unread - from);
        if (found == nullptr)
            return false;
        const auto at = static_cast<uint32_t>(static_cast<const char*>(found) - start);
        // With CR LF a bare line feed belongs to the line.
        if (!crlf || (at > 0 && start[at - 1] == '\r')) {
            FHead += at + 1;
            Deliver(start, at + 1 - strip);
            return true;
        }
        from = at + 1;
    }
}

std::string TIpDataSocket::Escape(const char* data, uint32_t length, bool raw) const {
    if (raw || !FTelnet)
        return std::string(data, length);
    std::string escaped;
    escaped.reserve(length + std::count(data, data + length, '\xFF'));
    for (uint32_t i = 0; i < length; ++i) {
        escaped += data[i];
        if (data[i] == '\xFF')
            escaped += '\xFF';
    }
    return escaped;
}

void TIpDataSocket::RefillFromStream(SendItem& item) {
    const std::streamsize limit = FTelnet ? 1024 : 1460;
    std::string chunk(static_cast<size_t>(limit), '\0');
    item.Source->read(chunk.data(), limit);
    chunk.resize(static_cast<size_t>(item.Source->gcount()));
    if (static_cast<std::streamsize>(chunk.size()) < limit ||
        item.Source->peek() == std::char_traits<char>::eof())
        item.Source = nullptr;
    item.Buffer = Escape(chunk.data(), static_cast<uint32_t>(chunk.size()), false);
    item.DataLength = static_cast<uint32_t>(chunk.size());
    item.Written = 0;
}

uint32_t TIpDataSocket::QueueSend(const char* data, uint32_t length, std::istream* source,
                                  bool closeAfter, bool internal, bool raw) {
    std::scoped_lock lock(FLock);
    auto item = std::make_unique<SendItem>();
    item->CloseAfter = closeAfter;
    item->Internal = internal;
    item->Source = source;
    if (source != nullptr) {
        RefillFromStream(*item);
    } else {
        item->Buffer = Escape(data, length, raw);
        item->DataLength = length;
    }
    SendItem* added = item.get();
    FSendQueue.push_back(std::move(item));

    if (FSendQueue.size() == 1 && FCanWrite && !HeldByProxy(*added) && !HeldByTls()) {
        while (FCanWrite) {
            if (WriteHeadItem()) {
                if (added->CloseAfter) {
                    const int handle = FHandle;
                    Shutdown();
                    FOwner.ScheduleRelease(handle);
                } else if (!FSendQueue.empty() && FSendQueue.front().get() == added) {
                    FSendQueue.pop_front();
                }
                UpdateWriteInterest();
                return 0;
            }
        }
    }
    added->Number = ++FItemCounter;
    UpdateWriteInterest();
    return added->Number;
}

bool TIpDataSocket::WriteHeadItem() {
    if (!FCanWrite || FSendQueue.empty())
        return false;
    SendItem& item = *FSendQueue.front();
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    const uint32_t left = static_cast<uint32_t>(item.Buffer.size()) - item.Written;
    const char* from = item.Buffer.data() + item.Written;
    int32_t error = 0;
    ssize_t sent = 0;
    if (FTls) {
        sent = SendTls(from, left, error);
    } else {
        sent = access.Send(FHandle, from, left);
        error = sent < 0 ? access.LastError() : 0;
    }
    if (sent > 0 && LogOptions.Contains(TIpLogOptions::loLowData))
        LogData(TIpDebugEntry::SendCall, from, static_cast<uint32_t>(sent));
    if (sent < 0) {
        if (error != TIpWsaCode::WouldBlock)
            throw EIpWinSockError(error, "send");
        FCanWrite = false;
        return false;
    }
    if (static_cast<uint32_t>(sent) == left) {
        const auto length = static_cast<uint32_t>(item.Buffer.size());
        FStatistics.RawSent += length;
        FStatistics.RawSent2 += length;
        if (!item.Internal) {
            FStatistics.DataSent += item.DataLength;
            FStatistics.DataSent2 += item.DataLength;
            if (LogOptions.Contains(TIpLogOptions::loHighData))
                LogData(TIpDebugEntry::WriteData, item.Buffer.data(), length);
        }
        FActivity = true;
        if (item.Source == nullptr)
            return true;
        RefillFromStream(item);
        return false;
    }
    item.Written += static_cast<uint32_t>(sent);
    return false;
}

void TIpDataSocket::HandleWritable() {
    std::scoped_lock lock(FLock);
    if (!FHandleOpen)
        return;
    FCanWrite = true;
    if (FTls)
        FlushTls();
    while (DrainStep()) {
    }
    UpdateWriteInterest();
}

bool TIpDataSocket::DrainStep() {
    if (!FHandleOpen || FSendQueue.empty() || !FConnected || !FCanWrite ||
        HeldByProxy(*FSendQueue.front()) || HeldByTls())
        return false;
    if (!WriteHeadItem())
        return true;
    SendItem* done = FSendQueue.front().get();
    // The owner never asked for the proxy's requests, so it is not told of them.
    if (!done->ProxyRequest)
        FOwner.NotifyItemSent(FHandle, done->Number, static_cast<uint32_t>(FSendQueue.size() - 1));
    // The handler may have closed the connection, which empties the queue.
    if (FSendQueue.empty() || FSendQueue.front().get() != done)
        return true;
    if (done->CloseAfter) {
        const int handle = FHandle;
        Shutdown();
        FOwner.ScheduleRelease(handle);
    } else {
        FSendQueue.pop_front();
    }
    return true;
}

void TIpDataSocket::UpdateWriteInterest() {
    WantWrite(FConnecting ||
              (FConnected && !FCanWrite && (!FSendQueue.empty() || TlsOutputPending())));
}

void TIpDataSocket::HandleClosed() {
    std::scoped_lock lock(FLock);
    if (FConnected)
        Shutdown();
}

void TIpDataSocket::Shutdown() {
    std::scoped_lock lock(FLock);
    if (!FHandleOpen)
        return;
    FConnected = false;
    FConnecting = false;
    FCanWrite = false;
    FSendQueue.clear();
    if (FTls && FTls->Established()) {
        // The close_notify alert goes out if the system takes it now; the peer may be gone.
        FTls->Close();
        TIpWinSockAccess::Instance().Send(FHandle, FTls->OutputData(), FTls->OutputSize());
        FTls->Consumed(FTls->OutputSize());
    }
    TIpWinSockAccess::Instance().Shutdown(FHandle, 1);

    std::exception_ptr failure;
    try {
        ReadAndDeliverAll(true);
        if (FHead != FTail)
            CutUnit(true);
        FHead = FTail = 0;
    } catch (...) {
        failure = std::current_exception();
    }
    CloseHandle();
    FOwner.NotifyStatus(FHandle, TIpStatusType::stDisconnect, ConnectionRecord());
    if (failure)
        std::rethrow_exception(failure);
}

void TIpDataSocket::HandleTick(uint32_t elapsed) {
    std::scoped_lock lock(FLock);
    FAttemptElapsed += elapsed;
    if (FConnecting && ConnectTimeout != 0 && FAttempt + 1 < FAttempts.size() &&
        FAttemptElapsed >= ConnectTimeout / FAttempts.size()) {
        int32_t error = 0;
        if (!ConnectNext(error)) {
            ConnectFailed();
            FOwner.PostMessage(TIpWm::Socket, FHandle,
                               TIpWindowMessage::MakeSelectReply(TIpFd::Connect, error));
        }
    }
    FIdleCounter += elapsed;
    if (IdleTimeout != 0 && FIdleCounter > IdleTimeout) {
        bool reset = false;
        FOwner.NotifyIdle(FHandle, reset);
        if (reset)
            FIdleCounter = 0;
    }
    if (FActivity) {
        FActivity = false;
        FOwner.NotifyStatus(FHandle, TIpStatusType::stProgress, ConnectionRecord());
    }
}

TIpSockStatRec TIpDataSocket::GetStatistics() const {
    std::scoped_lock lock(FLock);
    return FStatistics;
}

uint32_t TIpDataSocket::QueuedItems() const {
    std::scoped_lock lock(FLock);
    return static_cast<uint32_t>(FSendQueue.size());
}
