#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/DateTime.h"
#include "db/PreparedSql.h"

namespace Firebird {
class IResultSet;
}

namespace db {

class Transaction;

// A forward-only select (the branch query). open() executes it in a
// transaction of its own and stands on the first row; that transaction is
// committed when the result is exhausted or the query is closed. first() on
// a result that has moved runs the select again.
//
// Fields are found by name without regard to letter case; when two columns
// share a name the first in select order is found. A NULL reads as empty
// text, 0, the zero date-time or no bytes.
class Query : public PreparedSql {
public:
    Query();
    explicit Query(Connection& connection);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    int paramIndex(std::string_view name) { return parameters().indexOf(name); }
    void setText(int index, std::string_view bytes) { parameters().setText(index, bytes); }

    void open();
    void close();
    bool isOpen() const { return resultSet_ != nullptr || eof_; }
    // True when the open result holds no row at all.
    bool isEmpty() const { return eof_ && !hadRow_; }

    void first();
    void next();
    bool eof() const { return eof_; }

    int fieldCount() const { return static_cast<int>(fields_.size()); }
    const std::string& fieldName(int index) const;
    // Throws db::Error "Field 'Name' not found" when the result has none.
    int fieldIndex(std::string_view name) const;

    bool isNull(int index) const {
        short flag = 0;
        std::memcpy(&flag, row_.data() + field(index).nullOffset, sizeof flag);
        return flag != 0;
    }
    std::string asText(int index) const;
    // The same into `into`, whose storage is kept for the next row.
    void readText(int index, std::string& into) const;
    double asDouble(int index) const;
    DateTime asDateTime(int index) const;
    std::int32_t asInteger(int index) const;
    std::string asBytes(int index) const;
    void readBytes(int index, std::string& into) const;

private:
    struct Field {
        std::string name;
        unsigned type = 0;
        int subType = 0;
        int scale = 0;
        unsigned length = 0;
        unsigned offset = 0;
        unsigned nullOffset = 0;
    };

    void describeFields();
    void fetch();
    void finish();
    // Read for every value of every row: inline, the failures out of line.
    const Field& field(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) [[unlikely]]
            throwFieldOutOfRange();
        if (eof_ || !resultSet_) [[unlikely]]
            throwNoCurrentRecord();
        return fields_[static_cast<std::size_t>(index)];
    }
    [[noreturn]] static void throwFieldOutOfRange();
    [[noreturn]] static void throwNoCurrentRecord();
    const unsigned char* data(const Field& field) const { return row_.data() + field.offset; }
    void readBlob(const Field& field, std::string& bytes) const;
    std::string otherAsText(const Field& field, const unsigned char* value) const;  // numbers, dates, booleans
    std::int64_t scaledInteger(const Field& field) const;

    std::vector<Field> fields_;
    std::vector<unsigned char> row_;
    std::unique_ptr<Transaction> transaction_;  // the query's own, when its connection shares none
    Transaction* reading_ = nullptr;            // the one the open result reads in
    Firebird::IResultSet* resultSet_ = nullptr;
    bool eof_ = false;
    bool hadRow_ = false;
    bool onFirstRow_ = false;
};

// An exact number kept as an integer with a decimal scale, as text
// ("-12.50" for -1250 at scale -2), and a double as its shortest text that
// reads back as the same number ("1234.56").
std::string integerText(std::int64_t value, int scale);
std::string doubleText(double value);

}  // namespace db
