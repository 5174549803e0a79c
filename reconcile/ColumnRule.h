#pragma once

// One mapped column as the check compares it: the value a run writes for the
// branch field against the value the central column holds.

#include <string>
#include <string_view>

#include "db/SystemTables.h"
#include "transfer/TableProfile.h"
#include "transfer/WrittenValue.h"

namespace db {
class Query;
}

namespace reconcile {

std::string upper(std::string_view text);
std::string_view withoutTrailingBlanks(std::string_view text);

struct Rule : transfer::WrittenColumn {
    std::string column;  // central column
    std::string field;   // branch field, as the mapping names it
};

Rule makeRule(const transfer::ColumnMapping& mapping, const db::ColumnType& central);

struct Value : transfer::WrittenValue {
    bool null = false;    // a central NULL: never what a run writes
    std::string problem;  // not empty: the copy could not send this value
};

// The value a run writes for this branch field, as the central column keeps it.
void readBranchValue(const Rule& rule, const db::Query& query, int index, Value& value);

// The value the central database holds. A NULL there differs from every
// branch value: a run writes '', 0, 30 December 1899 or no bytes for a branch
// NULL, never a NULL, and SUM and WHERE treat that row otherwise. It reads as
// 0 (adding nothing to the totals) and as an empty key part.
void readCentralValue(const Rule& rule, const db::Query& query, int index, Value& value);

bool sameValue(const Rule& rule, const Value& branch, const Value& central);

// The value as the user is shown it in a key.
std::string shownValue(const Rule& rule, const Value& value);

}  // namespace reconcile
