#include "db/Query.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "db/Connection.h"
#include "db/ConnectionParameters.h"
#include "db/Error.h"
#include "db/FirebirdClient.h"
#include "db/Transaction.h"

namespace db {

using namespace Firebird;

namespace {

template <typename T>
T load(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool parseNumber(std::string_view text, double& value) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// "YYYY-MM-DD", optionally followed by " HH:MM[:SS[.ffff]]" (or 'T').
bool parseDateTime(std::string_view text, DateTime& value) {
    text = trimmed(text);
    int parts[7] = {0, 0, 0, 0, 0, 0, 0};
    const char separators[] = {'-', '-', ' ', ':', ':', '.'};
    std::size_t position = 0;
    int count = 0;
    while (count < 7) {
        const auto result = std::from_chars(text.data() + position, text.data() + text.size(), parts[count]);
        if (result.ec != std::errc()) return false;
        const std::size_t digits = static_cast<std::size_t>(result.ptr - (text.data() + position));
        position += digits;
        if (count == 6) {  // fractions: scale to ten-thousandths
            int scaled = parts[6];
            for (std::size_t d = digits; d < 4; ++d) scaled *= 10;
            for (std::size_t d = 4; d < digits; ++d) scaled /= 10;
            parts[6] = scaled;
        }
        ++count;
        if (position == text.size()) break;
        if (count == 7) return false;
        const char separator = text[position];
        if (!(separator == separators[count - 1] || (count == 3 && separator == 'T'))) return false;
        ++position;
    }
    if (count != 3 && count < 5) return false;
    value = DateTime{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]};
    const bool valid = value.month >= 1 && value.month <= 12 && value.day >= 1 && value.day <= 31 && value.hours < 24 &&
                       value.minutes < 60 && value.seconds < 60;
    return valid && DateTime::fromFirebird(value.firebirdDate(), 0).day == value.day;
}

}  // namespace

std::string integerText(std::int64_t value, int scale) {
    if (scale >= 0) {
        std::string text = std::to_string(value);
        if (value != 0) text.append(static_cast<std::size_t>(scale), '0');
        return text;
    }
    const bool negative = value < 0;
    std::string digits =
        std::to_string(negative ? -static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value));
    const auto decimals = static_cast<std::size_t>(-scale);
    if (digits.size() <= decimals) digits.insert(0, decimals - digits.size() + 1, '0');
    digits.insert(digits.size() - decimals, 1, '.');
    return negative ? "-" + digits : digits;
}

std::string doubleText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

Query::Query() = default;

Query::Query(Connection& connection) { attach(connection); }

Query::~Query() { close(); }

void Query::close() {
    if (resultSet_) {
        Connection::Call call(connection());
        fb::QuietStatus status;
        resultSet_->close(&status);
        if (status.failed()) resultSet_->release();
        resultSet_ = nullptr;
    }
    transaction_.reset();  // rolls back: nothing was written
    reading_ = nullptr;
    eof_ = false;
    hadRow_ = false;
    onFirstRow_ = false;
}

void Query::describeFields() {
    IMessageMetadata* metadata = outputMetadata();
    fields_.clear();
    fb::ThrowingStatus status;
    const unsigned count = metadata->getCount(&status);
    fields_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        Field field;
        const char* alias = metadata->getAlias(&status, i);
        field.name = alias && *alias ? alias : metadata->getField(&status, i);
        field.type = metadata->getType(&status, i) & ~1u;
        field.subType = metadata->getSubType(&status, i);
        field.scale = metadata->getScale(&status, i);
        field.length = metadata->getLength(&status, i);
        field.offset = metadata->getOffset(&status, i);
        field.nullOffset = metadata->getNullOffset(&status, i);
        fields_.push_back(std::move(field));
    }
    row_.assign(metadata->getMessageLength(&status), 0);
}

void Query::open() {
    close();
    reading_ = connection().sharedReadTransaction();
    if (!reading_) reading_ = (transaction_ = std::make_unique<Transaction>(connection())).get();
    IStatement* statement = nullptr;
    try {
        statement = prepared(reading_->handle());
    } catch (...) {
        transaction_.reset();
        reading_ = nullptr;
        throw;
    }
    ParameterSet& values = parameters();
    values.buildMessage(inputMetadata(), connection().attachment(), reading_->handle());
    try {
        describeFields();
        Connection::Call call(connection());
        fb::ThrowingStatus status;
        resultSet_ = statement->openCursor(&status, reading_->handle(), values.metadata(),
                                           values.metadata() ? values.buffer() : nullptr, outputMetadata(), 0);
    } catch (const FbException& failure) {
        transaction_.reset();
        reading_ = nullptr;
        fb::rethrowAsError(failure);
    }
    fetch();
    hadRow_ = !eof_;
    onFirstRow_ = !eof_;
}

void Query::fetch() {
    try {
        Connection::Call call(connection());
        fb::ThrowingStatus status;
        if (resultSet_->fetchNext(&status, row_.data()) == IStatus::RESULT_NO_DATA) {
            eof_ = true;
            finish();
        }
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

void Query::finish() {
    Connection::Call call(connection());
    fb::ThrowingStatus status;
    resultSet_->close(&status);  // releases the interface on success
    resultSet_ = nullptr;
    if (transaction_) transaction_->commit();
    transaction_.reset();
    reading_ = nullptr;
}

void Query::first() {
    if (onFirstRow_ && resultSet_) return;
    open();
}

void Query::next() {
    if (eof_ || !resultSet_) return;
    onFirstRow_ = false;
    fetch();
}

void Query::throwFieldOutOfRange() { throw Error("Field index out of range"); }

void Query::throwNoCurrentRecord() { throw Error("No current record"); }

const std::string& Query::fieldName(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) throw Error("Field index out of range");
    return fields_[static_cast<std::size_t>(index)].name;
}

int Query::fieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (equalsIgnoringCase(fields_[i].name, name)) return static_cast<int>(i);
    throw Error("Field '" + std::string(name) + "' not found");
}

std::int64_t Query::scaledInteger(const Field& f) const {
    switch (f.type) {
        case SQL_SHORT:
            return load<std::int16_t>(data(f));
        case SQL_LONG:
            return load<std::int32_t>(data(f));
        case SQL_INT64:
            return load<std::int64_t>(data(f));
        default:
            return 0;
    }
}

void Query::readBlob(const Field& f, std::string& bytes) const {
    ISC_QUAD id = load<ISC_QUAD>(data(f));
    bytes.clear();
    try {
        Connection::Call call(connection());
        fb::ThrowingStatus status;
        IBlob* blob = connection().attachment()->openBlob(&status, reading_->handle(), &id, 0, nullptr);
        try {
            char segment[32 * 1024];
            for (;;) {
                unsigned length = 0;
                const int result = blob->getSegment(&status, sizeof segment, segment, &length);
                if (result == IStatus::RESULT_NO_DATA) break;
                bytes.append(segment, length);
            }
            blob->close(&status);
        } catch (...) {
            blob->release();
            throw;
        }
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

std::string Query::asText(int index) const {
    std::string text;
    readText(index, text);
    return text;
}

void Query::readText(int index, std::string& into) const {
    const Field& f = field(index);
    const unsigned char* value = data(f);
    if (load<short>(row_.data() + f.nullOffset) != 0) {
        into.clear();
        return;
    }
    switch (f.type) {
        case SQL_TEXT:
            into.assign(reinterpret_cast<const char*>(value), f.length);
            return;
        case SQL_VARYING:
            into.assign(reinterpret_cast<const char*>(value) + 2, load<unsigned short>(value));
            return;
        case SQL_BLOB:
            readBlob(f, into);
            return;
        default:
            into = otherAsText(f, value);
    }
}

std::string Query::otherAsText(const Field& f, const unsigned char* value) const {
    switch (f.type) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            return integerText(scaledInteger(f), f.scale);
        case SQL_FLOAT:
            return doubleText(load<float>(value));
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return doubleText(load<double>(value));
        case SQL_TIMESTAMP: {
            const auto stamp = load<ISC_TIMESTAMP>(value);
            return DateTime::fromFirebird(stamp.timestamp_date, stamp.timestamp_time).toText();
        }
        case SQL_TYPE_DATE:
            return DateTime::fromFirebird(load<ISC_DATE>(value), 0).toText().substr(0, 10);
        case SQL_TYPE_TIME:
            return DateTime::fromFirebird(0, load<ISC_TIME>(value)).toText().substr(11);
        case SQL_BOOLEAN:
            return *value ? "True" : "False";
        default:
            throw Error("Cannot read field '" + f.name + "' as text: unsupported type " + std::to_string(f.type));
    }
}

double Query::asDouble(int index) const {
    const Field& f = field(index);
    if (isNull(index)) return 0;
    const unsigned char* value = data(f);
    switch (f.type) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            // Dividing by the power of ten is correctly rounded; multiplying by
            // its inexact reciprocal puts 0.57 one unit in the last place off.
            if (f.scale < 0) return static_cast<double>(scaledInteger(f)) / std::pow(10.0, -f.scale);
            return static_cast<double>(scaledInteger(f)) * std::pow(10.0, f.scale);
        case SQL_FLOAT:
            return load<float>(value);
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return load<double>(value);
        case SQL_TEXT:
        case SQL_VARYING: {
            const std::string text = asText(index);
            double number = 0;
            if (!parseNumber(text, number)) throw Error("'" + text + "' is not a valid floating point value");
            return number;
        }
        default:
            throw Error("Cannot read field '" + f.name + "' as a floating point value");
    }
}

DateTime Query::asDateTime(int index) const {
    const Field& f = field(index);
    if (isNull(index)) return DateTime{};
    const unsigned char* value = data(f);
    switch (f.type) {
        case SQL_TIMESTAMP: {
            const auto stamp = load<ISC_TIMESTAMP>(value);
            return DateTime::fromFirebird(stamp.timestamp_date, stamp.timestamp_time);
        }
        case SQL_TYPE_DATE:
            return DateTime::fromFirebird(load<ISC_DATE>(value), 0);
        case SQL_TEXT:
        case SQL_VARYING: {
            const std::string text = asText(index);
            DateTime parsed;
            if (!parseDateTime(text, parsed)) throw Error("'" + text + "' is not a valid date and time");
            return parsed;
        }
        default:
            throw Error("Cannot read field '" + f.name + "' as a date and time");
    }
}

std::int32_t Query::asInteger(int index) const {
    const Field& f = field(index);
    if (isNull(index)) return 0;
    double number = 0;
    switch (f.type) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            if (f.scale == 0) {
                const std::int64_t whole = scaledInteger(f);
                if (whole < std::numeric_limits<std::int32_t>::min() ||
                    whole > std::numeric_limits<std::int32_t>::max())
                    throw Error("Value " + std::to_string(whole) + " of field '" + f.name +
                                "' is out of the integer range");
                return static_cast<std::int32_t>(whole);
            }
            number = asDouble(index);
            break;
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            number = asDouble(index);
            break;
        case SQL_TEXT:
        case SQL_VARYING: {
            const std::string text = asText(index);
            const std::string_view digits = trimmed(text);
            std::int32_t whole = 0;
            const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), whole);
            if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size())
                throw Error("'" + text + "' is not a valid integer value");
            return whole;
        }
        default:
            throw Error("Cannot read field '" + f.name + "' as an integer");
    }
    const double rounded = std::round(number);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        throw Error("Value " + doubleText(number) + " of field '" + f.name + "' is out of the integer range");
    return static_cast<std::int32_t>(rounded);
}

std::string Query::asBytes(int index) const {
    std::string bytes;
    readBytes(index, bytes);
    return bytes;
}

void Query::readBytes(int index, std::string& into) const { readText(index, into); }

}  // namespace db
