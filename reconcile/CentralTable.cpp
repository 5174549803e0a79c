#include "reconcile/CentralTable.h"

#include <string_view>

#include "reconcile/ReconcileError.h"
#include "transfer/Tables.h"

namespace reconcile {

namespace {

// Both selects of the copy keep to one company by this column.
constexpr std::string_view kCompanyColumn = "CODEMPRESA";

int ruleOf(const std::vector<Rule>& rules, std::string_view column) {
    for (std::size_t i = 0; i < rules.size(); ++i)
        if (rules[i].column == column) return static_cast<int>(i);
    return -1;
}

}  // namespace

const std::vector<CheckedTable>& checkedTables() {
    static const std::vector<CheckedTable> tables{
        {&transfer::docuRecProfile(), {"ValorDocto", "ValorPago"}},
        {&transfer::moviRecProfile(), {"ValorMov"}},
    };
    return tables;
}

CentralTable describeCentral(const db::TableShape& shape, const CheckedTable& checked) {
    CentralTable table;
    table.checked = &checked;
    table.name = checked.profile->tableName;
    const std::string& name = table.name;
    table.centralTypes = shape.columns;
    if (table.centralTypes.empty()) throw ReconcileError(name + ": the central database has no table " + name);
    table.keyColumns = shape.primaryKey;
    if (table.keyColumns.empty())
        throw ReconcileError(name +
                             ": the central table has no primary key, so its rows cannot be matched with the "
                             "branch rows");
    for (const transfer::ColumnMapping& mapping : checked.profile->columns) {
        const auto found = table.centralTypes.find(upper(mapping.parameter));
        if (found == table.centralTypes.end())
            throw ReconcileError(name + ": the central table has no column " + upper(mapping.parameter));
        table.rules.push_back(makeRule(mapping, found->second));
    }
    for (const std::string& column : table.keyColumns) {
        const int rule = ruleOf(table.rules, column);
        if (rule < 0)
            throw ReconcileError(name + ": the primary key column " + column +
                                 " of the central table is not one the copy writes");
        table.keyRules.push_back(rule);
    }
    table.companyRule = ruleOf(table.rules, kCompanyColumn);
    if (table.companyRule < 0)
        throw ReconcileError(name + ": the copy writes no column " + std::string(kCompanyColumn));
    for (const std::string& field : checked.moneyFields) {
        const int rule = ruleOf(table.rules, upper(field));
        if (rule < 0) throw ReconcileError(name + ": no money column " + field);
        table.moneyRules.push_back(rule);
    }
    return table;
}

}  // namespace reconcile
