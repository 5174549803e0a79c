#include "batch/Report.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

#include "batch/Terminal.h"

namespace batch {

namespace {

using Json = nlohmann::ordered_json;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string padLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padRight(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Local time with its offset from UTC, e.g. 2025-03-01T02:00:05-0300.
std::string isoTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

std::string signalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "signal " + std::to_string(signal);
}

// "1 row", "2 rows".
std::string counted(long count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ending(const RunRecord& record) {
    if (record.signal) return "Stopped by " + signalName(record.signal) + " after the row in hand.";
    if (const auto& job = record.failedJob)
        return "Ended by the failure of the " + job->table + " job of " + job->banco + " (" + job->empresa +
               "), shown above.";
    if (record.summary.failedRows || record.summary.unopenedBranches)
        return "Done with errors: " + counted(record.summary.failedRows, "row", "rows") + " not written, " +
               counted(record.summary.unopenedBranches, "branch database", "branch databases") + " not opened.";
    if (record.summary.unprunedCodes)
        return "Done, but --prune left the rows to delete of " +
               counted(record.summary.unprunedCodes, "code", "codes") + " in place, as shown above.";
    // A run that writes only what differs may write nothing at all.
    return record.arguments.changedOnly ? "Done: every row written or found unchanged." : "Done: every row written.";
}

}  // namespace

std::string summaryTable(const RunRecord& record) {
    std::size_t width = 6;
    for (const transfer::JobReport& job : record.summary.jobs) width = std::max(width, oneLine(job.banco).size());
    if (record.failedJob) width = std::max(width, oneLine(record.failedJob->banco).size());
    std::ostringstream out;
    // A run that writes only what differs also tells what it compared.
    const bool comparing = record.arguments.changedOnly;
    auto line = [&](const std::string& rawBanco, const std::string& code, const std::string& table,
                    const std::string& read, const std::string& compared, const std::string& unchanged,
                    const std::string& written, const std::string& failed, const std::string& seconds) {
        const std::string banco = oneLine(rawBanco);  // a path may hold control characters
        out << padRight(banco, width) << "  " << padRight(code, 4) << "  " << padRight(table, 7) << padLeft(read, 10);
        if (comparing) out << padLeft(compared, 10) << padLeft(unchanged, 10);
        out << padLeft(written, 10) << padLeft(failed, 8) << padLeft(seconds, 11) << '\n';
    };
    const auto tallyLine = [&](const std::string& banco, const std::string& code, const std::string& table,
                               const transfer::CopyTally& tally, const std::string& seconds) {
        line(banco, code, table, std::to_string(tally.read), std::to_string(tally.compared),
             std::to_string(tally.unchanged), std::to_string(tally.written), std::to_string(tally.failed), seconds);
    };
    line("Branch", "Code", "Table", "Read", "Compared", "Unchanged", "Written", "Failed", "Seconds");
    transfer::CopyTally total;
    const auto add = [&](const transfer::CopyTally& tally) {
        total.read += tally.read;
        total.compared += tally.compared;
        total.unchanged += tally.unchanged;
    };
    for (const transfer::JobReport& job : record.summary.jobs) {
        add(job.tally);
        if (!job.branchOpened) {
            line(job.banco, job.empresa, job.table, "-", "-", "-", "-", "-", "not opened");
            continue;
        }
        tallyLine(job.banco, job.empresa, job.table, job.tally, fixed(job.seconds, 2));
    }
    total.written = record.summary.writtenRows;
    total.failed = record.summary.failedRows;
    if (const auto& job = record.failedJob) {
        add(job->tally);
        total.written += job->tally.written;
        total.failed += job->tally.failed;
        tallyLine(job->banco, job->empresa, job->table, job->tally, "failed");
    }
    tallyLine("Total", "", "", total, fixed(record.seconds, 2));
    out << oneLine(ending(record)) << '\n';
    return out.str();
}

std::string reportJson(const RunRecord& record, int exitStatus) {
    const Arguments& arguments = record.arguments;
    Json list = Json::array();
    for (const Entry& entry : arguments.entries) list.push_back({{"database", entry.banco}, {"code", entry.empresa}});
    const auto failuresJson = [](const transfer::CopyTally& tally) {
        Json failures = Json::array();
        for (const transfer::RowFailure& failure : tally.failures)
            failures.push_back({{"key", failure.key}, {"message", failure.message}});
        return failures;
    };
    const bool comparing = arguments.changedOnly;
    // The counts of a tally; compared and unchanged when the run compared.
    const auto counts = [&](Json& into, const transfer::CopyTally& tally) {
        into["read"] = tally.read;
        if (comparing) {
            into["compared"] = tally.compared;
            into["unchanged"] = tally.unchanged;
        }
        into["written"] = tally.written;
        into["failed"] = tally.failed;
    };
    Json jobs = Json::array();
    long read = 0, compared = 0, unchanged = 0;
    int written = record.summary.writtenRows, failed = record.summary.failedRows;
    for (const transfer::JobReport& job : record.summary.jobs) {
        const Json failures = failuresJson(job.tally);
        read += job.tally.read;
        compared += job.tally.compared;
        unchanged += job.tally.unchanged;
        Json item = {
            {"database", job.banco}, {"code", job.empresa}, {"table", job.table}, {"opened", job.branchOpened}};
        counts(item, job.tally);
        item["seconds"] = job.seconds;
        item["stopped"] = job.tally.stopped;
        item["failures"] = failures;
        jobs.push_back(std::move(item));
    }
    Json failedJob = nullptr;
    // The failed job's rows count in the totals, as in the printed Total.
    if (const auto& job = record.failedJob) {
        read += job->tally.read;
        compared += job->tally.compared;
        unchanged += job->tally.unchanged;
        written += job->tally.written;
        failed += job->tally.failed;
        failedJob = {{"database", job->banco}, {"code", job->empresa}, {"table", job->table}};
        counts(failedJob, job->tally);
        failedJob["message"] = job->message;
        failedJob["failures"] = failuresJson(job->tally);
    }
    Json totals = {{"read", read}};
    if (comparing) {
        totals["compared"] = compared;
        totals["unchanged"] = unchanged;
    }
    totals["written"] = written;
    totals["failed"] = failed;
    totals["unopenedBranches"] = record.summary.unopenedBranches;
    if (record.arguments.prune) totals["unprunedCodes"] = record.summary.unprunedCodes;
    Json report = {
        {"program", "tavolene-batch"},
        {"started", isoTime(record.started)},
        {"ended", isoTime(record.ended)},
        {"seconds", record.seconds},
        {"peakMemoryKb", record.peakMemoryKb},
        {"central", arguments.central},
        {"user", record.user},
        {"role", record.role},
        {"mode",
         {{"name", arguments.commitEvery == 1 ? "per-row" : "fast"},
          {"rowsPerCommit", arguments.commitEvery},
          {"workers", arguments.jobs},
          {"changedOnly", arguments.changedOnly},
          {"inOrderBecause", record.inOrderBecause.empty() ? Json(nullptr) : Json(record.inOrderBecause)}}},
        {"list", list},
        {"jobs", jobs},
        {"totals", totals},
        {"centralError", record.centralError.empty() ? Json(nullptr) : Json(record.centralError)},
        {"failedJob", failedJob},
        {"messages", record.messages},
        {"signal", record.signal ? Json(signalName(record.signal)) : Json(nullptr)},
        {"exitStatus", exitStatus},
    };
    // Paths and database texts may hold bytes that are not UTF-8.
    return report.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace batch
