#pragma once

// The central rows of the tables a run compares, opened ahead of their
// merge. Through a far server each central select costs its prepare,
// execute and first fetches in round trips, and a run of several codes
// waits for them one after the other. Here each table of each code, in the
// order the run merges them, gets its stream on one of a few read-only
// attachments of their own while the tables before it are merged.
//
// A stream opened ahead is used only when the run changed nothing in the
// central database since it was opened; otherwise it is opened again, so the
// rows compared are those the central holds after every write before them,
// as when each table is read in its turn.

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "reconcile/RowStream.h"

namespace db {
class Connection;
}

namespace reconcile {

class CentralRowsAhead {
public:
    // `setup` gives a new connection its parameters before it is attached
    // (read only); `attachments` streams are open at most at once.
    // `centralChanges` counts what the run wrote or deleted in the central
    // database so far. The attachments start being made at once.
    CentralRowsAhead(std::function<void(db::Connection&)> setup, std::size_t attachments,
                     const long long& centralChanges);
    ~CentralRowsAhead();
    CentralRowsAhead(const CentralRowsAhead&) = delete;
    CentralRowsAhead& operator=(const CentralRowsAhead&) = delete;

    // The tables and codes in the order they will be taken; the first ones
    // are opened now. `table` outlives this object.
    void plan(const std::vector<std::pair<const CentralTable*, std::string>>& jobs);

    // The stream of `table` and `code`, valid until release(). Planned jobs
    // before it that were not taken are let go (a code none of whose
    // entries opened). Failures to attach or to open leave as they would
    // from RowStream.
    RowStream& take(const CentralTable& table, const std::string& code);
    // Ends the stream taken, once what the merge wrote is committed: its
    // attachment then opens the next planned job.
    void release();

private:
    struct Reader;
    struct Job {
        const CentralTable* table = nullptr;
        std::string code;
        Reader* reader = nullptr;
        std::future<std::unique_ptr<RowStream>> opening;  // valid once launched
        long long changesAtLaunch = 0;
    };

    void launch(Job& job, Reader& reader);
    void openAhead();
    static void letGo(Job& job) noexcept;

    const long long& centralChanges_;
    std::vector<std::unique_ptr<Reader>> readers_;
    std::vector<Job> jobs_;
    std::size_t next_ = 0;  // the next job to take
    std::unique_ptr<RowStream> taken_;
    Reader* takenReader_ = nullptr;
};

}  // namespace reconcile
