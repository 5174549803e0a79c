#pragma once

// Internal to db/: the Firebird client entry points and the translation of
// its exceptions into db::Error. Nothing outside db/ includes this header.

#include <firebird/Interface.h>

#include <string>
#include <string_view>

namespace db::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();

// Every line of the status vector, as the client formats it.
std::string formatStatus(Firebird::IStatus* status);

// The first error code of the status vector (the gds code), or 0.
long errorCode(Firebird::IStatus* status);

// True when any code of the status vector says the attachment is gone.
bool meansConnectionLost(Firebird::IStatus* status);

// Rethrows the Firebird exception in flight as db::Error. Call from a catch
// block only.
[[noreturn]] void rethrowAsError(const Firebird::FbException& failure);

// A status wrapper for destructors and clean-up paths: errors are recorded,
// never thrown.
class QuietStatus {
public:
    QuietStatus() : status_(master()->getStatus()), wrapper_(status_) {}
    ~QuietStatus() { status_->dispose(); }
    QuietStatus(const QuietStatus&) = delete;
    QuietStatus& operator=(const QuietStatus&) = delete;

    Firebird::CheckStatusWrapper* operator&() { return &wrapper_; }
    bool failed() const { return (wrapper_.getState() & Firebird::IStatus::STATE_ERRORS) != 0; }

private:
    Firebird::IStatus* status_;
    Firebird::CheckStatusWrapper wrapper_;
};

// A status wrapper that throws FbException on error; used inside try blocks.
class ThrowingStatus {
public:
    ThrowingStatus() : status_(master()->getStatus()), wrapper_(status_) {}
    ~ThrowingStatus() { status_->dispose(); }
    ThrowingStatus(const ThrowingStatus&) = delete;
    ThrowingStatus& operator=(const ThrowingStatus&) = delete;

    Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }

private:
    Firebird::IStatus* status_;
    Firebird::ThrowStatusWrapper wrapper_;
};

// A new blob holding `bytes`, written in segments in `transaction`; a blob
// left half written is cancelled. Throws FbException.
ISC_QUAD writeBlob(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction, std::string_view bytes);

}  // namespace db::fb
