#include "db/Statement.h"

#include "db/Connection.h"
#include "db/FirebirdClient.h"
#include "db/Transaction.h"

namespace db {

using namespace Firebird;

void Statement::execute() {
    Transaction transaction(connection());
    execute(transaction);
    transaction.commit();
}

void Statement::execute(Transaction& transaction) {
    IStatement* statement = prepared(transaction.handle());
    ParameterSet& values = parameters();
    values.buildMessage(inputMetadata(), connection().attachment(), transaction.handle());
    try {
        Connection::Call call(connection());
        fb::ThrowingStatus status;
        statement->execute(&status, transaction.handle(), values.metadata(),
                           values.metadata() ? values.buffer() : nullptr, nullptr, nullptr);
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

}  // namespace db
