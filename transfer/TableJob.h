#pragma once

#include <stdexcept>
#include <string>

#include "transfer/ProgressView.h"
#include "transfer/RowCopy.h"
#include "transfer/TableProfile.h"

namespace db {
class Connection;
class Query;
class Statement;
}  // namespace db

namespace transfer {

// A failure that ends a table job, and with it the run. Its message starts
// with "Erro ao converter os dados! Motivo: ". `tally` is what the job had
// read, written and failed before the failure.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    ConversionError(const std::string& message, CopyTally partial)
        : std::runtime_error(message), tally(std::move(partial)) {}

    CopyTally tally;
};

// The reason of a job failure whose central attachment was lost.
inline const char* const kCentralPerdido = "conexão com o banco de dados Centralizador perdida";

struct JobResult {
    std::string table;
    bool branchOpened = false;
    bool branchIsCentral = false;   // the branch attachment reached the central database itself
    bool branchUnanswered = false;  // not opened because its server did not answer
    CopyTally tally;
    double seconds = 0;  // from attaching the branch to the last commit
};

// The two connections a job works with; owned by the window.
struct Connections {
    db::Connection& central;
    db::Connection& branch;
};

// What a table job may do otherwise than the window does.
struct JobOptions {
    CommitPolicy commit;
    // A view that shows the row total gets it from the branch database
    // (one COUNT) instead of from a counting pass over the select, which
    // fetches every row twice and processes events once per row.
    bool countInDatabase = false;
    // A branch connection already attached to the job's file is used as it
    // is: the entry's second table needs no attach of its own.
    bool keepBranchAttachment = false;
    // The attachment kept may be an earlier entry's, and may have died
    // since: found lost before the job reads a row, it is attached afresh,
    // and a failure to attach is told as the entry's, as without keeping it.
    bool keptAttachmentMayBeStale = false;
    // Short blobs arrive with their rows (the profile's inlineSelectSql).
    bool inlineShortBlobs = false;
    // The upsert to run, kept by the caller so that it is prepared once per
    // run for its table; null: a statement of the job's own.
    db::Statement* central = nullptr;
    // The block writer for `central`, kept with it for the run so that its
    // blocks are prepared once; null: the job's own.
    BlockWrites* blocks = nullptr;
    // The branch select, kept by the caller so that entries reading one
    // branch attachment prepare it once (only the company code changes);
    // null: a query of the job's own.
    db::Query* branchSelect = nullptr;
    // Branch rows read on a thread of their own, at most this many ahead
    // of the central writes (see copyRows); 0: read between the writes.
    int readAheadRows = 0;
};

// Attaches the branch connection to the entry's file, selects the profile's
// table for the company code and copies it into the central database. A
// branch file that cannot be opened has been reported to the user and gives
// branchOpened false; so does a branch that turns out to be the central
// database itself, which is left unread and not reported here. Any other
// failure throws ConversionError, whose reason names the branch file and the
// table before the database's message, or says that the central attachment
// was lost when that was the failure. The
// label is blanked and the gauge reset whatever happens.
JobResult runTableJob(Connections connections, const std::string& pBancoFilial, const std::string& pEmpresa,
                      const TableProfile& profile, ProgressView& view, UserMessages& messages,
                      const JobOptions& options = {});

JobResult ConverteDocuRec(Connections connections, const std::string& pBancoFilial, const std::string& pEmpresa,
                          ProgressView& view, UserMessages& messages, const JobOptions& options = {});
JobResult ConverteMoviRec(Connections connections, const std::string& pBancoFilial, const std::string& pEmpresa,
                          ProgressView& view, UserMessages& messages, const JobOptions& options = {});

}  // namespace transfer
