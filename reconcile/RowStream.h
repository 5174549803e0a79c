#pragma once

// One side's rows of one company, streamed in key order: a branch's as a run
// would write them, or the central database's as it holds them.

#include <memory>
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
    // database". Failures leave as ReconcileError. The rows are read ahead
    // on a thread of its own, so nothing else may use `connection` while the
    // stream lives.
    RowStream(db::Connection& connection, std::string where, const CentralTable& table, bool branchSide,
              const std::string& empresa, bool keepSent = false);
    ~RowStream();
    RowStream(const RowStream&) = delete;
    RowStream& operator=(const RowStream&) = delete;

    bool atEnd() const { return atEnd_; }
    const Key& key() const { return row_.key; }
    const std::vector<Value>& values() const { return row_.values; }
    // Hands the current row's values over (for a row kept past advance()),
    // with its sent values when the stream keeps them.
    void takeValues(std::vector<Value>& into) { std::swap(into, row_.values); }
    void takeSent(SentRow& into) { std::swap(into, row_.sent); }

    void advance();

private:
    struct Row {
        std::vector<Value> values;
        Key key;
        SentRow sent;
    };
    class ReadAhead;

    template <typename Work>
    void guarded(Work&& work);
    std::string planIfPrepared();
    void load(Row& row);
    void loadSent(SentRow& sent);
    bool readWholeInline(int textIndex, int blobIndex, std::string& into);
    bool readInlineBytes(int textIndex, int blobIndex, Value& value);
    std::string shownKey(const std::vector<Value>& values) const;

    std::string where_;
    const CentralTable& table_;
    bool branchSide_;
    bool keepSent_;
    int keyField_ = -1;  // the profile's key field among the rules; -1: the shown key
    db::Query query_;
    std::vector<char> sentAsRead_;  // per rule: its sent value could be read (not bits: set per value)
    std::vector<int> inlineText_;   // per rule: its blob's first bytes in the row, -1: none
    transfer::SentValue scratch_;   // a short branch blob's bytes, read for the check
    Key previous_;
    bool hasPrevious_ = false;
    Row row_;  // the current row
    bool atEnd_ = false;
    std::unique_ptr<ReadAhead> readAhead_;  // declared after the query: stopped before it closes
};

}  // namespace reconcile
