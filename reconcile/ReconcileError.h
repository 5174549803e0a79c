#pragma once

#include <stdexcept>

namespace reconcile {

// A failure that ends the check: a central table without a primary key, a
// column the copy maps that a table lacks, rows that do not come in key
// order, a database that fails while being read. The message names the
// table (and the database when it is a branch).
class ReconcileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The check was asked to stop (a termination signal) before it was done.
class ReconcileStopped : public ReconcileError {
public:
    ReconcileStopped() : ReconcileError("the check was stopped before it was done") {}
};

}  // namespace reconcile
