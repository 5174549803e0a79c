#include "LatencyProxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void failWithErrno(const std::string& what) {
    throw std::runtime_error("latency proxy: " + what + ": " + std::strerror(errno));
}

// Small messages are the whole point: Nagle's algorithm would hold them back
// for an acknowledgement and add a round trip of its own.
void sendAtOnce(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in resolve(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (error != 0 || !found)
        throw std::runtime_error("latency proxy: cannot resolve " + host + ": " + gai_strerror(error));
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    return address;
}

}  // namespace

// One relayed connection: for each direction a reader that stamps every
// chunk with the time it may leave, and a writer that sends it then. The end
// of a stream travels the same way, as a half close after the delay.
class LatencyProxy::Connection {
public:
    Connection(int clientFd, int serverFd, std::chrono::microseconds oneWay, std::atomic<long>& exchanges)
        : clientFd_(clientFd),
          serverFd_(serverFd),
          exchanges_(exchanges),
          toServer_(*this, clientFd, serverFd, oneWay, Side::Client),
          toClient_(*this, serverFd, clientFd, oneWay, Side::Server) {
        toServer_.start();
        toClient_.start();
    }

    ~Connection() {
        cut();
        toServer_.join();
        toClient_.join();
        close(clientFd_);
        close(serverFd_);
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool finished() const { return toServer_.finished() && toClient_.finished(); }

    // Ends both directions now, queued bytes and all: a side that failed
    // takes the connection with it, as a dropped line would.
    void cut() {
        toServer_.stop();
        toClient_.stop();
        shutdown(clientFd_, SHUT_RDWR);
        shutdown(serverFd_, SHUT_RDWR);
    }

private:
    enum class Side { None, Client, Server };

    // Called by a reader with each chunk as it arrives.
    void arrived(Side sender) {
        if (sender == Side::Client && lastSender_.exchange(sender) != Side::Client)
            ++exchanges_;
        else if (sender == Side::Server)
            lastSender_ = sender;
    }

    struct Chunk {
        Clock::time_point due;
        std::vector<char> bytes;  // empty: the sender closed its side
    };

    class Direction {
    public:
        Direction(Connection& connection, int from, int to, std::chrono::microseconds oneWay, Side sender)
            : connection_(connection), from_(from), to_(to), oneWay_(oneWay), sender_(sender) {}

        void start() {
            reader_ = std::thread([this] { readLoop(); });
            writer_ = std::thread([this] { writeLoop(); });
        }

        void join() {
            if (reader_.joinable()) reader_.join();
            if (writer_.joinable()) writer_.join();
        }

        void stop() {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            ready_.notify_all();
        }

        bool finished() const { return readerDone_ && writerDone_; }

    private:
        void readLoop() {
            std::vector<char> buffer(64 * 1024);
            for (;;) {
                const ssize_t got = recv(from_, buffer.data(), buffer.size(), 0);
                if (got < 0 && errno == EINTR) continue;
                const Clock::time_point due = Clock::now() + oneWay_;
                std::vector<char> bytes;
                if (got > 0) {
                    bytes.assign(buffer.data(), buffer.data() + got);
                    connection_.arrived(sender_);
                }
                {
                    std::lock_guard lock(mutex_);
                    queue_.push_back(Chunk{due, std::move(bytes)});
                    ready_.notify_all();
                }
                if (got <= 0) break;
            }
            readerDone_ = true;
        }

        void writeLoop() {
            for (;;) {
                Chunk chunk;
                {
                    std::unique_lock lock(mutex_);
                    ready_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
                    if (stopped_) break;
                    const Clock::time_point due = queue_.front().due;
                    if (ready_.wait_until(lock, due, [this] { return stopped_; })) break;
                    chunk = std::move(queue_.front());
                    queue_.pop_front();
                }
                if (chunk.bytes.empty()) {
                    shutdown(to_, SHUT_WR);
                    break;
                }
                if (!sendAll(chunk.bytes)) {
                    connection_.cut();
                    break;
                }
            }
            writerDone_ = true;
        }

        bool sendAll(const std::vector<char>& bytes) {
            std::size_t sent = 0;
            while (sent < bytes.size()) {
                const ssize_t written = send(to_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (written < 0 && errno == EINTR) continue;
                if (written <= 0) return false;
                sent += static_cast<std::size_t>(written);
            }
            return true;
        }

        Connection& connection_;
        const int from_;
        const int to_;
        const std::chrono::microseconds oneWay_;
        const Side sender_;
        std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<Chunk> queue_;
        bool stopped_ = false;
        std::atomic<bool> readerDone_{false};
        std::atomic<bool> writerDone_{false};
        std::thread reader_;
        std::thread writer_;
    };

    const int clientFd_;
    const int serverFd_;
    std::atomic<long>& exchanges_;
    std::atomic<Side> lastSender_{Side::None};
    Direction toServer_;
    Direction toClient_;
};

LatencyProxy::LatencyProxy(const std::string& targetHost, int targetPort, std::chrono::microseconds oneWay,
                           int listenPort)
    : target_(resolve(targetHost, targetPort)), oneWay_(oneWay) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) failWithErrno("socket");
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(listenPort));
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenFd_, 64) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int reason = errno;
        close(listenFd_);
        errno = reason;
        failWithErrno("cannot listen on 127.0.0.1:" + std::to_string(listenPort));
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LatencyProxy::~LatencyProxy() {
    stopping_ = true;
    // On Linux this wakes the blocked accept(), which then fails.
    shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    close(listenFd_);
    std::lock_guard lock(connectionsMutex_);
    connections_.clear();
}

void LatencyProxy::acceptLoop() {
    while (!stopping_) {
        const int clientFd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (clientFd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break;
        }
        forgetFinishedConnections();
        const int serverFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // The target's own answer to a refused connection is to close it; the
        // client sees that as the server not being there.
        if (serverFd < 0 || connect(serverFd, reinterpret_cast<const sockaddr*>(&target_), sizeof target_) != 0) {
            if (serverFd >= 0) close(serverFd);
            close(clientFd);
            continue;
        }
        sendAtOnce(clientFd);
        sendAtOnce(serverFd);
        std::lock_guard lock(connectionsMutex_);
        connections_.push_back(std::make_unique<Connection>(clientFd, serverFd, oneWay_, exchanges_));
    }
}

void LatencyProxy::forgetFinishedConnections() {
    std::lock_guard lock(connectionsMutex_);
    connections_.remove_if([](const std::unique_ptr<Connection>& connection) { return connection->finished(); });
}

}  // namespace bench
