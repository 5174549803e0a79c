#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

// Firebird takes positional '?' markers only; ":NAME" markers are resolved on
// the client. Quoted strings, quoted identifiers and comments hold no markers.
struct NamedParameters {
    // The statement with every marker replaced by '?'.
    std::string positionalSql;
    // One entry per '?', in order: the marker's name as written.
    std::vector<std::string> names;

    // Positions of the markers of that name, compared without letter case;
    // empty when the statement has no such marker.
    std::vector<unsigned> positionsOf(std::string_view name) const;
};

NamedParameters parseNamedParameters(std::string_view sql);

}  // namespace db
