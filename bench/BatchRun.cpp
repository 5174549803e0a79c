#include "BatchRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

extern char** environ;

namespace bench {

BatchTally runBatch(const std::string& program, const std::string& branch, const std::string& central,
                    const std::vector<std::string>& codes, int rowsPerCommit, const std::string& reportPath,
                    const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {
        program,   "--central", central,   "--commit-every", std::to_string(rowsPerCommit),
        "--quiet", "--report",  reportPath};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    for (const std::string& code : codes) {
        arguments.push_back("--branch");
        arguments.push_back(branch + "=" + code);
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Its summary and any failed rows go to a file beside the report, read
    // back only when the run went wrong.
    const std::string output = reportPath + ".out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    BatchTally tally;
    if (spawned != 0) {
        tally.problems.push_back("cannot start " + program);
        return tally;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ostringstream printed;
    printed << std::ifstream(output).rdbuf();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        tally.problems.push_back("exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ": " +
                                 printed.str());
    try {
        const auto report = nlohmann::json::parse(std::ifstream(reportPath));
        tally.written = report.at("totals").at("written");
        tally.failed = report.at("totals").at("failed");
        tally.compared = report.at("totals").value("compared", 0L);
        tally.seconds = report.at("seconds");
        tally.peakKb = report.at("peakMemoryKb");
    } catch (const std::exception& unreadable) {
        tally.problems.push_back(std::string("report unreadable: ") + unreadable.what());
    }
    return tally;
}

}  // namespace bench
