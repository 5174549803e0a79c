#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/DateTime.h"
#include "transfer/TableProfile.h"
#include "transfer/UpsertLayout.h"
#include "transfer/WrittenValue.h"

namespace db {
class DeclaredStatement;
class Statement;
class Transaction;
}  // namespace db

namespace transfer {

// One mapped column of a branch row as the copy sends it, and the central
// parameter it is given to.
struct ColumnValue : SentValue {
    const ColumnMapping* mapping = nullptr;
    int parameter = 0;
};
using RowValues = std::vector<ColumnValue>;

// Gives the value to the per-row statement in the type its write kind says.
void setParameter(const ColumnValue& value, db::Statement& central);

// Writes a table's rows into an open central transaction several at a time.
// One EXECUTE BLOCK holds the profile's own upsert once per row, each inside
// a handler of its own, so one round trip carries many rows. The inputs are
// declared in the types the per-row statement sends, and each value is
// converted to its column inside its row's handler, exactly as the per-row
// statement converts it: a value the column refuses fails that row alone.
//
// The block stops at the first row that fails, so every row meets the
// central table as the per-row run leaves it; the failing row is then run
// alone through the per-row statement, which gives the database's own
// message, and the rows after it go in the next block. A block the server
// refuses as a whole (a value its inputs cannot take) leaves nothing behind,
// and its rows go one by one.
//
// Before blocks, a run of rows is first tried as one MERGE over a UNION ALL
// of the rows (one relation context per row, so about three times the rows
// of a block, and no handler per row): the same declared inputs, every
// upsert column set on a match, key columns included, so the rows end as
// the upsert leaves them. A MERGE that fails for any reason is undone by the
// engine and its rows go through the blocks, which isolate each row.
class BlockWrites {
public:
    // `rowsPerStatement` bounds the rows of one statement, and so does
    // `rowsPerCommit`; a `rowsPerStatement` of 0 leaves it to the server's
    // limits, or to one row when the central database is a local file. Every
    // execution on the central is counted into `executions`.
    // `mergeRows` false keeps to the blocks.
    BlockWrites(db::Statement& central, const TableProfile& profile, int& executions, int rowsPerStatement,
                int rowsPerCommit, bool mergeRows = true);
    ~BlockWrites();
    BlockWrites(const BlockWrites&) = delete;
    BlockWrites& operator=(const BlockWrites&) = delete;

    // Counts the executions from now on into `executions`: a kept instance
    // serves the table jobs of a run, each with a tally of its own, and keeps
    // what it prepared and learnt.
    void countInto(int& executions) { executions_ = &executions; }

    // Rows one statement carries; 1 when the profile or the central table
    // does not lend itself to blocks, and every row goes alone. Learns the
    // central table's columns on the first call.
    int capacity();

    // Per row, in order, as soon as it is known: nothing when the row was
    // written, else the message the per-row statement failed with.
    using Outcome = std::function<void(const std::optional<std::string>& failure)>;

    // Writes the rows in order inside `transaction`, telling each row's
    // outcome. Only a lost connection leaves as an exception.
    void write(const std::vector<const RowValues*>& rows, db::Transaction& transaction, const Outcome& outcome);

private:
    void learnLayout();
    void learnMerge();
    bool prepareMerge(int rows);
    std::string mergeText(int rows) const;
    bool fitsMerge(const RowValues& row) const;
    std::string keyOf(const RowValues& row) const;
    std::size_t mergeEnd(const std::vector<const RowValues*>& rows, std::size_t begin) const;
    bool tryMerge(const std::vector<const RowValues*>& rows, std::size_t begin, std::size_t end,
                  db::Transaction& transaction);
    void writeBlocks(const std::vector<const RowValues*>& rows, std::size_t begin, std::size_t end,
                     db::Transaction& transaction, const Outcome& outcome);
    void prepareBlocks();
    bool prepareBlock(int rows);
    std::string blockText(int rows) const;
    bool fits(const RowValues& row) const;
    std::optional<std::string> writeAlone(const RowValues& row, db::Transaction& transaction);
    void writeRun(const std::vector<const RowValues*>& rows, std::size_t begin, std::size_t end,
                  db::Transaction& transaction, const Outcome& outcome);
    void setRow(unsigned firstPosition, const RowValues& row, db::Transaction& transaction);

    db::Statement& central_;
    const TableProfile& profile_;
    int* executions_;
    int rowsPerStatement_;
    int rowsPerCommit_;
    bool learnt_ = false;
    int capacity_ = 1;
    UpsertLayout layout_;
    std::unique_ptr<db::DeclaredStatement> block_;
    bool mergeRows_;
    std::vector<std::size_t> keyMarkers_;  // the markers of the primary key's columns
    int mergeCapacity_ = 0;
    int mergeMisses_ = 0;  // MERGEs in a row that failed with no row failing after
    std::unique_ptr<db::DeclaredStatement> merge_;
};

}  // namespace transfer
