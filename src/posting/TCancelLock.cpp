#include "posting/TCancelLock.h"

#include "mime/EIpBaseException.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>

// OpenSSL is linked for the encrypted connections already, and the scheme is one HMAC and one
// hash; the tests hold the values against the `canlock` tool, so a misreading of the scheme
// cannot pass unnoticed.
namespace {
constexpr std::string_view kScheme = "sha256:";

std::string Base64(const unsigned char* bytes, size_t size) {
    std::string text(4 * ((size + 2) / 3), '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes,
                                        static_cast<int>(size));
    text.resize(static_cast<size_t>(written));
    return text;
}

// The Base64 text of the key, without the scheme: the lock is the hash of exactly this text.
std::string KeyText(std::string_view secret, std::string_view messageId) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int size = 0;
    if (HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
             reinterpret_cast<const unsigned char*>(messageId.data()), messageId.size(), mac.data(),
             &size) == nullptr)
        throw EIpBaseException("Cannot compute a Cancel-Key");
    return Base64(mac.data(), size);
}
} // namespace

std::string TCancelLock::Key(std::string_view secret, std::string_view messageId) {
    return std::string(kScheme) + KeyText(secret, messageId);
}

std::string TCancelLock::Lock(std::string_view secret, std::string_view messageId) {
    const std::string key = KeyText(secret, messageId);
    std::array<unsigned char, SHA256_DIGEST_LENGTH> hash{};
    SHA256(reinterpret_cast<const unsigned char*>(key.data()), key.size(), hash.data());
    return std::string(kScheme) + Base64(hash.data(), hash.size());
}

std::string TCancelLock::NewSecret() {
    std::string secret(SecretSize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(secret.data()), static_cast<int>(SecretSize)) !=
        1)
        throw EIpBaseException("No random bytes for a Cancel-Lock secret");
    return secret;
}
