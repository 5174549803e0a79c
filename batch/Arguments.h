#pragma once

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace batch {

// One branch database to convert and the company code whose rows it gives.
// `banco` is a file path or a Firebird connection string
// ("host:/path", "host/port:/path", an alias on a server).
struct Entry {
    std::string banco;
    std::string empresa;
    bool operator==(const Entry&) const = default;
};

// What a run was asked to do. There is no password here: it comes from the
// environment only, so that it never shows in the process's arguments.
struct Arguments {
    std::string central;
    std::vector<Entry> entries;          // in the order given, --branch and --list entries mixed as given
    std::vector<std::string> listFiles;  // the --list files read
    int commitEvery = 1;                 // rows per central commit; 1 is the window's commit per row
    int jobs = 1;                        // entries of different company codes at once, each on connections of its own
    int connectTimeoutSeconds = 15;      // wait for a server's first answer at each attach
    std::optional<std::string> role;
    std::string reportPath;               // empty: no JSON report
    bool quiet = false;                   // no progress line even on a terminal
    bool check = false;                   // compare the central database with the branches instead of a run
    bool verify = false;                  // the same comparison right after the run
    bool changedOnly = false;             // write only the rows the central database lacks or holds otherwise
    bool prune = false;                   // with changedOnly: delete the central rows no branch of their code holds
    std::optional<long long> pruneLimit;  // the most rows one run may delete; unset: 5 % of a code's rows
    std::string pruneLog;                 // the deleted rows, as JSON, written before the delete
    std::string restorePath;              // not empty: put the rows of this prune log back, nothing else
};

// A problem with the arguments, worded as the one line the user sees.
class ArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The arguments to run with, or the status to exit with at once: 0 after
// --help, kBadArguments after a problem (its one line written to `err`).
struct Parsed {
    std::optional<Arguments> arguments;
    int exitStatus = 0;
};

Parsed parseArguments(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// "DB=CODE", split at the last '='. Throws ArgumentError.
Entry parseBranch(const std::string& text);

// The entries of a list file: one "DB CODE" a line, the code being the last
// word; '#' at the start of a line or after a blank starts a comment; blank
// lines are ignored; a UTF-8 byte-order mark at its start is skipped. Throws
// ArgumentError naming the file and line, and for anything that is not a
// regular file of at most kListFileLimit bytes.
constexpr long kListFileLimit = 1024 * 1024;
std::vector<Entry> readListFile(const std::string& path);

// Throws ArgumentError unless `code` is one of "00" to "04".
void checkCompanyCode(const std::string& code, const std::string& where);

// The checks that need the whole set: a central database, at least one
// entry, no entry that is the central file itself, a report path that names
// none of the files read or converted. Opens no database.
void checkArguments(const Arguments& arguments);

}  // namespace batch
