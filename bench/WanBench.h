#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Report.h"

namespace bench {

// One line of the table: rows per second of each case at one round trip,
// in the order of wanCaseHeadings(); nullopt where a case was not run.
struct WanLine {
    int roundTripMs = 0;
    std::vector<std::optional<double>> rowsPerSecond;
    // Round trips the run waited for through the proxy (attaching and
    // preparing included), divided by the rows it copied.
    std::vector<std::optional<double>> roundTripsPerRow;
};

const std::vector<std::string>& wanCaseHeadings();

// One figure of every line as a Markdown table, one line per round trip.
using WanFigure = std::vector<std::optional<double>> WanLine::*;
std::string formatWanTable(const std::vector<WanLine>& lines, WanFigure figure, int decimals);

// The benchmark over a WAN (docs/performance.md, "Over a WAN"): starts the
// Firebird server of `serverScript` unless it runs already (stopping it at
// the end if it started it), generates one branch of options.rows documents
// as a local file and as a file the server holds, and for every round trip
// of options.roundTripsMs copies it through a latency proxy with
// tavolene-batch (`batchProgram`) and with the bare client, the central or
// the branch database behind the proxy. Prints the table on standard output.
// Throws std::runtime_error when a run does not copy every row.
int runWanBenchmark(const Options& options, const std::string& batchProgram, const std::string& serverScript);

}  // namespace bench
