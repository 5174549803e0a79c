#include "db/DeclaredStatement.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/FirebirdClient.h"
#include "db/Transaction.h"

namespace db {

using namespace Firebird;

DeclaredStatement::DeclaredStatement(Connection& connection, std::string sql)
    : connection_(connection), sql_(std::move(sql)) {}

DeclaredStatement::~DeclaredStatement() {
    for (IMessageMetadata* metadata : {input_, output_})
        if (metadata) metadata->release();
    if (!statement_) return;
    // A statement whose attachment is gone can only be released.
    if (connection_.isAttached() && connection_.attachmentSerial() == preparedOnAttachment_) {
        fb::QuietStatus status;
        statement_->free(&status);
        if (status.failed()) statement_->release();
    } else {
        statement_->release();
    }
}

void DeclaredStatement::prepare() {
    if (statement_) {
        if (preparedOnAttachment_ == connection_.attachmentSerial()) return;
        throw Error("Statement prepared on an attachment that is gone");
    }
    Transaction transaction(connection_);
    try {
        Connection::Call call(connection_);
        fb::ThrowingStatus status;
        preparedOnAttachment_ = connection_.attachmentSerial();
        statement_ = connection_.attachment()->prepare(&status, transaction.handle(), 0, sql_.c_str(),
                                                       connection_.dialect(), IStatement::PREPARE_PREFETCH_METADATA);
        input_ = statement_->getInputMetadata(&status);
        output_ = statement_->getOutputMetadata(&status);
        inputBuffer_.assign(input_->getMessageLength(&status), 0);
        outputBuffer_.assign(output_->getMessageLength(&status), 0);
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
    transaction.commit();
    clear();
}

unsigned DeclaredStatement::messageLength() const { return static_cast<unsigned>(inputBuffer_.size()); }

void DeclaredStatement::clear() {
    if (!input_) return;
    fb::ThrowingStatus status;
    try {
        const unsigned count = input_->getCount(&status);
        for (unsigned position = 0; position < count; ++position)
            std::memcpy(inputBuffer_.data() + input_->getNullOffset(&status, position), "\xff\xff", 2);
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

// The value's place in the message, the null flag cleared; the declared
// type must be the one the value is given in.
unsigned char* DeclaredStatement::field(unsigned position, unsigned type) {
    if (!input_) throw Error("Statement not prepared");
    try {
        fb::ThrowingStatus status;
        if (position >= input_->getCount(&status) || (input_->getType(&status, position) & ~1u) != type)
            throw Error("Input " + std::to_string(position) + " is not declared as the value's type");
        const short notNull = 0;
        std::memcpy(inputBuffer_.data() + input_->getNullOffset(&status, position), &notNull, sizeof notNull);
        return inputBuffer_.data() + input_->getOffset(&status, position);
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

void DeclaredStatement::setText(unsigned position, std::string_view bytes) {
    unsigned char* place = field(position, SQL_VARYING);
    fb::ThrowingStatus status;
    if (bytes.size() > input_->getLength(&status, position))
        throw Error("Text of " + std::to_string(bytes.size()) + " bytes does not fit input " +
                    std::to_string(position));
    const auto length = static_cast<unsigned short>(bytes.size());
    std::memcpy(place, &length, sizeof length);
    std::memcpy(place + sizeof length, bytes.data(), bytes.size());
}

void DeclaredStatement::setDouble(unsigned position, double value) {
    std::memcpy(field(position, SQL_DOUBLE), &value, sizeof value);
}

void DeclaredStatement::setDate(unsigned position, const DateTime& value) {
    const ISC_TIMESTAMP stamp{value.dateOnly().firebirdDate(), 0};
    std::memcpy(field(position, SQL_TIMESTAMP), &stamp, sizeof stamp);
}

void DeclaredStatement::setInteger(unsigned position, std::int32_t value) {
    std::memcpy(field(position, SQL_LONG), &value, sizeof value);
}

void DeclaredStatement::setBlob(unsigned position, std::string_view bytes, Transaction& transaction) {
    unsigned char* place = field(position, SQL_BLOB);
    ISC_QUAD id{};
    try {
        Connection::Call call(connection_);
        id = fb::writeBlob(connection_.attachment(), transaction.handle(), bytes);
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
    std::memcpy(place, &id, sizeof id);
}

std::string DeclaredStatement::execute(Transaction& transaction) {
    prepare();
    try {
        Connection::Call call(connection_);
        fb::ThrowingStatus status;
        statement_->execute(&status, transaction.handle(), input_, inputBuffer_.data(), output_, outputBuffer_.data());
        if (output_->getCount(&status) == 0) return {};
        if (*reinterpret_cast<const short*>(outputBuffer_.data() + output_->getNullOffset(&status, 0))) return {};
        const unsigned char* value = outputBuffer_.data() + output_->getOffset(&status, 0);
        switch (output_->getType(&status, 0) & ~1u) {
            case SQL_VARYING: {
                unsigned short length = 0;
                std::memcpy(&length, value, sizeof length);
                return std::string(reinterpret_cast<const char*>(value) + sizeof length, length);
            }
            case SQL_TEXT:
                return std::string(reinterpret_cast<const char*>(value), output_->getLength(&status, 0));
            default:
                throw Error("The statement's first output is not text");
        }
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

}  // namespace db
