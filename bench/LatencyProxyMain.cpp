// tavolene_latency_proxy: the benchmark's latency proxy on its own, to put a
// round trip between a client and a server by hand, for instance
//
//   tavolene_latency_proxy --listen 3070 --target localhost:3061 --round-trip-ms 50
//   isql-fb localhost/3070:/path/central.fdb
//
// Runs until interrupted (SIGINT or SIGTERM).

#include <charconv>
#include <csignal>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "LatencyProxy.h"

namespace {

int wholeNumber(const std::string& text, const std::string& option) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        throw std::invalid_argument(option + " needs a whole number, not \"" + text + "\"");
    return value;
}

constexpr const char* kUsage = "usage: tavolene_latency_proxy --target HOST:PORT --round-trip-ms MS [--listen PORT]\n";

}  // namespace

int main(int argc, char** argv) {
    std::string host;
    int targetPort = 0, listenPort = 0, roundTripMs = -1;
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string& option = arguments[i];
            if (i + 1 >= arguments.size()) throw std::invalid_argument(option + " needs a value");
            const std::string& value = arguments[++i];
            if (option == "--listen") {
                listenPort = wholeNumber(value, option);
            } else if (option == "--round-trip-ms") {
                roundTripMs = wholeNumber(value, option);
            } else if (option == "--target") {
                const auto colon = value.rfind(':');
                if (colon == std::string::npos || colon == 0)
                    throw std::invalid_argument("--target needs HOST:PORT, not \"" + value + "\"");
                host = value.substr(0, colon);
                targetPort = wholeNumber(value.substr(colon + 1), option);
            } else {
                throw std::invalid_argument("unknown argument \"" + option + "\"");
            }
        }
        if (host.empty() || roundTripMs < 0) throw std::invalid_argument("--target and --round-trip-ms are required");
    } catch (const std::invalid_argument& bad) {
        std::cerr << bad.what() << "\n" << kUsage;
        return 2;
    }

    // Blocked before the proxy starts its threads, so that only sigwait
    // below takes them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    try {
        // Half of the round trip each way; an odd millisecond is split in
        // microseconds.
        const bench::LatencyProxy proxy(host, targetPort, std::chrono::microseconds(roundTripMs * 500), listenPort);
        std::cout << "127.0.0.1:" << proxy.port() << " -> " << host << ":" << targetPort << ", round trip "
                  << roundTripMs << " ms" << std::endl;
        int received = 0;
        sigwait(&endSignals, &received);
    } catch (const std::exception& failure) {
        std::cerr << "tavolene_latency_proxy: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
