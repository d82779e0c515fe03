#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The Cancel-Lock and Cancel-Key values (RFC 8315 §4, the sha256 scheme) that let the user, and
// no one else, withdraw an article later: the key of an article is the HMAC-SHA-256 of its
// Message-ID under the user's secret, the lock the SHA-256 of the key's Base64 text. The article
// carries the lock; the cancel or the Supersedes that withdraws it carries the key, which the
// server checks against the lock. Without a lock, a server that requires one keeps the article
// whatever is sent.
//
// The secret never leaves the machine: only the values made from it go into articles.
class TCancelLock {
public:
    // Bytes of a secret made by NewSecret.
    static constexpr size_t SecretSize = 32;

    // "sha256:<base64>" for the Cancel-Key of the article messageId ("<...>", as on the wire).
    static std::string Key(std::string_view secret, std::string_view messageId);
    // "sha256:<base64>" for the Cancel-Lock of the article messageId.
    static std::string Lock(std::string_view secret, std::string_view messageId);
    // SecretSize random bytes from the system's generator; raises EIpBaseException when it has
    // none to give, rather than lock articles with a guessable secret.
    static std::string NewSecret();
};
