#pragma once

#include "mime/EIpBaseException.h"
#include "net/TIpTlsContext.h"
#include "net/TIpTlsSettings.h"

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

// Why a handshake failed, as far as a user can act on it.
enum class TIpTlsFailure : uint8_t {
    tfOther,
    tfNotTls,          // the server answered with something else (a plain server on this port)
    tfProtocolVersion, // no TLS version both sides accept
    tfCertificate,     // the server refused over a certificate (its alert names one)
    tfClosed           // the server closed the connection during the handshake
};

// A failure of the encryption layer, in words, with OpenSSL's reason where it adds something.
class EIpTlsError : public EIpBaseException {
public:
    explicit EIpTlsError(const std::string& message, TIpTlsFailure cause = TIpTlsFailure::tfOther)
        : EIpBaseException(message), FCause(cause) {}
    TIpTlsFailure Cause() const { return FCause; }

private:
    TIpTlsFailure FCause;
};

// Codes of the error notifications the encryption layer raises.
struct TIpTlsCode {
    static constexpr int32_t HandshakeFailed = 20001;
    static constexpr int32_t CertificateRefused = 20002;
};

// One TLS client session over memory buffers: the data socket feeds it the bytes it received
// and sends the bytes it produces, so reading and writing stay in the socket's own non-blocking
// readiness handling. A read can produce bytes to send (a key update) and a write never waits
// for the peer: whatever OpenSSL wants to send collects in Output().
//
// States: handshaking -> established (Handshake() returned hsDone) -> closing (Close() sent our
// close_notify; reading goes on) -> the peer's close_notify (Read() returns -1). A failed
// handshake raises EIpTlsError.
//
// The handshake does not stop on a certificate that fails the check: the verdict is read once
// the handshake is done (Peer()), so that the owner can ask whether the user trusts the
// certificate before a single byte of the protocol goes out.
//
// The layer runs on the process's shared context (TIpTlsContext) and offers the last session
// the same server issued, so that the server may resume it instead of a full handshake. A
// resumed connection is checked like any other, against the certificate its session carries.
// A session the server issues is kept for later connections only once the owner has accepted
// the certificate. Verdict: pending -> accepted or refused (Decide, once); while pending, an
// issued session is held back, and on a refusal dropped.
class TIpTlsLayer {
public:
    enum class THandshake : uint8_t { hsPending, hsDone };

    // `host` is the host as typed (an IPv6 literal without brackets): a name gets SNI and the
    // name check, an IPv4 or IPv6 address no SNI and the check against the certificate's IP
    // entries. `onConnect`: TLS from the first byte, else after STARTTLS; a session is offered
    // only to the same host, port and way. Raises EIpTlsError when the authorities cannot be
    // loaded.
    TIpTlsLayer(const TIpTlsSettings& settings, const std::string& host, uint16_t port,
                bool onConnect);
    // OpenSSL holds the layer's address for its new-session callback.
    TIpTlsLayer(const TIpTlsLayer&) = delete;
    TIpTlsLayer& operator=(const TIpTlsLayer&) = delete;
    ~TIpTlsLayer();

    // Runs the handshake as far as the received bytes allow; raises EIpTlsError on failure.
    THandshake Handshake();
    bool Established() const { return FEstablished; }

    // Bytes received from the socket.
    void Feed(const char* data, size_t length);
    // Decrypted bytes into `data`: their count, 0 when more received bytes are needed, -1 once
    // the peer has closed the session.
    int Read(char* data, uint32_t room);
    // Encrypts up to `length` bytes into Output(); returns how many were taken.
    uint32_t Write(const char* data, uint32_t length);
    // Puts the close_notify alert into Output(), once; reading goes on until the peer's own.
    void Close();

    // Bytes to send, in order; the socket removes what it has sent with Consumed().
    const char* OutputData() const { return FOutput.data() + FOutputSent; }
    size_t OutputSize() const { return FOutput.size() - FOutputSent; }
    void Consumed(size_t count);

    // The session and certificate once the handshake is done.
    TIpTlsPeer Peer() const;
    // The owner's verdict on the certificate of the finished handshake, once.
    void Decide(bool accepted);

    // OpenSSL's new-session callback of the shared contexts: the session goes to the layer of
    // `ssl`. Returns 1, the session being taken.
    static int SessionIssued(SSL* ssl, SSL_SESSION* session);

    // Every error OpenSSL has queued, as one text (its reason strings), and the queue emptied.
    static std::string ErrorText();
    // The cause of a failed handshake from the first error OpenSSL has queued (left queued).
    static TIpTlsFailure FailureOf(int sslError);

private:
    enum class TVerdict : uint8_t { vdPending, vdAccepted, vdRefused };

    void CollectOutput();
    [[noreturn]] void Fail(int result, const char* during);

    std::shared_ptr<TIpTlsContext> FContext;
    // The key of this server's sessions in FContext.
    std::string FServer;
    TVerdict FVerdict = TVerdict::vdPending;
    // A session issued before the verdict.
    TIpSslSessionPtr FIssued;
    TIpSslPtr FSsl;
    BIO* FReceived = nullptr; // owned by FSsl
    BIO* FToSend = nullptr;   // owned by FSsl
    std::string FHost;
    uint16_t FPort = 0;
    bool FEstablished = false;
    bool FClosed = false;
    // OpenSSL reported an error: the session is not to be resumed.
    bool FFailed = false;
    std::string FOutput;
    size_t FOutputSent = 0;
};
