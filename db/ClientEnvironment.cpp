#include "db/ClientEnvironment.h"

#include <fcntl.h>
#include <ibase.h>
#include <langinfo.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>
#include <vector>

namespace db {

namespace {

// Debian's build of Firebird 3: the engine's lock folder when FIREBIRD_LOCK
// is unset, and the configuration it reads unless FIREBIRD names another.
constexpr const char* kEngineLockFolder = "/tmp/firebird";
constexpr const char* kConfiguration = "/etc/firebird/3.0/firebird.conf";

std::string& leftInPlaceAdvice() {
    static std::string text;
    return text;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string trimmedLower(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    std::string word = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    return word;
}

// ServerMode of the engine's configuration; Super when it is not set.
bool engineRunsInSuperMode() {
    const std::string root = environment("FIREBIRD");
    std::ifstream file(root.empty() ? std::string(kConfiguration) : root + "/firebird.conf");
    std::string mode = "super";
    for (std::string line; std::getline(file, line);) {
        line = line.substr(0, line.find('#'));
        const auto equals = line.find('=');
        if (equals != std::string::npos && trimmedLower(line.substr(0, equals)) == "servermode")
            mode = trimmedLower(line.substr(equals + 1));
    }
    return mode == "super" || mode == "threadeddedicated";  // two names of one mode
}

// A folder that does not exist yet is no use either: the engine would make
// it this user's own (mode 0770, the user's group) and so lock every other
// user, and the firebird server, out of it. Root or the server makes it, with
// the firebird group.
bool engineFolderUsable() {
    if (geteuid() == 0) return true;
    struct stat info;
    return stat(kEngineLockFolder, &info) == 0 && S_ISDIR(info.st_mode) &&
           access(kEngineLockFolder, R_OK | W_OK | X_OK) == 0;
}

// Where a lock folder of the user's own may go, best first: the runtime
// folder is emptied at logout, as lock files should be, but it must be this
// user's (a process started with runuser or su keeps the caller's).
std::vector<std::string> ownLockFolderCandidates() {
    std::vector<std::string> folders;
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    struct stat info;
    if (!runtime.empty() && runtime[0] == '/' && stat(runtime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == geteuid())
        folders.push_back(runtime + "/tavolene/firebird-lock");
    std::string cache = environment("XDG_CACHE_HOME");
    if (cache.empty() || cache[0] != '/') {
        std::string home = environment("HOME");
        if (home.empty())
            if (const passwd* entry = getpwuid(geteuid())) home = entry->pw_dir;
        cache = home.empty() ? "" : home + "/.cache";
    }
    if (!cache.empty()) folders.push_back(cache + "/tavolene/firebird-lock");
    return folders;
}

// Creates what is missing of `path`; true when it is then a folder of this
// user's, not a link to somewhere else, closed to everyone else.
bool makeOwnFolder(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           chmod(path.c_str(), 0700) == 0;
}

void useUtf8CharacterTypes() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
}

void chooseLockFolder() {
    leftInPlaceAdvice().clear();
    if (!environment("FIREBIRD_LOCK").empty() || engineFolderUsable()) return;
    if (engineRunsInSuperMode()) {
        for (const std::string& folder : ownLockFolderCandidates()) {
            if (makeOwnFolder(folder)) {
                setenv("FIREBIRD_LOCK", folder.c_str(), 1);
                return;
            }
        }
    }
    leftInPlaceAdvice() = std::string("A pasta de travas do Firebird, ") + kEngineLockFolder +
                          ", não pode ser usada por este usuário: peça ao administrador que o inclua no grupo "
                          "firebird, ou defina FIREBIRD_LOCK com uma pasta usada por todos os programas que abrem "
                          "estes bancos de dados.";
}

// --- termination signals ---------------------------------------------------

int signalPipe[2] = {-1, -1};
// Any thread may take the signal; a lock-free atomic is safe in a handler.
std::atomic<int> firstSignal{0};

extern "C" void onTerminationSignal(int number) {
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, number);
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// The client library answers SIGINT and SIGTERM by shutting its engine down
// at once, which leaves the program with dead connections in the middle of
// a row. It asks first; the answer is no, the program stops itself, and the
// client still shuts down as usual at exit.
int declineShutdownOnSignal(const int reason, const int, void*) { return reason == fb_shutrsn_signal ? 1 : 0; }

}  // namespace

void prepareClientEnvironment() {
    useUtf8CharacterTypes();
    chooseLockFolder();
}

std::string lockFolderAdvice(long errorCode) {
    return errorCode == isc_sys_request || errorCode == isc_lock_dir_access ? leftInPlaceAdvice() : std::string();
}

void TerminationSignal::install() {
    static const bool installed = [] {
        // Without the pipe the flag still works; writes to -1 just fail.
        if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) signalPipe[0] = signalPipe[1] = -1;
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        // The signals are taken by a thread of their own, never by one that
        // is inside the client library: taken during a remote attach, the
        // attach goes on waiting, and the embedded engine then spins at
        // every detach, holding its machine-wide init lock. The caller's
        // thread blocks them, and so do the threads it starts from now on
        // (the client library's among them); threads started before it may
        // still take them, harmlessly, as they are not inside the client.
        sigset_t termination;
        sigemptyset(&termination);
        sigaddset(&termination, SIGINT);
        sigaddset(&termination, SIGTERM);
        std::thread([termination] {
            pthread_sigmask(SIG_UNBLOCK, &termination, nullptr);
            for (;;) pause();
        }).detach();
        pthread_sigmask(SIG_BLOCK, &termination, nullptr);
        ISC_STATUS_ARRAY status;
        fb_shutdown_callback(status, declineShutdownOnSignal, fb_shut_confirmation, nullptr);
        return true;
    }();
    (void)installed;
}

int TerminationSignal::readFd() { return signalPipe[0]; }

bool TerminationSignal::received() { return firstSignal != 0; }

int TerminationSignal::signalNumber() { return firstSignal; }

}  // namespace db
