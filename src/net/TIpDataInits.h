#pragma once

#include "mime/TIpLineTerminator.h"
#include "net/TIpSockOptionSet.h"
#include "net/TIpTlsSettings.h"

#include <cstdint>

// Settings every socket starts from.
class TIpBaseInits {
public:
    virtual ~TIpBaseInits() = default;

    TIpSockOptionSet SocketOptions;
};

// The initial values of a data socket. A socket made without one uses these same defaults.
class TIpDataInits : public TIpBaseInits {
public:
    uint32_t FixedLineLength = 80;
    uint32_t IdleTimeout = 0;
    uint8_t LineTermChar = 10;
    TIpLineTerminator LineTerminator = TIpLineTerminator::ltCRLF;
    TIpLogOptionSet LogOptions{TIpLogOptions::loHighData, TIpLogOptions::loTelnet};
    int32_t ReceiveBufferSize = 4096;
    TIpReceiveMode ReceiveMode = TIpReceiveMode::rmLine;
    int32_t SendBufferSize = 4096;
    bool StripLineTerminator = false;
    // True: the TLS handshake follows the connect (and the proxy's tunnel) at once, and the
    // connection is reported only once it is encrypted.
    bool TlsOnConnect = false;
    TIpTlsSettings Tls;
    // Milliseconds a connect may take over all of a host's addresses (TIpDataSocket); 0: none.
    uint32_t ConnectTimeout = 0;
};
