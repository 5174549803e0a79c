// One press of the converter panel in a process of its own, reporting on
// stdout what the window would show (see ChildProcess.h for the lines).
//
//   tavolene_conversion_driver [options] CENTRAL [EMPRESA BRANCH]...
//     --pause-after=N     after the N-th row has started, print PAUSED and
//                         wait for a line on stdin before writing it
//     --row-delay-ms=N    sleep N ms before each row (a slower branch link)
//     --lock-timeout=N    the connections' lock time-out in seconds
//     --without-permission-override
//                         give up root's right to ignore file modes first

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"
#include "db/ClientEnvironment.h"

namespace {

using reliability::escapeLine;

void emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class DriverRecorder : public reliability::Recorder {
public:
    void appendLog(const std::string& line) override {
        Recorder::appendLog(line);
        emit("LOG " + escapeLine(line));
    }
    void information(const std::string& text) override { box("Information", text); }
    void warning(const std::string& text) override { box("Warning", text); }
    void error(const std::string& text) override { box("Error", text); }

private:
    void box(const char* kind, const std::string& text) { emit(std::string("BOX ") + kind + " " + escapeLine(text)); }
};

// Root keeps its uid but is held to file modes like any other user. The
// engine's shared files belong to the firebird group, so the process joins
// it, as a user allowed to run the engine would have.
void dropPermissionOverride() {
    if (group* firebird = getgrnam("firebird")) {
        const gid_t groups[] = {0, firebird->gr_gid};
        setgroups(2, groups);
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    syscall(SYS_capget, &header, data);
    const unsigned dropped = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    for (auto& set : data) {
        set.effective &= ~dropped;
        set.permitted &= ~dropped;
        set.inheritable &= ~dropped;
    }
    if (syscall(SYS_capset, &header, data) != 0) emit("FAILURE cannot drop capabilities");
}

bool option(const std::string& argument, const std::string& name, int& value) {
    if (argument.rfind(name + "=", 0) != 0) return false;
    value = std::stoi(argument.substr(name.size() + 1));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    db::prepareClientEnvironment();  // as the programs start
    int pauseAfter = 0, rowDelayMs = 0, lockTimeout = -1;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (option(argument, "--pause-after", pauseAfter) || option(argument, "--row-delay-ms", rowDelayMs) ||
            option(argument, "--lock-timeout", lockTimeout))
            continue;
        if (argument == "--without-permission-override") {
            dropPermissionOverride();
            continue;
        }
        positional.push_back(argument);
    }
    if (positional.empty() || positional.size() % 2 != 1) {
        std::cerr << "usage: tavolene_conversion_driver [options] CENTRAL [EMPRESA BRANCH]...\n";
        return 2;
    }
    std::vector<reliability::Entry> entries;
    for (std::size_t i = 1; i + 1 < positional.size(); i += 2) entries.push_back({positional[i + 1], positional[i]});

    reliability::Program program;
    if (lockTimeout >= 0) {
        program.central.setLockTimeoutSeconds(lockTimeout);
        program.branch.setLockTimeoutSeconds(lockTimeout);
    }
    DriverRecorder recorder;
    int started = 0;
    recorder.onRow = [&](const std::string& key) {
        if (rowDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(rowDelayMs));
        emit("ROW " + escapeLine(key));
        if (++started == pauseAfter) {
            emit("PAUSED");
            std::string go;
            std::getline(std::cin, go);
        }
    };
    const reliability::Outcome outcome = program.convert(positional[0], entries, recorder);
    if (outcome.started) emit("STARTED");
    if (outcome.failure) emit("FAILURE " + escapeLine(*outcome.failure));
    emit("END");
    return 0;
}
