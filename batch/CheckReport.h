#pragma once

#include <cstdio>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "reconcile/Merge.h"

namespace transfer {
class UserMessages;
}

namespace batch {

struct Arguments;

// "DOCUREC 01 missing CODEMPRESA=01 TIPODOCTO=DP CODDOCTO=4711 from /data/a.fdb"
std::string differenceLine(const reconcile::TableCheck& table, const reconcile::Difference& difference);

// "DOCUREC 01 /data/a.fdb: in sync, 120 rows; VALORDOCTO branch 10.00 central 10.00 difference 0.00; ..."
// A code given by several entries names the union of their files.
std::string verdictLine(const reconcile::TableCheck& table);

// Writes the check's findings on `out`, a table at a time: the first
// differences of each table and its verdict line once the table is done, so
// a failure that ends the check midway (rows out of key order) leaves no
// finding of that table that may be false. With `keepAll`, every
// difference is also kept, in a temporary file rather than in memory, for
// the JSON report.
class CheckReport : public reconcile::CheckSink {
public:
    static constexpr int kShownPerTable = 100;

    // `stop` is asked between rows; a branch not opened is also told to
    // `messages` when given, in a run's words.
    CheckReport(std::ostream& out, bool keepAll, std::function<bool()> stop = {},
                transfer::UserMessages* messages = nullptr);

    void difference(const reconcile::TableCheck& table, const reconcile::Difference& difference) override;
    void tableDone(const reconcile::TableCheck& table) override;
    void branchNotOpened(const std::string& banco, const std::string& reason) override;
    bool stopRequested() const override { return stop_ && stop_(); }

    // The check as one JSON object: its verdict, the failure that ended it
    // if one did, and every table done with all of its differences.
    void writeJson(std::ostream& json, const reconcile::CheckSummary& summary, const std::string& failure) const;

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    struct KeptTable {
        std::string json;  // the table without its differences
        long begin = 0;    // its differences in the spill file
        long end = 0;
    };

    std::ostream& out_;
    std::function<bool()> stop_;
    transfer::UserMessages* messages_;
    std::unique_ptr<std::FILE, Closer> spill_;
    long tableBegin_ = 0;
    long long inTable_ = 0;
    std::vector<std::string> shown_;  // the current table's first differences
    std::vector<KeptTable> tables_;
};

// tavolene-batch --check, and the check that --verify runs after a run.
class CheckCommand {
public:
    // `forReport`: keep every difference for writeJson().
    CheckCommand(const Arguments& arguments, bool forReport);

    // Attaches `central` (credentials set by the caller) to the central
    // database and every branch with `branchSettings`, all read-only, and
    // checks every entry. Returns the exit status: 0 in sync; 1 differences,
    // or a branch that could not be opened; 2 a failure that ended the check
    // (one line on `err`); 3 the central database cannot be opened (told
    // through `messages`); 128 + the signal when `stop` said so.
    int run(db::Connection& central, const db::ConnectionParameters& branchSettings, transfer::UserMessages& messages,
            std::ostream& out, std::ostream& err, std::function<bool()> stop);

    // The check as one JSON object.
    void writeJson(std::ostream& json) const;
    // The report file of --check alone: the central database, the list, the
    // check and the exit status.
    void writeReport(std::ostream& json, int exitStatus) const;

private:
    const Arguments& arguments_;
    bool forReport_;
    std::unique_ptr<CheckReport> report_;
    reconcile::CheckSummary summary_;
    std::string failure_;
};

}  // namespace batch
