#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "batch/Arguments.h"
#include "transfer/ConversionRun.h"

namespace db {
class Connection;
}

namespace batch {

// A table job that failed and ended the run, with what it had done before.
struct FailedJob {
    std::string banco;
    std::string empresa;
    std::string table;
    std::string message;        // the engine's job failure text
    transfer::CopyTally tally;  // read, written and failed before the failure
};

// How a run went: what the summary table and the report are made of.
struct RunRecord {
    Arguments arguments;
    std::string user;  // attached as; the password is never kept here
    std::string role;
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point ended;
    // From the central database being open to the end of the last job: the
    // conversion itself, without the start of the process and of the
    // database engine, which the first attachment includes.
    double seconds = 0;
    std::string centralError;  // not empty: the central database could not be opened
    transfer::RunSummary summary;
    std::optional<FailedJob> failedJob;
    std::vector<std::string> messages;  // branch and central refusals, as shown
    int signal = 0;                     // the signal that asked to stop, 0 if none
    long peakMemoryKb = 0;              // the process's peak resident memory at the end; 0 if unknown
    // With --jobs above 1: why the entries still ran one after another;
    // empty when they ran at once.
    std::string inOrderBecause;
};

int exitStatus(const RunRecord& record);

// The window's fixed user, password and role, unless the environment (the
// Firebird tools' own variables) or --role say otherwise; and the waits an
// unattended run needs.
void applyCredentials(db::Connection& connection, const Arguments& arguments);

// Opens the central database with the arguments' credentials, converts
// every entry in order through the engine, and tells how it went. What the
// engine shows goes to `terminal`.
class Terminal;
RunRecord runBatch(const Arguments& arguments, Terminal& terminal);

// Converts the entries of `list` through the engine; a table job failure
// is shown on the terminal and returned with what it had done.
std::optional<FailedJob> convertEntries(transfer::Connections connections, transfer::BranchList& list,
                                        Terminal& terminal, const Arguments& arguments, transfer::RunSummary& summary);

// The whole program after its arguments: the run, the summary on `out`,
// the report file; returns the exit status.
int runFromCommandLine(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace batch
