#include "db/CallWatch.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>

#include "db/ClientEnvironment.h"

namespace db {

namespace {

// The process's TCP sockets (IPv4 and IPv6), by inode, with their
// descriptors. An inode, unlike a descriptor number, is not reused while
// the socket is open.
std::map<ino_t, int> tcpSockets() {
    std::map<ino_t, int> sockets;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return sockets;
    while (const dirent* entry = readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(folder)) continue;
        struct stat info;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
        if (address.ss_family == AF_INET || address.ss_family == AF_INET6) sockets[info.st_ino] = static_cast<int>(fd);
    }
    closedir(folder);
    return sockets;
}

std::set<ino_t> inodes(const std::map<ino_t, int>& sockets) {
    std::set<ino_t> result;
    for (const auto& [inode, fd] : sockets) result.insert(inode);
    return result;
}

// Held by the attach under watch, whichever connection and thread it is on.
std::mutex& attachTurn() {
    static std::mutex turn;
    return turn;
}

}  // namespace

CallWatch::Attach::Attach(CallWatch& watch, int limitSeconds, bool stopOnTermination)
    : turn_(attachTurn()), watch_(watch) {
    watch_.attaching(limitSeconds, stopOnTermination);
}

CallWatch::Attach::~Attach() { ended(); }

void CallWatch::Attach::ended() { watch_.attachEnded(); }

void CallWatch::Attach::succeeded() {
    ended();
    watch_.attached();
}

CallWatch::CallWatch() : thread_([this] { watch(); }) {}

CallWatch::~CallWatch() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CallWatch::attaching(int limitSeconds, bool stopOnTermination) {
    const std::set<ino_t> existing = inodes(tcpSockets());
    std::lock_guard lock(mutex_);
    limitSeconds_ = limitSeconds;
    stopOnTermination_ = stopOnTermination;
    before_ = existing;
    own_.clear();
    reason_ = Reason::None;
    phase_ = Phase::Attaching;
    depth_ = 1;
    since_ = std::chrono::steady_clock::now();
}

void CallWatch::attachEnded() {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::Attaching) return;
    phase_ = Phase::Idle;
    depth_ = 0;
}

void CallWatch::attached() {
    std::set<ino_t> made = inodes(tcpSockets());
    std::lock_guard lock(mutex_);
    for (ino_t inode : before_) made.erase(inode);
    own_ = std::move(made);
}

void CallWatch::detached() {
    std::lock_guard lock(mutex_);
    own_.clear();
}

void CallWatch::callStarting() {
    std::lock_guard lock(mutex_);
    if (depth_++ > 0) return;  // a call inside a call: the outer one is timed
    reason_ = Reason::None;
    phase_ = Phase::Calling;
    since_ = std::chrono::steady_clock::now();
}

void CallWatch::callEnded() {
    std::lock_guard lock(mutex_);
    if (depth_ > 0 && --depth_ == 0) phase_ = Phase::Idle;
}

CallWatch::Reason CallWatch::brokenOff() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

void CallWatch::watch() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
        wake_.wait_for(lock, std::chrono::milliseconds(200));
        if (phase_ == Phase::Idle || reason_ != Reason::None) continue;
        const auto now = std::chrono::steady_clock::now();
        const bool signalled = stopOnTermination_ && TerminationSignal::received();
        if (signalled && !signalNoted_) {
            signalNoted_ = true;
            signalSeen_ = now;
        }
        if (signalled && (phase_ == Phase::Attaching || now - std::max(signalSeen_, since_) >= kStopGrace))
            breakOff(Reason::Stopped);
        else if (limitSeconds_ > 0 && now - since_ >= std::chrono::seconds(limitSeconds_))
            breakOff(Reason::Stalled);
    }
}

// With the lock held. shutdown() wakes the client's wait on the socket and
// fails its reads and writes; the descriptor stays the client's to close.
void CallWatch::breakOff(Reason reason) {
    reason_ = reason;
    for (const auto& [inode, fd] : tcpSockets()) {
        const bool ours = phase_ == Phase::Attaching ? before_.count(inode) == 0 : own_.count(inode) != 0;
        if (ours) shutdown(fd, SHUT_RDWR);
    }
}

}  // namespace db
