#pragma once

#include "net/TIpTlsSettings.h"

#include <openssl/ssl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct TIpSslCtxFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct TIpSslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct TIpSslSessionFree {
    void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using TIpSslCtxPtr = std::unique_ptr<SSL_CTX, TIpSslCtxFree>;
using TIpSslPtr = std::unique_ptr<SSL, TIpSslFree>;
using TIpSslSessionPtr = std::unique_ptr<SSL_SESSION, TIpSslSessionFree>;

// The client side of TLS as the whole process shares it: one OpenSSL context per set of trusted
// authorities, and per server the last session it issued on a connection whose certificate was
// accepted, offered to the next connection to it. Loading the system's authorities takes longer
// than a handshake on loopback, and a resumed session spares the server's signature and our
// chain check, so a run's extra connections and its reconnects pay for neither.
//
// A context is made on the first connection that needs its authorities and lives while the
// process (or a connection still using it) does. A CA file that has changed on disk since (its
// time or size) gets a new context, and the sessions of the old one, checked against the old
// authorities, go with it. Every function may be called from any thread.
class TIpTlsContext {
public:
    // The shared context for the authorities of `settings`. Raises EIpTlsError when they cannot
    // be loaded.
    static std::shared_ptr<TIpTlsContext> For(const TIpTlsSettings& settings);
    // How many contexts the process has made, each loading its authorities once.
    static uint64_t Made();

    SSL_CTX* Handle() const { return FContext.get(); }

    // The session to offer `server` (its key: host, port and how TLS began), null when none.
    TIpSslSessionPtr Session(const std::string& server) const;
    void Keep(const std::string& server, TIpSslSessionPtr session);

    explicit TIpTlsContext(TIpSslCtxPtr context) : FContext(std::move(context)) {}

private:
    TIpSslCtxPtr FContext;
    mutable std::mutex FLock;
    std::map<std::string, TIpSslSessionPtr> FSessions;
};
