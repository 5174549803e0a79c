#include "reconcile/Merge.h"

#include <algorithm>
#include <memory>

#include "db/Connection.h"
#include "db/Error.h"
#include "reconcile/CentralTable.h"
#include "reconcile/RowStream.h"

namespace reconcile {

namespace {

std::vector<Amount> emptyTotals(const CentralTable& table) {
    std::vector<Amount> totals;
    for (int index : table.moneyRules) {
        const Rule& rule = table.rules[static_cast<std::size_t>(index)];
        totals.emplace_back(rule.decimals, rule.inUnits);
    }
    return totals;
}

void addTotals(const CentralTable& table, const std::vector<Value>& values, std::vector<Amount>& totals) {
    for (std::size_t i = 0; i < table.moneyRules.size(); ++i) {
        const auto index = static_cast<std::size_t>(table.moneyRules[i]);
        const Value& value = values[index];
        if (!value.problem.empty()) continue;
        totals[i].add(value.units, value.number);
    }
}

std::vector<std::string> shownKey(const CentralTable& table, const std::vector<Value>& values) {
    std::vector<std::string> key;
    for (int index : table.keyRules)
        key.push_back(
            shownValue(table.rules[static_cast<std::size_t>(index)], values[static_cast<std::size_t>(index)]));
    return key;
}

void mergeStreams(const CentralTable& table, const std::vector<std::unique_ptr<RowStream>>& branches,
                  RowStream& centralRows, TableCheck& check, CheckSink& sink) {
    const bool keepSent = sink.keepsSentRows();

    std::vector<Amount> unionTotals = emptyTotals(table);
    std::vector<Amount> centralTotals = emptyTotals(table);
    std::vector<Value> kept;  // the branch row the central should hold
    SentRow keptSent;
    std::vector<int> holders;
    Key current;
    for (long long step = 1;; ++step) {
        if (step % 1024 == 0 && sink.stopRequested()) throw ReconcileStopped();
        const Key* smallest = centralRows.atEnd() ? nullptr : &centralRows.key();
        for (const auto& branch : branches)
            if (!branch->atEnd() && (!smallest || keyLess(branch->key(), *smallest))) smallest = &branch->key();
        if (!smallest) break;
        current = *smallest;

        // Every branch row of this key, in list order: in a run each
        // overwrites the one before, so the last is the one that stays.
        holders.clear();
        for (std::size_t i = 0; i < branches.size(); ++i) {
            RowStream& branch = *branches[i];
            while (!branch.atEnd() && branch.key() == current) {
                holders.push_back(static_cast<int>(i));
                ++check.branches[i].rows;
                addTotals(table, branch.values(), check.branches[i].totals);
                branch.takeValues(kept);
                if (keepSent) branch.takeSent(keptSent);
                branch.advance();
            }
        }
        const bool inCentral = !centralRows.atEnd() && centralRows.key() == current;

        // The key is made shown text only for a row that is reported.
        Difference difference;
        const auto tell = [&](DifferenceKind kind, const std::vector<Value>& row) {
            difference.kind = kind;
            if (difference.key.empty()) difference.key = shownKey(table, row);
            sink.difference(check, difference);
        };
        if (holders.empty()) {
            ++check.onlyInCentral;
            difference.central = &centralRows.values();
            tell(DifferenceKind::OnlyInCentral, centralRows.values());
        } else {
            addTotals(table, kept, unionTotals);
            if (holders.size() > 1) {
                ++check.collisions;
                difference.branches = holders;
                tell(DifferenceKind::Collision, kept);
            }
            difference.branches = {holders.back()};
            if (keepSent) difference.row = &keptSent;
            if (!inCentral) {
                ++check.missing;
                tell(DifferenceKind::Missing, kept);
            } else {
                for (std::size_t i = 0; i < table.rules.size(); ++i)
                    if (!sameValue(table.rules[i], kept[i], centralRows.values()[i]))
                        difference.columns.push_back(table.rules[i].column);
                if (difference.columns.empty()) {
                    ++check.equal;
                    sink.unchanged(check, holders.back());
                } else {
                    ++check.different;
                    tell(DifferenceKind::Different, kept);
                }
            }
        }
        if (inCentral) {
            ++check.centralRows;
            addTotals(table, centralRows.values(), centralTotals);
            centralRows.advance();
        }
    }
    for (std::size_t i = 0; i < check.totals.size(); ++i) {
        check.totals[i].branch = unionTotals[i];
        check.totals[i].central = centralTotals[i];
    }
}

}  // namespace

BranchStreams openBranchStreams(const CentralTable& table, const std::vector<MergeSource>& sources,
                                const std::string& empresa, bool keepSent) {
    BranchStreams branches;
    for (const MergeSource& source : sources)
        branches.push_back(
            std::make_unique<RowStream>(*source.connection, source.banco, table, true, empresa, keepSent));
    return branches;
}

void mergeTable(const CentralTable& table, db::Connection& central, const std::vector<MergeSource>& sources,
                TableCheck& check, CheckSink& sink) {
    const BranchStreams branches = openBranchStreams(table, sources, check.empresa, sink.keepsSentRows());
    RowStream centralRows(central, "central database", table, false, check.empresa);
    mergeStreams(table, branches, centralRows, check, sink);
}

void mergeTable(const CentralTable& table, RowStream& centralRows, BranchStreams branches, TableCheck& check,
                CheckSink& sink) {
    mergeStreams(table, branches, centralRows, check, sink);
}

std::vector<CentralTable> describeCentralTables(db::Connection& central) {
    std::vector<CentralTable> tables;
    try {
        std::vector<std::string> names;
        for (const CheckedTable& checked : checkedTables()) names.push_back(checked.profile->tableName);
        const std::map<std::string, db::TableShape> shapes = db::readTableShapes(central, names);
        for (const CheckedTable& checked : checkedTables())
            tables.push_back(describeCentral(shapes.at(checked.profile->tableName), checked));
    } catch (const db::Error& failure) {
        throw ReconcileError(std::string("central database: ") + failure.what());
    }
    return tables;
}

TableCheck emptyCheck(const CentralTable& table, const std::string& empresa, const std::vector<std::string>& bancos) {
    TableCheck check;
    check.table = table.name;
    check.empresa = empresa;
    check.keyColumns = table.keyColumns;
    for (const std::string& banco : bancos) check.branches.push_back({banco, 0, emptyTotals(table)});
    for (int index : table.moneyRules)
        check.totals.push_back({table.rules[static_cast<std::size_t>(index)].column, Amount{}, Amount{}});
    return check;
}

const char* kindName(DifferenceKind kind) {
    switch (kind) {
        case DifferenceKind::Missing:
            return "missing";
        case DifferenceKind::Different:
            return "different";
        case DifferenceKind::OnlyInCentral:
            return "only-in-central";
        case DifferenceKind::Collision:
            return "collision";
    }
    return "";
}

CheckSummary checkEntries(db::Connection& central, const std::vector<CheckEntry>& entries,
                          const db::ConnectionParameters& branchSettings, CheckSink& sink) {
    // Every central table is described before anything is compared, so a
    // table without a primary key stops the check before its first line.
    const std::vector<CentralTable> tables = describeCentralTables(central);

    std::vector<std::string> codes;
    for (const CheckEntry& entry : entries)
        if (std::find(codes.begin(), codes.end(), entry.empresa) == codes.end()) codes.push_back(entry.empresa);

    CheckSummary summary;
    for (const std::string& code : codes) {
        // The same file listed twice for one code is copied twice to the
        // same effect as once; it is compared once.
        std::vector<std::string> bancos;
        for (const CheckEntry& entry : entries)
            if (entry.empresa == code && std::find(bancos.begin(), bancos.end(), entry.banco) == bancos.end())
                bancos.push_back(entry.banco);

        std::vector<std::unique_ptr<db::Connection>> connections;
        std::vector<MergeSource> sources;
        std::string unopened;
        for (const std::string& banco : bancos) {
            auto connection = std::make_unique<db::Connection>();
            connection->parameters() = branchSettings;
            connection->parameters().setValue("Database", banco);
            connection->setReadOnly(true);
            try {
                connection->open();
            } catch (const std::exception& failure) {
                unopened = banco + ": " + failure.what();
                sink.branchNotOpened(banco, failure.what());
                break;
            }
            sources.push_back({banco, connection.get()});
            connections.push_back(std::move(connection));
        }

        for (const CentralTable& table : tables) {
            TableCheck check = emptyCheck(table, code, bancos);
            ++summary.tables;
            if (!unopened.empty()) {
                check.notChecked = "cannot open " + unopened;
                ++summary.notChecked;
            } else {
                mergeTable(table, central, sources, check, sink);
                if (check.inSync()) ++summary.tablesInSync;
            }
            sink.tableDone(check);
        }
    }
    return summary;
}

}  // namespace reconcile
