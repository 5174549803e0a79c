#include "batch/Runner.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <ostream>

#include "batch/ChangedRun.h"
#include "batch/CheckReport.h"
#include "batch/ExitStatus.h"
#include "batch/ParallelRun.h"
#include "batch/Prune.h"
#include "batch/Report.h"
#include "batch/ReportFile.h"
#include "batch/Terminal.h"
#include "db/ClientEnvironment.h"
#include "db/Connection.h"
#include "transfer/Connections.h"

namespace batch {

namespace {

// The entries as the engine walks them.
class EntryWalk : public transfer::BranchList {
public:
    explicit EntryWalk(const std::vector<Entry>& entries) : entries_(entries) {}

    int count() const override { return static_cast<int>(entries_.size()); }
    void first() override { current_ = 0; }
    bool eof() const override { return current_ >= entries_.size(); }
    void next() override { ++current_; }
    std::string banco() const override { return entries_.at(current_).banco; }
    std::string empresa() const override { return entries_.at(current_).empresa; }

private:
    const std::vector<Entry>& entries_;
    std::size_t current_ = 0;
};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// VmHWM: the peak of this process image alone (ru_maxrss would also count
// the parent's memory before exec).
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

}  // namespace

void applyCredentials(db::Connection& connection, const Arguments& arguments) {
    db::ConnectionParameters& parameters = connection.parameters();
    if (const std::string user = environment("ISC_USER"); !user.empty()) parameters.setValue("User_Name", user);
    if (const std::string password = environment("ISC_PASSWORD"); !password.empty())
        parameters.setValue("Password", password);
    if (arguments.role) parameters.setValue("RoleName", *arguments.role);
    // Unattended, nobody is there to wait for a silent server, and a stop
    // asked for must not wait for one either.
    connection.setConnectTimeoutSeconds(arguments.connectTimeoutSeconds);
    connection.setStopOnTermination(true);
    // A branch or central reached through a server is often far away.
    connection.setWireCompression(true);
}

std::optional<FailedJob> convertEntries(transfer::Connections connections, transfer::BranchList& list,
                                        Terminal& terminal, const Arguments& arguments, transfer::RunSummary& summary) {
    try {
        transfer::RunOptions options;
        options.commit.rowsPerCommit = arguments.commitEvery;
        options.commit.serverCommitsEachRow = true;
        options.oneAttemptPerSilentBranch = true;
        // Over a slow link every round trip counts.
        options.countInDatabase = true;
        options.shareAcrossJobs = true;
        options.inlineShortBlobs = true;
        // The next rows arrive while the central writes these: a few
        // fetches' worth in flight.
        options.readAheadRows = 512;
        options.shareBranchReads = true;
        transfer::runConversion(connections, list, terminal, terminal, options, summary);
    } catch (const std::exception& failure) {
        const Terminal::Job& job = terminal.currentJob();
        terminal.error(failure.what());
        transfer::CopyTally tally;
        if (const auto* conversion = dynamic_cast<const transfer::ConversionError*>(&failure))
            tally = conversion->tally;
        else
            tally.read = job.read, tally.failed = job.failed;
        return FailedJob{job.banco, job.empresa, job.table, failure.what(), std::move(tally)};
    }
    return std::nullopt;
}

int exitStatus(const RunRecord& record) {
    if (!record.centralError.empty()) return kNothingDone;
    if (record.signal != 0) return kSignalBase + record.signal;
    if (record.failedJob) return kJobFailed;
    return record.summary.failedRows == 0 && record.summary.unopenedBranches == 0 && record.summary.unprunedCodes == 0
               ? kAllWritten
               : kSomeNotWritten;
}

RunRecord runBatch(const Arguments& arguments, Terminal& terminal) {
    RunRecord record;
    record.arguments = arguments;
    record.started = std::chrono::system_clock::now();
    db::Connection central;
    db::Connection branch;
    applyCredentials(central, arguments);
    applyCredentials(branch, arguments);
    record.user = central.parameters().value("User_Name");
    record.role = central.parameters().value("RoleName");

    auto converting = std::chrono::steady_clock::now();
    if (!transfer::ConectaBancoCentralizador(central, arguments.central, terminal)) {
        record.centralError = terminal.messages().back();
    } else {
        converting = std::chrono::steady_clock::now();
        if (arguments.jobs > 1)
            record.inOrderBecause = arguments.changedOnly ? "--changed-only merges each code's entries in one pass"
                                                          : reasonToRunInOrder(central);
        if (arguments.jobs > 1 && record.inOrderBecause.empty()) {
            runEntriesInParallel(arguments, arguments.jobs, central, terminal, record);
        } else {
            if (arguments.jobs > 1)
                terminal.information("--jobs " + std::to_string(arguments.jobs) +
                                     ": the entries run one after another: " + record.inOrderBecause);
            if (arguments.changedOnly) {
                record.failedJob = writeChangedRows(central, arguments, terminal, record.summary);
            } else {
                EntryWalk walk(arguments.entries);
                record.failedJob = convertEntries({central, branch}, walk, terminal, arguments, record.summary);
            }
        }
    }
    // The workers' messages, in list order, follow the central database's.
    record.messages.insert(record.messages.begin(), terminal.messages().begin(), terminal.messages().end());
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - converting).count();
    record.signal = db::TerminationSignal::signalNumber();
    record.ended = std::chrono::system_clock::now();
    record.peakMemoryKb = peakResidentKb();
    return record;
}

int runFromCommandLine(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    if (!arguments.restorePath.empty()) return restoreRows(arguments, out, err);
    // The report's temporary file is made before any database is opened: a
    // run whose report cannot be written would be a run nobody can check.
    std::optional<ReportFile> report;
    if (!arguments.reportPath.empty()) {
        try {
            report.emplace(arguments.reportPath);
        } catch (const ReportFileError& refused) {
            err << "tavolene-batch: " << oneLine(refused.what()) << std::endl;
            return kNothingDone;
        }
    }
    db::TerminationSignal::install();
    const bool progress = !arguments.quiet && isatty(STDERR_FILENO) == 1;
    Terminal terminal(err, progress, [] { return db::TerminationSignal::received(); });
    // The check (--check, or --verify after a run) reads with connections of
    // its own, every transaction read-only.
    std::optional<CheckCommand> check;
    const auto runCheck = [&] {
        check.emplace(arguments, report.has_value());
        db::Connection central, branch;
        applyCredentials(central, arguments);
        applyCredentials(branch, arguments);
        return check->run(central, branch.parameters(), terminal, out, err,
                          [] { return db::TerminationSignal::received(); });
    };
    // A report that was not written makes a run that went well fail: the
    // status is at least 1, the reason on the error stream.
    const auto finishReport = [&](int status) {
        try {
            report->commit();
            return status;
        } catch (const ReportFileError& failure) {
            err << "tavolene-batch: " << oneLine(failure.what()) << std::endl;
            return std::max(status, static_cast<int>(kSomeNotWritten));
        }
    };
    if (arguments.check) {
        const int status = runCheck();
        if (!report) return status;
        check->writeReport(report->stream(), status);
        return finishReport(status);
    }
    const RunRecord record = runBatch(arguments, terminal);
    int status = exitStatus(record);
    if (record.centralError.empty()) out << summaryTable(record) << std::flush;
    if (arguments.verify && status <= kJobFailed) status = std::max(status, runCheck());
    if (!report) return status;
    std::string json = reportJson(record, status);
    std::ostream& file = report->stream();
    if (check) {
        json.erase(json.find_last_not_of(" \n", json.find_last_of('}') - 1) + 1);
        file << json << ",\n  \"check\": ";
        check->writeJson(file);
        json = "\n}";
    }
    file << json << '\n';
    return finishReport(status);
}

}  // namespace batch
