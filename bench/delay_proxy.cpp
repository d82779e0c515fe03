// The delaying relay as a program of its own, for runs by hand (the command line, nntplib, a
// newsreader) against a server that should seem far away:
//   delay-proxy TARGET_PORT ONE_WAY_MS [TARGET_HOST]
// It prints the port it listens on (one line, then flushed) and relays until it is sent SIGINT
// or SIGTERM.

#include "support/DelayProxy.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s TARGET_PORT ONE_WAY_MS [TARGET_HOST]\n", argv[0]);
        return 2;
    }
    const long port = std::strtol(argv[1], nullptr, 10);
    const double delayMs = std::strtod(argv[2], nullptr);
    if (port <= 0 || port > 65535 || delayMs < 0) {
        std::fprintf(stderr, "%s: bad port or delay\n", argv[0]);
        return 2;
    }
    // Blocked before the relay's thread starts, so that only sigwait below receives them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    DelayProxy proxy(argc > 3 ? argv[3] : "127.0.0.1", static_cast<uint16_t>(port),
                     std::chrono::microseconds(static_cast<long long>(delayMs * 1000)));
    if (!proxy.Start()) {
        std::fprintf(stderr, "%s: %s\n", argv[0], proxy.Error().c_str());
        return 1;
    }
    std::printf("%u\n", proxy.Port());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop, &received);
    return 0;
}
