#pragma once

namespace batch {

// The exit statuses of tavolene-batch, as --help and the manual page list them.
enum ExitStatus : int {
    kAllWritten = 0,      // every row written, every branch opened
    kSomeNotWritten = 1,  // some rows failed or a branch could not be opened; the run went on
    kJobFailed = 2,       // a table job failed and ended the run
    kNothingDone = 3,     // bad arguments, or the central database could not be opened
};

// A run stopped by a signal exits with 128 + its number (130 SIGINT, 143 SIGTERM).
constexpr int kSignalBase = 128;

}  // namespace batch
