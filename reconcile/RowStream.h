#pragma once

// One side's rows of one company, streamed in key order: a branch's as a run
// would write them, or the central database's as it holds them.

#include <string>
#include <vector>

#include "db/Query.h"
#include "reconcile/CentralTable.h"
#include "reconcile/KeyOrder.h"
#include "transfer/WrittenValue.h"

namespace db {
class Connection;
}

namespace reconcile {

// A branch row as the copy sends it to the central upsert.
struct SentRow {
    std::vector<transfer::SentValue> values;  // in rule order
    std::string keyText;                      // the profile's key field, as the log shows it
    std::string unsent;                       // not empty: why a value cannot be sent; the row fails
};

class RowStream {
public:
    // `where` names the side in failures: the branch file or "central
    // database". Failures leave as ReconcileError.
    RowStream(db::Connection& connection, std::string where, const CentralTable& table, bool branchSide,
              const std::string& empresa, bool keepSent = false);

    bool atEnd() const { return query_.eof(); }
    const Key& key() const { return key_; }
    const std::vector<Value>& values() const { return values_; }
    // Hands the current row's values over (for a row kept past advance()),
    // with its sent values when the stream keeps them.
    void takeValues(std::vector<Value>& into) { std::swap(into, values_); }
    void takeSent(SentRow& into) { std::swap(into, sent_); }

    void advance();

private:
    template <typename Work>
    void guarded(Work&& work);
    void load();
    void loadSent();
    std::string shownKey() const;

    std::string where_;
    const CentralTable& table_;
    bool branchSide_;
    bool keepSent_;
    int keyField_ = -1;  // the profile's key field among the rules; -1: the shown key
    SentRow sent_;
    std::vector<bool> sentAsRead_;  // per rule: its sent value could be read
    db::Query query_;
    std::vector<Value> values_;
    Key key_;
    Key previous_;
    bool hasPrevious_ = false;
};

}  // namespace reconcile
