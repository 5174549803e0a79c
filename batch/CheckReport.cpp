#include "batch/CheckReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <stdexcept>

#include "batch/Arguments.h"
#include "batch/ExitStatus.h"
#include "db/ClientEnvironment.h"
#include "db/Connection.h"
#include "transfer/Connections.h"
#include "transfer/ProgressView.h"

namespace batch {

using reconcile::Amount;
using reconcile::BranchTally;
using reconcile::CheckEntry;
using reconcile::CheckSummary;
using reconcile::ControlTotal;
using reconcile::Difference;
using reconcile::DifferenceKind;
using reconcile::TableCheck;

namespace {

using Json = nlohmann::ordered_json;

// Paths and database text may hold bytes that are not UTF-8.
std::string dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// "1 row", "3 rows".
std::string rows(long long count) { return std::to_string(count) + (count == 1 ? " row" : " rows"); }

// A database's message may span lines; a finding takes one.
std::string oneLineOf(std::string text) {
    std::erase(text, '\r');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string keyText(const TableCheck& table, const Difference& difference) {
    std::string text;
    for (std::size_t k = 0; k < difference.key.size() && k < table.keyColumns.size(); ++k)
        text += (k ? " " : "") + table.keyColumns[k] + "=" + difference.key[k];
    return text;
}

std::string bancoOf(const TableCheck& table, int index) {
    return table.branches.at(static_cast<std::size_t>(index)).banco;
}

// "/a.fdb" or "the union of /a.fdb (60 rows) and /b.fdb (61 rows)".
std::string sourceText(const TableCheck& table) {
    if (!table.isUnion()) return table.branches.empty() ? std::string() : table.branches.front().banco;
    std::string text = "the union of ";
    for (std::size_t i = 0; i < table.branches.size(); ++i) {
        if (i) text += i + 1 == table.branches.size() ? " and " : ", ";
        text += table.branches[i].banco;
        if (table.notChecked.empty()) text += " (" + rows(table.branches[i].rows) + ")";
    }
    return text;
}

long long branchRows(const TableCheck& table) {
    long long rows = table.equal + table.different + table.missing;  // one per key the branches hold
    return rows;
}

Json totalsJson(const TableCheck& table, const std::vector<Amount>& amounts) {
    Json totals = Json::object();
    for (std::size_t i = 0; i < amounts.size() && i < table.totals.size(); ++i)
        totals[table.totals[i].column] = amounts[i].text();
    return totals;
}

Json tableJson(const TableCheck& table) {
    Json branches = Json::array();
    for (const BranchTally& branch : table.branches)
        branches.push_back(
            {{"banco", branch.banco}, {"rows", branch.rows}, {"totals", totalsJson(table, branch.totals)}});
    Json totals = Json::array();
    for (const ControlTotal& total : table.totals)
        totals.push_back({{"column", total.column},
                          {"branch", total.branch.text()},
                          {"central", total.central.text()},
                          {"difference", total.central.minus(total.branch).text()}});
    Json json = {{"table", table.table},           {"empresa", table.empresa}, {"union", table.isUnion()},
                 {"keyColumns", table.keyColumns}, {"branches", branches},     {"inSync", table.inSync()},
                 {"verdict", verdictLine(table)}};
    if (!table.notChecked.empty()) {
        json["notChecked"] = table.notChecked;
        return json;
    }
    json["branchRows"] = branchRows(table);
    json["centralRows"] = table.centralRows;
    json["equal"] = table.equal;
    json["missing"] = table.missing;
    json["different"] = table.different;
    json["onlyInCentral"] = table.onlyInCentral;
    json["collisions"] = table.collisions;
    json["totals"] = totals;
    return json;
}

Json differenceJson(const TableCheck& table, const Difference& difference) {
    Json key = Json::object();
    for (std::size_t k = 0; k < difference.key.size() && k < table.keyColumns.size(); ++k)
        key[table.keyColumns[k]] = difference.key[k];
    Json json = {{"kind", kindName(difference.kind)}, {"key", key}};
    if (difference.kind == DifferenceKind::Different) json["columns"] = difference.columns;
    if (difference.kind == DifferenceKind::Collision) {
        Json bancos = Json::array();
        for (int index : difference.branches) bancos.push_back(bancoOf(table, index));
        json["branches"] = bancos;
    } else if (!difference.branches.empty()) {
        json["banco"] = bancoOf(table, difference.branches.back());
    }
    return json;
}

}  // namespace

std::string differenceLine(const TableCheck& table, const Difference& difference) {
    std::string line =
        table.table + " " + table.empresa + " " + kindName(difference.kind) + " " + keyText(table, difference);
    switch (difference.kind) {
        case DifferenceKind::Missing:
            line += " from " + bancoOf(table, difference.branches.back());
            break;
        case DifferenceKind::Different: {
            line += ":";
            for (std::size_t i = 0; i < difference.columns.size(); ++i)
                line += (i ? ", " : " ") + difference.columns[i];
            if (table.isUnion()) line += " (from " + bancoOf(table, difference.branches.back()) + ")";
            break;
        }
        case DifferenceKind::Collision: {
            line += " in";
            for (std::size_t i = 0; i < difference.branches.size(); ++i)
                line += (i ? ", " : " ") + bancoOf(table, difference.branches[i]);
            line += "; a run leaves the row of " + bancoOf(table, difference.branches.back());
            break;
        }
        case DifferenceKind::OnlyInCentral:
            break;
    }
    return line;
}

std::string verdictLine(const TableCheck& table) {
    std::string line = table.table + " " + table.empresa + " " + sourceText(table) + ": ";
    if (!table.notChecked.empty()) return line + "not checked, " + oneLineOf(table.notChecked);
    if (table.inSync()) {
        line += "in sync, " + rows(table.centralRows);
    } else {
        line += "NOT in sync, branch " + rows(branchRows(table)) + ", central " + std::to_string(table.centralRows) +
                "; " + std::to_string(table.missing) + " missing, " + std::to_string(table.different) + " different, " +
                std::to_string(table.onlyInCentral) + " only in central, " + std::to_string(table.collisions) +
                " collisions";
    }
    for (const ControlTotal& total : table.totals)
        line += "; " + total.column + " branch " + total.branch.text() + " central " + total.central.text() +
                " difference " + total.central.minus(total.branch).text();
    return line;
}

CheckReport::CheckReport(std::ostream& out, bool keepAll, std::function<bool()> stop, transfer::UserMessages* messages)
    : out_(out), stop_(std::move(stop)), messages_(messages) {
    if (keepAll) {
        spill_.reset(std::tmpfile());
        if (!spill_) throw std::runtime_error("cannot create a temporary file for the report's differences");
    }
}

void CheckReport::difference(const TableCheck& table, const Difference& difference) {
    if (inTable_ < kShownPerTable) shown_.push_back(differenceLine(table, difference));
    ++inTable_;
    if (spill_) {
        const std::string line = dump(differenceJson(table, difference)) + '\n';
        if (std::fwrite(line.data(), 1, line.size(), spill_.get()) != line.size())
            throw std::runtime_error("cannot write the report's differences to a temporary file");
    }
}

void CheckReport::branchNotOpened(const std::string& banco, const std::string& reason) {
    if (messages_) messages_->warning("Erro ao conectar no banco de dados: " + banco + " Motivo: " + reason);
}

void CheckReport::tableDone(const TableCheck& table) {
    for (const std::string& line : shown_) out_ << line << '\n';
    shown_.clear();
    if (inTable_ > kShownPerTable)
        out_ << table.table << " " << table.empresa << ": " << inTable_ - kShownPerTable
             << " more differences not shown" << (spill_ ? " (all are in the report)" : "") << '\n';
    out_ << verdictLine(table) << '\n' << std::flush;
    if (spill_) {
        const long end = std::ftell(spill_.get());
        tables_.push_back({dump(tableJson(table)), tableBegin_, end});
        tableBegin_ = end;
    }
    inTable_ = 0;
}

void CheckReport::writeJson(std::ostream& json, const CheckSummary& summary, const std::string& failure) const {
    json << "{\"inSync\":" << (failure.empty() && summary.inSync() ? "true" : "false")
         << ",\"failure\":" << (failure.empty() ? Json(nullptr) : Json(failure)).dump()
         << ",\"tables\":" << summary.tables << ",\"tablesInSync\":" << summary.tablesInSync
         << ",\"notChecked\":" << summary.notChecked << ",\"results\":[";
    std::string line;
    char buffer[4096];
    for (std::size_t t = 0; t < tables_.size(); ++t) {
        const KeptTable& kept = tables_[t];
        // The table's own object, opened again to take its differences.
        json << (t ? "," : "") << std::string_view(kept.json).substr(0, kept.json.size() - 1) << ",\"differences\":[";
        if (spill_) std::fseek(spill_.get(), kept.begin, SEEK_SET);
        long position = kept.begin;
        bool first = true;
        while (position < kept.end && std::fgets(buffer, sizeof buffer, spill_.get())) {
            const std::size_t length = std::char_traits<char>::length(buffer);
            position += static_cast<long>(length);
            line.append(buffer, length);
            if (line.back() != '\n') continue;
            line.pop_back();
            json << (first ? "" : ",") << line;
            first = false;
            line.clear();
        }
        json << "]}";
    }
    json << "]}";
    if (spill_) std::fseek(spill_.get(), 0, SEEK_END);
}

CheckCommand::CheckCommand(const Arguments& arguments, bool forReport) : arguments_(arguments), forReport_(forReport) {}

int CheckCommand::run(db::Connection& central, const db::ConnectionParameters& branchSettings,
                      transfer::UserMessages& messages, std::ostream& out, std::ostream& err,
                      std::function<bool()> stop) {
    central.setReadOnly(true);
    if (!transfer::ConectaBancoCentralizador(central, arguments_.central, messages)) {
        failure_ = "the central database could not be opened";
        return kNothingDone;
    }
    std::vector<CheckEntry> entries;
    for (const Entry& entry : arguments_.entries) entries.push_back({entry.banco, entry.empresa});
    report_ = std::make_unique<CheckReport>(out, forReport_, std::move(stop), &messages);
    try {
        summary_ = reconcile::checkEntries(central, entries, branchSettings, *report_);
    } catch (const reconcile::ReconcileStopped&) {
        failure_ = "stopped by a signal";
        return kSignalBase + db::TerminationSignal::signalNumber();
    } catch (const std::exception& failure) {
        failure_ = oneLineOf(failure.what());
        err << "tavolene-batch: check ended: " << failure_ << std::endl;
        return kJobFailed;
    }
    out << (summary_.inSync() ? "In sync: " : "NOT in sync: ") << summary_.tablesInSync << " of " << summary_.tables
        << " tables agree with the branches" << std::endl;
    return summary_.inSync() ? kAllWritten : kSomeNotWritten;
}

void CheckCommand::writeJson(std::ostream& json) const {
    if (report_)
        report_->writeJson(json, summary_, failure_);
    else
        json << Json{{"inSync", false}, {"failure", failure_}}.dump();
}

void CheckCommand::writeReport(std::ostream& json, int exitStatus) const {
    Json list = Json::array();
    for (const Entry& entry : arguments_.entries) list.push_back({{"database", entry.banco}, {"code", entry.empresa}});
    const Json head = {
        {"program", "tavolene-batch"}, {"mode", "check"}, {"central", arguments_.central}, {"list", list}};
    const std::string text = dump(head);
    json << std::string_view(text).substr(0, text.size() - 1) << ",\"check\":";
    writeJson(json);
    json << ",\"exitStatus\":" << exitStatus << "}\n";
}

}  // namespace batch
