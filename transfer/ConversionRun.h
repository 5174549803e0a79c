#pragma once

#include "transfer/ProgressView.h"
#include "transfer/TableJob.h"

#include <string>

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

struct RunSummary {
    int writtenRows = 0;
    int failedRows = 0;
    int unopenedBranchJobs = 0;  // table jobs whose branch file could not be opened
    bool stopped = false;        // ended early because the window is closing

    bool clean() const { return failedRows == 0 && unopenedBranchJobs == 0 && !stopped; }
};

// For every entry in list order: the document job, then the movement job.
// A table job failure leaves as ConversionError; rows committed before it
// stay. The caller has opened the central connection and checked the list.
RunSummary runConversion(Connections connections, BranchList& list, ProgressView& view, UserMessages& messages);

// The box that ends a run that was not stopped: the success text when every
// row of every job was written and every branch opened, else the warning
// with the counts.
std::string runEndMessage(const RunSummary& summary);

inline const char* const kSucesso = "Integração realizada com sucesso!";

}  // namespace transfer
