#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/Transaction.h"
#include "transfer/BlockWrites.h"
#include "transfer/ProgressView.h"
#include "transfer/RowCopy.h"
#include "transfer/TableProfile.h"

namespace db {
class Statement;
}

namespace transfer {

// Where the loop's rows are committed: each on its own, or several in one
// transaction. With several, the rows are kept until a block of them is
// full and then written together (BlockWrites); a row that fails before it
// reaches the central statement waits in line too, so the log keeps the
// rows' order. Rows written into the open transaction count as written only
// when it commits; when the commit fails they all become failed rows.
class CentralWrites {
public:
    CentralWrites(db::Statement& central, const TableProfile& profile, ProgressView& view, const CommitPolicy& policy,
                  CopyTally& tally, BlockWrites* keptBlocks);

    // Whether rows are handed over with their values (add) rather than set
    // on the central statement (write): only where several go in one
    // statement. A central that takes one row a statement (a local file)
    // gets each row straight into the open transaction.
    bool collectsRows();

    // The row's parameters are set; `key` is its key as the screen shows it.
    void write(const std::string& key);

    void add(const std::string& key, RowValues values);

    // The row failed before reaching the central statement.
    void rowFailed(const std::string& key, const std::string& message);

    void commit();

private:
    struct PendingRow {
        std::string key;
        std::optional<RowValues> values;
        std::string failure;  // when there are no values
    };

    void endEachRow();
    void flush();
    void commitOpen();

    db::Statement& central_;
    const TableProfile& profile_;
    ProgressView& view_;
    int rowsPerCommit_;
    bool serverCommitsEachRow_;
    CopyTally& tally_;
    std::optional<bool> collects_;  // known once the blocks tell their capacity
    std::optional<BlockWrites> ownBlocks_;
    BlockWrites& blocks_;
    std::optional<db::Transaction> open_;
    std::optional<db::Transaction> eachRow_;  // one row per commit, committed by the server
    std::vector<PendingRow> pending_;
    int pendingValues_ = 0;
    std::vector<std::string> committing_;  // written into the open transaction
};

}  // namespace transfer
