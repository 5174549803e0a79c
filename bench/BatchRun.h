#pragma once

#include <string>
#include <vector>

namespace bench {

struct BatchTally {
    long written = 0;
    long failed = 0;
    long compared = 0;   // --changed-only: rows held against their central row
    double seconds = 0;  // the report's: from the central database being open to the end of the last job
    long peakKb = 0;     // the child's peak resident memory, from its report
    std::vector<std::string> problems;
};

// tavolene-batch (`program`) as a child process, as a timer runs it: one
// --branch entry per company code of `branch`, `rowsPerCommit` rows per
// commit, its JSON report in `reportPath`, and `extra` options.
BatchTally runBatch(const std::string& program, const std::string& branch, const std::string& central,
                    const std::vector<std::string>& codes, int rowsPerCommit, const std::string& reportPath,
                    const std::vector<std::string>& extra = {});

}  // namespace bench
