#include "batch/Prune.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <utility>

#include "batch/ExitStatus.h"
#include "batch/ReportFile.h"
#include "batch/Runner.h"
#include "batch/Terminal.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "reconcile/CentralTable.h"
#include "transfer/Connections.h"
#include "transfer/RowCopy.h"

namespace batch {

namespace {

using Json = nlohmann::ordered_json;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string toBase64(const std::string& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned chunk = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) chunk |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) chunk |= static_cast<unsigned char>(bytes[i + 2]);
        text += kBase64[(chunk >> 18) & 63];
        text += kBase64[(chunk >> 12) & 63];
        text += i + 1 < bytes.size() ? kBase64[(chunk >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kBase64[chunk & 63] : '=';
    }
    return text;
}

std::string fromBase64(const std::string& text) {
    std::string bytes;
    unsigned chunk = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const char* at = std::char_traits<char>::find(kBase64, 64, c);
        if (!at) throw std::runtime_error("not base64: " + text.substr(0, 20));
        chunk = (chunk << 6) | static_cast<unsigned>(at - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((chunk >> bits) & 0xFF);
        }
    }
    return bytes;
}

// Text that JSON cannot carry as it is (bytes of another character set) is
// kept as base64, so the restore gives back the same bytes.
Json textValue(const std::string& bytes) {
    try {
        (void)Json(bytes).dump();
        return bytes;
    } catch (const nlohmann::json::exception&) {
        return Json{{"base64", toBase64(bytes)}};
    }
}

std::string textOf(const Json& value) {
    return value.is_object() ? fromBase64(value.at("base64")) : value.get<std::string>();
}

db::DateTime dateOf(const std::string& text) {
    db::DateTime date;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &date.year, &date.month, &date.day, &date.hours,
                    &date.minutes, &date.seconds, &date.tenThousandths) < 3)
        throw std::runtime_error("not a date: " + text);
    return date;
}

const transfer::TableProfile& profileOf(const std::string& table) {
    for (const reconcile::CheckedTable& checked : reconcile::checkedTables())
        if (checked.profile->tableName == table) return *checked.profile;
    throw std::runtime_error("no copied table " + table);
}

std::string whereKey(const std::vector<std::string>& keyColumns) {
    std::string where;
    for (std::size_t i = 0; i < keyColumns.size(); ++i)
        where += (i ? " AND " : " WHERE ") + keyColumns[i] + " = :K" + std::to_string(i);
    return where;
}

template <typename Sql>
void setKey(Sql& sql, const std::vector<std::string>& key) {
    for (std::size_t i = 0; i < key.size(); ++i) sql.setText(sql.paramIndex("K" + std::to_string(i)), key[i]);
}

std::string rowCount(long long rows) { return std::to_string(rows) + (rows == 1 ? " row" : " rows"); }

}  // namespace

Pruner::Pruner(db::Connection& central, const Arguments& arguments, Terminal& terminal,
               std::vector<std::vector<std::string>> keyColumns)
    : central_(central),
      arguments_(arguments),
      terminal_(terminal),
      keyColumns_(std::move(keyColumns)),
      logOfEarlierRun_(::access(arguments.pruneLog.c_str(), F_OK) == 0) {}

void Pruner::onlyInCentral(std::size_t table, std::vector<std::string> key) {
    // Past the limit the code is refused whatever the keys: they are only
    // counted, so a branch read as empty costs no memory.
    ++keysOfCode_;
    if (arguments_.pruneLimit && keysOfCode_ > *arguments_.pruneLimit) return;
    keys_[table].push_back(std::move(key));
}

// Every mapped column of the central rows matching the first key.size() key
// columns, as the upsert's parameters name them.
void Pruner::readRows(const std::string& table, const std::vector<std::string>& keyColumns,
                      const std::vector<std::string>& key, Json& into) {
    const transfer::TableProfile& profile = profileOf(table);
    std::string columns;
    for (const transfer::ColumnMapping& column : profile.columns)
        columns += (columns.empty() ? "" : ", ") + column.parameter;
    db::Query query(central_);
    query.addSql("SELECT " + columns + " FROM " + table +
                 whereKey({keyColumns.begin(), keyColumns.begin() + static_cast<long>(key.size())}));
    setKey(query, key);
    for (query.open(); !query.eof(); query.next()) {
        Json values = Json::object();
        for (std::size_t i = 0; i < profile.columns.size(); ++i) {
            const int field = static_cast<int>(i);
            Json& value = values[profile.columns[i].parameter];
            if (query.isNull(field)) continue;  // stays null
            switch (profile.columns[i].write) {
                case transfer::WriteKind::Text:
                    value = textValue(query.asText(field));
                    break;
                case transfer::WriteKind::Blob:
                    value = Json{{"base64", toBase64(query.asBytes(field))}};
                    break;
                case transfer::WriteKind::Double:
                    value = query.asDouble(field);
                    break;
                case transfer::WriteKind::Integer:
                    value = query.asInteger(field);
                    break;
                case transfer::WriteKind::Date:
                    value = query.asDateTime(field).toText();
                    break;
            }
        }
        into.push_back(Json{{"table", table}, {"values", std::move(values)}});
    }
}

void Pruner::writeLog(const Json& adding) {
    Json rows = logged_;
    for (const Json& row : adding) rows.push_back(row);
    ReportFile file(arguments_.pruneLog, "--prune-log file");
    file.stream() << Json{{"central", arguments_.central}, {"rows", rows}}.dump(2) << '\n';
    file.commit();
    logged_ = std::move(rows);
}

bool Pruner::codeDone(const std::string& code, const std::string& incomplete, long long centralRows) {
    std::vector<std::vector<std::string>> documents = std::move(keys_[0]), movements = std::move(keys_[1]);
    keys_[0].clear();
    keys_[1].clear();
    const long long keys = std::exchange(keysOfCode_, 0);
    if (keys == 0) return true;
    const std::string where = "--prune: code " + code + ": ";
    if (!incomplete.empty()) {
        terminal_.warning(where + "nothing deleted: " + incomplete);
        return false;
    }
    // A log from an earlier run holds rows it deleted: replacing it would
    // lose them.
    if (logOfEarlierRun_) {
        terminal_.warning(where + "nothing deleted: --prune-log \"" + arguments_.pruneLog +
                          "\" is there from an earlier run; give a new file");
        return false;
    }
    const auto refuse = [&](long long deleting, const std::string& atLeast) {
        terminal_.warning(where + "nothing deleted: " + atLeast + rowCount(deleting) + " of " +
                          std::to_string(centralRows) + " central rows would go, more than " +
                          (arguments_.pruneLimit ? "--prune-limit " + std::to_string(*arguments_.pruneLimit)
                                                 : std::string("5 %; --prune-limit N allows up to N")));
        return false;
    };
    // A branch read only in part looks just like a mass deletion.
    const auto allowed = [&](long long deleting) {
        return arguments_.pruneLimit ? deleting <= *arguments_.pruneLimit : deleting * 20 <= centralRows;
    };
    if (!allowed(keys)) return refuse(keys, "at least ");
    try {
        // The documents' movements go with them; a movement only in the
        // central database whose document stays is deleted on its own.
        Json rows = Json::array(), movementRows = Json::array();
        std::set<std::vector<std::string>> prunedDocuments;
        for (const auto& key : documents) {
            readRows("DOCUREC", keyColumns_[0], key, rows);
            readRows("MOVIREC", keyColumns_[1], key, movementRows);
            prunedDocuments.insert(key);
        }
        std::vector<std::vector<std::string>> loneMovements;
        for (auto& key : movements) {
            const std::vector<std::string> document(key.begin(),
                                                    key.begin() + static_cast<long>(keyColumns_[0].size()));
            if (prunedDocuments.count(document)) continue;
            readRows("MOVIREC", keyColumns_[1], key, movementRows);
            loneMovements.push_back(std::move(key));
        }
        const long long deleting = static_cast<long long>(rows.size() + movementRows.size());
        // A branch read only in part looks just like a mass deletion.
        const bool allowed = arguments_.pruneLimit ? deleting <= *arguments_.pruneLimit : deleting * 20 <= centralRows;
        if (!allowed) {
            terminal_.warning(where + "nothing deleted: " + rowCount(deleting) + " of " + std::to_string(centralRows) +
                              " central rows would go, more than " +
                              (arguments_.pruneLimit ? "--prune-limit " + std::to_string(*arguments_.pruneLimit)
                                                     : std::string("5 %; --prune-limit N allows up to N")));
            return false;
        }
        // Documents before their movements in the log, as a restore writes them.
        for (Json& row : movementRows) rows.push_back(std::move(row));
        writeLog(rows);

        db::Transaction transaction(central_);
        const auto execute = [&](const std::string& table, const std::vector<std::string>& keyColumns,
                                 const std::vector<std::string>& key) {
            db::Statement statement(central_);
            statement.addSql("DELETE FROM " + table +
                             whereKey({keyColumns.begin(), keyColumns.begin() + static_cast<long>(key.size())}));
            setKey(statement, key);
            statement.execute(transaction);
        };
        for (const auto& key : documents) execute("MOVIREC", keyColumns_[1], key);
        for (const auto& key : loneMovements) execute("MOVIREC", keyColumns_[1], key);
        for (const auto& key : documents) execute("DOCUREC", keyColumns_[0], key);
        transaction.commit();
        terminal_.information(where + rowCount(deleting) + " deleted (" + std::to_string(documents.size()) +
                              " DOCUREC, " + std::to_string(deleting - static_cast<long long>(documents.size())) +
                              " MOVIREC), logged in " + arguments_.pruneLog);
        return true;
    } catch (const std::exception& failure) {
        terminal_.error(where + "nothing deleted: " + oneLine(failure.what()));
        return false;
    }
}

int restoreRows(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    Json log;
    try {
        log = Json::parse(std::ifstream(arguments.restorePath));
        (void)log.at("rows").size();
    } catch (const std::exception& failure) {
        err << "tavolene-batch: --restore \"" << arguments.restorePath << "\": " << oneLine(failure.what())
            << std::endl;
        return kNothingDone;
    }
    Terminal terminal(err, false, [] { return false; });
    db::Connection central;
    applyCredentials(central, arguments);
    if (!transfer::ConectaBancoCentralizador(central, arguments.central, terminal)) return kNothingDone;
    const transfer::CommitPolicy policy{arguments.commitEvery};
    int restored = 0, failed = 0;
    // Documents first, so a movement finds its document.
    for (const reconcile::CheckedTable& checked : reconcile::checkedTables()) {
        const transfer::TableProfile& profile = *checked.profile;
        db::Statement upsert(central);
        transfer::CopyTally tally;
        try {
            transfer::RowWriter writer(upsert, profile, terminal, policy, tally);
            for (const Json& row : log.at("rows")) {
                if (row.at("table") != profile.tableName) continue;
                const Json& values = row.at("values");
                std::vector<transfer::SentValue> sent;
                std::string keyText;
                for (const transfer::ColumnMapping& column : profile.columns) {
                    transfer::SentValue value;
                    value.kind = column.write;
                    // A NULL goes back as a run writes one.
                    if (const Json& logged = values.at(column.parameter); !logged.is_null()) switch (column.write) {
                            case transfer::WriteKind::Text:
                            case transfer::WriteKind::Blob:
                                value.bytes = textOf(logged);
                                break;
                            case transfer::WriteKind::Double:
                                value.number = logged.get<double>();
                                break;
                            case transfer::WriteKind::Integer:
                                value.integer = logged.get<std::int32_t>();
                                break;
                            case transfer::WriteKind::Date:
                                value.date = dateOf(logged.get<std::string>());
                                break;
                        }
                    if (column.parameter == profile.keyField) keyText = value.bytes;
                    sent.push_back(std::move(value));
                }
                writer.write(keyText, sent);
            }
            writer.commit();
        } catch (const std::exception& failure) {
            err << "tavolene-batch: --restore: " << profile.tableName << ": " << oneLine(failure.what()) << std::endl;
            return kJobFailed;
        }
        restored += tally.written;
        failed += tally.failed;
    }
    out << "Restored " << rowCount(restored) << " from " << arguments.restorePath
        << (failed ? ", " + rowCount(failed) + " failed" : std::string()) << '\n';
    return failed ? kSomeNotWritten : kAllWritten;
}

}  // namespace batch
