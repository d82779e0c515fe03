#pragma once

#include "net/TIpBaseComponent.h"
#include "net/TIpDataInits.h"
#include "net/TIpDebugLog.h"
#include "net/TIpEventLog.h"
#include "net/TIpSet.h"
#include "net/TIpSockAddr.h"
#include "net/TIpSockStatRec.h"
#include "net/TIpTlsSettings.h"
#include "net/TIpWindowMessage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <netinet/in.h>

class QObject;
class TIpDataSocket;

class TIpSockControl;
using TIpAddressReplyEvent =
    std::function<void(TIpSockControl* sender, uint32_t handle, in_addr_t address)>;
using TIpErrorReplyEvent = std::function<void(TIpSockControl* sender, uint32_t handle,
                                              int32_t errCode, const std::string& errStr)>;
using TIpNameReplyEvent =
    std::function<void(TIpSockControl* sender, uint32_t handle, const std::string& name)>;
using TIpPortReplyEvent =
    std::function<void(TIpSockControl* sender, uint32_t handle, int32_t port)>;
using TIpServiceReplyEvent =
    std::function<void(TIpSockControl* sender, uint32_t handle, const std::string& service)>;
using TIpStatusEvent =
    std::function<void(TIpSockControl* sender, int socket, TIpStatusType event,
                       const TIpConnRec& connection, const TIpSockStatRec& statRec)>;
using TIpSocketErrorEvent = std::function<void(TIpSockControl* sender, int socket, int32_t errCode,
                                               const std::string& errStr)>;
using TIpIdleTimeoutEvent = std::function<void(TIpSockControl* sender, int socket, bool& reset)>;
using TIpItemSentEvent =
    std::function<void(TIpSockControl* sender, int socket, uint32_t itemNo, uint32_t itemsLeft)>;
using TIpTlsEvent = std::function<void(TIpSockControl* sender, int socket, const TIpTlsPeer& peer)>;
using TIpLineReceivedEvent =
    std::function<void(TIpSockControl* sender, int socket, const std::string& line)>;

// The protocol a component's sockets speak.
enum class TIpProtocol : uint8_t { ptTCP, ptUDP };

// The non-visual component every protocol client derives from. It owns an event-loop "window"
// (a private QObject whose events go to WindowProcedure), the periodic timer, the debug and event
// logs and the settings handed to new sockets. It turns socket readiness into calls on the right
// data socket and the sockets' upward notifications into events. It holds no socket itself: the
// derived client supplies CreateSocket, FindSocket and FreeSocket.
//
// No exception leaves the window: whatever a handler throws while a notification is handled goes
// to ReportIpException. An exception inside a timer tick also stops the timer.
class TIpSockControl : public TIpBaseComponent {
public:
    TIpSockControl();
    ~TIpSockControl() override;

    static std::string FormatLogEntry(int32_t handle, int32_t entryType, uint32_t data,
                                      const char* payload, uint32_t length);

    TIpDebugLog& DebugLog() { return *FDebugLog; }
    TIpEventLog& EventLog() { return *FEventLog; }
    TIpDataInits& Settings() { return *FSettings; }

    uint32_t TimerInterval() const { return FTimerInterval; }
    void SetTimerInterval(uint32_t milliseconds);
    bool TimerActive() const;

    TIpProtocol Protocol() const { return FProtocol; }
    const std::string& ProtocolName() const { return FProtocolName; }
    int SocketType() const { return FSocketType; }
    const sockaddr_in& BindAddress() const { return FBindAddress; }

    // Which status types raise OnStatus; initially {stConnect, stDisconnect, stProgress}.
    TIpSet<TIpStatusType> StatusFilter;

    TIpAddressReplyEvent OnAddressReply;
    TIpSocketErrorEvent OnSocketError;
    TIpErrorReplyEvent OnErrorReply;
    TIpIdleTimeoutEvent OnIdleTimeout;
    TIpItemSentEvent OnItemSent;
    TIpNameReplyEvent OnNameReply;
    TIpPortReplyEvent OnPortReply;
    TIpLineReceivedEvent OnLineReceived;
    TIpServiceReplyEvent OnServiceReply;
    TIpStatusEvent OnStatus;
    // A TLS handshake has ended: the session, the certificate and whether the connection goes on.
    TIpTlsEvent OnTls;

    // Queues the text's bytes on the socket (no terminator is added). "Socket not assigned" when
    // the handle is not one of this component's.
    void PutString(int handle, const std::string& text, bool closeAfter);

    // "host", "host:port", "scheme://host:port/...", "[IPv6]:port" (TIpHostPort) to the host's
    // addresses, each with the port, to be tried in order. An empty host raises "Destination
    // address required".
    std::vector<TIpSockAddr> ResolveAddress(const std::string& text, uint16_t defaultPort);
    // A numeric IPv4 or IPv6 text or a host name to its addresses (port 0); an unknown name
    // raises EIpWinSockError 11001 "Host not found" on API 'gethostbyname'.
    std::vector<TIpSockAddr> ResolveHost(const std::string& text);
    static std::string AddressText(in_addr_t address);

    // Posts a message to this component's window; it is handled after the current notification.
    void PostMessage(uint32_t msg, intptr_t wParam = 0, intptr_t lParam = 0, std::string text = {});
    // Hands a message to WindowProcedure now, sending any exception to the reporter.
    void Dispatch(TIpWindowMessage& message);
    // Deferred release of a socket whose close-after item has gone out.
    void ScheduleRelease(int handle);
    // Raw readiness from a socket's notifiers, turned into socket notifications (connect
    // completion, read, write, close) for WindowProcedure.
    void SocketReadiness(int handle, bool writable);

    // Overridable operations, in this order.
    virtual void CreateSocket() = 0;
    virtual void FreeSocket(int handle) = 0;
    virtual bool IsActive() const { return false; }
    virtual void SetProtocol(TIpProtocol protocol);
    virtual void NotifyAddressReply(uint32_t handle, in_addr_t address);
    virtual void NotifyError(int handle, int32_t code, const std::string& text);
    virtual void NotifyErrorReply(uint32_t handle, int32_t code, const std::string& text);
    virtual void NotifyIdle(int handle, bool& reset);
    virtual void NotifyItemSent(int handle, uint32_t itemNo, uint32_t itemsLeft);
    virtual void NotifyNameReply(uint32_t handle, const std::string& name);
    virtual void NotifyPortReply(uint32_t handle, int32_t port);
    virtual void DeliverLine(int handle, const std::string& text);
    virtual void NotifyServiceReply(uint32_t handle, const std::string& service);
    virtual void NotifyStatus(int handle, TIpStatusType type, const TIpConnRec& connection);
    virtual void NotifyTls(int handle, const TIpTlsPeer& peer);
    virtual void HandleAccept(int handle);
    virtual void HandleClose(int handle);
    virtual void HandleConnect(int handle);
    virtual void HandleOutOfBand(int handle);
    virtual void HandleRead(int handle);
    virtual void TimerTick();
    virtual void Tick(uint32_t elapsed);
    virtual void HandleWrite(int handle);
    virtual TIpDataSocket* FindSocket(int handle, bool raise);
    // Returns true when the message was handled.
    virtual bool WindowProcedure(TIpWindowMessage& message);
    virtual void AddListener(QObject* window);
    virtual void RemoveListener(QObject* window);

    // An asynchronous lookup waiting for its reply message (TIpWm::LookupReply, WParam the task,
    // LParam the error << 16). Whoever starts the lookup fills the answer before the reply is
    // posted; nothing in the program starts one.
    struct LookupRequest {
        uint32_t Task = 0;
        uint8_t Kind = 0; // 0 host by name, 1 host by address, 2 service by name, 3 by port
        in_addr_t Address = 0;
        std::string Name; // host name (kind 1) or service name (kind 3)
        int32_t Port = 0; // host order (kind 2)
    };

protected:
    const std::vector<QObject*>& Listeners() const { return FListeners; }
    void AddPendingLookup(const LookupRequest& request);
    size_t PendingLookups() const;

private:
    class Window;

    void HandleLookupReply(TIpWindowMessage& message);
    void WriteEventLine(const char* prefix, const TIpConnRec& connection);

    std::unique_ptr<TIpDebugLog> FDebugLog;
    std::unique_ptr<TIpEventLog> FEventLog;
    std::unique_ptr<Window> FWindow;
    std::unique_ptr<TIpDataInits> FSettings;
    TIpProtocol FProtocol = TIpProtocol::ptTCP;
    uint32_t FTimerInterval = 0;
    int FTimerId = 0;
    uint32_t FLastTick = 0;
    std::string FProtocolName;
    int FSocketType = 0;
    mutable std::recursive_mutex FLookupLock;
    std::vector<LookupRequest> FPendingLookups;
    std::vector<QObject*> FListeners;
    sockaddr_in FBindAddress{};
};
