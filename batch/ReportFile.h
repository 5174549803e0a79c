#pragma once

#include <fstream>
#include <stdexcept>
#include <string>

namespace batch {

// The system's refusal of a report file, with its reason.
class ReportFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The report replaces the file it names whole or not at all: it is written
// to a temporary file in the same folder (so on the same file system),
// synced, then renamed over the target. A run killed midway leaves the
// previous report as it was, and two runs sharing one path each leave a
// whole report, the one renamed last. A symbolic link is followed: the file
// it points to is replaced, the link stays.
class ReportFile {
public:
    // Creates the temporary file at once, so that a missing or read-only
    // folder is told before anything else is done. Throws ReportFileError,
    // whose message names the file as `kind`.
    explicit ReportFile(const std::string& path, std::string kind = "report file");
    ~ReportFile();  // removes the temporary file unless it was renamed
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    std::ostream& stream() { return stream_; }
    // Writes out, syncs and renames. Throws ReportFileError with the
    // system's reason; the target is then as it was.
    void commit();

private:
    std::string target_;
    std::string kind_;
    std::string temporary_;
    int fd_ = -1;
    std::ofstream stream_;
    bool renamed_ = false;
};

}  // namespace batch
