#pragma once

// A copied table as the check reads it: the central table's columns, types
// and primary key, and the rule of each column the copy maps.

#include <string>
#include <vector>

#include "db/SystemTables.h"
#include "reconcile/ColumnRule.h"
#include "transfer/TableProfile.h"

namespace db {
class Connection;
}

namespace reconcile {

// A table as the check sees it: the copy's profile and the money columns
// whose sums are the control totals (branch field names).
struct CheckedTable {
    const transfer::TableProfile* profile;
    std::vector<std::string> moneyFields;
};

// DOCUREC then MOVIREC, as a run copies them.
const std::vector<CheckedTable>& checkedTables();

struct CentralTable {
    const CheckedTable* checked = nullptr;
    std::string name;
    std::vector<Rule> rules;  // in mapping order; both selects list their columns in this order
    std::vector<int> keyRules;
    std::vector<std::string> keyColumns;
    std::vector<int> moneyRules;
    int companyRule = -1;
    db::ColumnTypes centralTypes;
};

// The central table's description from its shape as the database tells it
// (db::readTableShapes); a table the copy cannot be compared with (no
// primary key, a mapped column missing) is a ReconcileError.
CentralTable describeCentral(const db::TableShape& shape, const CheckedTable& checked);

}  // namespace reconcile
