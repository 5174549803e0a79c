#include "db/SystemTables.h"

#include <utility>

#include "db/Query.h"

namespace db {

std::map<std::string, TableShape> readTableShapes(Connection& connection, const std::vector<std::string>& tables) {
    std::map<std::string, TableShape> shapes;
    if (tables.empty()) return shapes;
    std::string names;
    for (std::size_t i = 0; i < tables.size(); ++i) names += (i ? ", :T" : ":T") + std::to_string(i);
    Query query(connection);
    query.addSql(
        "SELECT 0, TRIM(RF.RDB$RELATION_NAME), TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE, "
        "COALESCE(F.RDB$FIELD_SCALE, 0), F.RDB$FIELD_LENGTH, COALESCE(RF.RDB$COLLATION_ID, F.RDB$COLLATION_ID, 0), 0 "
        "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
        "WHERE RF.RDB$RELATION_NAME IN (" +
        names +
        ") UNION ALL "
        "SELECT 1, TRIM(C.RDB$RELATION_NAME), TRIM(S.RDB$FIELD_NAME), 0, 0, 0, 0, S.RDB$FIELD_POSITION "
        "FROM RDB$RELATION_CONSTRAINTS C JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = C.RDB$INDEX_NAME "
        "WHERE C.RDB$RELATION_NAME IN (" +
        names + ") AND C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' ORDER BY 1, 2, 8");
    for (std::size_t i = 0; i < tables.size(); ++i) {
        query.setText(query.paramIndex("T" + std::to_string(i)), tables[i]);
        shapes[tables[i]];
    }
    for (query.open(); !query.eof(); query.next()) {
        TableShape& shape = shapes[query.asText(1)];
        if (query.asInteger(0) == 0)
            shape.columns[query.asText(2)] = {query.asInteger(3), query.asInteger(4), query.asInteger(5),
                                              query.asInteger(6)};
        else
            shape.primaryKey.push_back(query.asText(2));
    }
    return shapes;
}

ColumnTypes readColumnTypes(Connection& connection, const std::string& table) {
    return std::move(readTableShapes(connection, {table})[table].columns);
}

std::vector<std::string> readPrimaryKey(Connection& connection, const std::string& table) {
    return std::move(readTableShapes(connection, {table})[table].primaryKey);
}

}  // namespace db
