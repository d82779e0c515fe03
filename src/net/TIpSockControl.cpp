#include "net/TIpSockControl.h"

#include "net/EIpWinSockError.h"
#include "net/TIpDataSocket.h"
#include "net/TIpExceptionReporter.h"
#include "net/TIpHostPort.h"
#include "net/TIpTickCount.h"
#include "net/TIpWinSockAccess.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimerEvent>

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>

// The component's event-loop window: timer ticks and posted messages go to WindowProcedure.
class TIpSockControl::Window : public QObject {
public:
    explicit Window(TIpSockControl& owner) : FOwner(owner) {}

protected:
    bool event(QEvent* event) override {
        if (event->type() == TIpWindowMessage::EventType()) {
            FOwner.Dispatch(*static_cast<TIpWindowMessage*>(event));
            return true;
        }
        if (event->type() == QEvent::Timer &&
            static_cast<QTimerEvent*>(event)->timerId() == FOwner.FTimerId) {
            TIpWindowMessage tick(TIpWm::Timer);
            FOwner.Dispatch(tick);
            return true;
        }
        return QObject::event(event);
    }

private:
    TIpSockControl& FOwner;
};

static const char* SelectEventName(uint16_t event) {
    switch (event) {
    case TIpFd::Read:
        return "Fd_Read";
    case TIpFd::Write:
        return "Fd_Write";
    case TIpFd::Oob:
        return "Fd_Oob";
    case TIpFd::Accept:
        return "Fd_Accept";
    case TIpFd::Connect:
        return "Fd_Connect";
    case TIpFd::Close:
        return "Fd_Close";
    }
    return "";
}

TIpSockControl::TIpSockControl()
    : FDebugLog(std::make_unique<TIpDebugLog>(this)),
      FEventLog(std::make_unique<TIpEventLog>(this)), FWindow(std::make_unique<Window>(*this)),
      FSettings(std::make_unique<TIpDataInits>()) {
    FEventLog->SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
    FEventLog->SetFileName("event.log");
    FBindAddress.sin_family = AF_INET;
    SetTimerInterval(500);
    StatusFilter = {TIpStatusType::stConnect, TIpStatusType::stDisconnect,
                    TIpStatusType::stProgress};
    FProtocol = TIpProtocol::ptUDP; // so that the first SetProtocol always applies
    SetProtocol(TIpProtocol::ptTCP);
}

TIpSockControl::~TIpSockControl() {
    SetTimerInterval(0);
    {
        std::scoped_lock lock(FLookupLock);
        FPendingLookups.clear();
    }
    if (!FDebugLog->IsEmpty()) {
        try {
            FDebugLog->FlushToFile();
        } catch (const std::exception& error) {
            ReportIpException(error);
        }
    }
}

std::string TIpSockControl::FormatLogEntry(int32_t handle, int32_t entryType, uint32_t data,
                                           const char* payload, uint32_t length) {
    const char* format = nullptr;
    bool handleFirst = false;
    switch (entryType) {
    case TIpDebugEntry::ReadData:
        format = "Read - %u %s read from socket %d\r\n";
        break;
    case TIpDebugEntry::WriteData:
        format = "Write - %u %s written to socket %d\r\n";
        break;
    case TIpDebugEntry::RecvCall:
        format = "[%d] Recv API: %u %s read\r\n";
        handleFirst = true;
        break;
    case TIpDebugEntry::SendCall:
        format = "[%d] Send API: %u %s written\r\n";
        handleFirst = true;
        break;
    default:
        return TIpBaseComponent::FormatLogEntry(handle, entryType, data, payload, length);
    }
    const char* unit = length == 1 ? "byte" : "bytes";
    char text[128] = {};
    if (handleFirst)
        std::snprintf(text, sizeof text, format, handle, length, unit);
    else
        std::snprintf(text, sizeof text, format, length, unit, handle);
    return text + TIpDebugLog::HexDump(payload, length);
}

void TIpSockControl::SetTimerInterval(uint32_t milliseconds) {
    if (milliseconds == FTimerInterval)
        return;
    FTimerInterval = milliseconds;
    if (FTimerId != 0) {
        FWindow->killTimer(FTimerId);
        FTimerId = 0;
    }
    if (milliseconds == 0)
        return;
    FTimerId = FWindow->startTimer(static_cast<int>(std::min<uint32_t>(milliseconds, INT32_MAX)));
    if (FTimerId == 0)
        throw EOutOfResources("Not enough system timers available");
    FLastTick = IpTickCount();
}

bool TIpSockControl::TimerActive() const {
    return FTimerId != 0;
}

void TIpSockControl::SetProtocol(TIpProtocol protocol) {
    if (IsActive())
        throw EIpActiveError("Cannot set property on an active socket");
    FProtocol = protocol;
    switch (protocol) {
    case TIpProtocol::ptTCP:
        FProtocolName = "tcp";
        FSocketType = 1;
        break;
    case TIpProtocol::ptUDP:
        FProtocolName = "udp";
        FSocketType = 2;
        break;
    }
}

void TIpSockControl::NotifyAddressReply(uint32_t handle, in_addr_t address) {
    if (OnAddressReply)
        OnAddressReply(this, handle, address);
}

void TIpSockControl::NotifyError(int handle, int32_t code, const std::string& text) {
    if (OnSocketError)
        OnSocketError(this, handle, code, text);
}

void TIpSockControl::NotifyTls(int handle, const TIpTlsPeer& peer) {
    if (OnTls)
        OnTls(this, handle, peer);
}

void TIpSockControl::NotifyErrorReply(uint32_t handle, int32_t code, const std::string& text) {
    if (OnErrorReply)
        OnErrorReply(this, handle, code, text);
}

void TIpSockControl::NotifyIdle(int handle, bool& reset) {
    if (OnIdleTimeout)
        OnIdleTimeout(this, handle, reset);
}

void TIpSockControl::NotifyItemSent(int handle, uint32_t itemNo, uint32_t itemsLeft) {
    if (OnItemSent)
        OnItemSent(this, handle, itemNo, itemsLeft);
}

void TIpSockControl::NotifyNameReply(uint32_t handle, const std::string& name) {
    if (OnNameReply)
        OnNameReply(this, handle, name);
}

void TIpSockControl::NotifyPortReply(uint32_t handle, int32_t port) {
    if (OnPortReply)
        OnPortReply(this, handle, port);
}

void TIpSockControl::DeliverLine(int handle, const std::string& text) {
    if (OnLineReceived)
        PostMessage(TIpWm::Line, handle, 0, text);
}

void TIpSockControl::NotifyServiceReply(uint32_t handle, const std::string& service) {
    if (OnServiceReply)
        OnServiceReply(this, handle, service);
}

void TIpSockControl::WriteEventLine(const char* prefix, const TIpConnRec& connection) {
    if (!FEventLog->Enabled())
        return;
    auto text = [&connection](uint32_t v4, const uint8_t* v6, uint16_t port) {
        if (!connection.IPv6)
            return AddressText(v4) + ":" + std::to_string(port);
        char buffer[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, v6, buffer, sizeof buffer);
        return TIpHostPort::Join(buffer, port);
    };
    const std::string local =
        text(connection.LocalAddress, connection.LocalAddress6, connection.LocalPort);
    const std::string remote =
        text(connection.RemoteAddress, connection.RemoteAddress6, connection.RemotePort);
    FEventLog->WriteLine(prefix + local + " Rem: " + remote);
}

void TIpSockControl::NotifyStatus(int handle, TIpStatusType type, const TIpConnRec& connection) {
    if (OnStatus && StatusFilter.Contains(type)) {
        const TIpSockStatRec statistics = FindSocket(handle, true)->GetStatistics();
        OnStatus(this, handle, type, connection, statistics);
    }
    switch (type) {
    case TIpStatusType::stConnect:
        WriteEventLine("Connect: Loc: ", connection);
        break;
    case TIpStatusType::stDisconnect:
        WriteEventLine("Close:   Loc: ", connection);
        break;
    case TIpStatusType::stProgress:
        break;
    }
}

void TIpSockControl::HandleAccept(int) {}

void TIpSockControl::HandleClose(int handle) {
    TIpDataSocket* socket = FindSocket(handle, false);
    if (socket == nullptr)
        return;
    socket->HandleClosed();
    FreeSocket(handle);
}

void TIpSockControl::HandleConnect(int handle) {
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->HandleConnected();
}

void TIpSockControl::HandleOutOfBand(int handle) {
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->HandleOutOfBand();
}

void TIpSockControl::HandleRead(int handle) {
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->HandleReadable();
}

void TIpSockControl::TimerTick() {
    const uint32_t now = IpTickCount();
    const uint32_t elapsed = now >= FLastTick ? now - FLastTick : (4294967295u - FLastTick) + now;
    FLastTick = now;
    Tick(elapsed);
}

void TIpSockControl::Tick(uint32_t) {}

void TIpSockControl::HandleWrite(int handle) {
    if (TIpDataSocket* socket = FindSocket(handle, false))
        socket->HandleWritable();
}

TIpDataSocket* TIpSockControl::FindSocket(int, bool raise) {
    if (raise)
        throw EIpNoSocketError("Socket not assigned");
    return nullptr;
}

void TIpSockControl::AddListener(QObject* window) {
    FListeners.push_back(window);
}

void TIpSockControl::RemoveListener(QObject* window) {
    FListeners.erase(std::remove(FListeners.begin(), FListeners.end(), window), FListeners.end());
}

void TIpSockControl::PutString(int handle, const std::string& text, bool closeAfter) {
    TIpDataSocket* socket = FindSocket(handle, true);
    socket->QueueSend(text.data(), static_cast<uint32_t>(text.size()), nullptr, closeAfter, false,
                      false);
}

void TIpSockControl::PostMessage(uint32_t msg, intptr_t wParam, intptr_t lParam, std::string text) {
    QCoreApplication::postEvent(FWindow.get(),
                                new TIpWindowMessage(msg, wParam, lParam, std::move(text)));
}

void TIpSockControl::ScheduleRelease(int handle) {
    PostMessage(TIpWm::FreeSocket, handle);
}

void TIpSockControl::Dispatch(TIpWindowMessage& message) {
    try {
        WindowProcedure(message);
    } catch (const std::exception& error) {
        ReportIpException(error);
    } catch (...) {
        ReportIpException(std::runtime_error("Unknown failure while handling a notification"));
    }
}

void TIpSockControl::SocketReadiness(int handle, bool writable) {
    TIpDataSocket* socket = nullptr;
    try {
        socket = FindSocket(handle, false);
    } catch (const std::exception& error) {
        ReportIpException(error);
    }
    if (socket == nullptr)
        return;
    auto notify = [this, handle](uint16_t event, int32_t error) {
        TIpWindowMessage message(TIpWm::Socket, handle,
                                 TIpWindowMessage::MakeSelectReply(event, error));
        Dispatch(message);
    };
    if (writable && socket->Connecting()) {
        int32_t error = TIpWinSockAccess::Instance().PendingError(handle);
        if (error != 0) {
            // A host with several addresses is tried at the next one before a failure counts.
            if (socket->ConnectNext(error))
                return;
            socket->ConnectFailed();
            notify(TIpFd::Connect, error);
            return;
        }
        notify(TIpFd::Connect, 0);
        // A fresh connection may be written at once; anything queued meanwhile goes out now.
        if (FindSocket(handle, false) != nullptr)
            notify(TIpFd::Write, 0);
        return;
    }
    if (writable) {
        notify(TIpFd::Write, 0);
        return;
    }
    notify(TIpFd::Read, 0);
    // The peer's end of the stream, or a broken connection, shows while reading; it becomes the
    // close notification once the data before it has been delivered.
    socket = FindSocket(handle, false);
    if (socket != nullptr && socket->HandleOpen() &&
        (socket->PeerClosed() || socket->PendingCloseError() != 0)) {
        const int32_t error = socket->PendingCloseError();
        if (error != 0)
            notify(TIpFd::Close, error);
        notify(TIpFd::Close, 0);
    }
}

bool TIpSockControl::WindowProcedure(TIpWindowMessage& message) {
    switch (message.Msg) {
    case TIpWm::Timer:
        try {
            TimerTick();
        } catch (const std::exception& error) {
            SetTimerInterval(0);
            ReportIpException(error);
        }
        return true;
    case TIpWm::QueryEndSession:
        message.Result = 1;
        return true;
    case TIpWm::Socket: {
        const int handle = static_cast<int>(message.WParam);
        const uint16_t event = message.SelectEvent();
        const int32_t error = message.SelectError();
        if (error != 0) {
            NotifyError(handle, error,
                        EIpWinSockError::FormatMessage(error, SelectEventName(event)));
            return true;
        }
        switch (event) {
        case TIpFd::Read:
            HandleRead(handle);
            break;
        case TIpFd::Write:
            HandleWrite(handle);
            break;
        case TIpFd::Oob:
            HandleOutOfBand(handle);
            break;
        case TIpFd::Accept:
            HandleAccept(handle);
            break;
        case TIpFd::Connect:
            HandleConnect(handle);
            break;
        case TIpFd::Close:
            HandleClose(handle);
            break;
        }
        return true;
    }
    case TIpWm::FreeSocket:
        FreeSocket(static_cast<int>(message.WParam));
        return true;
    case TIpWm::Line:
        if (OnLineReceived)
            OnLineReceived(this, static_cast<int>(message.WParam), message.Text);
        return true;
    case TIpWm::WindowSize:
        if (TIpDataSocket* socket = FindSocket(static_cast<int>(message.WParam), false))
            socket->SendWindowSize();
        return true;
    case TIpWm::LookupReply:
        HandleLookupReply(message);
        return true;
    }
    return false;
}

void TIpSockControl::AddPendingLookup(const LookupRequest& request) {
    std::scoped_lock lock(FLookupLock);
    FPendingLookups.push_back(request);
}

size_t TIpSockControl::PendingLookups() const {
    std::scoped_lock lock(FLookupLock);
    return FPendingLookups.size();
}

void TIpSockControl::HandleLookupReply(TIpWindowMessage& message) {
    const auto task = static_cast<uint32_t>(message.WParam);
    LookupRequest request;
    {
        std::scoped_lock lock(FLookupLock);
        auto found = std::find_if(FPendingLookups.begin(), FPendingLookups.end(),
                                  [task](const LookupRequest& r) { return r.Task == task; });
        if (found == FPendingLookups.end())
            return;
        request = *found;
        FPendingLookups.erase(found);
    }
    static const char* const apiNames[] = {"WsaAsyncGetHostByName", "WsaAsyncGetHostByAddr",
                                           "WsaAsyncGetServByName", "WsaAsyncGetServByPort"};
    const int32_t error = message.SelectError();
    if (error != 0) {
        NotifyErrorReply(task, error,
                         EIpWinSockError::FormatMessage(error, apiNames[request.Kind & 3]));
        return;
    }
    switch (request.Kind) {
    case 0:
        NotifyAddressReply(task, request.Address);
        break;
    case 1:
        NotifyNameReply(task, request.Name);
        break;
    case 2:
        NotifyPortReply(task, request.Port);
        break;
    case 3:
        NotifyServiceReply(task, request.Name);
        break;
    }
}

std::string TIpSockControl::AddressText(in_addr_t address) {
    return TIpWinSockAccess::InetNtoa(address);
}

std::vector<TIpSockAddr> TIpSockControl::ResolveHost(const std::string& text) {
    TIpSockAddr numeric;
    if (TIpSockAddr::FromText(text, numeric))
        return {numeric};
    TIpWinSockAccess& access = TIpWinSockAccess::Instance();
    // An unknown name must not become the all-zero address: on this system that reaches the
    // local machine.
    std::vector<TIpSockAddr> addresses;
    if (!access.GetAddresses(text, addresses))
        throw EIpWinSockError(access.LastError(), "gethostbyname");
    return addresses;
}

std::vector<TIpSockAddr> TIpSockControl::ResolveAddress(const std::string& text,
                                                        uint16_t defaultPort) {
    const TIpHostPort destination = TIpHostPort::Parse(text);
    const std::string& portText = destination.PortText;
    uint16_t port = defaultPort;
    if (!portText.empty()) {
        const bool digits = std::all_of(portText.begin(), portText.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || portText.size() > 5 || std::stoul(portText) > 65535)
            throw EIpBaseException("'" + portText + "' is not a valid integer value");
        port = static_cast<uint16_t>(std::stoul(portText));
    }
    if (destination.Host.empty())
        throw EIpWinSockError(std::string("Destination address required"));
    std::vector<TIpSockAddr> addresses = ResolveHost(destination.Host);
    for (TIpSockAddr& address : addresses)
        address.SetPort(port);
    return addresses;
}
