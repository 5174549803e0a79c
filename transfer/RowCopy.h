#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/Error.h"
#include "transfer/ProgressView.h"
#include "transfer/TableProfile.h"
#include "transfer/WrittenValue.h"

namespace db {
class Query;
class Statement;
}  // namespace db

namespace transfer {

class BlockWrites;

// A branch row that was not written: its key as the screen shows it, and
// the database's message.
struct RowFailure {
    std::string key;
    std::string message;
};

struct CopyTally {
    int read = 0;     // branch rows the loop went through
    int written = 0;  // rows whose commit succeeded
    int failed = 0;
    int compared = 0;           // rows held against the central row of their key (a run that writes only what differs)
    int unchanged = 0;          // of those, rows the central already holds as the run would write them
    bool stopped = false;       // the view asked to stop between rows
    int centralStatements = 0;  // executions on the central, a block of rows counting once
    std::vector<RowFailure> failures;
};

// How the central writes are committed. One row per commit is the window's
// way: every row is in the central database before the next is read. More
// rows per commit share one transaction; a failing row is undone alone and
// the rest of its transaction still commits.
struct CommitPolicy {
    int rowsPerCommit = 1;
    // With several rows per commit, the most rows one central statement
    // carries. 0: as many as the server's limits allow when the central
    // database is reached through a server, and one for a local file, which
    // has no round trips to save (its engine spends more on a block than on
    // the same rows one by one).
    int rowsPerStatement = 0;
    // Rows tried first as one MERGE, with blocks for a MERGE that fails
    // (BlockWrites); false: blocks only.
    bool mergeRows = true;
    // With one row per commit: the server commits each row as its execute
    // ends, in one transaction started once, instead of the copy starting
    // and committing a transaction per row (one round trip a row instead of
    // three). Each row is still committed on its own before the next is read.
    bool serverCommitsEachRow = false;
};

// The central statement's attachment is gone. Told apart from a lost branch
// by the connection that failed, so the job failure can name the right one.
class CentralConnectionLost : public db::Error {
public:
    using db::Error::Error;
};

// Counts the rows of the open query, processing events once per row; leaves
// the query at its end.
int retornaQuantRegistros(db::Query& pQuery, ProgressView& view);

// The row copy loop: every row of the open branch query is written through
// the profile's upsert and committed as the policy says. A failing row
// becomes one log line and the loop goes on. Failures outside a row's
// handling (counting, re-reading the select, moving to the next row, reading
// the key of a failed row) and a lost connection leave as db::Error; a lost
// central attachment as CentralConnectionLost.
CopyTally copyRows(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view,
                   const CommitPolicy& policy = {});
// The same, counting into `tally`: when the loop leaves by a failure, the
// caller still has what was read, written and failed before it. A
// `rowTotal` already known (asked of the database) is the gauge's maximum
// in place of the counting pass. `keptBlocks`, when given, writes the rows
// of several per commit (made for `central`, the profile and the policy, and
// kept by the caller across the jobs of a run); else the loop has its own.
// With `readAheadRows`, the branch rows are read on a thread of their own,
// at most that many ahead of the rows being written (the branch query is
// then not to be touched by anyone else until the call returns).
void copyRows(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view,
              const CommitPolicy& policy, CopyTally& tally, std::optional<int> rowTotal = std::nullopt,
              BlockWrites* keptBlocks = nullptr, int readAheadRows = 0);

// Writes rows chosen elsewhere (those that differ from the central rows)
// exactly as the copy loop writes a branch row: through the profile's
// upsert, committed as the policy says, a failing row logged in the
// window's format and counted into `tally`. Only a lost central attachment
// (CentralConnectionLost) leaves as an exception.
class RowWriter {
public:
    RowWriter(db::Statement& central, const TableProfile& profile, ProgressView& view, const CommitPolicy& policy,
              CopyTally& tally);
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // `values` in the profile's column order; `key` as the log shows it.
    void write(const std::string& key, const std::vector<SentValue>& values);
    // The row could not be read as the copy sends it.
    void rowFailed(const std::string& key, const std::string& message);
    // Commits what is open; called before the tally is read.
    void commit();

private:
    class Writes;
    db::Statement& central_;
    const TableProfile& profile_;
    std::vector<int> parameters_;  // per profile column
    std::unique_ptr<Writes> writes_;
};

CopyTally GravaDocuRecCentral(db::Statement& qryDocuRecCentral, db::Query& qryDocuRecFilial, ProgressView& view);
CopyTally GravaMoviRecCentral(db::Statement& qryMoviRecCentral, db::Query& qryMoviRecFilial, ProgressView& view);

}  // namespace transfer
