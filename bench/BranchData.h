#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace bench {

// The company codes the generated branch holds; the benchmark copies both,
// one list entry each.
inline const std::vector<std::string> kCompanyCodes = {"01", "02"};

struct BranchCounts {
    long documents = 0;
    long movements = 0;
    long rows() const { return documents + movements; }
};

// One row to insert: values in the order of the column list, std::nullopt
// for NULL. Dates are "YYYY-MM-DD HH:MM:SS[.ffff]"; numbers are decimal text.
using GeneratedRow = std::vector<std::optional<std::string>>;

// Rows that look like a branch's receivable data: company codes 01 and 02
// (three documents in five are 01), NULLs in the nullable columns at
// rates that differ by column (not in ORDEM and DATAHORA, which the program reads
// and writes as text, so NULL there fails the row), Windows-1252 and some UTF-8 accented text, notes
// blobs of a few hundred bytes (some NULL, some empty), dates with times of
// day, and 0 to 6 movements per document (3 on average). Deterministic for
// a seed.
class BranchRowSource {
public:
    explicit BranchRowSource(unsigned seed = 20240611);

    // Column names of the branch tables, in the order of the values.
    static const std::vector<std::string>& documentColumns();
    static const std::vector<std::string>& movementColumns();
    // Position of the notes blob in documentColumns().
    static std::size_t documentBlobColumn();

    GeneratedRow document(long number);
    // How many movements the document just generated has.
    int movementCountForLastDocument() const { return lastMovementCount_; }
    GeneratedRow movement(int instalment);

private:
    std::mt19937 random_;
    GeneratedRow lastDocument_;
    int lastMovementCount_ = 0;
};

// Creates the branch database at `path` (embedded engine, dialect 1, the
// tests' branch schema) and fills it with `documents` documents and their
// movements, inserted in large transactions.
BranchCounts generateBranch(const std::string& path, long documents, unsigned seed = 20240611);

// Creates an empty central database with the tests' central schema. With
// forced writes (the default for a new database) every commit waits for the
// disk, as at a customer's.
void createCentral(const std::string& path, bool forcedWrites = true);

// Stores a page cache size in the database header (gfix -buffers): the
// embedded engine then caches that many pages of the file instead of its
// default 2048.
void setPageBuffers(const std::string& path, int pages);

// Rows of DOCUREC and MOVIREC in a database.
BranchCounts countRows(const std::string& path);

}  // namespace bench
