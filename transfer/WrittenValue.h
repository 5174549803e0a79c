#pragma once

// What a run writes for one mapped column: the value the copy reads from the
// branch row and hands the central statement, and the value the central
// column then keeps. The copy sends the first; the reconciliation check
// expects the second. Both follow the NULL rules of the branch reads: a NULL
// is sent as '', 0, 30 December 1899 or no bytes, never as a NULL.

#include <cstdint>
#include <string>

#include "db/DateTime.h"
#include "db/SystemTables.h"
#include "transfer/TableProfile.h"

namespace db {
class Query;
class Statement;
}  // namespace db

namespace transfer {

// The branch field as the copy reads it, in the kind its central parameter
// is given (text and blobs in the mapping's read kind, bytes unchanged).
struct SentValue {
    WriteKind kind = WriteKind::Text;
    std::string bytes;  // Text, Blob
    double number = 0;  // Double, as read
    std::int32_t integer = 0;
    db::DateTime date;  // Date; the parameter keeps only the day
};

// Throws db::Error when the field cannot be read in that kind.
SentValue sentValue(const ColumnMapping& mapping, const db::Query& branch, int field);
// The same into `value`, whose text storage is kept for the next row.
void readSentValue(const ColumnMapping& mapping, const db::Query& branch, int field, SentValue& value);

// Sets the central statement's parameter to the value, in its kind.
void setParameter(db::Statement& central, int parameter, const SentValue& value);

// How a central column keeps what a run sends it, decided by its declared
// type: the server converts the parameter into the column.
enum class StoredAs { Text, Bytes, Number, Date };

struct WrittenColumn {
    ReadKind read = ReadKind::Text;
    WriteKind write = WriteKind::Text;
    StoredAs stored = StoredAs::Text;
    bool padded = false;    // CHAR: trailing blanks carry no meaning there
    bool inUnits = false;   // scaled integers: an amount in units of its last decimal
    bool single = false;    // FLOAT
    int decimals = 0;       // of the central column
    bool dateOnly = false;  // DATE without a time of day
};

WrittenColumn writtenColumn(const ColumnMapping& mapping, const db::ColumnType& central);

// A value as the central column keeps it; only the member of the column's
// StoredAs is meaningful (`units` for a column in units, else `number`).
struct WrittenValue {
    std::string text;  // Text, Bytes; a CHAR's without its trailing blanks
    double number = 0;
    std::int64_t units = 0;
    db::DateTime date;
};

// The value a run leaves in the central column for the branch row's field.
// Throws db::Error when the copy could not send it (a text that is no
// number, say) or the column could not keep it.
void readWrittenValue(const WrittenColumn& column, const db::Query& branch, int field, WrittenValue& value);

// The same from the value the copy read for sending, when the column keeps
// what was sent as read (a text or blob kept as text, a number as a number,
// a date as a date); false otherwise, and the field must be read.
bool writtenValueOfSent(const WrittenColumn& column, const SentValue& sent, WrittenValue& value);

}  // namespace transfer
