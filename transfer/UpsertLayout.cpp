#include "transfer/UpsertLayout.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "db/Connection.h"
#include "db/NamedParameters.h"
#include "db/Query.h"
#include "db/SystemTables.h"

namespace transfer {

namespace {

// Notes up to this many bytes travel as text inside the block; longer ones
// as a blob of their own. Most notes are a few hundred bytes; a larger text
// input would take rows out of every block.
constexpr unsigned kNoteTextBytes = 1024;
// Text for a column that is not text (a number or a date written from text).
constexpr unsigned kConvertedTextBytes = 64;

struct CentralColumn {
    int type = 0;
    unsigned byteLength = 0;
    int subType = 0;
    std::string charset;
    unsigned bytesPerCharacter = 1;
};

std::map<std::string, CentralColumn> readCentralColumns(db::Connection& connection, const std::string& table) {
    db::Query query(connection);
    query.addSql(
        "SELECT TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE, F.RDB$FIELD_LENGTH, COALESCE(F.RDB$FIELD_SUB_TYPE, 0), "
        "TRIM(COALESCE(CS.RDB$CHARACTER_SET_NAME, 'NONE')), COALESCE(CS.RDB$BYTES_PER_CHARACTER, 1) "
        "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
        "LEFT JOIN RDB$CHARACTER_SETS CS ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
        "WHERE RF.RDB$RELATION_NAME = :TABLENAME");
    query.setText(query.paramIndex("TABLENAME"), table);
    std::map<std::string, CentralColumn> columns;
    for (query.open(); !query.eof(); query.next())
        columns[query.asText(0)] = {query.asInteger(1), static_cast<unsigned>(query.asInteger(2)), query.asInteger(3),
                                    query.asText(4), static_cast<unsigned>(std::max(1, query.asInteger(5)))};
    return columns;
}


std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}


// The positional text cut at its '?' markers; quoted text and comments keep
// theirs.
std::vector<std::string> splitAtMarkers(const std::string& sql) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < sql.size();) {
        std::size_t end = i + 1;
        if (sql[i] == '\'' || sql[i] == '"') {
            end = sql.find(sql[i], i + 1);
            end = end == std::string::npos ? sql.size() : end + 1;
        } else if (sql.compare(i, 2, "--") == 0) {
            end = std::min(sql.find('\n', i), sql.size());
        } else if (sql.compare(i, 2, "/*") == 0) {
            end = sql.find("*/", i + 2);
            end = end == std::string::npos ? sql.size() : end + 2;
        } else if (sql[i] == '?') {
            pieces.emplace_back();
            i = end;
            continue;
        }
        pieces.back().append(sql, i, end - i);
        i = end;
    }
    return pieces;
}

// The parenthesised list that starts at the first '(' at or after `from`,
// split at its commas; `after` is left just past its ')'.
std::optional<std::vector<std::string>> listAt(const std::string& sql, std::size_t from, std::size_t& after) {
    const std::size_t open = sql.find('(', from);
    if (open == std::string::npos || !trimmed(sql.substr(from, open - from)).empty()) return std::nullopt;
    const std::size_t close = sql.find(')', open);
    if (close == std::string::npos) return std::nullopt;
    std::vector<std::string> items;
    std::size_t start = open + 1;
    for (std::size_t comma; (comma = sql.find(',', start)) < close; start = comma + 1)
        items.push_back(trimmed(sql.substr(start, comma - start)));
    items.push_back(trimmed(sql.substr(start, close - start)));
    after = close + 1;
    return items;
}

// Reads the upsert as "UPDATE OR INSERT INTO table (columns) VALUES
// (markers) ...", one marker per column: its distinct parameters, each with
// the column of its first marker.
bool readUpsert(const TableProfile& profile, UpsertLayout& layout, std::vector<std::string>& names,
                std::vector<std::string>& columnOfInput) {
    const db::NamedParameters parsed = db::parseNamedParameters(profile.upsertSql);
    std::string body = trimmed(parsed.positionalSql);
    while (!body.empty() && body.back() == ';') body = trimmed(body.substr(0, body.size() - 1));
    const std::string shape = upperName(body);
    const std::string start = "UPDATE OR INSERT INTO ";
    if (shape.rfind(start, 0) != 0) return false;
    const std::size_t nameEnd = shape.find_first_of(" (", start.size());
    layout.table = trimmed(shape.substr(start.size(), nameEnd - start.size()));
    std::size_t afterColumns = 0, afterValues = 0;
    const auto columns = listAt(shape, nameEnd, afterColumns);
    const std::size_t values = shape.find("VALUES", afterColumns);
    if (!isPlainName(layout.table) || !columns || values == std::string::npos) return false;
    const auto markers = listAt(shape, values + 6, afterValues);
    layout.bodyPieces = splitAtMarkers(body);
    layout.plainUpsert = markers && trimmed(shape.substr(afterValues)).empty();
    if (!markers || markers->size() != columns->size() || markers->size() != parsed.names.size() ||
        layout.bodyPieces.size() != parsed.names.size() + 1 ||
        std::any_of(markers->begin(), markers->end(), [](const std::string& item) { return item != "?"; }))
        return false;
    layout.columns = *columns;
    for (std::size_t marker = 0; marker < parsed.names.size(); ++marker) {
        const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
            return db::equalsIgnoringCase(name, parsed.names[marker]);
        });
        layout.inputOfMarker.push_back(static_cast<int>(found - names.begin()));
        if (found == names.end()) {
            names.push_back(parsed.names[marker]);
            columnOfInput.push_back((*columns)[marker]);
        }
    }
    return true;
}

// Declares every parameter in the type the per-row statement sends it, text
// as long as the central column (or the note text limit) in the column's
// character set, so no value is converted on its way into the block.
bool declareInputs(db::Connection& connection, const TableProfile& profile, UpsertLayout& layout,
                   const std::vector<std::string>& names, const std::vector<std::string>& columnOfInput) {
    std::vector<std::optional<WriteKind>> kinds(names.size());
    for (const ColumnMapping& mapping : profile.columns) {
        const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
            return db::equalsIgnoringCase(name, mapping.parameter);
        });
        if (found == names.end()) return false;
        const auto input = static_cast<std::size_t>(found - names.begin());
        if (kinds[input] && *kinds[input] != mapping.write) return false;
        kinds[input] = mapping.write;
        layout.inputOfMapping.push_back(static_cast<int>(input));
    }
    if (std::any_of(kinds.begin(), kinds.end(), [](const auto& kind) { return !kind; })) return false;

    const auto central = readCentralColumns(connection, layout.table);
    for (std::size_t index = 0; index < names.size(); ++index) {
        const auto found = central.find(columnOfInput[index]);
        if (found == central.end()) return false;
        const CentralColumn& column = found->second;
        UpsertInput input;
        input.kind = *kinds[index];
        input.firstPosition = layout.inputsPerRow;
        auto text = [&](unsigned bytes, const std::string& charset, unsigned bytesPerCharacter) {
            const unsigned characters = std::max(1u, bytes / bytesPerCharacter);
            input.textCapacity = characters * bytesPerCharacter;
            input.type = "VARCHAR(" + std::to_string(characters) + ") CHARACTER SET " + charset;
        };
        switch (input.kind) {
            case WriteKind::Text:
                if (column.type == db::kChar || column.type == db::kVarchar)
                    text(column.byteLength, column.charset, column.bytesPerCharacter);
                else
                    text(kConvertedTextBytes, "NONE", 1);
                break;
            case WriteKind::Double:
                input.type = "DOUBLE PRECISION";
                break;
            case WriteKind::Date:
                input.type = "TIMESTAMP";
                break;
            case WriteKind::Integer:
                input.type = "INTEGER";
                break;
            case WriteKind::Blob:
                if (column.type != db::kBlob || !isPlainName(columnOfInput[index])) return false;
                if (column.subType == 1)
                    text(kNoteTextBytes, column.charset, column.bytesPerCharacter);
                else
                    text(kNoteTextBytes, "OCTETS", 1);
                input.blobType = "TYPE OF COLUMN " + layout.table + "." + columnOfInput[index];
                break;
        }
        layout.inputsPerRow += input.kind == WriteKind::Blob ? 2 : 1;
        layout.inputs.push_back(input);
    }
    return true;
}

}  // namespace

std::string upperName(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
    });
}

unsigned placeInput(unsigned offset, const UpsertInput& input) {
    auto place = [&offset](unsigned alignment, unsigned length) {
        offset = (offset + alignment - 1) / alignment * alignment + length;
        offset = (offset + 1) / 2 * 2 + 2;
    };
    switch (input.kind) {
        case WriteKind::Text:
            place(2, input.textCapacity + 2);
            break;
        case WriteKind::Double:
            place(8, 8);
            break;
        case WriteKind::Date:
            place(4, 8);
            break;
        case WriteKind::Integer:
            place(4, 4);
            break;
        case WriteKind::Blob:
            place(2, input.textCapacity + 2);
            place(4, 8);
            break;
    }
    return offset;
}

std::optional<UpsertLayout> readUpsertLayout(db::Connection& central, const TableProfile& profile) {
    UpsertLayout layout;
    std::vector<std::string> names, columnOfInput;
    if (!readUpsert(profile, layout, names, columnOfInput) ||
        !declareInputs(central, profile, layout, names, columnOfInput))
        return std::nullopt;
    return layout;
}

}  // namespace transfer
