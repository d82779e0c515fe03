#pragma once

#include "mime/TIpLineTerminator.h"
#include "net/TIpBaseSocket.h"
#include "net/TIpDataInits.h"
#include "net/TIpSocksNegotiation.h"
#include "net/TIpTelnetLayer.h"
#include "net/TIpTlsLayer.h"
#include "net/TIpWindowMessage.h"

#include <QPointer>

#include <cstdint>
#include <deque>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// A connected data socket: a non-blocking connect, a send queue written as fast as the system
// accepts it, and an 8192-byte receive buffer cut into units for the owner.
//
// States: created (handle open, not connected) -> connecting (ConnectTo) -> [proxy negotiating]
// -> connected (HandleConnected reported stConnect) -> closing (Shutdown) -> closed (no handle;
// the owner frees the object). A failed connect moves on to the host's next address (connecting
// again, on a new socket under the same handle) or, with none left, returns to the created state.
//
// With a proxy the TCP connect reaches the proxy; the tunnel's negotiation (TIpSocksNegotiation)
// runs in proxy states 2 to 4 and stConnect is reported only once it is up (state 5). Items the
// owner queues meanwhile wait behind the proxy's requests. With soTelnet, data goes out with 255
// doubled and received bytes pass through the Telnet layer (TIpTelnetLayer) before line cutting.
//
// With TLS (TlsOnConnect, or StartTls on a connected socket) the bytes of the socket pass through
// the encryption layer (TIpTlsLayer): received bytes are decrypted before line cutting, and a
// send item's bytes are encrypted as they are written, so the queue's items and counters stay
// those of the plain data. Owner items wait while the handshake runs; once it is done the owner
// hears NotifyTls (and, with TlsOnConnect, stConnect). A certificate that fails the check and is
// not trusted, or a failed handshake, is an error notification followed by the close sequence
// without reading on: nothing of the protocol goes out or comes in.
//
// Receive buffer (8192 bytes):
//
//   +-------------------+------------------+--------------------+
//   |  consumed bytes   |  unread bytes    |  free space        |
//   +-------------------+------------------+--------------------+
//   0                 head               tail              8192
//
// Units are cut at head; new bytes land at tail. Unread bytes move to the start only when no whole
// unit is left among them, head is past 0 and tail is past 4096, so short replies are cut without
// moving memory and a buffer full of lines moves only its unfinished last one. A unit that fills
// the whole buffer without a terminator is delivered as it is, so reading never stalls.
class TIpDataSocket : public TIpBaseSocket {
public:
    static constexpr uint32_t ReceiveBufferCapacity = 8192;

    // `settings` nullptr means the defaults of TIpDataInits.
    TIpDataSocket(TIpSockControl& owner, const TIpSocksServerInfo* proxy,
                  const TIpDataInits* settings, const sockaddr_in& bindAddress,
                  int existingHandle = -1);
    ~TIpDataSocket() override;

    // Starts a non-blocking connect to `destination` (or to the proxy); resets the counters.
    void ConnectTo(const TIpSockAddr& destination, const std::string& hostText);
    // The same for a host with several addresses (or a proxy with several): they are tried in
    // order, each on a fresh socket under the same handle, until one answers. An address that
    // has not answered within its share of ConnectTimeout gives way to the next. Raises the last
    // failure when every address fails at once.
    void ConnectTo(const std::vector<TIpSockAddr>& destinations, const std::string& hostText);
    // A connect has failed with `error`: true when the next address is being tried instead;
    // false (with `error` the last failure) when none is left.
    bool ConnectNext(int32_t& error);
    // Milliseconds a connect may take over all addresses; 0: no limit of our own.
    uint32_t ConnectTimeout = 0;

    // Appends a send item and writes as much as the socket takes at once. Returns 0 when the item
    // went out completely within this call, else the number the item was given. With a `source`
    // stream the item's bytes come from the stream in 1460-byte chunks instead of `data`.
    uint32_t QueueSend(const char* data, uint32_t length, std::istream* source, bool closeAfter,
                       bool internal, bool raw);

    void HandleConnected();
    void HandleReadable();
    void HandleWritable();
    // A close notification: the close sequence when connected, nothing otherwise.
    void HandleClosed();
    void HandleOutOfBand() {}
    void HandleTick(uint32_t elapsed);

    // The close sequence: stop sending, drain and deliver what is left, close, report stDisconnect.
    void Shutdown();

    // Starts the TLS handshake on the connected socket (after the server agreed to it). Bytes
    // still unread are dropped: they came in clear and are no part of the encrypted stream.
    void StartTls();
    // Bytes received and not yet delivered to the owner as units.
    uint32_t UnreadBytes() const { return FTail - FHead; }
    // True once a TLS handshake has succeeded and the session is still up.
    bool Encrypted() const { return FTls && FTls->Established(); }

    // Sends the Telnet window-size subnegotiation again (after the terminal's size changed).
    virtual void SendWindowSize();
    // Asks, through the owner's event loop, for the window size to be sent again.
    void TerminalResized();
    // The terminal the Telnet layer reports on; not owned, none by default.
    void SetTerminal(TIpTerminal* terminal);
    TIpTerminal* Terminal() const;
    // The Telnet option sets (allowed and enabled, local and remote).
    TIpTelnetLayer& Telnet() { return FTelnetLayer; }

    // Each listener is posted a copy of every chunk of data received, as a ReceivedChunk message
    // (WParam the handle, Text the bytes). A listener that is destroyed drops out by itself.
    static constexpr uint32_t ReceivedChunk = TIpWm::User + 1;
    void AddListener(QObject* window);
    void RemoveListener(QObject* window);

    TIpSockStatRec GetStatistics() const;
    // True once a receive call has seen the peer's end of the stream.
    bool PeerClosed() const { return FPeerClosed; }
    // A broken-connection error met while reading (0 when none), reported as a close error.
    int32_t PendingCloseError() const { return FPendingCloseError; }

    uint32_t FixedLineLength = 80;
    uint32_t IdleTimeout = 0;
    uint8_t LineTermChar = 10;
    TIpLineTerminator LineTerminator = TIpLineTerminator::ltCRLF;
    TIpLogOptionSet LogOptions;
    TIpReceiveMode ReceiveMode = TIpReceiveMode::rmLine;
    // Destination of rmStream; not owned.
    std::ostream* Stream = nullptr;
    bool StripLineTerminator = false;

    uint32_t QueuedItems() const;
    uint32_t IdleCounter() const { return FIdleCounter; }
    bool CanWrite() const { return FCanWrite; }

protected:
    // The proxy and Telnet layers. With no proxy configured and soTelnet off (the client's
    // settings) none of these is reached. Proxy negotiation and the Telnet option layer are
    // built on these hooks.
    //
    // Connect completion with the proxy state at 1: send the first proxy request.
    virtual void SendProxyRequest();
    // Received bytes while the proxy state is 1 to 4: consume the proxy's reply from the front of
    // data[0..count) and return how many data bytes remain (moved to the front).
    virtual uint32_t HandleProxyReply(char* data, uint32_t count);
    // Received bytes with soTelnet: remove commands, answer them, return the data bytes left
    // (moved to the front).
    virtual uint32_t TelnetReceiveFilter(char* data, uint32_t count);

private:
    struct SendItem {
        uint32_t Number = 0;
        bool CloseAfter = false;
        bool Internal = false;
        std::istream* Source = nullptr;
        std::string Buffer;
        uint32_t Written = 0;
        uint32_t DataLength = 0;
        // A request of the proxy negotiation; it goes ahead of the owner's items.
        bool ProxyRequest = false;
    };

    uint32_t ReadChunk(bool evenWhenNotConnected);
    bool ScanBuffer();
    bool CutUnit(bool flush);
    void Deliver(const char* data, uint32_t length);
    bool WriteHeadItem();
    void RefillFromStream(SendItem& item);
    std::string Escape(const char* data, uint32_t length, bool raw) const;
    bool DrainStep();
    void CompleteHeadItem(bool notify);
    void UpdateWriteInterest();
    void ReadAndDeliverAll(bool evenWhenNotConnected);
    void LogData(int32_t entryType, const char* data, uint32_t length);
    void LogTelnet(uint8_t command, uint8_t option, bool sent);
    // Owner items wait while the proxy is still being negotiated.
    bool HeldByProxy(const SendItem& item) const;
    void QueueProxyRequest(const std::string& request);
    // The proxy's verdict, reported once the chunk that carried it is in the buffer.
    void ReportProxyOutcome();
    void PostToListeners(const char* data, uint32_t length);
    // The encryption layer (TIpDataSocketTls.cpp).
    bool HeldByTls() const { return FTls && !FTls->Established(); }
    bool TlsOutputPending() const { return FTls && FTls->OutputSize() > 0; }
    // Received bytes through the layer: decrypted bytes into `data` and their count; 0 with
    // `progress` 0 at the end of the stream; -1 with `error` on a failing receive call.
    // `progress` is what the system gave, so the caller keeps reading while there is any.
    ssize_t ReceiveTls(char* data, uint32_t room, int32_t& error, uint32_t& progress);
    // Encrypts and sends; as the system's send call, with -1 and `error` on would-block.
    ssize_t SendTls(const char* data, uint32_t length, int32_t& error);
    // Sends what the layer has produced; false when the system would block.
    bool FlushTls();
    void ContinueHandshake();
    void FinishHandshake();
    void FailTls(int32_t code, const std::string& text);
    // Connects to the address at FAttempt, moving past those that fail at once; false with
    // `error` when none is left.
    bool StartAttempt(int32_t& error);
    // Where the proxy is asked to connect: SOCKS4 carries only IPv4 addresses.
    TIpSockAddr ProxyDestination(const std::vector<TIpSockAddr>& destinations) const;

    uint32_t FIdleCounter = 0;
    char FBuffer[ReceiveBufferCapacity] = {};
    uint32_t FHead = 0;
    uint32_t FTail = 0;
    std::deque<std::unique_ptr<SendItem>> FSendQueue;
    TIpSockStatRec FStatistics;
    bool FActivity = false;
    TIpTelnetLayer FTelnetLayer;
    std::unique_ptr<TIpSocksNegotiation> FSocks;
    bool FProxyEstablished = false;
    int32_t FProxyRefusal = -1;
    std::vector<QPointer<QObject>> FListeners;
    uint32_t FItemCounter = 0;
    bool FCanWrite = false;
    bool FPeerClosed = false;
    bool FShortRead = false;
    std::string FUnit;
    // A unit in FUnit is being handled.
    bool FDelivering = false;
    int32_t FPendingCloseError = 0;
    bool FTlsOnConnect = false;
    TIpTlsSettings FTlsSettings;
    std::unique_ptr<TIpTlsLayer> FTls;
    std::string FTlsScratch;
    std::vector<TIpSockAddr> FAttempts;
    size_t FAttempt = 0;
    uint32_t FAttemptElapsed = 0;
    const char* FConnectApi = "Connect";
};
