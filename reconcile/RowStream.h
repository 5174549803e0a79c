#pragma once

// One side's rows of one company, streamed in key order: a branch's as a run
// would write them, or the central database's as it holds them.

#include <string>
#include <vector>

#include "db/Query.h"
#include "reconcile/CentralTable.h"
#include "reconcile/KeyOrder.h"

namespace db {
class Connection;
}

namespace reconcile {

class RowStream {
public:
    // `where` names the side in failures: the branch file or "central
    // database". Failures leave as ReconcileError.
    RowStream(db::Connection& connection, std::string where, const CentralTable& table, bool branchSide,
              const std::string& empresa);

    bool atEnd() const { return query_.eof(); }
    const Key& key() const { return key_; }
    const std::vector<Value>& values() const { return values_; }
    // Hands the current row's values over (for a row kept past advance()).
    void takeValues(std::vector<Value>& into) { std::swap(into, values_); }

    void advance();

private:
    template <typename Work>
    void guarded(Work&& work);
    void load();
    std::string shownKey() const;

    std::string where_;
    const CentralTable& table_;
    bool branchSide_;
    db::Query query_;
    std::vector<Value> values_;
    Key key_;
    Key previous_;
    bool hasPrevious_ = false;
};

}  // namespace reconcile
