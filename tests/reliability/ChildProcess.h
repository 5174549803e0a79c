#pragma once

// A conversion in a process of its own (tavolene_conversion_driver): the
// killed run, two copies of the program at once, and cases whose process
// must meet the program before anything else touches the client library.

#include <sys/types.h>

#include <string>
#include <vector>

#include "Harness.h"

namespace reliability {

// What the driver writes, one item a line, newlines escaped:
//   ROW <key>            a row is about to be written
//   PAUSED               stopped after the row given with --pause-after, waiting for a line on stdin
//   LOG <line>           a log line
//   BOX <kind> <text>    a message box (Information, Warning, Error)
//   FAILURE <text>       a failure that reached the failure handler
//   END                  the run is over

// The path of tavolene_conversion_driver.
std::string conversionDriver();

class ChildProcess {
public:
    // Starts `program` (the conversion driver unless told) with `arguments`.
    explicit ChildProcess(const std::vector<std::string>& arguments, const std::string& program = conversionDriver());
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of its output without the newline; false at its end.
    bool readLine(std::string& line);
    // Reads lines until one starts with `prefix`; false when the output ends first.
    bool waitFor(const std::string& prefix, std::string* line = nullptr);
    void writeLine(const std::string& line);
    // Closes the reading end of its output, as a reader that went away does.
    void closeOutput();
    void kill(int signal);
    // Waits for the end; the raw wait status.
    int wait();

    // Everything read so far, as an Outcome (rows started are in `rows`).
    Outcome outcome() const { return outcome_; }
    const std::vector<std::string>& rows() const { return rows_; }

private:
    void record(const std::string& line);

    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string pending_;
    bool waited_ = false;
    int status_ = 0;
    Outcome outcome_;
    std::vector<std::string> rows_;
};

// The driver's arguments for a conversion of `entries` into `central`.
std::vector<std::string> driverArguments(const std::string& central, const std::vector<Entry>& entries,
                                         const std::vector<std::string>& options = {});

}  // namespace reliability
