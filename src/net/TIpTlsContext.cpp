#include "net/TIpTlsContext.h"

#include "net/TIpTlsLayer.h"

#include <atomic>
#include <filesystem>
#include <system_error>

namespace {

std::mutex ContextsLock;
std::atomic<uint64_t> ContextsMade{0};

// Never destroyed: OpenSSL cleans up at exit on its own, and a static destructor freeing the
// contexts might run after it.
std::map<std::string, std::shared_ptr<TIpTlsContext>>& Contexts() {
    static auto* contexts = new std::map<std::string, std::shared_ptr<TIpTlsContext>>();
    return *contexts;
}

// What tells one state of the authorities from another: the system's store is read once per
// process, a CA file again whenever it has been replaced or edited.
std::string AuthoritiesKey(const std::string& caFile) {
    if (caFile.empty())
        return {};
    std::error_code error;
    const auto written = std::filesystem::last_write_time(caFile, error);
    const auto size = std::filesystem::file_size(caFile, error);
    if (error)
        return caFile;
    return caFile + '\n' + std::to_string(written.time_since_epoch().count()) + '\n' +
           std::to_string(size);
}

TIpSslCtxPtr MakeContext(const std::string& caFile) {
    TIpSslCtxPtr context(SSL_CTX_new(TLS_client_method()));
    if (!context)
        throw EIpTlsError("TLS setup failed: " + TIpTlsLayer::ErrorText());
    SSL_CTX* handle = context.get();
    SSL_CTX_set_min_proto_version(handle, TLS1_2_VERSION);
    SSL_CTX_set_options(handle, SSL_OP_NO_COMPRESSION);
    // The verdict is taken from the finished handshake (see TIpTlsLayer), so the handshake
    // itself does not stop on it.
    SSL_CTX_set_verify(handle, SSL_VERIFY_NONE, nullptr);
    const int loaded = caFile.empty()
                           ? SSL_CTX_set_default_verify_paths(handle)
                           : SSL_CTX_load_verify_locations(handle, caFile.c_str(), nullptr);
    if (loaded != 1)
        throw EIpTlsError("Cannot load the trusted certificate authorities: " +
                          TIpTlsLayer::ErrorText());
    // Sessions are kept by TIpTlsContext per server, and only once the layer has the verdict on
    // the certificate; OpenSSL's own store would key them by nothing we choose.
    SSL_CTX_set_session_cache_mode(handle,
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(handle, &TIpTlsLayer::SessionIssued);
    return context;
}

} // namespace

std::shared_ptr<TIpTlsContext> TIpTlsContext::For(const TIpTlsSettings& settings) {
    const std::string key = AuthoritiesKey(settings.CaFile);
    std::scoped_lock lock(ContextsLock);
    auto& contexts = Contexts();
    if (const auto found = contexts.find(key); found != contexts.end())
        return found->second;
    auto made = std::make_shared<TIpTlsContext>(MakeContext(settings.CaFile));
    ++ContextsMade;
    // An earlier state of the same file is of no use any more.
    if (!settings.CaFile.empty())
        std::erase_if(contexts, [&](const auto& entry) {
            return entry.first.rfind(settings.CaFile + '\n', 0) == 0;
        });
    contexts.emplace(key, made);
    return made;
}

uint64_t TIpTlsContext::Made() {
    return ContextsMade;
}

TIpSslSessionPtr TIpTlsContext::Session(const std::string& server) const {
    std::scoped_lock lock(FLock);
    const auto found = FSessions.find(server);
    if (found == FSessions.end() || SSL_SESSION_up_ref(found->second.get()) != 1)
        return nullptr;
    return TIpSslSessionPtr(found->second.get());
}

void TIpTlsContext::Keep(const std::string& server, TIpSslSessionPtr session) {
    std::scoped_lock lock(FLock);
    FSessions[server] = std::move(session);
}
