// The real window (the reliability suite's driver, started as the window
// program starts) run by a user who is neither root nor in the firebird
// group, and told to end by SIGTERM in the middle of a copy.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "ChildProcess.h"
#include "Harness.h"

namespace {

using reliability::ChildProcess;

constexpr const char* kUser = "tavolene-test";
constexpr const char* kEngineLockFolder = "/tmp/firebird";

long long rowsIn(const std::string& central) {
    return testsupport::countRows(central, "DOCUREC") + testsupport::countRows(central, "MOVIREC");
}

// What the engine's check of every page and record finds; empty when clean.
std::string validationErrors(const std::string& path) {
    FILE* pipe = popen(("gfix -v -full -user SYSDBA -password plumtrove '" + path + "' 2>&1").c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    return status == 0 ? output : output + "gfix exit status " + std::to_string(status);
}

}  // namespace

// Classic shares a database among processes through the engine's lock
// folder, so a folder of the user's own would corrupt it: there the user is
// refused, naming the folder. Super locks the file for one process: there the
// user converts, and a second engine on the shared folder is still refused.
TEST(Desktop, AUserOutsideTheFirebirdGroupConvertsWhereTheEngineLocksTheFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to create the user " << kUser << " and run the window as it";
    if (!getpwnam(kUser)) std::system("useradd --system --no-create-home --shell /usr/sbin/nologin tavolene-test");
    const passwd* user = getpwnam(kUser);
    ASSERT_NE(user, nullptr) << "useradd could not create " << kUser;
    const uid_t uid = user->pw_uid;  // the engine's own look-ups reuse getpwnam's storage

    testsupport::TempDir dir;
    const std::string home = dir.file("home"), runtime = dir.file("run"), classic = dir.file("classic");
    const std::string central = home + "/central.fb", branch = home + "/filial.fb";
    chmod(dir.path().c_str(), 0755);
    for (const std::string& folder : {home, runtime, classic}) mkdir(folder.c_str(), 0700);
    testsupport::createCentralDatabase(central);  // root's engine makes its lock folder
    reliability::makeBranch(branch, "01", 30, "U");
    for (const std::string& path : {home, runtime, central, branch}) ASSERT_EQ(chown(path.c_str(), uid, -1), 0);
    struct stat shared;
    if (stat(kEngineLockFolder, &shared) != 0 || shared.st_uid == uid || (shared.st_mode & 07) == 07)
        GTEST_SKIP() << kEngineLockFolder << " is missing or open to " << kUser << ": nothing to prove";
    chmod(classic.c_str(), 0755);
    std::ofstream(classic + "/firebird.conf") << "ServerMode = Classic\n";
    for (const char* name : {"plugins.conf", "firebird.msg", "intl"})
        symlink((std::string("/usr/lib/x86_64-linux-gnu/firebird/3.0/") + name).c_str(),
                (classic + "/" + name).c_str());

    // The checkout may sit where the user cannot go (a home folder of mode
    // 0700): the user runs a copy of the window from the test's own folder.
    const std::string driver = dir.file("tavolene_window_driver");
    std::filesystem::copy_file(TAVOLENE_WINDOW_DRIVER, driver);
    chmod(driver.c_str(), 0755);

    auto windowAsUser = [&](const std::string& configuration, const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {
            "-u", kUser, "--", "/usr/bin/env", "--chdir=" + home, "HOME=" + home, "XDG_RUNTIME_DIR=" + runtime};
        if (!configuration.empty()) command.push_back("FIREBIRD=" + configuration);
        command.push_back(driver);
        command.insert(command.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(command, "/usr/sbin/runuser");
    };
    const std::string ownFolder = runtime + "/tavolene/firebird-lock";

    auto refused = windowAsUser(classic, {central, "01", branch});
    refused->wait();
    ASSERT_EQ(refused->outcome().boxes.size(), 1u) << reliability::toString(refused->outcome().boxes);
    EXPECT_NE(refused->outcome().boxes[0].text.find(kEngineLockFolder), std::string::npos);
    EXPECT_NE(refused->outcome().boxes[0].text.find("grupo firebird"), std::string::npos)
        << "the refusal says what to do";
    EXPECT_NE(access(ownFolder.c_str(), F_OK), 0) << "Classic must keep the shared lock folder";

    auto window = windowAsUser("", {"--pause-after=10", central, "01", branch});
    ASSERT_TRUE(window->waitFor("PAUSED")) << reliability::toString(window->outcome().boxes);
    try {
        rowsIn(central);
        ADD_FAILURE() << "a second engine opened the file the user's window holds";
    } catch (const std::runtime_error& refusal) {
        EXPECT_NE(std::string(refusal.what()).find("already opened"), std::string::npos) << refusal.what();
    }
    window->writeLine("go");
    window->wait();
    EXPECT_EQ(window->outcome().boxes, std::vector<reliability::Box>{reliability::success()})
        << reliability::toString(window->outcome().boxes);
    EXPECT_EQ(rowsIn(central), 60) << "every document and movement of the branch, none lost";
    struct stat own;
    ASSERT_EQ(lstat(ownFolder.c_str(), &own), 0) << "no lock folder of the user's own";
    EXPECT_TRUE(S_ISDIR(own.st_mode) && own.st_uid == uid && (own.st_mode & 0777) == 0700);
}

// SIGTERM (a logout, `kill`) closes the window as its close button does:
// the run stops after the row it is writing, the program ends on its own.
TEST(Desktop, SigtermMidCopyEndsTheWindowAfterTheRowInHand) {
    testsupport::TempDir dir;
    const std::string central = dir.file("central.fb"), branch = dir.file("filial.fb");
    testsupport::createCentralDatabase(central);
    reliability::makeBranch(branch, "01", 60, "T");

    ChildProcess window({central, "01", branch}, TAVOLENE_WINDOW_DRIVER);
    int started = 0;
    while (started < 25 && window.waitFor("ROW ")) ++started;
    ASSERT_EQ(started, 25) << reliability::toString(window.outcome().boxes);
    window.kill(SIGTERM);
    const int status = window.wait();

    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 128 + SIGTERM)) << status;
    EXPECT_TRUE(window.outcome().boxes.empty()) << reliability::toString(window.outcome().boxes);
    EXPECT_FALSE(window.outcome().failure) << *window.outcome().failure;
    EXPECT_TRUE(window.outcome().log.empty()) << window.outcome().log.front();
    EXPECT_LT(window.rows().size(), 120u) << "the run went on after SIGTERM";
    EXPECT_EQ(rowsIn(central), static_cast<long long>(window.rows().size())) << "each row started is committed";
    EXPECT_EQ(validationErrors(central), "");
}
