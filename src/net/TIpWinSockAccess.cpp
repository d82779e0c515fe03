#include "net/TIpWinSockAccess.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/utsname.h>
#include <unistd.h>

static thread_local int32_t lastError = 0;

struct TIpErrorRow {
    int32_t Code;
    const char* Text;
};

static constexpr TIpErrorRow errorTable[] = {
    {10004, "Interrupted function call"},
    {10009, "Bad file descriptor"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Resource temporarily unavailable"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on nonsocket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Cannot assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Cannot send after socket shutdown"},
    {10059, "Too many references; cannot splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disk quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "WinSock DLL version not supported"},
    {10093, "Successful WSAStartup not yet performed"},
    {10101, "Graceful shutdown in progress"},
    {10102, "No more data available"},
    {10103, "Cancelled"},
    {10104, "Invalid procedure table from service provider"},
    {10105, "Invalid service provider version number"},
    {10106, "Unable to initialize a service provider"},
    {10107, "System call failure"},
    {10108, "Service not found"},
    {10109, "Type not found"},
    {10110, "No more data available"},
    {10111, "Lookup cancelled"},
    {10112, "Refused"},
    {11001, "Host not found"},
    {11002, "Nonauthoritative host not found"},
    {11003, "This is a nonrecoverable error"},
    {11004, "Valid name, no data record of requested type"},
    {11005, "At least one Reserve has arrived"},
    {11006, "At least one Path has arrived"},
    {11007, "There are no senders"},
    {11008, "There are no receivers"},
    {11009, "Reserve has been confirmed"},
    {11010, "Error due to lack of resources"},
    {11011, "Rejected for administrative reasons - bad credentials"},
    {11012, "Unknown or conflicting style"},
    {11013, "Problem filterspec or providerspecific buffer"},
    {11014, "Problem with some part of the flowspec"},
    {11015, "General error"},
};
static_assert(std::size(errorTable) == 73);

// Native errno values and the socket error codes the user's messages show for them.
static constexpr std::pair<int, int32_t> errnoTable[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
    {EMFILE, 10024},       {ENFILE, 10024},          {EAGAIN, 10035},
    {EINPROGRESS, 10035},  {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {EPIPE, 10054},           {ENOBUFS, 10055},
    {ENOMEM, 10055},       {EISCONN, 10056},         {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
    {EUSERS, 10068},       {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

TIpWinSockAccess& TIpWinSockAccess::Instance() {
    static TIpWinSockAccess instance;
    return instance;
}

std::string TIpWinSockAccess::ErrorText(int32_t code) {
    for (const TIpErrorRow& row : errorTable)
        if (row.Code == code)
            return row.Text;
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which may or may not live in `buffer`.
    return strerror_r(code, buffer, sizeof buffer);
}

int32_t TIpWinSockAccess::MapErrno(int err) {
    for (const auto& [native, code] : errnoTable)
        if (native == err)
            return code;
    return err;
}

int32_t TIpWinSockAccess::LastError() const {
    return lastError;
}
void TIpWinSockAccess::SetLastError(int32_t code) {
    lastError = code;
}

std::string TIpWinSockAccess::Description() const {
    utsname name{};
    if (uname(&name) != 0)
        return "POSIX sockets";
    return std::string("POSIX sockets on ") + name.sysname + " " + name.release;
}

std::string TIpWinSockAccess::SystemStatus() const {
    return "Running";
}

int32_t TIpWinSockAccess::Fail(int err) {
    lastError = MapErrno(err);
    return -1;
}

int TIpWinSockAccess::Socket(int type, int family) {
    const int fd = ::socket(family, (type == 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    return fd < 0 ? Fail(errno) : fd;
}

int TIpWinSockAccess::ReplaceSocket(int fd, int type, int family) {
    const int fresh = Socket(type, family);
    if (fresh < 0)
        return -1;
    const int rc = ::dup3(fresh, fd, O_CLOEXEC);
    const int error = errno;
    ::close(fresh);
    return rc < 0 ? Fail(error) : 0;
}

int TIpWinSockAccess::Bind(int fd, const TIpSockAddr& address) {
    return ::bind(fd, address.Data(), address.Length()) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::Connect(int fd, const TIpSockAddr& address) {
    return ::connect(fd, address.Data(), address.Length()) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::CloseSocket(int fd) {
    return ::close(fd) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::Shutdown(int fd, int how) {
    return ::shutdown(fd, how == 1   ? SHUT_WR
                          : how == 0 ? SHUT_RD
                                     : SHUT_RDWR) != 0
               ? Fail(errno)
               : 0;
}

ssize_t TIpWinSockAccess::Recv(int fd, void* buffer, size_t length) {
    ssize_t n = 0;
    do
        n = ::recv(fd, buffer, length, 0);
    while (n < 0 && errno == EINTR);
    return n < 0 ? Fail(errno) : n;
}

ssize_t TIpWinSockAccess::Send(int fd, const void* buffer, size_t length) {
    ssize_t n = 0;
    // MSG_NOSIGNAL: a peer that has gone must give an error code, not end the program.
    do
        n = ::send(fd, buffer, length, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n < 0 ? Fail(errno) : n;
}

int TIpWinSockAccess::GetSockName(int fd, TIpSockAddr& address) {
    socklen_t length = TIpSockAddr::Capacity();
    return ::getsockname(fd, address.Data(), &length) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::GetPeerName(int fd, TIpSockAddr& address) {
    socklen_t length = TIpSockAddr::Capacity();
    return ::getpeername(fd, address.Data(), &length) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::GetSockOpt(int fd, int level, int option, int& value) {
    socklen_t length = sizeof value;
    return ::getsockopt(fd, level, option, &value, &length) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::SetSockOpt(int fd, int level, int option, int value) {
    return ::setsockopt(fd, level, option, &value, sizeof value) != 0 ? Fail(errno) : 0;
}

int TIpWinSockAccess::SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return Fail(errno);
    return 0;
}

int32_t TIpWinSockAccess::PendingError(int fd) {
    int value = 0;
    if (GetSockOpt(fd, SOL_SOCKET, SO_ERROR, value) != 0)
        return lastError;
    return value == 0 ? 0 : MapErrno(value);
}

bool TIpWinSockAccess::InetAddr(const std::string& text, in_addr_t& address) {
    in_addr parsed{};
    if (text.empty() || ::inet_aton(text.c_str(), &parsed) == 0)
        return false;
    address = parsed.s_addr;
    return true;
}

std::string TIpWinSockAccess::InetNtoa(in_addr_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    ::inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

bool TIpWinSockAccess::GetAddresses(const std::string& name, std::vector<TIpSockAddr>& addresses) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &answer);
    if (rc != 0 || answer == nullptr) {
        lastError = rc == EAI_AGAIN ? 11002 : TIpWsaCode::HostNotFound;
        return false;
    }
    addresses.clear();
    for (const addrinfo* each = answer; each != nullptr; each = each->ai_next) {
        if (each->ai_family == AF_INET)
            addresses.emplace_back(*reinterpret_cast<const sockaddr_in*>(each->ai_addr));
        else if (each->ai_family == AF_INET6)
            addresses.emplace_back(*reinterpret_cast<const sockaddr_in6*>(each->ai_addr));
    }
    ::freeaddrinfo(answer);
    if (addresses.empty())
        lastError = TIpWsaCode::HostNotFound;
    return !addresses.empty();
}
