#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Why the server's certificate failed the check; cpNone when it passed.
enum class TIpCertProblem : uint8_t {
    cpNone,
    cpNameMismatch,
    cpExpired,
    cpNotYetValid,
    cpUntrusted,
    cpOther
};

// What a finished handshake tells about the server: the session's parameters and the
// certificate, with the verdict of the check against the trusted authorities and the host name.
struct TIpTlsPeer {
    // The host as typed (name, IPv4 or IPv6 text, no brackets) and the port, host order: the key
    // of a trusted certificate.
    std::string Host;
    uint16_t Port = 0;
    // The numeric address the connection reached: one name may stand for several machines.
    std::string Address;
    std::string Protocol;
    std::string Cipher;
    // True when the server took up the session of an earlier connection: no certificate was
    // sent, the one checked is the one the session was made with.
    bool Resumed = false;
    std::string Subject;
    std::string Issuer;
    std::string ValidFrom;
    std::string ValidUntil;
    // SHA-256 of the certificate's DER form, upper-case hex pairs divided by colons.
    std::string Fingerprint;
    TIpCertProblem Problem = TIpCertProblem::cpNone;
    // The problem in words a person understands; empty without a problem.
    std::string ProblemText;
    // True when the connection goes on: the check passed, or the user trusts this very
    // certificate for this host and port.
    bool Accepted = false;
};

// How a data socket encrypts: the authorities it trusts and who decides on a certificate that
// fails the check.
struct TIpTlsSettings {
    // A PEM file of authorities to trust instead of the system's (tests use their own).
    std::string CaFile;
    // Asked after a handshake whose certificate failed the check: true when the user has trusted
    // this certificate for this host and port before. Unset: nothing is trusted beyond the check.
    std::function<bool(const TIpTlsPeer& peer)> IsTrusted;
};
