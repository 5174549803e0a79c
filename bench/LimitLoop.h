#pragma once

#include <string>
#include <vector>

namespace bench {

// The upsert of one table as the limit loop runs it: the program's own
// statement text with '?' markers, the matching branch select, and which
// columns are written as a date alone.
struct LimitTable {
    std::string select;  // one '?' for the company code
    std::string upsert;  // '?' markers, columns in the order of the select
    std::vector<bool> dateOnly;
};

// Built from transfer's statement texts and column mappings.
LimitTable limitDocuRec();
LimitTable limitMoviRec();

// The column list of an "UPDATE OR INSERT INTO T (A, B) VALUES (:A, :B)"
// text, and the text with every :NAME marker replaced by '?'.
std::vector<std::string> upsertColumns(const std::string& upsert);
std::string positionalMarkers(const std::string& sql);

struct LimitTally {
    long written = 0;
    long failed = 0;
};

// The floor: for each company code, documents then movements, a minimal
// loop on the Firebird client API reads the branch rows once and writes
// each with the same upsert, prepared once, in a transaction of its own
// (start, execute, commit). Values are the ones the program writes: NULL
// becomes empty text, 0 or 30 December 1899, date-only columns lose their
// time of day, the notes blob is copied into the central transaction.
// `central` must exist; the loop attaches to both files itself.
// With `commitPerJob`, the floor of a fast run instead (L1): every row of a
// table job goes into one central transaction, committed at the job's end;
// a failing row is undone alone by its statement's own savepoint.
LimitTally runLimit(const std::string& branch, const std::string& central, const std::vector<std::string>& codes,
                    bool commitPerJob = false);

}  // namespace bench
