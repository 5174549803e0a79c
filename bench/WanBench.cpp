#include "WanBench.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>

#include "BatchRun.h"
#include "BranchData.h"
#include "LatencyProxy.h"
#include "LimitLoop.h"
#include "TestDatabases.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct ScriptResult {
    int exitCode = -1;
    std::string output;
};

ScriptResult runScript(const std::string& script, const std::string& command) {
    ScriptResult result;
    const std::string line = "'" + script + "' " + command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) {
        result.output = "cannot run " + line;
        return result;
    }
    std::array<char, 512> buffer;
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), got);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
    return result;
}

// The script's server for as long as the benchmark runs. One that ran
// before is someone else's and is left running.
class TestServer {
public:
    explicit TestServer(std::string script) : script_(std::move(script)) {
        if (runScript(script_, "status").exitCode == 0) return;
        const ScriptResult started = runScript(script_, "start");
        std::cerr << started.output << "\n";
        if (started.exitCode != 0)
            throw std::runtime_error("the test server did not start (exit " + std::to_string(started.exitCode) +
                                     "): " + started.output);
        startedHere_ = true;
    }
    ~TestServer() {
        if (startedHere_) std::cerr << runScript(script_, "stop").output << "\n";
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // The script's own rule: TAVOLENE_FB_PORT, else 3051.
    static int port() {
        const char* port = std::getenv("TAVOLENE_FB_PORT");
        return port && *port ? std::stoi(port) : 3051;
    }

private:
    std::string script_;
    bool startedHere_ = false;
};

std::string remote(int port, const std::string& file) { return "localhost/" + std::to_string(port) + ":" + file; }

// Where a case's two databases are: one of them behind the proxy.
enum class Remote { Central, Branch };
enum class Copier { BatchPerRow, BatchFast, LimitPerRow, LimitPerJob };

struct WanCase {
    Remote remote;
    Copier copier;
};

// In the order of the headings.
const std::vector<WanCase> kCases = {
    {Remote::Central, Copier::BatchPerRow}, {Remote::Central, Copier::BatchFast},
    {Remote::Branch, Copier::BatchPerRow},  {Remote::Branch, Copier::BatchFast},
    {Remote::Central, Copier::LimitPerRow}, {Remote::Central, Copier::LimitPerJob},
    {Remote::Branch, Copier::LimitPerJob},
};

constexpr int kFastRowsPerCommit = 10000;

// The files of one benchmark: the branch twice (same seed, same rows), as a
// file of this machine and as one the server holds. The server runs as its
// own user, so the folder it writes in is open to everyone and the folder
// above it can be passed through.
class WanFiles {
public:
    WanFiles() : served_(folder_.file("served")) {
        if (chmod(folder_.path().c_str(), 0711) != 0 || mkdir(served_.c_str(), 0777) != 0 ||
            chmod(served_.c_str(), 0777) != 0)
            throw std::runtime_error("cannot prepare a folder the server can write in under " + folder_.path());
    }
    std::string local(const std::string& name) const { return folder_.file(name); }
    std::string served(const std::string& name) const { return served_ + "/" + name; }

private:
    testsupport::TempDir folder_;
    std::string served_;
};

class WanRun {
public:
    WanRun(const Options& options, std::string batchProgram, const WanFiles& files, int serverPort)
        : options_(options), batchProgram_(std::move(batchProgram)), files_(files), serverPort_(serverPort) {
        const Clock::time_point start = Clock::now();
        localBranch_ = files_.local("branch.fdb");
        servedBranch_ = files_.served("branch.fdb");
        counts_ = generateBranch(localBranch_, options_.rows);
        const BranchCounts served = generateBranch(remote(serverPort_, servedBranch_), options_.rows);
        if (served.documents != counts_.documents || served.movements != counts_.movements)
            throw std::runtime_error("the two generated branches differ");
        std::cerr << "branch: " << counts_.documents << " documents, " << counts_.movements
                  << " movements, generated twice in " << secondsSince(start) << " s\n";
    }

    WanLine measure(int roundTripMs) {
        // Half the round trip each way, in microseconds so an odd
        // millisecond is kept.
        LatencyProxy proxy("127.0.0.1", serverPort_, std::chrono::microseconds(roundTripMs * 500));
        WanLine line{roundTripMs, {}, {}};
        for (std::size_t i = 0; i < kCases.size(); ++i) {
            std::vector<double> figures;
            long exchanges = 0;
            for (int repetition = 1; repetition <= options_.repetitions; ++repetition) {
                const long exchangesBefore = proxy.exchanges();
                const double seconds = runCase(kCases[i], proxy.port(), roundTripMs, repetition);
                exchanges = proxy.exchanges() - exchangesBefore;
                figures.push_back(static_cast<double>(counts_.rows()) / seconds);
                std::cerr << roundTripMs << " ms, " << wanCaseHeadings()[i] << ": " << counts_.rows() << " rows in "
                          << seconds << " s, " << exchanges << " round trips\n";
            }
            line.rowsPerSecond.push_back(median(figures));
            line.roundTripsPerRow.push_back(static_cast<double>(exchanges) / static_cast<double>(counts_.rows()));
        }
        return line;
    }

    const BranchCounts& counts() const { return counts_; }

private:
    // Wall seconds of one copy into a fresh central database, checked.
    double runCase(const WanCase& wanCase, int proxyPort, int roundTripMs, int repetition) {
        const std::string name =
            "central-" + std::to_string(roundTripMs) + "-" + std::to_string(static_cast<int>(wanCase.copier)) + "-" +
            std::to_string(static_cast<int>(wanCase.remote)) + "-" + std::to_string(repetition) + ".fdb";
        const bool centralRemote = wanCase.remote == Remote::Central;
        const std::string centralFile = centralRemote ? files_.served(name) : files_.local(name);
        // Created and checked directly, not through the proxy: only the copy is timed.
        const std::string centralDirect = centralRemote ? remote(serverPort_, centralFile) : centralFile;
        const std::string central = centralRemote ? remote(proxyPort, centralFile) : centralFile;
        const std::string branch = centralRemote ? localBranch_ : remote(proxyPort, servedBranch_);
        createCentral(centralDirect);

        long written = 0, failed = 0;
        std::string problem;
        const Clock::time_point start = Clock::now();
        switch (wanCase.copier) {
            case Copier::BatchPerRow:
            case Copier::BatchFast: {
                const BatchTally tally = runBatch(batchProgram_, branch, central, kCompanyCodes,
                                                  wanCase.copier == Copier::BatchFast ? kFastRowsPerCommit : 1,
                                                  files_.local(name + ".json"));
                written = tally.written;
                failed = tally.failed;
                if (!tally.problems.empty()) problem = tally.problems.front();
                break;
            }
            case Copier::LimitPerRow:
            case Copier::LimitPerJob: {
                const LimitTally tally =
                    runLimit(branch, central, kCompanyCodes, wanCase.copier == Copier::LimitPerJob);
                written = tally.written;
                failed = tally.failed;
                break;
            }
        }
        const double seconds = secondsSince(start);

        const BranchCounts copied = countRows(centralDirect);
        if (problem.empty() && failed != 0) problem = std::to_string(failed) + " rows failed";
        if (problem.empty() && (written != counts_.rows() || copied.documents != counts_.documents ||
                                copied.movements != counts_.movements))
            problem = "wrote " + std::to_string(written) + " rows; central holds " + std::to_string(copied.documents) +
                      " documents and " + std::to_string(copied.movements) + " movements of " +
                      std::to_string(counts_.documents) + " and " + std::to_string(counts_.movements);
        if (!problem.empty())
            throw std::runtime_error(std::to_string(roundTripMs) + " ms, " + name +
                                     ": not every row copied: " + problem);
        std::error_code ignored;
        std::filesystem::remove(centralFile, ignored);
        return seconds;
    }

    const Options& options_;
    const std::string batchProgram_;
    const WanFiles& files_;
    const int serverPort_;
    std::string localBranch_;
    std::string servedBranch_;
    BranchCounts counts_;
};

std::string fixed(double value, int decimals) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace

const std::vector<std::string>& wanCaseHeadings() {
    static const std::vector<std::string> headings = {
        "Central remote, per row",
        "Central remote, --commit-every 10000",
        "Branch remote, per row",
        "Branch remote, --commit-every 10000",
        "bare client write, per row",
        "bare client write, one commit per table job",
        "bare client read, one commit per table job",
    };
    return headings;
}

std::string formatWanTable(const std::vector<WanLine>& lines, WanFigure figure, int decimals) {
    std::string table = "| Round trip |";
    std::string rule = "|---:|";
    for (const std::string& heading : wanCaseHeadings()) {
        table += " " + heading + " |";
        rule += "---:|";
    }
    table += "\n" + rule + "\n";
    for (const WanLine& line : lines) {
        table += "| " + std::to_string(line.roundTripMs) + " ms |";
        for (std::size_t i = 0; i < wanCaseHeadings().size(); ++i) {
            const std::vector<std::optional<double>>& figures = line.*figure;
            const bool measured = i < figures.size() && figures[i];
            table += " " + (measured ? fixed(*figures[i], decimals) : std::string("-")) + " |";
        }
        table += "\n";
    }
    return table;
}

int runWanBenchmark(const Options& options, const std::string& batchProgram, const std::string& serverScript) {
    const TestServer server(serverScript);
    const WanFiles files;
    WanRun run(options, batchProgram, files, TestServer::port());
    std::vector<WanLine> lines;
    for (const int roundTripMs : options.roundTripsMs) lines.push_back(run.measure(roundTripMs));
    std::cout << "Rows per second (rows written / wall seconds of the run), " << run.counts().documents
              << " documents and " << run.counts().movements << " movements, median of " << options.repetitions
              << (options.repetitions == 1 ? " run" : " runs") << ":\n\n"
              << formatWanTable(lines, &WanLine::rowsPerSecond, 1)
              << "\nRound trips through the proxy per row (of a run, attaching and preparing included):\n\n"
              << formatWanTable(lines, &WanLine::roundTripsPerRow, 2) << std::flush;
    return 0;
}

}  // namespace bench
