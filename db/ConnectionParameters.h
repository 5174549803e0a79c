#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

// The fixed key=value parameter list both connections carry. Only the
// Database line changes at run time; keys are looked up without regard to
// letter case and a stored value replaces the line in place.
class ConnectionParameters {
public:
    ConnectionParameters();

    // Replaces the value of the line whose key matches (ignoring case), or
    // appends a new line when none does.
    void setValue(std::string_view key, std::string_view value);
    std::string value(std::string_view key) const;

    // The list as "Key=Value" lines, in order.
    std::vector<std::string> lines() const;

private:
    struct Line {
        std::string key;
        std::string value;
    };
    std::vector<Line>::const_iterator find(std::string_view key) const;

    std::vector<Line> lines_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace db
