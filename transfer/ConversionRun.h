#pragma once

#include <string>
#include <vector>

#include "transfer/ProgressView.h"
#include "transfer/TableJob.h"

namespace transfer {

// The branch list as the run walks it, with one current entry. The window's
// list model implements it; entries removed while the run walks the list are
// its business (see the model).
class BranchList {
public:
    virtual ~BranchList() = default;
    virtual int count() const = 0;
    virtual void first() = 0;
    virtual bool eof() const = 0;
    virtual void next() = 0;
    // UTF-8 texts of the current entry.
    virtual std::string banco() const = 0;
    virtual std::string empresa() const = 0;
};

// One table job of a run, as a report tells it.
struct JobReport {
    std::string banco;
    std::string empresa;
    std::string table;
    bool branchOpened = false;
    CopyTally tally;
    double seconds = 0;
};

struct RunSummary {
    int writtenRows = 0;
    int failedRows = 0;
    int unopenedBranches = 0;     // listed files that could not be opened, each counted once
    int unprunedCodes = 0;        // codes whose rows to delete were left in place (refused or failed)
    bool stopped = false;         // ended early because a stop was asked for
    std::vector<JobReport> jobs;  // in the order they ran

    bool clean() const { return failedRows == 0 && unopenedBranches == 0 && !stopped; }
};

struct RunOptions {
    CommitPolicy commit;
    // An entry whose branch server did not answer its first table's
    // attach is not tried again for the second (the window tries twice and
    // warns twice).
    bool oneAttemptPerSilentBranch = false;
    // See JobOptions: the row total asked of the database.
    bool countInDatabase = false;
    // The entry's second table job uses the branch attachment of its first,
    // and so does an entry that names the branch string of the entry before
    // it (same connection, same credentials), with the branch selects kept
    // prepared; each table's upsert is prepared once for the whole run (the
    // window attaches and prepares per job).
    bool shareAcrossJobs = false;
    // See JobOptions: short blobs read with their rows.
    bool inlineShortBlobs = false;
    // See JobOptions: branch rows read ahead of the central writes.
    int readAheadRows = 0;
    // The branch selects of the run read in one transaction per branch
    // attachment (db::Connection::setSharedReads) instead of one each.
    bool shareBranchReads = false;
};

// For every entry in list order: the document job, then the movement job.
// An entry that names the central file itself, by its path or through a
// server, is refused like a branch that cannot be opened. A table job failure leaves as ConversionError; rows
// committed before it stay. The caller has opened the central connection and
// checked the list.
RunSummary runConversion(Connections connections, BranchList& list, ProgressView& view, UserMessages& messages,
                         const RunOptions& options = {});
// The same, filling `summary` as the jobs end: when a table job failure
// leaves, the caller still has the jobs that ran before it.
void runConversion(Connections connections, BranchList& list, ProgressView& view, UserMessages& messages,
                   const RunOptions& options, RunSummary& summary);

// The box that ends a run that was not stopped: the success text when every
// row of every job was written and every branch opened, else the warning
// with the counts.
std::string runEndMessage(const RunSummary& summary);

// The reason shown for a listed file that is the central database itself.
inline const char* const kBancoCentralizadorNaLista =
    "o arquivo é o próprio banco de dados Centralizador e não pode ser convertido nele mesmo";

inline const char* const kSucesso = "Integração realizada com sucesso!";

}  // namespace transfer
