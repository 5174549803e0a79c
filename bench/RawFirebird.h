#pragma once

// Thin helpers over the Firebird OO client API for the benchmark's own code:
// the data generator and the limit loop talk to the client directly, not
// through db/, so the limit measures the database and nothing of ours.

#include <firebird/Interface.h>

#include <string>
#include <vector>

namespace bench {

Firebird::IMaster* master();
Firebird::IProvider* provider();

// Throws std::runtime_error with the formatted status and `context`.
[[noreturn]] void fail(const Firebird::FbException& failure, const std::string& context);

class Status {
public:
    Status() : status_(master()->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }

private:
    Firebird::IStatus* status_;
    Firebird::ThrowStatusWrapper wrapper_;
};

// One attachment by file path, user SYSDBA, SQL dialect 1, no character set
// (as the program attaches); detached on destruction.
class Attachment {
public:
    explicit Attachment(const std::string& path);
    ~Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    Firebird::IAttachment* get() const { return handle_; }
    Firebird::IAttachment* operator->() const { return handle_; }

private:
    Firebird::IAttachment* handle_ = nullptr;
};

// Write, read committed (record version), wait with a 60 s lock time-out:
// the transaction the program starts for every row.
const std::vector<unsigned char>& rowTransactionParameters();
Firebird::ITransaction* startTransaction(Firebird::IAttachment* attachment);

// Rolls back quietly; for clean-up paths.
void rollbackQuietly(Firebird::ITransaction* transaction);

}  // namespace bench
