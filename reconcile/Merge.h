#pragma once

// The reconciliation check: for each company code and table, the branch rows
// of that code (from one branch or the union of several) against the central
// rows of that code, matched by the central table's primary key, each mapped
// column compared as the copy would have written it. Reads only.

#include <memory>
#include <string>
#include <vector>

#include "db/ConnectionParameters.h"
#include "reconcile/Amount.h"
#include "reconcile/ReconcileError.h"
#include "reconcile/RowStream.h"

namespace db {
class Connection;
}

namespace reconcile {

enum class DifferenceKind { Missing, Different, OnlyInCentral, Collision };

// "missing", "different", "only-in-central", "collision".
const char* kindName(DifferenceKind kind);

struct Difference {
    DifferenceKind kind = DifferenceKind::Missing;
    std::vector<std::string> key;      // in the order of TableCheck::keyColumns, as shown to the user
    std::vector<std::string> columns;  // Different: the central columns that differ
    // Missing and Different: the branch whose row the central should hold.
    // Collision: every branch that holds the key, in list order; the last is
    // the one a run leaves in the central database.
    std::vector<int> branches;  // indexes into TableCheck::branches
    // Missing and Different, for a sink that keeps sent rows: the branch row
    // as the copy sends it; valid during the call.
    const SentRow* row = nullptr;
    // OnlyInCentral: the central row's values, in rule order; valid during
    // the call.
    const std::vector<Value>* central = nullptr;
};

struct BranchTally {
    std::string banco;
    long long rows = 0;          // rows of the code in this branch
    std::vector<Amount> totals;  // as TableCheck::totals, over this branch's rows
};

struct ControlTotal {
    std::string column;  // central column
    Amount branch;       // over the branch rows the central should hold
    Amount central;
};

// One table of one company code.
struct TableCheck {
    std::string table;
    std::string empresa;
    std::vector<std::string> keyColumns;  // the central primary key
    std::vector<BranchTally> branches;    // the entries of the code, in list order
    long long centralRows = 0;
    long long equal = 0;
    long long missing = 0;
    long long different = 0;
    long long onlyInCentral = 0;
    long long collisions = 0;
    std::vector<ControlTotal> totals;
    std::string notChecked;  // not empty: why the table could not be compared

    bool isUnion() const { return branches.size() > 1; }
    long long differences() const { return missing + different + onlyInCentral + collisions; }
    bool inSync() const { return notChecked.empty() && differences() == 0; }
};

// Where the check's findings go as they are made; nothing is kept.
class CheckSink {
public:
    virtual ~CheckSink() = default;
    // `table` holds the counts so far.
    virtual void difference(const TableCheck& table, const Difference& difference) = 0;
    virtual void tableDone(const TableCheck& table) = 0;
    // Whether differences come with the branch row as the copy sends it.
    virtual bool keepsSentRows() const { return false; }
    // A key whose central row is as the run would write it, from `branch`.
    virtual void unchanged(const TableCheck& /*table*/, int /*branch*/) {}
    // A branch file of the check that could not be attached; its tables are
    // then told as not checked.
    virtual void branchNotOpened(const std::string& /*banco*/, const std::string& /*reason*/) {}
    // Asked between rows: true ends the check with ReconcileStopped.
    virtual bool stopRequested() const { return false; }
};

struct CheckEntry {
    std::string banco;
    std::string empresa;
};

struct CheckSummary {
    int tables = 0;
    int tablesInSync = 0;
    int notChecked = 0;  // tables of codes with a branch that could not be opened
    bool inSync() const { return notChecked == 0 && tablesInSync == tables; }
};

// The central tables the copy writes, described; a failure of the database
// leaves as ReconcileError.
std::vector<CentralTable> describeCentralTables(db::Connection& central);

// A table's check before its rows: the key, the entries and the totals.
TableCheck emptyCheck(const CentralTable& table, const std::string& empresa, const std::vector<std::string>& bancos);

struct MergeSource {
    std::string banco;
    db::Connection* connection;
};

// Compares one table of one code: the sources' rows (in list order, a later
// one winning a shared key) with the central rows of the code, counting into
// `check` and telling `sink` as it goes.
void mergeTable(const CentralTable& table, db::Connection& central, const std::vector<MergeSource>& sources,
                TableCheck& check, CheckSink& sink);

// The sources' rows of one table and code, a stream each in source order, at
// their first rows; `keepSent` as the sink's keepsSentRows().
using BranchStreams = std::vector<std::unique_ptr<RowStream>>;
BranchStreams openBranchStreams(const CentralTable& table, const std::vector<MergeSource>& sources,
                                const std::string& empresa, bool keepSent);
// Compares as the mergeTable above, with the central rows of the table and
// code and the branch streams opened already for check.empresa, each at its
// first row.
void mergeTable(const CentralTable& table, RowStream& centralRows, BranchStreams branches, TableCheck& check,
                CheckSink& sink);

// Compares, for every company code of the entries (in the order the codes
// first appear) and every table, the union of the code's branches with the
// central rows of the code. Branch connections are made from
// `branchSettings` with each entry's Database and read only; the central
// connection must be open and should be read-only. A branch that cannot be
// opened leaves its code's tables not checked; failures that end the check
// leave as ReconcileError.
CheckSummary checkEntries(db::Connection& central, const std::vector<CheckEntry>& entries,
                          const db::ConnectionParameters& branchSettings, CheckSink& sink);

}  // namespace reconcile
