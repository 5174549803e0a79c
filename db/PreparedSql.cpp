#include "db/PreparedSql.h"

#include <initializer_list>
#include <optional>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/FirebirdClient.h"
#include "db/Transaction.h"

namespace db {

using namespace Firebird;

PreparedSql::~PreparedSql() { freePrepared(); }

void PreparedSql::attach(Connection& connection) {
    freePrepared();
    connection_ = &connection;
}

Connection& PreparedSql::connection() const {
    if (!connection_) throw Error("Statement has no connection");
    return *connection_;
}

void PreparedSql::clearSql() {
    freePrepared();
    sql_.clear();
    positionalSql_.clear();
    parameters_.reset({});
}

void PreparedSql::addSql(std::string_view text) {
    freePrepared();
    if (!sql_.empty()) sql_ += '\n';
    sql_ += text;
    NamedParameters parsed = parseNamedParameters(sql_);
    positionalSql_ = parsed.positionalSql;
    parameters_.reset(std::move(parsed));
}

void PreparedSql::freePrepared() {
    for (IMessageMetadata** metadata : {&inputMetadata_, &outputMetadata_}) {
        if (*metadata) (*metadata)->release();
        *metadata = nullptr;
    }
    if (!statement_) return;
    // A statement whose attachment is gone can only be released.
    if (connection_ && connection_->isAttached() && connection_->attachmentSerial() == preparedOnAttachment_) {
        fb::QuietStatus status;
        statement_->free(&status);
        if (status.failed()) statement_->release();
    } else {
        statement_->release();
    }
    statement_ = nullptr;
}

IStatement* PreparedSql::prepared(ITransaction* transaction) {
    Connection& target = connection();
    if (statement_ && preparedOnAttachment_ != target.attachmentSerial()) freePrepared();
    if (statement_) return statement_;
    if (sql_.empty()) throw Error("SQL statement is empty");
    std::optional<Transaction> own;
    if (!transaction) transaction = own.emplace(target).handle();
    preparedOnAttachment_ = target.attachmentSerial();
    try {
        Connection::Call call(target);
        fb::ThrowingStatus status;
        statement_ = target.attachment()->prepare(&status, transaction, 0, positionalSql_.c_str(), target.dialect(),
                                                  IStatement::PREPARE_PREFETCH_METADATA);
        inputMetadata_ = statement_->getInputMetadata(&status);
        outputMetadata_ = statement_->getOutputMetadata(&status);
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
    if (own) own->commit();
    return statement_;
}

std::string PreparedSql::plan() {
    IStatement* statement = prepared();
    try {
        Connection::Call call(connection());
        fb::ThrowingStatus status;
        const char* text = statement->getPlan(&status, false);
        return text ? text : "";
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

}  // namespace db
