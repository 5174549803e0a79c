// The benchmark: copies a generated branch database into fresh central
// databases three ways (a minimal loop on the client API, the engine
// headless, the engine behind the window) and prints rows per second and the
// engine's peak memory; then the same for tavolene-batch per row and with
// many rows per commit, beside the minimal loop with one commit per table
// job. With --wan, the runner and the minimal loop through a latency proxy
// in front of a Firebird server instead. See docs/performance.md.

#include "BatchRun.h"
#include "BranchData.h"
#include "EngineRun.h"
#include "LimitLoop.h"
#include "Report.h"
#include "TestDatabases.h"
#include "WanBench.h"
#include "db/Connection.h"
#include "reconcile/Merge.h"

#ifdef TAVOLENE_BENCH_WINDOW
#include <QApplication>

#include "WindowRun.h"
#endif

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The first three fields of /proc/loadavg: the machine is shared, and
// commit times depend on what else is using the disk.
std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Writes out what the runs before left in the page cache, so that a timed
// run does not pay for their writes: a run of one commit per row waits on
// the disk for every row, and a run just before it that wrote a whole
// database in one commit leaves it seconds of writing.
void settleDisk() { ::sync(); }

std::string procStatus() {
    std::ifstream in("/proc/self/status");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct RunOutcome {
    long written = 0;
    long failed = 0;
    std::vector<std::string> problems;
    double seconds = 0;  // what the figure is made of
};

using Runner = std::function<RunOutcome(const std::string& branch, const std::string& central)>;

// L and E are timed from the central attach to the last commit; W from the
// click, which attaches the central database, to the end box.
RunOutcome limitRunner(const std::string& branch, const std::string& central) {
    const Clock::time_point start = Clock::now();
    const bench::LimitTally tally = bench::runLimit(branch, central, bench::kCompanyCodes);
    return RunOutcome{tally.written, tally.failed, {}, secondsSince(start)};
}

// L1: the same loop with one commit per table job.
RunOutcome limitPerJobRunner(const std::string& branch, const std::string& central) {
    const Clock::time_point start = Clock::now();
    const bench::LimitTally tally = bench::runLimit(branch, central, bench::kCompanyCodes, true);
    return RunOutcome{tally.written, tally.failed, {}, secondsSince(start)};
}

// Counts the branch rows the check compared; a difference makes the figure
// meaningless.
class CheckCount : public reconcile::CheckSink {
public:
    void difference(const reconcile::TableCheck&, const reconcile::Difference&) override { ++differences; }
    void tableDone(const reconcile::TableCheck& table) override {
        rows += table.equal + table.different + table.missing;
    }
    long rows = 0;
    long differences = 0;
};

// C: the reconciliation check, read-only, of a central database that L1 has
// just filled (not timed); timed from the central attach to the last verdict.
RunOutcome checkRunner(const std::string& branch, const std::string& central) {
    const bench::LimitTally filled = bench::runLimit(branch, central, bench::kCompanyCodes, true);
    if (filled.failed != 0) return RunOutcome{0, filled.failed, {"L1 did not fill the central database"}};
    settleDisk();
    const Clock::time_point start = Clock::now();
    db::Connection connection;
    connection.parameters().setValue("Database", central);
    connection.setReadOnly(true);
    connection.open();
    std::vector<reconcile::CheckEntry> entries;
    for (const std::string& code : bench::kCompanyCodes) entries.push_back({branch, code});
    CheckCount count;
    reconcile::checkEntries(connection, entries, db::ConnectionParameters(), count);
    connection.close();
    return RunOutcome{count.rows, count.differences, {}, secondsSince(start)};
}

// Bn's rows per commit: more than a table job of the default size holds.
constexpr int kFastRowsPerCommit = 10000;

// B1 and Bn: the runner as a process of its own, as a timer starts it. The
// time is its report's, from the central database being open to the last
// commit: L and E run in a process whose database engine has started long
// before, so the runner's own start (process, client library, engine, about
// 0.2 s a run) is left out as theirs is.
bench::BatchTally runBatchChild(const std::string& branch, const std::string& central, int rowsPerCommit) {
    return bench::runBatch(TAVOLENE_BATCH_PROGRAM, branch, central, bench::kCompanyCodes, rowsPerCommit,
                           central + ".json");
}

Runner batchRunner(int rowsPerCommit) {
    return [rowsPerCommit](const std::string& branch, const std::string& central) {
        const bench::BatchTally tally = runBatchChild(branch, central, rowsPerCommit);
        return RunOutcome{tally.written, tally.failed, tally.problems, tally.seconds};
    };
}

// Br and Bc: Bn fills the central database (not timed), then the same
// branch is run again, in full (Br) or with --changed-only (Bc), which
// finds every row unchanged and writes none.
Runner rerunRunner(bool changedOnly) {
    return [changedOnly](const std::string& branch, const std::string& central) {
        const bench::BatchTally filled = runBatchChild(branch, central, kFastRowsPerCommit);
        if (!filled.problems.empty() || filled.failed != 0)
            return RunOutcome{0, filled.failed, {"Bn did not fill the central database"}};
        settleDisk();
        const std::vector<std::string> extra =
            changedOnly ? std::vector<std::string>{"--changed-only"} : std::vector<std::string>{};
        bench::BatchTally rerun = bench::runBatch(TAVOLENE_BATCH_PROGRAM, branch, central, bench::kCompanyCodes,
                                                  kFastRowsPerCommit, central + ".rerun.json", extra);
        if (changedOnly && rerun.written != 0)
            rerun.problems.push_back(std::to_string(rerun.written) + " rows of an unchanged branch written");
        return RunOutcome{changedOnly ? rerun.compared : rerun.written, rerun.failed, rerun.problems, rerun.seconds};
    };
}

RunOutcome engineRunner(const std::string& branch, const std::string& central) {
    const Clock::time_point start = Clock::now();
    const bench::EngineTally tally = bench::runEngine(branch, central, bench::kCompanyCodes);
    return RunOutcome{tally.written, tally.failed, tally.problems, secondsSince(start)};
}

#ifdef TAVOLENE_BENCH_WINDOW
// The window reports no row count; the central counts are checked after
// the run all the same.
RunOutcome windowRunner(const std::string& branch, const std::string& central, long expectedRows) {
    const bench::WindowTally tally = bench::runWindow(branch, central, bench::kCompanyCodes);
    return RunOutcome{tally.succeeded ? expectedRows : 0, 0, tally.problems, tally.seconds};
}
#endif

// A run that did not copy every row exactly once makes its figure
// meaningless: stop with the reason.
void checkCopied(const std::string& what, const RunOutcome& outcome, const std::string& central,
                 const bench::BranchCounts& branch) {
    const bench::BranchCounts copied = bench::countRows(central);
    std::string problem;
    if (!outcome.problems.empty())
        problem = "reported: " + outcome.problems.front();
    else if (outcome.failed != 0)
        problem = std::to_string(outcome.failed) + " rows failed";
    else if (outcome.written != branch.rows())
        problem = "wrote " + std::to_string(outcome.written) + " rows of " + std::to_string(branch.rows());
    else if (copied.documents != branch.documents || copied.movements != branch.movements)
        problem = "central holds " + std::to_string(copied.documents) + " documents and " +
                  std::to_string(copied.movements) + " movements, branch " + std::to_string(branch.documents) +
                  " and " + std::to_string(branch.movements);
    if (!problem.empty()) throw std::runtime_error(what + " did not copy every row: " + problem);
}

int runChild(const bench::Options& options) {
    RunOutcome outcome;
    if (options.child == "engine")
        outcome = engineRunner(options.branch, options.central);
    else if (options.child == "limit")
        outcome = limitRunner(options.branch, options.central);
    else
#ifdef TAVOLENE_BENCH_WINDOW
        outcome = windowRunner(options.branch, options.central, bench::countRows(options.branch).rows());
#else
        throw std::runtime_error("the window is not part of this build");
#endif
    bench::ChildReport report;
    report.seconds = outcome.seconds;
    report.rows = outcome.written;
    report.failed = outcome.failed + static_cast<long>(outcome.problems.size());
    report.peakKb = bench::peakResidentKb(procStatus()).value_or(0);
    for (const std::string& problem : outcome.problems) std::cerr << "problem: " << problem << "\n";
    std::cout << bench::formatChildReport(report) << std::endl;
    return 0;
}

// Runs this program again in child mode, so the peak memory is that of one
// conversion alone.
bench::ChildReport spawnChild(const std::string& kind, const std::string& branch, const std::string& central) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> arguments = {self, "--child", kind, "--branch", branch, "--central", central};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        throw std::runtime_error("cannot start " + self);
    }
    std::string output;
    char buffer[4096];
    ssize_t length = 0;
    while ((length = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(length));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::optional<bench::ChildReport> report = bench::parseChildReport(output);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !report)
        throw std::runtime_error("the " + kind + " child run failed: " + output);
    return *report;
}

// Bn for the memory figures: its peak is the child's maximum resident set.
bench::ChildReport batchMemoryChild(const std::string& branch, const std::string& central) {
    const bench::BatchTally tally = runBatchChild(branch, central, kFastRowsPerCommit);
    for (const std::string& problem : tally.problems) std::cerr << "problem: " << problem << "\n";
    return bench::ChildReport{tally.written, tally.failed + static_cast<long>(tally.problems.size()), tally.seconds,
                              tally.peakKb};
}

struct Contender {
    bench::Measured* measured;
    std::string tag;
    Runner run;
};

int runBenchmark(const bench::Options& options) {
    std::unique_ptr<testsupport::TempDir> temporary;
    std::string folder = options.workDir;
    if (folder.empty()) {
        temporary = std::make_unique<testsupport::TempDir>();
        folder = temporary->path();
    } else {
        std::filesystem::create_directories(folder);
    }
    auto file = [&](const std::string& name) { return folder + "/" + name; };

    bench::Report report;
    report.repetitions = options.repetitions;
    report.memoryScale = options.memoryScale;
    report.memoryForcedWrites = options.memoryForcedWrites;
    report.memoryPageBuffers = options.memoryPageBuffers;
    report.limit.name = "L  limit";
    report.engine.name = "E  engine";
    report.window.name = "W  window";
    report.batchPerRow.name = "B1 runner";
    report.batchFast.name = "Bn runner";
    report.limitPerJob.name = "L1 limit";
    report.check.name = "C  check";
    report.rerunFast.name = "Br full rerun";
    report.rerunChanged.name = "Bc changed-only";

    const std::string loadBefore = loadAverage();
    Clock::time_point start = Clock::now();
    const std::string branch = file("branch-" + std::to_string(options.rows) + ".fdb");
    const bench::BranchCounts counts = bench::generateBranch(branch, options.rows);
    report.documents = counts.documents;
    report.movements = counts.movements;
    report.branchBytes = static_cast<long long>(std::filesystem::file_size(branch));
    // Pages of 8 KiB (tests/support); the engine caches up to 2048 of each
    // database in Super mode (DefaultDbCachePages) unless told fewer.
    report.pageCacheBytes = (options.memoryPageBuffers > 0 ? options.memoryPageBuffers : 2048) * 8192LL;
    std::cerr << "branch: " << counts.documents << " documents, " << counts.movements << " movements, generated in "
              << secondsSince(start) << " s\n";
    if (options.prepareOnly) {
        bench::createCentral(file("central-sync.fdb"), true);
        bench::createCentral(file("central-async.fdb"), false);
        std::cout << branch << "\n" << file("central-sync.fdb") << "\n" << file("central-async.fdb") << "\n";
        return 0;
    }

    std::vector<Contender> contenders = {{&report.limit, "L", limitRunner}, {&report.engine, "E", engineRunner}};
#ifdef TAVOLENE_BENCH_WINDOW
    if (options.window)
        contenders.push_back({&report.window, "W", [&counts](const std::string& b, const std::string& c) {
                                  return windowRunner(b, c, counts.rows());
                              }});
    else
        report.window.note = "left out (--no-window)";
#else
    report.window.note = "the window is not part of this build";
#endif
    contenders.push_back({&report.limitPerJob, "L1", limitPerJobRunner});
    contenders.push_back({&report.batchPerRow, "B1", batchRunner(1)});
    contenders.push_back({&report.batchFast, "Bn", batchRunner(kFastRowsPerCommit)});
    contenders.push_back({&report.check, "C", checkRunner});
    contenders.push_back({&report.rerunFast, "Br", rerunRunner(false)});
    contenders.push_back({&report.rerunChanged, "Bc", rerunRunner(true)});

    std::mt19937 orderDraw(20261209);
    for (int repetition = 1; repetition <= options.repetitions; ++repetition) {
        // Each timed run starts once the writes before it are on the disk
        // (settleDisk), but it still inherits the rest of the machine's
        // state from the run before it, and a rotation of one order (L E W,
        // E W L, ...) would give each contender the same predecessor in
        // every repetition. So each repetition takes its own order, drawn
        // from a fixed seed so that two benchmarks run the same orders.
        std::vector<Contender*> order;
        for (Contender& contender : contenders) order.push_back(&contender);
        std::shuffle(order.begin(), order.end(), orderDraw);
        std::cerr << "repetition " << repetition << " order:";
        for (const Contender* next : order) std::cerr << " " << next->tag;
        std::cerr << "\n";
        for (Contender* next : order) {
            Contender& contender = *next;
            const std::string central = file("central-" + contender.tag + std::to_string(repetition) + ".fdb");
            bench::createCentral(central);
            settleDisk();
            const RunOutcome outcome = contender.run(branch, central);
            const double seconds = outcome.seconds;
            checkCopied(contender.tag, outcome, central, counts);
            contender.measured->rowsPerSecond.push_back(static_cast<double>(counts.rows()) / seconds);
            std::cerr << contender.tag << " repetition " << repetition << ": " << counts.rows() << " rows in "
                      << seconds << " s\n";
            std::filesystem::remove(central);
        }
    }

    if (options.memory) {
        const long largeDocuments = options.rows * options.memoryScale;
        std::string largeBranch = branch;
        bench::BranchCounts largeCounts = counts;
        if (options.memoryScale != 1) {
            start = Clock::now();
            largeBranch = file("branch-" + std::to_string(largeDocuments) + ".fdb");
            largeCounts = bench::generateBranch(largeBranch, largeDocuments);
            std::cerr << "large branch: " << largeCounts.documents << " documents, " << largeCounts.movements
                      << " movements, generated in " << secondsSince(start) << " s\n";
        }
        if (options.memoryPageBuffers > 0)
            for (const std::string& path : {branch, largeBranch})
                bench::setPageBuffers(path, options.memoryPageBuffers);
        std::vector<std::string> kinds = {"engine", "batch"};
        if (options.limitMemory) kinds.push_back("limit");
        for (const auto& [path, shape] : {std::pair{branch, counts}, std::pair{largeBranch, largeCounts}}) {
            for (const std::string& kind : kinds) {
                const std::string central = file("central-memory-" + kind + ".fdb");
                bench::createCentral(central, options.memoryForcedWrites);
                if (options.memoryPageBuffers > 0) bench::setPageBuffers(central, options.memoryPageBuffers);
                const bench::ChildReport child =
                    kind == "batch" ? batchMemoryChild(path, central) : spawnChild(kind, path, central);
                checkCopied(kind + " child", RunOutcome{child.rows, child.failed, {}}, central, shape);
                std::filesystem::remove(central);
                (kind == "engine"  ? report.engineMemory
                 : kind == "batch" ? report.batchFastMemory
                                   : report.limitMemory)
                    .push_back({shape.documents, shape.rows(), child.peakKb});
                std::cerr << kind << " child at " << shape.documents << " documents: peak " << child.peakKb << " kB, "
                          << child.rows << " rows in " << child.seconds << " s\n";
            }
        }
    }

    std::cout << bench::formatReport(report) << "\nLoad average (1, 5, 15 min) at the start: " << loadBefore
              << "; at the end: " << loadAverage() << "\n"
              << std::flush;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    try {
        options = bench::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& bad) {
        std::cerr << bad.what() << "\n" << bench::usage();
        return 2;
    }
    try {
#ifdef TAVOLENE_BENCH_WINDOW
        std::unique_ptr<QApplication> application;
        if (options.child.empty() || options.child == "window") {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
            application = std::make_unique<QApplication>(argc, argv);
        }
#endif
        if (!options.child.empty()) return runChild(options);
        if (options.wan) return bench::runWanBenchmark(options, TAVOLENE_BATCH_PROGRAM, TAVOLENE_TEST_SERVER_SCRIPT);
        return runBenchmark(options);
    } catch (const std::exception& failure) {
        std::cerr << "tavolene_bench: " << failure.what() << "\n";
        return 1;
    }
}
