#pragma once

#include "mime/EIpBaseException.h"

#include <cstdint>
#include <string>

// The failures of the socket layer. Each carries the text the user sees in the message box.

// An entry point of the socket interface is missing.
class EIpAccessException : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// A failing socket call. The message is "WinSock Error (<code>): <text>, on API '<api>'"; the
// numeric code travels with it so that callers can tell a refused connection from a reset.
class EIpWinSockError : public EIpBaseException {
public:
    EIpWinSockError(int32_t errorCode, const std::string& apiName);
    // A failure described by its text alone keeps code 0 ("Destination address required").
    explicit EIpWinSockError(const std::string& message);

    int32_t ErrorCode() const { return FErrorCode; }

    // The message text for a code and API name, as used in exceptions and error notifications.
    static std::string FormatMessage(int32_t errorCode, const std::string& apiName);

private:
    int32_t FErrorCode = 0;
};

// A property that cannot change while the component holds a socket.
class EIpActiveError : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// An index beyond the addresses of a lookup answer.
class EIpIndexError : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// A socket handle that the component does not hold: "Socket not assigned".
class EIpNoSocketError : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// Misuse by the calling code, such as stream mode without a stream.
class EIpProgrammerError : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// The system refused a resource, such as a timer.
class EOutOfResources : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};
