#include "transfer/RowCopy.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/Error.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "transfer/BlockWrites.h"
#include "transfer/CentralWrites.h"
#include "transfer/DisplayText.h"
#include "transfer/Tables.h"

namespace transfer {

namespace {

// A name resolved to its index once per job. A name that is missing keeps
// the failure, so every row fails with the same message at the same step,
// as a lookup per row would.
class Lookup {
public:
    template <typename Resolve>
    Lookup(Resolve&& resolve) {
        try {
            index_ = resolve();
        } catch (const db::Error& failure) {
            missing_ = failure.what();
        }
    }

    int index() const {
        if (!index_) throw db::Error(missing_);
        return *index_;
    }
    bool found() const { return index_.has_value(); }

private:
    std::optional<int> index_;
    std::string missing_;
};

struct ResolvedColumn {
    const ColumnMapping& mapping;
    Lookup field;
    Lookup parameter;
    // A bytes column may come with its first bytes as text and its length
    // (see TableProfile::inlineSelectSql); both or neither are used.
    Lookup inlineText;
    Lookup inlineLength;
};

// The branch field and central parameter of every mapped column, plus the
// key field; resolved on the first row, when the result's columns are known.
class ResolvedProfile {
public:
    ResolvedProfile(const TableProfile& profile, db::Query& branch, db::Statement& central)
        : key_([&] { return branch.fieldIndex(profile.keyField); }) {
        columns_.reserve(profile.columns.size());
        for (const ColumnMapping& mapping : profile.columns) {
            const bool bytes = mapping.read == ReadKind::Bytes;
            columns_.push_back(ResolvedColumn{
                mapping, Lookup([&] { return branch.fieldIndex(mapping.field); }),
                Lookup([&] { return central.paramIndex(mapping.parameter); }),
                Lookup([&] { return bytes ? branch.fieldIndex(mapping.field + kInlineTextSuffix) : -1; }),
                Lookup([&] { return bytes ? branch.fieldIndex(mapping.field + kInlineLengthSuffix) : -1; })});
        }
    }

    int keyField() const { return key_.index(); }
    const std::vector<ResolvedColumn>& columns() const { return columns_; }

private:
    Lookup key_;
    std::vector<ResolvedColumn> columns_;
};

// Bytes whose length the row tells and whose text in the row has all of
// them need no read of their own; any other (longer, or cut by characters
// rather than bytes) is read from the blob.
std::string readBytes(const ResolvedColumn& column, db::Query& branch, int field) {
    if (column.inlineText.found() && column.inlineLength.found()) {
        const int length = column.inlineLength.index();
        if (branch.isNull(length)) return {};
        std::string text = branch.asBytes(column.inlineText.index());
        if (static_cast<std::int64_t>(text.size()) == branch.asInteger(length)) return text;
    }
    return branch.asBytes(field);
}

// The value as a run sends it; short notes the row already carries are
// taken from it instead of their blob.
ColumnValue readColumn(const ResolvedColumn& column, db::Query& branch) {
    const int field = column.field.index();
    ColumnValue value;
    if (column.mapping.read == ReadKind::Bytes && column.inlineText.found()) {
        value.kind = column.mapping.write;
        value.bytes = readBytes(column, branch, field);
    } else {
        static_cast<SentValue&>(value) = sentValue(column.mapping, branch, field);
    }
    value.mapping = &column.mapping;
    value.parameter = column.parameter.index();
    return value;
}

void copyColumn(const ResolvedColumn& column, db::Query& branch, db::Statement& central) {
    setParameter(readColumn(column, branch), central);
}

RowValues readRow(const ResolvedProfile& resolved, db::Query& branch) {
    RowValues row;
    row.reserve(resolved.columns().size());
    for (const ResolvedColumn& column : resolved.columns()) row.push_back(readColumn(column, branch));
    return row;
}

// One branch row as the reading side hands it over: its key as the screen
// shows it and its values, or why they could not be read.
struct ReadRow {
    std::string key;
    RowValues values;
    std::optional<std::string> failure;  // the row's own: it is logged and the loop goes on
    std::exception_ptr ends;             // reading it ended the loop (a lost connection, an unreadable key)
};

// Reads the branch rows on a thread of its own while the loop writes the
// ones before them, so that the wait for the next fetch overlaps the
// central writes. At most `capacity` rows (and about kMaxBytes of their
// values) wait at a time. Long notes are read from their blobs on that
// thread too: meanwhile nothing else uses the branch attachment. A failure
// to move to the next row is handed over after the rows before it.
class RowReadAhead {
public:
    RowReadAhead(db::Query& branch, const ResolvedProfile& resolved, std::size_t capacity)
        : branch_(branch), resolved_(resolved), capacity_(std::max<std::size_t>(capacity, 1)) {
        thread_ = std::thread([this] { run(); });
    }

    ~RowReadAhead() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    RowReadAhead(const RowReadAhead&) = delete;
    RowReadAhead& operator=(const RowReadAhead&) = delete;

    // The next row; none at the end of the result. Rethrows the failure
    // that ended the reading once the rows before it are taken.
    std::optional<ReadRow> next() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !rows_.empty() || ended_; });
        if (rows_.empty()) {
            if (failure_) std::rethrow_exception(failure_);
            return std::nullopt;
        }
        ReadRow row = std::move(rows_.front());
        rows_.pop_front();
        bytes_ -= sizeOf(row);
        lock.unlock();
        changed_.notify_all();
        return row;
    }

    // Whether rows follow the ones taken, as the branch tells.
    bool more() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !rows_.empty() || ended_; });
        if (rows_.empty() && failure_) std::rethrow_exception(failure_);
        return !rows_.empty();
    }

private:
    static constexpr std::size_t kMaxBytes = 8 * 1024 * 1024;

    static std::size_t sizeOf(const ReadRow& row) {
        std::size_t size = sizeof row + row.key.size();
        for (const ColumnValue& value : row.values) size += sizeof value + value.bytes.size();
        return size;
    }

    ReadRow readCurrent() {
        ReadRow row;
        try {
            row.key = displayText(branch_.asText(resolved_.keyField()));
            row.values = readRow(resolved_, branch_);
        } catch (const std::exception& failure) {
            if (db::isConnectionLost(failure)) {
                row.ends = std::current_exception();
                return row;
            }
            try {
                row.key = displayText(branch_.asText(resolved_.keyField()));
                row.failure = failure.what();
            } catch (...) {
                row.ends = std::current_exception();
            }
        }
        return row;
    }

    void run() {
        std::exception_ptr failure;
        try {
            while (!branch_.eof()) {
                ReadRow row = readCurrent();
                const bool last = row.ends != nullptr;
                const std::size_t size = sizeOf(row);
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] {
                        return stop_ || rows_.empty() || (rows_.size() < capacity_ && bytes_ + size <= kMaxBytes);
                    });
                    if (stop_) return;
                    rows_.push_back(std::move(row));
                    bytes_ += size;
                }
                changed_.notify_all();
                if (last) break;
                branch_.next();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            failure_ = failure;
        }
        changed_.notify_all();
    }

    db::Query& branch_;
    const ResolvedProfile& resolved_;
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ReadRow> rows_;
    std::size_t bytes_ = 0;
    bool ended_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_;  // last: starts once the rest is in place
};

}  // namespace

int retornaQuantRegistros(db::Query& pQuery, ProgressView& view) {
    int count = 0;
    pQuery.first();
    while (!pQuery.eof()) {
        view.processEvents();
        if (view.stopRequested()) break;
        ++count;
        pQuery.next();
    }
    return count;
}

namespace {

// The loop over rows a reading thread fetches ahead of the writes.
void copyReadAhead(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view,
                   CentralWrites& writes, CopyTally& tally, std::size_t readAheadRows) {
    const ResolvedProfile resolved(profile, branch, central);
    RowReadAhead reader(branch, resolved, readAheadRows);
    while (std::optional<ReadRow> row = reader.next()) {
        ++tally.read;
        try {
            view.stepGauge();
            view.processEvents();
            if (row->ends) std::rethrow_exception(row->ends);
            view.setProgressText(profile.progressPrefix + row->key);
            if (row->failure) {
                writes.rowFailed(row->key, *row->failure);
            } else if (writes.collectsRows()) {
                writes.add(row->key, std::move(row->values));
            } else {
                for (const ColumnValue& value : row->values) setParameter(value, central);
                writes.write(row->key);
            }
        } catch (const std::exception& failure) {
            if (db::isConnectionLost(failure) || row->ends) throw;
            writes.rowFailed(row->key, failure.what());
        }
        if (view.stopRequested()) {
            tally.stopped = reader.more();
            break;
        }
    }
}

// The loop that reads each row as it writes it.
void copyInTurn(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view,
                CentralWrites& writes, CopyTally& tally) {
    std::optional<ResolvedProfile> resolved;
    while (!branch.eof()) {
        if (!resolved) resolved.emplace(profile, branch, central);
        ++tally.read;
        try {
            view.stepGauge();
            view.processEvents();
            const std::string key = displayText(branch.asText(resolved->keyField()));
            view.setProgressText(profile.progressPrefix + key);
            if (writes.collectsRows()) {
                writes.add(key, readRow(*resolved, branch));
            } else {
                for (const ResolvedColumn& column : resolved->columns()) copyColumn(column, branch, central);
                writes.write(key);
            }
        } catch (const std::exception& failure) {
            // A connection that is gone fails every row after it the
            // same way: that ends the job instead.
            if (db::isConnectionLost(failure)) throw;
            // Reading the key again may itself fail (no key column);
            // that failure is not a row's and leaves the loop.
            const std::string key = displayText(branch.asText(resolved->keyField()));
            writes.rowFailed(key, failure.what());
        }
        branch.next();
        if (view.stopRequested()) {
            tally.stopped = !branch.eof();
            break;
        }
    }
}

}  // namespace

CopyTally copyRows(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view,
                   const CommitPolicy& policy) {
    CopyTally tally;
    copyRows(central, branch, profile, view, policy, tally);
    return tally;
}

void copyRows(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view,
              const CommitPolicy& policy, CopyTally& tally, std::optional<int> rowTotal, BlockWrites* keptBlocks,
              int readAheadRows) {
    // A statement kept from an earlier job of the run stays prepared.
    if (central.sql() != profile.upsertSql) {
        central.clearSql();
        central.addSql(profile.upsertSql);
    }
    view.setProgressText("Processando...");
    const bool counting = view.showsRowCount() && !rowTotal;
    if (counting)
        view.setGaugeMaximum(retornaQuantRegistros(branch, view));
    else if (view.showsRowCount())
        view.setGaugeMaximum(*rowTotal);
    if (view.stopRequested()) {
        tally.stopped = true;
        return;
    }
    if (counting) branch.first();  // the counting pass left the forward-only result at its end: runs the select again

    CentralWrites writes(central, profile, view, policy, tally, keptBlocks);
    try {
        if (readAheadRows > 0 && !branch.eof())
            copyReadAhead(central, branch, profile, view, writes, tally, static_cast<std::size_t>(readAheadRows));
        else
            copyInTurn(central, branch, profile, view, writes, tally);
    } catch (...) {
        // Rows already executed are kept as a commit per row would have kept
        // them, where the central connection still allows it.
        try {
            writes.commit();
        } catch (...) {
        }
        throw;
    }
    writes.commit();
}

namespace {

// A sent value in the form a block of rows takes it.
ColumnValue blockValue(const ColumnMapping& mapping, int parameter, const SentValue& sent) {
    ColumnValue value;
    static_cast<SentValue&>(value) = sent;
    value.mapping = &mapping;
    value.parameter = parameter;
    return value;
}

}  // namespace

class RowWriter::Writes : public CentralWrites {
public:
    using CentralWrites::CentralWrites;
};

RowWriter::RowWriter(db::Statement& central, const TableProfile& profile, ProgressView& view,
                     const CommitPolicy& policy, CopyTally& tally)
    : central_(central), profile_(profile) {
    if (central.sql() != profile.upsertSql) {
        central.clearSql();
        central.addSql(profile.upsertSql);
    }
    for (const ColumnMapping& mapping : profile.columns) parameters_.push_back(central.paramIndex(mapping.parameter));
    writes_ = std::make_unique<Writes>(central, profile, view, policy, tally, nullptr);
}

RowWriter::~RowWriter() = default;

void RowWriter::write(const std::string& key, const std::vector<SentValue>& values) {
    try {
        if (writes_->collectsRows()) {
            RowValues row;
            row.reserve(values.size());
            for (std::size_t i = 0; i < values.size(); ++i)
                row.push_back(blockValue(profile_.columns[i], parameters_[i], values[i]));
            writes_->add(key, std::move(row));
        } else {
            for (std::size_t i = 0; i < values.size(); ++i) setParameter(central_, parameters_[i], values[i]);
            writes_->write(key);
        }
    } catch (const std::exception& failure) {
        if (db::isConnectionLost(failure)) throw;
        writes_->rowFailed(key, failure.what());
    }
}

void RowWriter::rowFailed(const std::string& key, const std::string& message) { writes_->rowFailed(key, message); }

void RowWriter::commit() { writes_->commit(); }

CopyTally GravaDocuRecCentral(db::Statement& qryDocuRecCentral, db::Query& qryDocuRecFilial, ProgressView& view) {
    return copyRows(qryDocuRecCentral, qryDocuRecFilial, docuRecProfile(), view);
}

CopyTally GravaMoviRecCentral(db::Statement& qryMoviRecCentral, db::Query& qryMoviRecFilial, ProgressView& view) {
    return copyRows(qryMoviRecCentral, qryMoviRecFilial, moviRecProfile(), view);
}

}  // namespace transfer
