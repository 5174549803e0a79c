#include "db/NamedParameters.h"

#include "db/ConnectionParameters.h"

#include <cctype>

namespace db {

namespace {

bool isNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

// Index just past a quoted run starting at `start` (which holds the quote);
// a doubled quote inside stands for the quote itself.
std::size_t skipQuoted(std::string_view sql, std::size_t start) {
    const char quote = sql[start];
    std::size_t i = start + 1;
    while (i < sql.size()) {
        if (sql[i] == quote) {
            if (i + 1 < sql.size() && sql[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return sql.size();
}

}  // namespace

NamedParameters parseNamedParameters(std::string_view sql) {
    NamedParameters result;
    result.positionalSql.reserve(sql.size());
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        std::size_t end = i + 1;
        if (c == '\'' || c == '"') {
            end = skipQuoted(sql, i);
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            end = sql.find('\n', i);
            end = end == std::string_view::npos ? sql.size() : end;
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            end = sql.find("*/", i + 2);
            end = end == std::string_view::npos ? sql.size() : end + 2;
        } else if (c == ':' && i + 1 < sql.size() && isNameChar(sql[i + 1])) {
            end = i + 1;
            while (end < sql.size() && isNameChar(sql[end]))
                ++end;
            result.names.emplace_back(sql.substr(i + 1, end - i - 1));
            result.positionalSql += '?';
            i = end;
            continue;
        }
        result.positionalSql.append(sql.substr(i, end - i));
        i = end;
    }
    return result;
}

std::vector<unsigned> NamedParameters::positionsOf(std::string_view name) const {
    std::vector<unsigned> positions;
    for (unsigned i = 0; i < names.size(); ++i)
        if (equalsIgnoringCase(names[i], name))
            positions.push_back(i);
    return positions;
}

}  // namespace db
