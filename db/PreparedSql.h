#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/ParameterSet.h"

namespace Firebird {
class IMessageMetadata;
class IStatement;
class ITransaction;
}  // namespace Firebird

namespace db {

class Connection;

// What the central statement and the branch query share: the statement
// text, its named parameters, and a prepared handle that lives until the
// text changes. Internal to db/.
class PreparedSql {
public:
    PreparedSql() = default;
    ~PreparedSql();
    PreparedSql(const PreparedSql&) = delete;
    PreparedSql& operator=(const PreparedSql&) = delete;

    void attach(Connection& connection);
    bool isAttached() const { return connection_ != nullptr; }

    void clearSql();
    void addSql(std::string_view text);
    const std::string& sql() const { return sql_; }

    ParameterSet& parameters() { return parameters_; }

    // The engine's plan for the statement (prepared now if need be), as
    // "PLAN ..." text.
    std::string plan();
    // The connection the statement is attached to; throws when none.
    Connection& connection() const;

protected:
    // The prepared statement, prepared now if the text changed or the
    // connection was re-attached since. Prepared in `transaction` when
    // given (the one it is about to run in), which over a server saves
    // starting and committing one for the prepare alone.
    Firebird::IStatement* prepared(Firebird::ITransaction* transaction = nullptr);
    void freePrepared();
    // Described metadata of the prepared statement, owned here.
    Firebird::IMessageMetadata* inputMetadata() const { return inputMetadata_; }
    Firebird::IMessageMetadata* outputMetadata() const { return outputMetadata_; }

private:
    Connection* connection_ = nullptr;
    std::string sql_;
    std::string positionalSql_;
    ParameterSet parameters_;
    Firebird::IStatement* statement_ = nullptr;
    Firebird::IMessageMetadata* inputMetadata_ = nullptr;
    Firebird::IMessageMetadata* outputMetadata_ = nullptr;
    std::uint64_t preparedOnAttachment_ = 0;
};

}  // namespace db
