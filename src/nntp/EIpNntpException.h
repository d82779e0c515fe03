#pragma once

#include "mime/EIpBaseException.h"

// A misuse of the NNTP client, such as a command without a connection ("Not connected").
class EIpNntpException : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};
