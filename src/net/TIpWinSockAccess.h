#pragma once

#include "net/TIpSockAddr.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

// Socket error codes the layer itself tests for; the full table lives in ErrorText.
struct TIpWsaCode {
    static constexpr int32_t Interrupted = 10004;
    static constexpr int32_t BadFileDescriptor = 10009;
    static constexpr int32_t InvalidArgument = 10022;
    static constexpr int32_t WouldBlock = 10035;
    static constexpr int32_t InProgress = 10036;
    static constexpr int32_t DestAddrRequired = 10039;
    static constexpr int32_t BadProtocolOption = 10042;
    static constexpr int32_t ConnAborted = 10053;
    static constexpr int32_t ConnReset = 10054;
    static constexpr int32_t NotConnected = 10057;
    static constexpr int32_t TimedOut = 10060;
    static constexpr int32_t ConnRefused = 10061;
    static constexpr int32_t HostNotFound = 11001;
};

// The lock shared by the access objects; taken around the few fields they change.
class TIpBaseAccess {
public:
    TIpBaseAccess() = default;
    TIpBaseAccess(const TIpBaseAccess&) = delete;
    TIpBaseAccess& operator=(const TIpBaseAccess&) = delete;
    virtual ~TIpBaseAccess() = default;

protected:
    std::recursive_mutex FLock;
};

// The one process-wide door to the operating system's sockets. Every socket call of the program
// goes through it, so that failures are expressed as the socket error codes the user's messages
// show (10061 "Connection refused" rather than ECONNREFUSED). A failing call returns -1 (or an
// empty result) and leaves its code in LastError.
class TIpWinSockAccess : public TIpBaseAccess {
public:
    static TIpWinSockAccess& Instance();

    // The text of a socket error code; codes outside the table give the system's own text.
    static std::string ErrorText(int32_t code);
    // The socket error code that stands for a native errno value.
    static int32_t MapErrno(int err);

    // Code of the last failing call on this thread.
    int32_t LastError() const;
    void SetLastError(int32_t code);

    // What the debug log's header reports about the socket library.
    uint16_t Version() const { return 0x0202; }
    std::string Description() const;
    std::string SystemStatus() const;

    // A new socket of `type` (1 stream, 2 datagram) and address `family`.
    int Socket(int type, int family = AF_INET);
    // Puts a new socket of `type` and `family` under the handle `fd` (whose socket is closed), so
    // that a connection tried at another address keeps the handle it is known by.
    int ReplaceSocket(int fd, int type, int family);
    int Bind(int fd, const TIpSockAddr& address);
    int Connect(int fd, const TIpSockAddr& address);
    int CloseSocket(int fd);
    int Shutdown(int fd, int how);
    ssize_t Recv(int fd, void* buffer, size_t length);
    ssize_t Send(int fd, const void* buffer, size_t length);
    int GetSockName(int fd, TIpSockAddr& address);
    int GetPeerName(int fd, TIpSockAddr& address);
    int GetSockOpt(int fd, int level, int option, int& value);
    int SetSockOpt(int fd, int level, int option, int value);
    // Puts a handle into non-blocking mode, the mode every socket of the layer runs in.
    int SetNonBlocking(int fd);
    // Pending error of a socket (the outcome of a non-blocking connect), as a socket error code.
    int32_t PendingError(int fd);

    static uint16_t Htons(uint16_t value) { return htons(value); }
    static uint16_t Ntohs(uint16_t value) { return ntohs(value); }
    // Text to IPv4 address in network order, accepting the dotted quad and the shorter numeric
    // forms; false when the text is not a numeric address.
    static bool InetAddr(const std::string& text, in_addr_t& address);
    static std::string InetNtoa(in_addr_t address);
    // Blocking lookup of a host name: its IPv6 and IPv4 addresses in the order the system
    // prefers them (port 0); false with LastError set when it has none.
    bool GetAddresses(const std::string& name, std::vector<TIpSockAddr>& addresses);

private:
    TIpWinSockAccess() = default;
    int32_t Fail(int err);
};
