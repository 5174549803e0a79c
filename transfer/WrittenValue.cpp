#include "transfer/WrittenValue.h"

#include "db/Query.h"
#include "db/ScaledNumber.h"
#include "db/Statement.h"

namespace transfer {

using namespace db::field_types;

namespace {

// Text and blobs travel as the bytes the branch stores, read in the
// mapping's read kind: no character set conversion on the way. This read
// and the number and date reads below give the NULL rules: empty text and
// bytes, 0, 30 December 1899.
void readBytes(ReadKind read, const db::Query& branch, int field, std::string& into) {
    if (read == ReadKind::Bytes)
        branch.readBytes(field, into);
    else
        branch.readText(field, into);
}

}  // namespace

SentValue sentValue(const ColumnMapping& mapping, const db::Query& branch, int field) {
    SentValue value;
    readSentValue(mapping, branch, field, value);
    return value;
}

void readSentValue(const ColumnMapping& mapping, const db::Query& branch, int field, SentValue& value) {
    value.kind = mapping.write;
    switch (mapping.write) {
        case WriteKind::Text:
        case WriteKind::Blob:
            readBytes(mapping.read, branch, field, value.bytes);
            break;
        case WriteKind::Double:
            value.number = branch.asDouble(field);
            break;
        case WriteKind::Date:
            value.date = branch.asDateTime(field);
            break;
        case WriteKind::Integer:
            value.integer = branch.asInteger(field);
            break;
    }
}

void setParameter(db::Statement& central, int parameter, const SentValue& value) {
    switch (value.kind) {
        case WriteKind::Text:
            central.setText(parameter, value.bytes);
            return;
        case WriteKind::Blob:
            central.setBlob(parameter, value.bytes);
            return;
        case WriteKind::Double:
            central.setDouble(parameter, value.number);
            return;
        case WriteKind::Date:
            central.setDate(parameter, value.date);
            return;
        case WriteKind::Integer:
            central.setInteger(parameter, value.integer);
            return;
    }
}

WrittenColumn writtenColumn(const ColumnMapping& mapping, const db::ColumnType& central) {
    WrittenColumn column{mapping.read, mapping.write};
    column.decimals = central.scale < 0 ? -central.scale : 0;
    switch (central.type) {
        case kChar:
        case kVarchar:
            column.padded = central.type == kChar;
            // A number or date sent to a text column is kept as the text the
            // server makes of it, which reads back as that number or date.
            if (mapping.write == WriteKind::Double || mapping.write == WriteKind::Integer)
                column.stored = StoredAs::Number;
            else if (mapping.write == WriteKind::Date)
                column.stored = StoredAs::Date;
            break;
        case kBlob:
            column.stored = StoredAs::Bytes;
            break;
        case kSmallint:
        case kInteger:
        case kBigint:
            column.stored = StoredAs::Number;
            column.inUnits = true;
            break;
        case kFloat:
        case kDouble:
            // Dialect 1 keeps NUMERIC(15,2) as a double with a scale: the
            // value is stored as sent, unrounded.
            column.stored = StoredAs::Number;
            column.single = central.type == kFloat;
            break;
        case kDateOnly:
            column.stored = StoredAs::Date;
            column.dateOnly = true;
            break;
        case kTimestamp:
            column.stored = StoredAs::Date;
            break;
        default:
            break;  // times, booleans: the text both sides read as
    }
    return column;
}

namespace {

// What the column keeps of a value read as the copy reads it; shared by the
// read of the branch field and the value already read for sending.
void keepText(const WrittenColumn& column, WrittenValue& value) {
    if (column.padded) value.text.erase(value.text.find_last_not_of(' ') + 1);
}

void keepNumber(const WrittenColumn& column, double number, WrittenValue& value) {
    if (column.inUnits)
        // Rounded into the column's last decimal by the server's own
        // conversion, as an exact amount is stored.
        value.units = db::scaledUnitsOfDouble(number, column.decimals);
    else
        value.number = column.single ? static_cast<float>(number) : number;
}

void keepDate(const WrittenColumn& column, const db::DateTime& date, WrittenValue& value) {
    // A date parameter and a DATE column keep only the day.
    value.date = date;
    if (column.write == WriteKind::Date || column.dateOnly) value.date = value.date.dateOnly();
}

}  // namespace

void readWrittenValue(const WrittenColumn& column, const db::Query& branch, int field, WrittenValue& value) {
    // Read as the copy reads it for its parameter. A text sent to a number
    // or date column is converted by the server, and reading the field as a
    // number or date converts the same text.
    switch (column.stored) {
        case StoredAs::Text:
        case StoredAs::Bytes:
            readBytes(column.read, branch, field, value.text);
            keepText(column, value);
            return;
        case StoredAs::Number:
            keepNumber(column, column.write == WriteKind::Integer ? branch.asInteger(field) : branch.asDouble(field),
                       value);
            return;
        case StoredAs::Date:
            keepDate(column, branch.asDateTime(field), value);
            return;
    }
}

bool writtenValueOfSent(const WrittenColumn& column, const SentValue& sent, WrittenValue& value) {
    switch (column.stored) {
        case StoredAs::Text:
        case StoredAs::Bytes:
            if (sent.kind != WriteKind::Text && sent.kind != WriteKind::Blob) return false;
            value.text.assign(sent.bytes);
            keepText(column, value);
            return true;
        case StoredAs::Number:
            if (sent.kind == WriteKind::Integer)
                keepNumber(column, sent.integer, value);
            else if (sent.kind == WriteKind::Double)
                keepNumber(column, sent.number, value);
            else
                return false;
            return true;
        case StoredAs::Date:
            if (sent.kind != WriteKind::Date) return false;
            keepDate(column, sent.date, value);
            return true;
    }
    return false;
}

}  // namespace transfer
