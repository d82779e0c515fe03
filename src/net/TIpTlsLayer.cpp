#include "net/TIpTlsLayer.h"

#include "net/TIpHostPort.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>

namespace {

struct TIpBioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using TIpBioPtr = std::unique_ptr<BIO, TIpBioFree>;

struct TIpX509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using TIpX509Ptr = std::unique_ptr<X509, TIpX509Free>;

std::string NameText(const X509_NAME* name) {
    const TIpBioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || name == nullptr)
        return {};
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string Sha256Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    static const char Hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0)
            text += ':';
        text += Hex[digest[i] >> 4];
        text += Hex[digest[i] & 15];
    }
    return text;
}

TIpCertProblem ProblemOf(long verifyResult) {
    switch (verifyResult) {
    case X509_V_OK:
        return TIpCertProblem::cpNone;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TIpCertProblem::cpNameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TIpCertProblem::cpExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TIpCertProblem::cpNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return TIpCertProblem::cpUntrusted;
    default:
        return TIpCertProblem::cpOther;
    }
}

std::string ProblemText(TIpCertProblem problem, long verifyResult, const std::string& host) {
    switch (problem) {
    case TIpCertProblem::cpNone:
        return {};
    case TIpCertProblem::cpNameMismatch:
        return "The certificate does not name this server: it was not issued for \"" + host + "\".";
    case TIpCertProblem::cpExpired:
        return "The certificate has expired.";
    case TIpCertProblem::cpNotYetValid:
        return "The certificate is not valid yet.";
    case TIpCertProblem::cpUntrusted:
        return "The certificate is not trusted: it is self-signed or issued by an authority "
               "this computer does not trust.";
    case TIpCertProblem::cpOther:
        break;
    }
    return std::string("The certificate could not be checked: ") +
           X509_verify_cert_error_string(verifyResult) + ".";
}

} // namespace

TIpTlsLayer::TIpTlsLayer(const TIpTlsSettings& settings, const std::string& host, uint16_t port,
                         bool onConnect)
    : FContext(TIpTlsContext::For(settings)),
      FServer(TIpHostPort::Join(host, port) + (onConnect ? " TLS" : " STARTTLS")), FHost(host),
      FPort(port) {
    FSsl.reset(SSL_new(FContext->Handle()));
    FReceived = BIO_new(BIO_s_mem());
    FToSend = BIO_new(BIO_s_mem());
    if (!FSsl || FReceived == nullptr || FToSend == nullptr) {
        BIO_free(FReceived);
        BIO_free(FToSend);
        throw EIpTlsError("TLS setup failed: " + ErrorText());
    }
    // An empty buffer means "wait for more", not the end of the stream.
    BIO_set_mem_eof_return(FReceived, -1);
    SSL_set_bio(FSsl.get(), FReceived, FToSend);
    SSL_set_connect_state(FSsl.get());
    SSL_set_app_data(FSsl.get(), this);
    if (const TIpSslSessionPtr offered = FContext->Session(FServer))
        SSL_set_session(FSsl.get(), offered.get());
    SSL_set_mode(FSsl.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set_hostflags(FSsl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool named = false;
    if (TIpHostPort::IsIpLiteral(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl.get()), host.c_str()) == 1;
    } else {
        named = SSL_set_tlsext_host_name(FSsl.get(), host.c_str()) == 1 &&
                SSL_set1_host(FSsl.get(), host.c_str()) == 1;
    }
    if (!named)
        throw EIpTlsError("TLS setup failed for \"" + host + "\": " + ErrorText());
}

TIpTlsLayer::~TIpTlsLayer() {
    // Freed before both close_notify alerts have passed, a connection counts to OpenSSL as cut
    // off, and it spoils the connection's session, which is the one kept for the next connection
    // once the server has issued one. Only a failure of TLS itself or a refused certificate
    // is a reason not to resume: a server that closes without its alert, or a run that drops its
    // connections as it ends, is not.
    if (FVerdict == TVerdict::vdAccepted && !FFailed)
        SSL_set_shutdown(FSsl.get(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
}

TIpTlsLayer::THandshake TIpTlsLayer::Handshake() {
    const int result = SSL_do_handshake(FSsl.get());
    CollectOutput();
    if (result == 1) {
        FEstablished = true;
        return THandshake::hsDone;
    }
    const int error = SSL_get_error(FSsl.get(), result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return THandshake::hsPending;
    Fail(result, "TLS handshake failed");
}

void TIpTlsLayer::Feed(const char* data, size_t length) {
    if (length > 0 &&
        BIO_write(FReceived, data, static_cast<int>(length)) != static_cast<int>(length))
        throw EIpTlsError("TLS receive buffer: " + ErrorText());
}

int TIpTlsLayer::Read(char* data, uint32_t room) {
    const int result = SSL_read(FSsl.get(), data, static_cast<int>(room));
    CollectOutput();
    if (result > 0)
        return result;
    switch (SSL_get_error(FSsl.get(), result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return 0;
    case SSL_ERROR_ZERO_RETURN:
        return -1;
    default:
        Fail(result, "TLS receive failed");
    }
}

uint32_t TIpTlsLayer::Write(const char* data, uint32_t length) {
    if (length == 0)
        return 0;
    const int result = SSL_write(FSsl.get(), data, static_cast<int>(length));
    CollectOutput();
    if (result > 0)
        return static_cast<uint32_t>(result);
    const int error = SSL_get_error(FSsl.get(), result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return 0;
    Fail(result, "TLS send failed");
}

void TIpTlsLayer::Close() {
    if (FEstablished && !FClosed)
        SSL_shutdown(FSsl.get());
    FClosed = true;
    ERR_clear_error();
    CollectOutput();
}

void TIpTlsLayer::Consumed(size_t count) {
    FOutputSent += count;
    if (FOutputSent >= FOutput.size()) {
        FOutput.clear();
        FOutputSent = 0;
    }
}

void TIpTlsLayer::CollectOutput() {
    const size_t pending = BIO_ctrl_pending(FToSend);
    if (pending == 0)
        return;
    const size_t at = FOutput.size();
    FOutput.resize(at + pending);
    const int read = BIO_read(FToSend, FOutput.data() + at, static_cast<int>(pending));
    FOutput.resize(at + static_cast<size_t>(read > 0 ? read : 0));
}

TIpTlsPeer TIpTlsLayer::Peer() const {
    TIpTlsPeer peer;
    peer.Host = FHost;
    peer.Port = FPort;
    SSL* ssl = FSsl.get();
    peer.Protocol = SSL_get_version(ssl);
    peer.Cipher = SSL_get_cipher_name(ssl);
    peer.Resumed = SSL_session_reused(ssl) == 1;
    const TIpX509Ptr certificate(SSL_get1_peer_certificate(ssl));
    if (!certificate) {
        peer.Problem = TIpCertProblem::cpOther;
        peer.ProblemText = "The server sent no certificate.";
        return peer;
    }
    peer.Subject = NameText(X509_get_subject_name(certificate.get()));
    peer.Issuer = NameText(X509_get_issuer_name(certificate.get()));
    peer.ValidFrom = TimeText(X509_get0_notBefore(certificate.get()));
    peer.ValidUntil = TimeText(X509_get0_notAfter(certificate.get()));
    peer.Fingerprint = Sha256Fingerprint(certificate.get());
    const long verifyResult = SSL_get_verify_result(ssl);
    peer.Problem = ProblemOf(verifyResult);
    peer.ProblemText = ProblemText(peer.Problem, verifyResult, FHost);
    peer.Accepted = peer.Problem == TIpCertProblem::cpNone;
    return peer;
}

void TIpTlsLayer::Decide(bool accepted) {
    if (FVerdict != TVerdict::vdPending)
        return;
    FVerdict = accepted ? TVerdict::vdAccepted : TVerdict::vdRefused;
    if (accepted && FIssued)
        FContext->Keep(FServer, std::move(FIssued));
    FIssued.reset();
}

int TIpTlsLayer::SessionIssued(SSL* ssl, SSL_SESSION* session) {
    TIpSslSessionPtr issued(session);
    auto* layer = static_cast<TIpTlsLayer*>(SSL_get_app_data(ssl));
    if (layer == nullptr)
        return 1;
    switch (layer->FVerdict) {
    case TVerdict::vdPending:
        layer->FIssued = std::move(issued);
        break;
    case TVerdict::vdAccepted:
        layer->FContext->Keep(layer->FServer, std::move(issued));
        break;
    case TVerdict::vdRefused:
        break;
    }
    return 1;
}

std::string TIpTlsLayer::ErrorText() {
    std::string text;
    for (unsigned long error = ERR_get_error(); error != 0; error = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(error);
        if (!text.empty())
            text += "; ";
        text += reason != nullptr ? reason : "unknown error";
    }
    return text;
}

TIpTlsFailure TIpTlsLayer::FailureOf(int sslError) {
    const unsigned long error = ERR_peek_error();
    if (error == 0)
        return sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN
                   ? TIpTlsFailure::tfClosed
                   : TIpTlsFailure::tfOther;
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return TIpTlsFailure::tfOther;
    switch (ERR_GET_REASON(error)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
        return TIpTlsFailure::tfNotTls;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
        return TIpTlsFailure::tfProtocolVersion;
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
        return TIpTlsFailure::tfCertificate;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        return TIpTlsFailure::tfClosed;
    default:
        return TIpTlsFailure::tfOther;
    }
}

void TIpTlsLayer::Fail(int result, const char* during) {
    FFailed = true;
    const int error = SSL_get_error(FSsl.get(), result);
    const TIpTlsFailure cause = FEstablished ? TIpTlsFailure::tfOther : FailureOf(error);
    std::string reason = ErrorText();
    if (reason.empty())
        reason = error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                     ? "the server closed the connection"
                     : "error " + std::to_string(error);
    const std::string server = TIpHostPort::Join(FHost, FPort);
    switch (cause) {
    case TIpTlsFailure::tfNotTls:
        throw EIpTlsError(server + " did not answer with TLS.", cause);
    case TIpTlsFailure::tfProtocolVersion:
        throw EIpTlsError(server +
                              " and this program have no TLS version in common (this "
                              "program uses TLS 1.2 and newer): " +
                              reason + ".",
                          cause);
    case TIpTlsFailure::tfCertificate:
        throw EIpTlsError(server + " ended the TLS handshake over a certificate: " + reason + ".",
                          cause);
    case TIpTlsFailure::tfClosed:
        throw EIpTlsError(server + " closed the connection during the TLS handshake.", cause);
    case TIpTlsFailure::tfOther:
        break;
    }
    throw EIpTlsError(std::string(during) + ": " + reason);
}
