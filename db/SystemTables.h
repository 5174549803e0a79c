#pragma once

#include <map>
#include <string>
#include <vector>

namespace db {

class Connection;

// RDB$FIELDS.RDB$FIELD_TYPE codes, in a namespace of their own so a reader
// can bring in just them.
namespace field_types {
enum FieldType : int {
    kSmallint = 7,
    kInteger = 8,
    kFloat = 10,
    kDateOnly = 12,
    kChar = 14,
    kBigint = 16,
    kDouble = 27,
    kTimestamp = 35,
    kVarchar = 37,
    kBlob = 261,
};
}  // namespace field_types
using namespace field_types;

// A column as the database's own tables describe it.
struct ColumnType {
    int type = 0;  // a FieldType code
    int scale = 0;
    int byteLength = 0;
    int collation = 0;
};
using ColumnTypes = std::map<std::string, ColumnType>;  // by upper-case name

// A table as the database's own tables describe it: its columns (from
// RDB$RELATION_FIELDS) and the columns of its primary key in key order,
// empty when it has none.
struct TableShape {
    ColumnTypes columns;
    std::vector<std::string> primaryKey;
};

// The shapes of several tables (upper-case names) in one select: a far
// server answers it in the round trips of one. A table the database does
// not hold has no columns.
std::map<std::string, TableShape> readTableShapes(Connection& connection, const std::vector<std::string>& tables);

// One table's columns, or its primary key, alone.
ColumnTypes readColumnTypes(Connection& connection, const std::string& table);
std::vector<std::string> readPrimaryKey(Connection& connection, const std::string& table);

}  // namespace db
