#pragma once

// Deleting the central rows of a code that no listed branch of the code holds
// any more, with guards: only after every entry of the code was read to its
// end, never more than a bounded share of the code's rows, every deleted row
// first written to a log from which --restore puts it back.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "batch/Arguments.h"

namespace db {
class Connection;
}

namespace batch {

class Terminal;

class Pruner {
public:
    // `central` is open and takes the deletes; `tables` are the two copied
    // tables, DOCUREC then MOVIREC, with their central key columns.
    Pruner(db::Connection& central, const Arguments& arguments, Terminal& terminal,
           std::vector<std::vector<std::string>> keyColumns);

    // A central key of `table` (index into the copied tables) no branch of
    // the code holds, as the comparison shows it, in key column order.
    void onlyInCentral(std::size_t table, std::vector<std::string> key);
    // After every table of `code`: `incomplete` not empty says why nothing
    // of it may be deleted. `centralRows` counts both tables' central rows.
    // False when rows to delete were left in place, the reason told.
    bool codeDone(const std::string& code, const std::string& incomplete, long long centralRows);

private:
    void readRows(const std::string& table, const std::vector<std::string>& keyColumns,
                  const std::vector<std::string>& key, nlohmann::ordered_json& into);
    void writeLog(const nlohmann::ordered_json& adding);
    void deleteRows(const std::string& code);

    db::Connection& central_;
    const Arguments& arguments_;
    Terminal& terminal_;
    std::vector<std::vector<std::string>> keyColumns_;
    std::vector<std::vector<std::string>> keys_[2];
    long long keysOfCode_ = 0;  // counted past the keys kept once the limit is passed
    bool logOfEarlierRun_;      // the log file was there before this run
    nlohmann::ordered_json logged_ = nlohmann::ordered_json::array();  // every row deleted by this run
};

// --restore: upserts the rows of a prune log back into the central database.
// Returns the exit status, as a run's.
int restoreRows(const Arguments& arguments, std::ostream& out, std::ostream& err);

}  // namespace batch
