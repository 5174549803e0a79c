#pragma once

#include <stdexcept>
#include <string>

namespace db {

// The one failure type that leaves the data access layer. It carries the
// message exactly as the Firebird client worded it (every line of the status
// vector) and the first error code, so callers never see Firebird types.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, long code = 0)
        : std::runtime_error(message), code_(code) {}

    long code() const noexcept { return code_; }

private:
    long code_;
};

}  // namespace db
