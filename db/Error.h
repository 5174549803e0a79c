#pragma once

#include <stdexcept>
#include <string>

namespace db {

// The one failure type that leaves the data access layer. It carries the
// message exactly as the Firebird client worded it (every line of the status
// vector) and the first error code, so callers never see Firebird types.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, long code = 0, bool connectionLost = false)
        : std::runtime_error(message), code_(code), connectionLost_(connectionLost) {}

    long code() const noexcept { return code_; }
    // True when the failure means the attachment itself is gone (network
    // failure, connection or database shut down): nothing more can be done
    // on it, and it must not be used again.
    bool connectionLost() const noexcept { return connectionLost_; }

private:
    long code_;
    bool connectionLost_;
};

// Whether `failure` is a database failure that lost its attachment.
inline bool isConnectionLost(const std::exception& failure) {
    const auto* database = dynamic_cast<const Error*>(&failure);
    return database && database->connectionLost();
}

}  // namespace db
