#pragma once

#include <string>

#include "batch/Runner.h"

namespace batch {

// The summary printed at the end: one line per branch and table with rows
// read, written and failed and seconds, a total line, and how the run ended.
std::string summaryTable(const RunRecord& record);

// The same summary as JSON, with the start and end times, the central
// database, the list, the commit mode and every failed row's key and
// message. Never holds the password.
std::string reportJson(const RunRecord& record, int exitStatus);

}  // namespace batch
