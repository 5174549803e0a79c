#include "db/ConnectionParameters.h"

#include <algorithm>
#include <cctype>

namespace db {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

ConnectionParameters::ConnectionParameters()
    : lines_{
          {"DriverName", "Firebird"},
          {"Database", "database.fdb"},
          {"RoleName", "RoleName"},
          {"User_Name", "sysdba"},
          {"Password", "plumtrove"},
          {"ServerCharSet", ""},
          {"SQLDialect", "1"},
          {"ErrorResourceFile", ""},
          {"LocaleCode", "0000"},
          {"BlobSize", "-1"},
          {"CommitRetain", "False"},
          {"WaitOnLocks", "True"},
          {"IsolationLevel", "ReadCommitted"},
          {"Trim Char", "False"},
      } {}

std::vector<ConnectionParameters::Line>::const_iterator ConnectionParameters::find(std::string_view key) const {
    return std::find_if(lines_.begin(), lines_.end(),
                        [&](const Line& line) { return equalsIgnoringCase(line.key, key); });
}

void ConnectionParameters::setValue(std::string_view key, std::string_view value) {
    const auto found = find(key);
    if (found == lines_.end())
        lines_.push_back({std::string(key), std::string(value)});
    else
        lines_[static_cast<std::size_t>(found - lines_.begin())].value = value;
}

std::string ConnectionParameters::value(std::string_view key) const {
    const auto found = find(key);
    return found == lines_.end() ? std::string() : found->value;
}

std::vector<std::string> ConnectionParameters::lines() const {
    std::vector<std::string> result;
    result.reserve(lines_.size());
    for (const Line& line : lines_)
        result.push_back(line.key + "=" + line.value);
    return result;
}

}  // namespace db
