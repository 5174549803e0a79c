#include "transfer/CentralWrites.h"

#include <algorithm>

#include "db/Error.h"
#include "db/Statement.h"
#include "transfer/DisplayText.h"

namespace transfer {

namespace {

// Runs a call on the central statement; its attachment lost is told as such.
template <typename Call>
void onCentral(Call&& call) {
    try {
        call();
    } catch (const db::Error& failure) {
        if (failure.connectionLost() && !dynamic_cast<const CentralConnectionLost*>(&failure))
            throw CentralConnectionLost(failure.what(), failure.code(), true);
        throw;
    }
}

// One log line for a row that was not written, in the window's format.
void logFailure(ProgressView& view, const TableProfile& profile, CopyTally& tally, const std::string& key,
                const std::string& message) {
    const std::string shownMessage = displayText(message);
    view.appendLog(profile.logPrefix + key + " Erro: " + shownMessage);
    tally.failures.push_back({key, shownMessage});
    ++tally.failed;
}

}  // namespace

CentralWrites::CentralWrites(db::Statement& central, const TableProfile& profile, ProgressView& view,
                             const CommitPolicy& policy, CopyTally& tally, BlockWrites* keptBlocks)
    : central_(central),
      profile_(profile),
      view_(view),
      rowsPerCommit_(policy.rowsPerCommit),
      serverCommitsEachRow_(policy.serverCommitsEachRow),
      tally_(tally),
      blocks_(keptBlocks ? *keptBlocks
                         : ownBlocks_.emplace(central, profile, tally.centralStatements, policy.rowsPerStatement,
                                              policy.rowsPerCommit, policy.mergeRows)) {
    blocks_.countInto(tally.centralStatements);
}

bool CentralWrites::collectsRows() {
    if (rowsPerCommit_ <= 1) return false;
    if (!collects_) onCentral([&] { collects_ = blocks_.capacity() > 1; });
    return *collects_;
}

void CentralWrites::write(const std::string& key) {
    if (rowsPerCommit_ > 1) {
        ++tally_.centralStatements;
        onCentral([&] {
            if (!open_) open_.emplace(central_.connection());
            central_.execute(*open_);
        });
        committing_.push_back(key);
        if (static_cast<int>(committing_.size()) >= rowsPerCommit_) commitOpen();
        return;
    }
    ++tally_.centralStatements;
    onCentral([&] {
        if (!serverCommitsEachRow_) return central_.execute();
        if (!eachRow_) eachRow_.emplace(central_.connection(), db::Transaction::Commits::EachStatement);
        central_.execute(*eachRow_);
    });
    ++tally_.written;
}

void CentralWrites::add(const std::string& key, RowValues values) {
    pending_.push_back({key, std::move(values), {}});
    ++pendingValues_;
    int room = rowsPerCommit_ - static_cast<int>(committing_.size());
    onCentral([&] { room = std::min(room, blocks_.capacity()); });
    if (pendingValues_ >= room) flush();
}

void CentralWrites::rowFailed(const std::string& key, const std::string& message) {
    if (!collects_.value_or(false)) {
        logFailure(view_, profile_, tally_, key, message);
        return;
    }
    pending_.push_back({key, std::nullopt, message});
}

void CentralWrites::commit() {
    flush();
    commitOpen();
    endEachRow();
}

// The rows of the server-committed transaction are in already: ending it
// has nothing left to commit, and a failure there loses no row.
void CentralWrites::endEachRow() {
    if (!eachRow_) return;
    try {
        eachRow_->commit();
    } catch (const db::Error&) {
    }
    eachRow_.reset();
}

void CentralWrites::flush() {
    std::vector<PendingRow> rows;
    rows.swap(pending_);
    pendingValues_ = 0;
    std::vector<const RowValues*> values;
    for (const PendingRow& row : rows)
        if (row.values) values.push_back(&*row.values);
    // Outcomes come in row order; rows that failed before reaching the
    // central statement are told in their place.
    std::size_t next = 0;
    auto logFailedBefore = [&] {
        for (; next < rows.size() && !rows[next].values; ++next)
            logFailure(view_, profile_, tally_, rows[next].key, rows[next].failure);
    };
    auto outcome = [&](const std::optional<std::string>& failure) {
        logFailedBefore();
        const std::string& key = rows[next++].key;
        if (failure)
            logFailure(view_, profile_, tally_, key, *failure);
        else
            committing_.push_back(key);
    };
    try {
        if (!values.empty())
            onCentral([&] {
                if (!open_) open_.emplace(central_.connection());
                blocks_.write(values, *open_, outcome);
            });
    } catch (const std::exception& failure) {
        if (db::isConnectionLost(failure)) throw;
        // Nothing reached the central (its transaction did not start): the
        // rows not told yet fail with that reason.
        for (logFailedBefore(); next < rows.size(); logFailedBefore()) outcome(std::string(failure.what()));
    }
    logFailedBefore();
    if (static_cast<int>(committing_.size()) >= rowsPerCommit_) commitOpen();
}

void CentralWrites::commitOpen() {
    if (!open_) return;
    std::vector<std::string> keys;
    keys.swap(committing_);
    try {
        onCentral([&] { open_->commit(); });
        tally_.written += static_cast<int>(keys.size());
    } catch (const std::exception& failure) {
        open_.reset();
        if (db::isConnectionLost(failure)) throw;
        for (const std::string& key : keys) logFailure(view_, profile_, tally_, key, failure.what());
    }
    open_.reset();
}

}  // namespace transfer
