// A delaying relay to run kordb-cli through by hand:
//   delay_relay TARGET_PORT ONE_WAY_MS [SECONDS]
// relays a free port of 127.0.0.1 to 127.0.0.1:TARGET_PORT, each direction held ONE_WAY_MS
// (fractions allowed), prints the port it listens on, and stops at SIGINT or SIGTERM, or
// after SECONDS (default 3600).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "bench/relay.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: delay_relay TARGET_PORT ONE_WAY_MS [SECONDS]\n");
        return 2;
    }
    char* end = nullptr;
    long target = std::strtol(argv[1], &end, 10);
    if (*end || target < 1 || target > 65535) {
        std::fprintf(stderr, "delay_relay: TARGET_PORT \"%s\" is not a port number\n", argv[1]);
        return 2;
    }
    double ms = std::strtod(argv[2], &end);
    if (*end || !(ms >= 0 && ms <= 10000)) {
        std::fprintf(stderr, "delay_relay: ONE_WAY_MS \"%s\" is not a delay from 0 to 10000\n",
                     argv[2]);
        return 2;
    }
    long seconds = argc > 3 ? std::strtol(argv[3], &end, 10) : 3600;
    if (argc > 3 && (*end || seconds < 1)) {
        std::fprintf(stderr, "delay_relay: SECONDS \"%s\" is not a positive number\n", argv[3]);
        return 2;
    }
    // Blocked before any thread starts, so that only the wait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        kordb::bench::DelayRelay relay(std::uint16_t(target),
                                       std::chrono::microseconds(long(ms * 1000)),
                                       std::chrono::seconds(seconds));
        std::printf("%u\n", unsigned(relay.port()));
        std::fflush(stdout);
        timespec limit{seconds, 0};
        sigtimedwait(&stopSignals, nullptr, &limit);
        relay.stop();
        std::fprintf(stderr, "delay_relay: %ld round trips relayed\n", relay.turns());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "delay_relay: %s\n", e.what());
        return 1;
    }
    return 0;
}
