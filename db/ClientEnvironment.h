#pragma once

// What the process must settle before the Firebird client library is first
// used, and the termination signals (SIGINT, SIGTERM) turned into a flag and
// a file descriptor that an event loop or a row loop can watch.

#include <string>

namespace db {

// Call once at the start of main(), after anything that sets the locale from
// the environment (QApplication does) and before the client library is used:
//  - text handling (LC_CTYPE) becomes UTF-8 unless it is already: the client
//    hands database paths to the engine through it, and under the C locale a
//    path with non-ASCII letters is refused;
//  - when FIREBIRD_LOCK is unset, the embedded engine runs in Super mode and
//    its shared lock folder cannot be used by this user, FIREBIRD_LOCK names
//    a lock folder of the user's own. In Super mode the engine locks each
//    database file for its process, so the lock folder shares nothing with
//    other processes. In Classic and SuperClassic it is what processes share
//    a file through, and it is left alone.
void prepareClientEnvironment();

// Text to add to the engine's message when a database cannot be opened with
// `errorCode`: what the user can do about a lock folder that the preparation
// above found unusable and had to leave in place. Empty otherwise.
std::string lockFolderAdvice(long errorCode);

// SIGINT and SIGTERM (Ctrl+C, a logout, `kill`, `systemctl stop`) asking the
// program to stop after the row in hand, instead of ending the process or
// letting the client library shut its engine down under a run.
class TerminationSignal {
public:
    // Catches both signals from now on and declines the client library's
    // own shutdown on them. Further calls do nothing.
    static void install();
    // Readable once a signal has arrived (a byte per signal): for
    // QSocketNotifier or poll(). -1 before install().
    static int readFd();
    static bool received();
    // The first signal caught, 0 before any: an exit status of
    // 128 + signalNumber() tells the caller which one ended the program.
    static int signalNumber();
};

}  // namespace db
