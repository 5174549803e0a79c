#include "batch/ChangedRun.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "batch/Prune.h"
#include "batch/Terminal.h"
#include "db/Connection.h"
#include "db/LocalFile.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "reconcile/CentralRowsAhead.h"
#include "reconcile/CentralTable.h"
#include "reconcile/Merge.h"
#include "transfer/Connections.h"
#include "transfer/ConversionRun.h"
#include "transfer/DisplayText.h"
#include "transfer/RowCopy.h"

namespace batch {

namespace {

using Clock = std::chrono::steady_clock;

// One entry's part of a table: its tally and the writer of its rows that
// differ, so every written or failed row counts for the entry it came from.
struct EntryPart {
    transfer::CopyTally tally;
    std::unique_ptr<transfer::RowWriter> writer;
};

// Hands the rows the merge finds different to their entry's writer.
class ChangedRowsSink : public reconcile::CheckSink {
public:
    ChangedRowsSink(std::vector<EntryPart>& parts, Terminal& terminal, Pruner* pruner,
                    const reconcile::CentralTable& table, std::size_t tableIndex, long long& centralChanges)
        : parts_(parts),
          terminal_(terminal),
          pruner_(pruner),
          table_(table),
          tableIndex_(tableIndex),
          centralChanges_(centralChanges) {}

    bool keepsSentRows() const override { return true; }
    bool stopRequested() const override { return terminal_.stopRequested(); }

    void unchanged(const reconcile::TableCheck&, int branch) override {
        transfer::CopyTally& tally = part(branch).tally;
        ++tally.compared;
        ++tally.unchanged;
    }

    void difference(const reconcile::TableCheck&, const reconcile::Difference& difference) override {
        using reconcile::DifferenceKind;
        if (difference.kind == DifferenceKind::OnlyInCentral && pruner_) {
            // The key as the central database holds it: the shown key is
            // text decoded for the screen, which may match another row.
            std::vector<std::string> key;
            for (int index : table_.keyRules) {
                const auto rule = static_cast<std::size_t>(index);
                const reconcile::Value& value = (*difference.central)[rule];
                const bool text = table_.rules[rule].stored == transfer::StoredAs::Text ||
                                  table_.rules[rule].stored == transfer::StoredAs::Bytes;
                key.push_back(text ? value.text : reconcile::shownValue(table_.rules[rule], value));
            }
            pruner_->onlyInCentral(tableIndex_, std::move(key));
            ++centralChanges_;  // it may be deleted once the code is merged
        }
        if (difference.kind != DifferenceKind::Missing && difference.kind != DifferenceKind::Different) return;
        // A stop asked for ends the run after the row in hand, not at the
        // merge's next look.
        if (terminal_.stopRequested()) throw reconcile::ReconcileStopped();
        EntryPart& entry = part(difference.branches.back());
        ++entry.tally.compared;
        const reconcile::SentRow& row = *difference.row;
        if (!row.unsent.empty()) {
            entry.writer->rowFailed(row.keyText, row.unsent);
        } else {
            ++centralChanges_;
            entry.writer->write(row.keyText, row.values);
        }
    }

    void tableDone(const reconcile::TableCheck&) override {}

private:
    EntryPart& part(int branch) {
        terminal_.stepGauge();
        return parts_.at(static_cast<std::size_t>(branch));
    }

    std::vector<EntryPart>& parts_;
    Terminal& terminal_;
    Pruner* pruner_;  // null: nothing is pruned
    const reconcile::CentralTable& table_;
    std::size_t tableIndex_;
    long long& centralChanges_;  // rows written or to be pruned, for the central rows read ahead
};

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (const std::string& piece : texts) text += (text.empty() ? "" : ", ") + piece;
    return text;
}

// The entries of one code that could be opened, each on its own read-only
// connection; the others warned about as the copy warns about them.
struct OpenedEntries {
    std::vector<std::string> bancos;
    std::vector<db::Connection*> connections;
};

// The read-only branch attachments of a run, by the entry's database: a file
// listed for several codes is attached once (an attach costs an embedded
// engine about as much as comparing a thousand rows).
using BranchAttachments = std::map<std::string, std::unique_ptr<db::Connection>>;

// The gauge's total for a table: the rows of the code in every entry, as
// the databases count them.
int branchRows(const OpenedEntries& opened, const transfer::TableProfile& profile, const std::string& code) {
    int rows = 0;
    for (const auto& connection : opened.connections) {
        db::Query count(*connection);
        count.addSql(profile.countSql);
        count.setText(count.paramIndex("CodEmpresa"), code);
        count.open();
        rows += count.asInteger(0);
    }
    return rows;
}

OpenedEntries openEntries(db::Connection& central, const std::vector<std::string>& bancos, const Arguments& arguments,
                          Terminal& terminal, transfer::RunSummary& summary, std::set<std::string>& unopened,
                          const std::string& code, BranchAttachments& attached) {
    OpenedEntries opened;
    const auto notOpened = [&](const std::string& banco) {
        if (unopened.insert(banco).second) ++summary.unopenedBranches;
        for (const reconcile::CheckedTable& table : reconcile::checkedTables())
            summary.jobs.push_back({banco, code, table.profile->tableName, false, {}, 0});
    };
    const auto refuseAsCentral = [&](const std::string& banco) {
        terminal.warning("Erro ao conectar no banco de dados: " + banco +
                         " Motivo: " + transfer::kBancoCentralizadorNaLista);
        notOpened(banco);
    };
    for (const std::string& banco : bancos) {
        if (const auto found = attached.find(banco); found != attached.end() && found->second->isAttached()) {
            opened.bancos.push_back(banco);
            opened.connections.push_back(found->second.get());
            continue;
        }
        if (db::sameLocalFile(banco, central.attachedDatabase())) {
            refuseAsCentral(banco);
            continue;
        }
        auto connection = std::make_unique<db::Connection>();
        applyCredentials(*connection, arguments);
        connection->setReadOnly(true);
        if (!transfer::ConectaBancoFilial(*connection, banco, terminal)) {
            notOpened(banco);
            continue;
        }
        if (connection->identity() == central.identity()) {
            connection->drop();
            refuseAsCentral(banco);
            continue;
        }
        opened.bancos.push_back(banco);
        opened.connections.push_back(connection.get());
        attached[banco] = std::move(connection);
    }
    return opened;
}

// The rows of a code's next table, opened while the table before it is
// merged: on a local file the open is the engine's sort of those rows, which
// then runs beside the merge instead of before the table. Each entry gets a
// second read-only attachment of its own for them (a Firebird attachment
// serves one call at a time); through a server an attach costs more round
// trips than it would hide, so a code with an entry on a server opens its
// tables in turn. Nothing opened ahead is told: when an attach or an open
// fails, the table opens its rows in its turn, where a failure is told as
// it always is.
using BranchRowsAhead = std::future<std::optional<reconcile::BranchStreams>>;

// Opens the sources' rows on another thread; `attach` first attaches them.
BranchRowsAhead openInBackground(const reconcile::CentralTable& table, const std::string& code,
                                 std::vector<reconcile::MergeSource> sources, bool attach) {
    return std::async(std::launch::async,
                      [sources = std::move(sources), &table, code, attach]() -> std::optional<reconcile::BranchStreams> {
                          try {
                              if (attach)
                                  for (const reconcile::MergeSource& source : sources) source.connection->open();
                              return reconcile::openBranchStreams(table, sources, code, true);
                          } catch (const std::exception&) {
                              return std::nullopt;
                          }
                      });
}

BranchRowsAhead openAhead(const reconcile::CentralTable& table, const std::string& code, const OpenedEntries& opened,
                          BranchAttachments& readers) {
    std::vector<reconcile::MergeSource> sources;
    for (std::size_t i = 0; i < opened.bancos.size(); ++i) {
        const std::string& banco = opened.bancos[i];
        if (!db::isLocalPath(banco)) return {};
        std::unique_ptr<db::Connection>& reader = readers[banco];
        if (!reader) {
            reader = std::make_unique<db::Connection>();
            reader->parameters() = opened.connections[i]->parameters();
            reader->setReadOnly(true);
        }
        sources.push_back({banco, reader.get()});
    }
    return openInBackground(table, code, std::move(sources), true);
}

// The first table's rows of the next code, opened on the entries' own
// attachments while this code's last table is merged through the second
// ones: when every entry of the next code is a local file this run holds
// already, as the code's own open would find it.
BranchRowsAhead openNextCodeAhead(const reconcile::CentralTable& table, const std::string& code,
                                  const std::vector<std::string>& bancos, const BranchAttachments& attached) {
    std::vector<reconcile::MergeSource> sources;
    for (const std::string& banco : bancos) {
        const auto found = attached.find(banco);
        if (!db::isLocalPath(banco) || found == attached.end() || !found->second->isAttached()) return {};
        sources.push_back({banco, found->second.get()});
    }
    return openInBackground(table, code, std::move(sources), false);
}

}  // namespace

std::optional<FailedJob> writeChangedRows(db::Connection& central, const Arguments& arguments, Terminal& terminal,
                                          transfer::RunSummary& summary) {
    std::vector<std::string> codes;
    for (const Entry& entry : arguments.entries)
        if (std::find(codes.begin(), codes.end(), entry.empresa) == codes.end()) codes.push_back(entry.empresa);

    const transfer::CommitPolicy policy{arguments.commitEvery};
    std::vector<reconcile::CentralTable> tables;
    // The central rows are read on attachments of their own, each table's
    // opened while the ones before it are merged and its stream reading
    // ahead on another thread, while the writes use `central`.
    long long centralChanges = 0;
    std::optional<reconcile::CentralRowsAhead> centralRows;
    // Through a server, a third attachment lets a table's successors open
    // while it is read; more would cost more attaches than they save. A
    // local file has no round trips to hide, only the next table's sort.
    const std::size_t centralReaders =
        std::min<std::size_t>(db::isLocalPath(central.attachedDatabase()) ? 2 : 3, 2 * codes.size());
    const auto readerSetup = [&](db::Connection& reader) {
        reader.parameters() = central.parameters();
        applyCredentials(reader, arguments);
    };
    std::set<std::string> unopened;
    BranchAttachments branchAttachments;
    BranchAttachments aheadAttachments;  // the second of each local entry, for the rows opened ahead
    // Each table's upsert is prepared once for the run.
    db::Statement upserts[2];
    std::optional<Pruner> pruner;
    // A file listed twice for one code is copied twice to the same effect as
    // once; it is merged once.
    const auto bancosOf = [&](const std::string& code) {
        std::vector<std::string> bancos;
        for (const Entry& entry : arguments.entries)
            if (entry.empresa == code && std::find(bancos.begin(), bancos.end(), entry.banco) == bancos.end())
                bancos.push_back(entry.banco);
        return bancos;
    };
    // The next code's first rows and the entries they were opened for;
    // declared after the attachments they read through.
    BranchRowsAhead nextCodeRows;
    std::vector<std::string> nextCodeBancos;
    for (std::size_t c = 0; c < codes.size(); ++c) {
        const std::string& code = codes[c];
        // Opened, if at all, for this code by the one before it.
        BranchRowsAhead rowsOfThisCode = std::move(nextCodeRows);
        nextCodeRows = {};
        const std::vector<std::string> bancos = bancosOf(code);
        OpenedEntries opened =
            openEntries(central, bancos, arguments, terminal, summary, unopened, code, branchAttachments);
        if (opened.bancos.empty()) continue;
        // Attached while the first tables are described.
        if (!centralRows) centralRows.emplace(readerSetup, centralReaders, centralChanges);
        // Only a code whose every entry is read to its end may lose rows: a
        // key no opened branch holds may sit in one that was not opened.
        const std::string incomplete =
            opened.bancos.size() == bancos.size() ? "" : "an entry of the code could not be opened";
        long long centralRowsOfCode = 0;
        const long long changesAtCodeStart = centralChanges;
        std::vector<reconcile::MergeSource> sources;
        for (std::size_t i = 0; i < opened.bancos.size(); ++i)
            sources.push_back({opened.bancos[i], opened.connections[i]});
        // Declared after the attachments it reads through: waited for before
        // they go, however the code ends.
        BranchRowsAhead nextRows;
        // Used only when opened for the entries this code opened.
        if (rowsOfThisCode.valid() && nextCodeBancos == opened.bancos) nextRows = std::move(rowsOfThisCode);

        for (std::size_t t = 0; t < reconcile::checkedTables().size(); ++t) {
            const transfer::TableProfile& profile = *reconcile::checkedTables()[t].profile;
            const std::string where = joined(opened.bancos);
            terminal.tableJobStarting(where, code, profile.tableName);
            const auto started = Clock::now();
            std::vector<EntryPart> parts(opened.bancos.size());
            // The progress line is ended however the table ends.
            struct GaugeReset {
                Terminal& terminal;
                ~GaugeReset() { terminal.resetGauge(); }
            } gaugeReset{terminal};
            try {
                if (terminal.showsRowCount()) terminal.setGaugeMaximum(branchRows(opened, profile, code));
                if (tables.empty()) {
                    tables = reconcile::describeCentralTables(central);
                    std::vector<std::pair<const reconcile::CentralTable*, std::string>> jobs;
                    for (std::size_t later = c; later < codes.size(); ++later)
                        for (const reconcile::CentralTable& table : tables) jobs.emplace_back(&table, codes[later]);
                    centralRows->plan(jobs);
                }
                if (arguments.prune && !pruner)
                    pruner.emplace(central, arguments, terminal,
                                   std::vector<std::vector<std::string>>{tables[0].keyColumns, tables[1].keyColumns});
                db::Statement& upsert = upserts[t];
                if (!upsert.isAttached()) upsert.attach(central);
                for (EntryPart& part : parts)
                    part.writer = std::make_unique<transfer::RowWriter>(upsert, profile, terminal, policy, part.tally);
                reconcile::TableCheck check = reconcile::emptyCheck(tables[t], code, opened.bancos);
                ChangedRowsSink sink(parts, terminal, pruner ? &*pruner : nullptr, tables[t], t, centralChanges);
                // The branch rows first: while the engine sorts them, the
                // central rows are still being opened ahead.
                std::optional<reconcile::BranchStreams> branchRows;
                if (nextRows.valid()) branchRows = nextRows.get();
                // Rows opened ahead read through the second attachments of
                // the entries, which leaves their own ones free.
                const bool ownAttachmentsFree = t > 0 && branchRows.has_value();
                if (!branchRows) branchRows = reconcile::openBranchStreams(tables[t], sources, code, true);
                if (t + 1 < tables.size()) {
                    nextRows = openAhead(tables[t + 1], code, opened, aheadAttachments);
                } else if (c + 1 < codes.size() && ownAttachmentsFree) {
                    nextCodeBancos = bancosOf(codes[c + 1]);
                    nextCodeRows = openNextCodeAhead(tables[0], codes[c + 1], nextCodeBancos, branchAttachments);
                }
                bool stopped = false;
                try {
                    reconcile::mergeTable(tables[t], centralRows->take(tables[t], code), std::move(*branchRows), check,
                                          sink);
                } catch (const reconcile::ReconcileStopped&) {
                    stopped = true;
                }
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    parts[i].writer->commit();
                    parts[i].tally.read = static_cast<int>(check.branches[i].rows);
                    parts[i].tally.stopped = stopped;
                }
                // What was written is committed: the next tables may be read.
                centralRows->release();
                const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    summary.writtenRows += parts[i].tally.written;
                    summary.failedRows += parts[i].tally.failed;
                    summary.jobs.push_back(
                        {opened.bancos[i], code, profile.tableName, true, std::move(parts[i].tally), seconds});
                }
                if (stopped || terminal.stopRequested()) {
                    summary.stopped = true;
                    return std::nullopt;
                }
                centralRowsOfCode += check.centralRows;
            } catch (const std::exception& failure) {
                // What was written before the failure stays committed where
                // the central connection still allows it.
                transfer::CopyTally tally;
                for (EntryPart& part : parts) {
                    try {
                        if (part.writer) part.writer->commit();
                    } catch (...) {
                    }
                    tally.compared += part.tally.compared;
                    tally.unchanged += part.tally.unchanged;
                    tally.written += part.tally.written;
                    tally.failed += part.tally.failed;
                    for (transfer::RowFailure& row : part.tally.failures) tally.failures.push_back(std::move(row));
                }
                tally.read = terminal.currentJob().read;
                const bool centralLost = dynamic_cast<const transfer::CentralConnectionLost*>(&failure) != nullptr;
                const std::string message =
                    std::string("Erro ao converter os dados! Motivo: ") +
                    (centralLost ? std::string(transfer::kCentralPerdido) : where + " (" + profile.tableName + ")") +
                    ": " + transfer::displayText(failure.what());
                terminal.error(message);
                if (pruner) terminal.warning("--prune: code " + code + ": nothing deleted: a table job failed");
                return FailedJob{where, code, profile.tableName, message, std::move(tally)};
            }
        }
        if (pruner && !pruner->codeDone(code, incomplete, centralRowsOfCode)) ++summary.unprunedCodes;
        // Rows deleted now were not deleted when the next tables were opened.
        if (pruner && centralChanges != changesAtCodeStart) ++centralChanges;
        // A branch no later code lists is let go: its file is not held
        // while the others are merged.
        for (auto held = branchAttachments.begin(); held != branchAttachments.end();) {
            const bool needed =
                std::any_of(arguments.entries.begin(), arguments.entries.end(), [&](const Entry& entry) {
                    return entry.banco == held->first && std::find(codes.begin() + static_cast<long>(c) + 1,
                                                                   codes.end(), entry.empresa) != codes.end();
                });
            if (!needed) aheadAttachments.erase(held->first);
            held = needed ? std::next(held) : branchAttachments.erase(held);
        }
    }
    return std::nullopt;
}

}  // namespace batch
