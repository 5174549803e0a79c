#pragma once

// A run that writes only what differs: for each company code and table the
// branch rows of the code (the union of its entries, a later entry winning a
// shared key) are merged with the central rows of the code as the check
// merges them, and only the rows missing from the central database or
// different there go through the copy's upsert and commit policy.

#include <optional>

#include "batch/Runner.h"

namespace batch {

// Fills `summary` with one job per entry and table (rows read, compared,
// unchanged, written and failed); a failure that ends the run is shown on
// the terminal and returned. The central connection is open.
std::optional<FailedJob> writeChangedRows(db::Connection& central, const Arguments& arguments, Terminal& terminal,
                                          transfer::RunSummary& summary);

}  // namespace batch
