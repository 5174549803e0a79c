#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

// A TCP relay on loopback that makes a server on this machine look far
// away: every connection accepted on port() is forwarded to the target, and
// every chunk of bytes, in either direction, is handed on `oneWay` after it
// arrived (a round trip costs twice that). Chunks keep their order and are
// not held behind one another: a chunk that arrives 1 ms after the one
// before leaves 1 ms after it. Connections are served at once, each by
// threads of its own, until either side closes or the proxy is destroyed.
class LatencyProxy {
public:
    // Listens on 127.0.0.1:`listenPort` (0: a free port the system picks).
    // Throws std::runtime_error when the target cannot be resolved or the
    // port cannot be bound.
    LatencyProxy(const std::string& targetHost, int targetPort, std::chrono::microseconds oneWay, int listenPort = 0);
    // Stops accepting, cuts every open connection and waits for its threads.
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    int port() const { return port_; }
    std::chrono::microseconds oneWay() const { return oneWay_; }
    // Round trips the clients waited for, over all connections so far: how
    // often a client sent again after its server had answered (its first
    // send counts as one). A client that sends twice without waiting in
    // between pays one round trip, and it counts once.
    long exchanges() const { return exchanges_; }

private:
    class Connection;
    void acceptLoop();
    void forgetFinishedConnections();

    sockaddr_in target_{};
    std::chrono::microseconds oneWay_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<long> exchanges_{0};
    std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::thread acceptor_;
};

}  // namespace bench
