#pragma once

#include "net/TIpSet.h"

#include <cstdint>

// Socket options; the ordinals are fixed.
enum class TIpSockOptions : uint8_t {
    soBroadcast,
    soDebug,
    soDiscardReceived,
    soDontRoute,
    soEchoReceived,
    soEchoSent,
    soKeepAlive,
    soNoDelay,
    soReuseAddr,
    soStripHighBit,
    soTelnet
};
using TIpSockOptionSet = TIpSet<TIpSockOptions>;

// What a data socket records in its owner's debug log.
enum class TIpLogOptions : uint8_t { loHighData, loLowData, loTelnet };
using TIpLogOptionSet = TIpSet<TIpLogOptions>;

// How received bytes are handed to the owner: cut into units, written to a stream, or as they come.
enum class TIpReceiveMode : uint8_t { rmLine, rmStream, rmAny };
