#include "reconcile/RowStream.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <regex>
#include <thread>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/LocalFile.h"
#include "reconcile/ReconcileError.h"
#include "transfer/DisplayText.h"

namespace reconcile {

using namespace db::field_types;

namespace {

// How a key column is ordered in a select. Both sides are read in key order
// and merged, so both must come in the one order `Key` compares by: bytes,
// the shorter text padded with blanks. The engine sorts text that way under a
// character set's default collation, but an index it walks for ORDER BY
// holds text without its trailing blanks and delivers "D2" before "D2\t";
// whether a side walks an index or sorts depends on its indexes. So every
// text key is ordered as its bytes under the character set NONE, which is a
// sort with blank padding on every side and under any collation (WIN_PTBR,
// say, which folds case and accents). Every stream still checks that its keys
// ascend, and stops the check rather than report false differences.
std::string orderTerm(const std::string& column, const db::ColumnTypes& types) {
    const auto found = types.find(upper(column));
    if (found == types.end()) return column;
    const db::ColumnType& type = found->second;
    if (type.type != kChar && type.type != kVarchar) return column;
    return "CAST(" + column + " AS VARCHAR(" + std::to_string(std::max(type.byteLength, 1)) + ") CHARACTER SET NONE)";
}

// Notes up to this many bytes arrive with their rows; a longer one is read
// from its blob, which costs a round trip of its own (and, even on a local
// file, more than the bytes in the row). Most notes are a few hundred bytes,
// and a wider row would take rows out of every fetch.
constexpr int kInlineBlobBytes = 1024;

// Whether rule `i`'s blob is read as its bytes: on the central side every
// column kept as bytes; on the branch side every field the copy reads as
// bytes and sends as text or a blob to a column that keeps the bytes sent.
bool readsBlobBytes(const CentralTable& table, bool branchSide, const db::ColumnTypes& types, std::size_t i) {
    const Rule& rule = table.rules[i];
    const auto found = types.find(upper(branchSide ? rule.field : rule.column));
    if (found == types.end() || found->second.type != kBlob) return false;
    if (!branchSide) return rule.stored == transfer::StoredAs::Bytes;
    const transfer::ColumnMapping& mapping = table.checked->profile->columns[i];
    return mapping.read == transfer::ReadKind::Bytes &&
           (mapping.write == transfer::WriteKind::Text || mapping.write == transfer::WriteKind::Blob) &&
           (rule.stored == transfer::StoredAs::Text || rule.stored == transfer::StoredAs::Bytes);
}

// The columns in rule order, one company's rows, in key order; then each
// blob's bytes when it holds no more than kInlineBlobBytes, else NULL,
// marked in `inlineText` per rule. As OCTETS: no character set conversion;
// the whole blob, since SUBSTRING would count the characters of a text blob,
// and 1024 characters of UTF8 do not fit 1024 bytes.
//
// `byPosition` sorts only each row's key and record position, then reads
// each row at its position: the engine's sort of whole rows this wide costs
// about as much as reading them, and moving only the keys saves about a
// tenth of the comparison's work. A row deleted while the rows are read is
// not seen, as if read a moment later; a row whose key changed meanwhile
// comes out of order and stops the comparison, as any row out of order does.
std::string selectSql(const CentralTable& table, bool branchSide, const db::ColumnTypes& types,
                      std::vector<int>& inlineText, bool byPosition) {
    auto name = [&](const Rule& rule) { return branchSide ? rule.field : rule.column; };
    const std::string row = byPosition ? "T." : "";
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < table.rules.size(); ++i) sql += (i ? ", " : "") + row + name(table.rules[i]);
    inlineText.assign(table.rules.size(), -1);
    int next = static_cast<int>(table.rules.size());
    for (std::size_t i = 0; i < table.rules.size(); ++i) {
        if (!readsBlobBytes(table, branchSide, types, i)) continue;
        const std::string column = row + name(table.rules[i]);
        const std::string bytes = std::to_string(kInlineBlobBytes);
        sql += ", CASE WHEN OCTET_LENGTH(" + column + ") <= " + bytes + " THEN CAST(" + column + " AS VARCHAR(" +
               bytes + ") CHARACTER SET OCTETS) END";
        inlineText[i] = next++;
    }
    std::string sorted = (byPosition ? "SELECT RDB$DB_KEY P FROM " : " FROM ") + table.name + " WHERE " +
                         name(table.rules[static_cast<std::size_t>(table.companyRule)]) + " = :CODEMPRESA ORDER BY ";
    for (std::size_t i = 0; i < table.keyRules.size(); ++i)
        sorted += (i ? ", " : "") + orderTerm(name(table.rules[static_cast<std::size_t>(table.keyRules[i])]), types);
    if (!byPosition) return sql + sorted;
    return sql + " FROM (" + sorted + ") S JOIN " + table.name + " T ON T.RDB$DB_KEY = S.P";
}

// Whether the engine runs the select of selectSql(byPosition) as written:
// the positions sorted first, then each row read at its own, in that order
// ("PLAN JOIN (SORT (S ...), T INDEX ())"; a view names its table after T).
// Any other plan could deliver the rows in another order.
bool readsAtSortedPositions(const std::string& plan) {
    static const std::regex expected(R"(\s*PLAN JOIN \(SORT \(S [^()]*(\([^()]*\))?\), T( [A-Z0-9_$]+)* INDEX \(\)\)\s*)");
    return std::regex_match(plan, expected);
}

}  // namespace

template <typename Work>
void RowStream::guarded(Work&& work) {
    try {
        work();
    } catch (const db::Error& failure) {
        throw ReconcileError(table_.name + ": " + where_ + ": " + failure.what());
    }
}

// Reads the rows in batches on a thread of its own, a few batches ahead of
// the caller, so memory stays flat; a failure is handed over in its place,
// after the rows read before it.
class RowStream::ReadAhead {
public:
    explicit ReadAhead(RowStream& stream) : stream_(stream), worker_([this] { run(); }) {}
    ~ReadAhead() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }

    // The next row into `row`; false at the end. Rethrows the failure that
    // ended the reading.
    bool next(Row& row) {
        if (position_ == batch_.size()) {
            std::unique_lock lock(mutex_);
            // The rows read keep their storage for the rows to come.
            if (!batch_.empty() && spare_.size() < kBatchesAhead) spare_.push_back(std::move(batch_));
            changed_.wait(lock, [&] { return !ready_.empty() || finished_; });
            if (ready_.empty()) {
                if (failure_) std::rethrow_exception(failure_);
                return false;
            }
            batch_ = std::move(ready_.front());
            ready_.pop_front();
            position_ = 0;
            changed_.notify_all();
        }
        std::swap(row, batch_[position_++]);
        return true;
    }

private:
    static constexpr std::size_t kBatchRows = 64;
    static constexpr std::size_t kBatchesAhead = 4;

    void run() {
        std::exception_ptr failure;
        bool atEnd = false;
        while (!atEnd && !failure) {
            std::vector<Row> batch;
            {
                std::lock_guard lock(mutex_);
                if (!spare_.empty()) {
                    batch = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            std::size_t rows = 0;
            try {
                stream_.guarded([&] {
                    for (; rows < kBatchRows && !stream_.query_.eof(); ++rows) {
                        if (rows == batch.size()) batch.emplace_back();
                        stream_.load(batch[rows]);
                        stream_.query_.next();
                    }
                });
                atEnd = stream_.query_.eof();
            } catch (...) {
                failure = std::current_exception();
            }
            batch.resize(rows);
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return ready_.size() < kBatchesAhead || stopping_; });
            if (stopping_) return;
            if (!batch.empty()) ready_.push_back(std::move(batch));
            finished_ = atEnd || failure;
            failure_ = failure;
            changed_.notify_all();
        }
    }

    RowStream& stream_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<Row>> ready_;
    std::vector<std::vector<Row>> spare_;  // read by the caller, to be filled again
    bool finished_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::vector<Row> batch_;  // the caller's
    std::size_t position_ = 0;
    std::thread worker_;  // last: started once the rest is in place
};

RowStream::RowStream(db::Connection& connection, std::string where, const CentralTable& table, bool branchSide,
                     const std::string& empresa, bool keepSent)
    : where_(std::move(where)),
      table_(table),
      branchSide_(branchSide),
      keepSent_(branchSide && keepSent),
      query_(connection) {
    const std::string keyField = upper(table.checked->profile->keyField);
    for (std::size_t i = 0; i < table.rules.size(); ++i)
        if (upper(table.rules[i].field) == keyField) keyField_ = static_cast<int>(i);
    guarded([&] {
        const db::ColumnTypes types = branchSide ? db::readColumnTypes(connection, table.name) : table.centralTypes;
        // On a local file the engine's work is most of the comparison's
        // time; through a server the round trips are, and asking for the
        // plan would add one.
        const bool byPosition = db::isLocalPath(connection.attachedDatabase());
        query_.addSql(selectSql(table, branchSide, types, inlineText_, byPosition));
        if (byPosition && !readsAtSortedPositions(planIfPrepared())) {
            query_.clearSql();
            query_.addSql(selectSql(table, branchSide, types, inlineText_, false));
        }
        query_.setText(query_.paramIndex("CODEMPRESA"), empresa);
        query_.open();
    });
    readAhead_ = std::make_unique<ReadAhead>(*this);
    advance();
}

RowStream::~RowStream() = default;

// The plan of the select, or nothing when it cannot be prepared (the plain
// select then fails with the database's own message).
std::string RowStream::planIfPrepared() {
    try {
        return query_.plan();
    } catch (const db::Error& failure) {
        if (failure.connectionLost()) throw;
        return {};
    }
}

void RowStream::advance() { atEnd_ = !readAhead_->next(row_); }

void RowStream::load(Row& row) {
    std::vector<Value>& values = row.values;
    Key& key = row.key;
    values.resize(table_.rules.size());
    key.resize(table_.keyRules.size());
    if (keepSent_) loadSent(row.sent);
    for (std::size_t i = 0; i < table_.rules.size(); ++i) {
        const int index = static_cast<int>(i);
        if (!branchSide_ && inlineText_[i] >= 0 && readInlineBytes(inlineText_[i], index, values[i])) continue;
        if (!branchSide_)
            readCentralValue(table_.rules[i], query_, index, values[i]);
        else if (!keepSent_ && inlineText_[i] >= 0 && readWholeInline(inlineText_[i], index, scratch_.bytes)) {
            scratch_.kind = table_.checked->profile->columns[i].write;
            transfer::writtenValueOfSent(table_.rules[i], scratch_, values[i]);
            values[i].problem.clear();
        } else if (keepSent_ && sentAsRead_[i] &&
                 transfer::writtenValueOfSent(table_.rules[i], row.sent.values[i], values[i]))
            values[i].problem.clear();  // read once, for both
        else
            readBranchValue(table_.rules[i], query_, index, values[i]);
    }
    if (keepSent_)
        row.sent.keyText = keyField_ >= 0 ? transfer::displayText(query_.asText(keyField_)) : shownKey(values);
    for (std::size_t k = 0; k < table_.keyRules.size(); ++k) {
        const Rule& rule = table_.rules[static_cast<std::size_t>(table_.keyRules[k])];
        const Value& value = values[static_cast<std::size_t>(table_.keyRules[k])];
        if (!value.problem.empty())
            throw ReconcileError(table_.name + ": " + where_ + ": the key column " + rule.column +
                                 " of a row cannot be read: " + value.problem);
        encodeKeyPart(rule, value, key[k]);
    }
    if (hasPrevious_ && keyLess(key, previous_))
        throw ReconcileError(table_.name + ": " + where_ + ": the rows do not come in the order of the key (" +
                             shownKey(values) + " came after a greater key)");
    previous_ = key;
    hasPrevious_ = true;
}

// The bytes of a blob the row holds whole; false when it is NULL or longer,
// and is read from the blob, which tells its own failure.
bool RowStream::readWholeInline(int textIndex, int blobIndex, std::string& into) {
    if (query_.isNull(blobIndex) || query_.isNull(textIndex)) return false;
    try {
        query_.readBytes(textIndex, into);
        return true;
    } catch (const db::Error&) {
        return false;
    }
}

// A central blob: NULL, or the bytes the row holds whole; false when it is
// longer.
bool RowStream::readInlineBytes(int textIndex, int blobIndex, Value& value) {
    value.problem.clear();
    value.null = query_.isNull(blobIndex);
    value.text.clear();
    return value.null || readWholeInline(textIndex, blobIndex, value.text);
}

// Read as the copy reads the row for its upsert; a value it cannot read
// fails the row, as it fails the copy's row.
void RowStream::loadSent(SentRow& sent) {
    const std::vector<transfer::ColumnMapping>& mappings = table_.checked->profile->columns;
    sent.values.resize(table_.rules.size());
    sentAsRead_.assign(table_.rules.size(), 0);
    sent.unsent.clear();
    for (std::size_t i = 0; i < table_.rules.size(); ++i) {
        try {
            if (inlineText_[i] >= 0 && readWholeInline(inlineText_[i], static_cast<int>(i), sent.values[i].bytes))
                sent.values[i].kind = mappings[i].write;
            else
                transfer::readSentValue(mappings[i], query_, static_cast<int>(i), sent.values[i]);
            sentAsRead_[i] = 1;
        } catch (const db::Error& failure) {
            if (sent.unsent.empty()) sent.unsent = failure.what();
        }
    }
}

std::string RowStream::shownKey(const std::vector<Value>& values) const {
    std::string text;
    for (std::size_t k = 0; k < table_.keyRules.size(); ++k) {
        const auto rule = static_cast<std::size_t>(table_.keyRules[k]);
        text += (k ? " " : "") + table_.rules[rule].column + "=" + shownValue(table_.rules[rule], values[rule]);
    }
    return text;
}

}  // namespace reconcile
