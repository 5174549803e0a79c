#pragma once

// Internal to db/: a thread that watches one connection's calls into the
// client library and breaks off one that waits on a server for too long, or
// an attach when the program is asked to stop. It shuts down the TCP
// sockets of that attach or attachment: the client library then fails the
// call as a lost connection, and no other thread's work is touched. The
// client itself offers no way to interrupt an attach in progress, and a
// signal taken by the thread inside it leaves the embedded engine unable to
// detach.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace db {

class CallWatch {
public:
    enum class Reason { None, Stalled, Stopped };

    CallWatch();
    ~CallWatch();
    CallWatch(const CallWatch&) = delete;
    CallWatch& operator=(const CallWatch&) = delete;

    // One attach under watch, for as long as it lives. The sockets that
    // exist when it starts are not its own. A call that waits longer than
    // `limitSeconds` (0: no limit) is broken off; with `stopOnTermination`,
    // so is an attach once a termination signal has arrived, and any call
    // still waiting kStopGrace after it.
    //
    // An attach's sockets are told apart only as those that appeared while
    // it ran, so attaches under watch take turns across the process: one
    // made by another thread meanwhile would be shut down by this one's
    // break-off and taken as this attachment's. Attaches are few and short;
    // one that hangs is ended by its own bound, and the next then starts.
    class Attach {
    public:
        Attach(CallWatch& watch, int limitSeconds, bool stopOnTermination);
        ~Attach();
        Attach(const Attach&) = delete;
        Attach& operator=(const Attach&) = delete;
        // The attach has returned or failed: it is not broken off after this.
        void ended();
        // The attach succeeded: the sockets it made belong to the attachment.
        void succeeded();

    private:
        std::unique_lock<std::mutex> turn_;  // taken before the first look at the sockets
        CallWatch& watch_;
    };

    void detached();

    void callStarting();
    void callEnded();
    // Why the attach or call that just ended was broken off.
    Reason brokenOff() const;

    static constexpr std::chrono::seconds kStopGrace{10};

private:
    enum class Phase { Idle, Attaching, Calling };
    void attaching(int limitSeconds, bool stopOnTermination);
    void attachEnded();
    void attached();
    void watch();
    void breakOff(Reason reason);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    Phase phase_ = Phase::Idle;
    int depth_ = 0;
    std::chrono::steady_clock::time_point since_;
    std::chrono::steady_clock::time_point signalSeen_;
    bool signalNoted_ = false;
    int limitSeconds_ = 0;
    bool stopOnTermination_ = false;
    Reason reason_ = Reason::None;
    std::set<ino_t> before_;  // sockets that existed when the attach started
    std::set<ino_t> own_;     // sockets of the attachment
    std::thread thread_;
};

}  // namespace db
