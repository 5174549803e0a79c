#pragma once

#include "db/DateTime.h"
#include "db/PreparedSql.h"

#include <cstdint>
#include <string_view>

namespace db {

// A statement that returns no rows (the central upsert). Prepared once for
// its text; by default every execute runs in a transaction of its own that
// is committed when the statement completes, and rolled back when it fails.
class Transaction;

class Statement : public PreparedSql {
public:
    Statement() = default;
    explicit Statement(Connection& connection) { attach(connection); }

    int paramIndex(std::string_view name) { return parameters().indexOf(name); }
    void setText(int index, std::string_view bytes) { parameters().setText(index, bytes); }
    void setDouble(int index, double value) { parameters().setDouble(index, value); }
    void setDate(int index, const DateTime& value) { parameters().setDate(index, value); }
    void setInteger(int index, std::int32_t value) { parameters().setInteger(index, value); }
    void setBlob(int index, std::string_view bytes) { parameters().setBlob(index, bytes); }

    void execute();
    // Runs inside `transaction`, which the caller commits. A failing
    // execution is undone by the engine alone; the transaction stays usable.
    void execute(Transaction& transaction);
};

}  // namespace db
