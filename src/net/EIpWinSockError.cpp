#include "net/EIpWinSockError.h"

#include "net/TIpWinSockAccess.h"

std::string EIpWinSockError::FormatMessage(int32_t errorCode, const std::string& apiName) {
    return "WinSock Error (" + std::to_string(errorCode) +
           "): " + TIpWinSockAccess::ErrorText(errorCode) + ", on API '" + apiName + "'";
}

EIpWinSockError::EIpWinSockError(int32_t errorCode, const std::string& apiName)
    : EIpBaseException(FormatMessage(errorCode, apiName)), FErrorCode(errorCode) {}

EIpWinSockError::EIpWinSockError(const std::string& message) : EIpBaseException(message) {}
