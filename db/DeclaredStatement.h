#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/DateTime.h"

namespace Firebird {
class IMessageMetadata;
class IStatement;
}  // namespace Firebird

namespace db {

class Connection;
class Transaction;

// A statement whose text declares the types of its positional inputs (an
// EXECUTE BLOCK): every value travels in exactly the declared type, so the
// server converts nothing on the way in. It returns one output row, read as
// the text of its first column.
class DeclaredStatement {
public:
    DeclaredStatement(Connection& connection, std::string sql);
    ~DeclaredStatement();
    DeclaredStatement(const DeclaredStatement&) = delete;
    DeclaredStatement& operator=(const DeclaredStatement&) = delete;

    // Prepares the text (once); failures leave as db::Error.
    void prepare();
    // Length of the input message the declarations make.
    unsigned messageLength() const;

    // Every input NULL: the starting point of each execution's values.
    void clear();
    // `bytes` must fit the declared text length.
    void setText(unsigned position, std::string_view bytes);
    void setDouble(unsigned position, double value);
    void setDate(unsigned position, const DateTime& value);  // a timestamp at midnight
    void setInteger(unsigned position, std::int32_t value);
    // Writes `bytes` as a blob in `transaction` and passes its id.
    void setBlob(unsigned position, std::string_view bytes, Transaction& transaction);

    // Runs in `transaction`; the first output column as text.
    std::string execute(Transaction& transaction);

private:
    unsigned char* field(unsigned position, unsigned type);

    Connection& connection_;
    std::string sql_;
    std::uint64_t preparedOnAttachment_ = 0;
    Firebird::IStatement* statement_ = nullptr;
    Firebird::IMessageMetadata* input_ = nullptr;
    Firebird::IMessageMetadata* output_ = nullptr;
    std::vector<unsigned char> inputBuffer_;
    std::vector<unsigned char> outputBuffer_;
};

}  // namespace db
