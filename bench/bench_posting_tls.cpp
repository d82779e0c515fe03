// What encryption costs a posting run: a 1 KB message to 200 groups on the local news server,
// on 2 and on 8 connections with no added delay, over implicit TLS next to the same run in
// clear, alternating round by round so both meet the same load. Each figure runs from StartPost
// to the verdict on the last group, connection set-up included; the median of the rounds
// counts. The TLS runs also say how many of their connections resumed an earlier session and
// how many client contexts the whole process made.
//
// Two ways to the server:
//   - straight: the news server starts every connection in a process of its own, which sets up
//     TLS from nothing (its certificate, key and the system's authorities read again) and whose
//     session tickets no other process can read, so no connection is ever resumed;
//   - through a relay on this machine that ends TLS with one context for all connections, as a
//     server that keeps its TLS set-up does, and passes the plain bytes to the news server's
//     plain port; the clear runs take the same relay without TLS, so encryption is the only
//     difference.

#include "bench_baseline.h"
#include "bench_posting_run.h"

#include "net/TIpTlsContext.h"
#include "posting/TNewsOperation.h"
#include "support/LoopbackSockets.h"
#include "support/NewsServer.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

static constexpr int Groups = 200;
static constexpr int Rounds = 9;

// The relay: each accepted connection on a thread of its own, blocking sockets, TLS (when it has
// a context) on the accepted side only.
class TlsRelay {
public:
    TlsRelay(uint16_t target, SSL_CTX* tls) : FTarget(target), FTls(tls) {
        FListener = ListenOnLoopback(FPort);
        FThread = std::thread([this] { Accept(); });
    }
    ~TlsRelay() {
        FStop = true;
        FThread.join();
        ::close(FListener);
        std::scoped_lock lock(FLock);
        for (std::thread& connection : FConnections)
            connection.join();
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }

private:
    void Accept() {
        while (!FStop) {
            pollfd waiting{FListener, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0)
                continue;
            const int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::scoped_lock lock(FLock);
            FConnections.emplace_back([this, client] { Serve(client); });
        }
    }
    void Serve(int client) {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in target = Loopback(FTarget);
        const int on = 1;
        for (const int fd : {client, server})
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        TIpSslPtr ssl(FTls ? SSL_new(FTls) : nullptr);
        if (ssl)
            SSL_set_fd(ssl.get(), client);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 &&
            (!ssl || SSL_accept(ssl.get()) == 1))
            Relay(client, server, ssl.get());
        ::close(server);
        ::close(client);
    }
    static void Relay(int client, int server, SSL* ssl) {
        char buffer[16384] = {};
        for (;;) {
            pollfd waiting[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (!(ssl && SSL_pending(ssl) > 0) && ::poll(waiting, 2, -1) <= 0)
                return;
            if ((ssl && SSL_pending(ssl) > 0) || waiting[0].revents != 0) {
                const int n = ssl ? SSL_read(ssl, buffer, sizeof buffer)
                                  : static_cast<int>(::recv(client, buffer, sizeof buffer, 0));
                if (n <= 0 || ::send(server, buffer, size_t(n), MSG_NOSIGNAL) != n)
                    return;
            }
            if (waiting[1].revents != 0) {
                const int n = static_cast<int>(::recv(server, buffer, sizeof buffer, 0));
                if (n <= 0 ||
                    (ssl ? SSL_write(ssl, buffer, n)
                         : static_cast<int>(::send(client, buffer, size_t(n), MSG_NOSIGNAL))) != n)
                    return;
            }
        }
    }

    uint16_t FTarget = 0;
    SSL_CTX* FTls = nullptr;
    int FListener = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<std::thread> FConnections;
    std::thread FThread;
};

struct TlsRun {
    double Seconds = 0;
    int Encrypted = 0;
    int Resumed = 0;
};

// One run of a fresh engine; nullopt when it failed or lost a group. `authority` empty: in clear.
static std::optional<TlsRun> Run(const std::string& host, const std::string& authority,
                                 int connections, const std::vector<std::string>& groups,
                                 const std::vector<std::string>& body, const std::string& subject) {
    TNewsOperation operation;
    TlsRun result;
    operation.Events().Encrypted = [&](const TIpTlsPeer& peer) {
        ++result.Encrypted;
        result.Resumed += peer.Resumed ? 1 : 0;
    };
    TNewsRequest request = BenchRequest(host, groups, body, subject);
    if (!authority.empty()) {
        request.Security = TIpNntpSecurity::nySecTls;
        request.Tls.CaFile = authority;
    }
    request.Connections = connections;
    const std::optional<double> seconds = TimedRun(operation, std::move(request));
    if (!seconds)
        return std::nullopt;
    result.Seconds = *seconds;
    return result;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    NewsServer server;
    if (!server.Start({"--fresh", "--tls", "--groups", QString::number(Groups)})) {
        std::fprintf(stderr, "news server: %s\n", server.Output().constData());
        return 1;
    }
    const std::string authority = server.CertificatePath().toStdString();
    const std::vector<std::string> groups = BulkGroupNames(Groups);
    std::vector<std::string> body;
    for (const QString& line : KilobyteBody())
        body.push_back(line.toStdString());

    const QString certificate = server.CertificatePath("good");
    const std::string key =
        certificate.left(certificate.lastIndexOf('/')).toStdString() + "/key.pem";
    const TIpSslCtxPtr relayContext(SSL_CTX_new(TLS_server_method()));
    SSL_CTX_use_certificate_file(relayContext.get(), certificate.toUtf8(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(relayContext.get(), key.c_str(), SSL_FILETYPE_PEM);
    const TlsRelay plainRelay(server.Port(), nullptr);
    const TlsRelay tlsRelay(server.Port(), relayContext.get());
    struct Route {
        const char* Name;
        std::string Clear;
        std::string Tls;
    };
    const Route routes[] = {
        {"straight to the news server", server.Host().toStdString(),
         server.TlsHost().toStdString()},
        {"through a relay with one TLS context", plainRelay.Address(), tlsRelay.Address()}};

    bool ok = true;
    std::printf("1 KB message to %d groups, TLS against clear (median of %d rounds)\n", Groups,
                Rounds);
    for (const Route& route : routes) {
        std::printf(" %s\n", route.Name);
        for (const auto& [connections, goal] : {std::pair{2, 1.15}, std::pair{8, 1.2}}) {
            std::vector<double> seconds[2];
            int encrypted = 0;
            int resumed = 0;
            for (int round = 0; round < Rounds; ++round)
                for (const int tls : {0, 1}) {
                    const std::string subject = "tls bench " + std::string(route.Name) + " " +
                                                std::to_string(connections) + " " +
                                                std::to_string(round) + " " + std::to_string(tls);
                    const std::optional<TlsRun> run =
                        Run(tls ? route.Tls : route.Clear, tls ? authority : std::string(),
                            connections, groups, body, subject);
                    if (!run) {
                        ok = false;
                        continue;
                    }
                    seconds[tls].push_back(run->Seconds);
                    encrypted += run->Encrypted;
                    resumed += run->Resumed;
                }
            const double clear = Median(seconds[0]);
            const double tls = Median(seconds[1]);
            std::printf("  %d connections: TLS %8.3f s   clear %8.3f s   ratio %.2f (goal <= "
                        "%.2f); %d of %d TLS connections resumed\n",
                        connections, tls, clear, clear > 0 ? tls / clear : 0.0, goal, resumed,
                        encrypted);
        }
    }
    std::printf("  client contexts made: %llu\n",
                static_cast<unsigned long long>(TIpTlsContext::Made()));
    return ok ? 0 : 1;
}
