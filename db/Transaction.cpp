#include "db/Transaction.h"

#include "db/Connection.h"
#include "db/FirebirdClient.h"

namespace db {

Transaction::Transaction(const Connection& connection, Commits commits, Access access)
    : connection_(connection),
      transaction_(connection.startTransaction(commits == Commits::EachStatement, access == Access::ReadOnly)) {}

Transaction::~Transaction() {
    if (!transaction_) return;
    Connection::Call call(connection_);
    fb::QuietStatus status;
    transaction_->rollback(&status);
    if (status.failed()) transaction_->release();
}

void Transaction::commit() {
    try {
        Connection::Call call(connection_);
        fb::ThrowingStatus status;
        transaction_->commit(&status);  // releases the interface on success
        transaction_ = nullptr;
    } catch (const Firebird::FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

void Transaction::rollback() {
    if (!transaction_) return;
    try {
        Connection::Call call(connection_);
        fb::ThrowingStatus status;
        transaction_->rollback(&status);
        transaction_ = nullptr;
    } catch (const Firebird::FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

}  // namespace db
