#include "batch/Arguments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ostream>
#include <string_view>

#include "batch/ExitStatus.h"
#include "batch/Terminal.h"
#include "db/LocalFile.h"

namespace batch {

namespace {

constexpr const char* kFooter = R"(Credentials: the user, password and role are the window's own unless the
environment sets ISC_USER and ISC_PASSWORD, or --role names another role.
There is no password option: a password in the arguments would show in the
process list.

Exit status:
  0    every row written (with --changed-only: written or found unchanged),
       every branch opened
  1    some rows failed or a branch could not be opened; the run went on; or
       --prune left a code's rows to delete in place (an entry of the code
       not opened, more rows than 5 % of the code's or --prune-limit, a
       --prune-log that cannot be written or is there from an earlier run)
  2    a table job failed and ended the run
  3    bad arguments (a --report naming a file the run reads included), or the
       central database could not be opened; nothing written
  130  stopped by SIGINT, 143 stopped by SIGTERM, after the row in hand (an
       attach in progress is broken off); what was done is committed and the
       summary printed
A call that waits 120 s on a server that does not answer ends its table job
as a lost connection (status 2).
A --report file that could not be written raises the status to at least 1,
with the reason on standard error; the report replaces its file by a rename,
whole or not at all.
With --check: 0 in sync, 1 differences found or a branch not opened, 2 a
failure ended the check, 3 as above. With --verify, the higher of the run's
status and the check's.)";

// CLI11 checks the text before converting it; a bare "must be positive"
// would not say what the option is for.
CLI::Validator wholeNumber(const std::string& unit) {
    return CLI::Validator(
        [unit](std::string& text) -> std::string {
            int value = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (error == std::errc() && end == text.data() + text.size() && value >= 1) return {};
            return "needs a whole number of " + unit + ", 1 or more, not \"" + text + "\"";
        },
        "");
}

std::string trimmed(const std::string& text) {
    const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
    std::size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// The whole file, or ArgumentError with the system's reason. A device, a
// pipe or a folder is refused before it is read: /dev/zero would never end.
std::string readWholeFile(const std::string& path) {
    const std::string where = "cannot read the list file \"" + path + "\": ";
    const auto refuse = [&](int reason) { return ArgumentError(where + std::strerror(reason)); };
    // Non-blocking: opening a pipe with no writer would wait for one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw refuse(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat file {};
    if (::fstat(fd, &file) != 0) throw refuse(errno);
    if (!S_ISREG(file.st_mode)) throw ArgumentError(where + "not a regular file");
    const auto tooBig = [&] {
        return ArgumentError(where + "larger than " + std::to_string(kListFileLimit / 1024) + " KiB");
    };
    if (file.st_size > kListFileLimit) throw tooBig();
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) throw refuse(errno);
        text.append(buffer, static_cast<std::size_t>(got));
        if (static_cast<long>(text.size()) > kListFileLimit) throw tooBig();  // grown since
    }
    return text;
}

std::string withoutComment(const std::string& line) {
    for (std::size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return line.substr(0, i);
    return line;
}

// Entries of --branch and --list in the order they were given.
std::vector<Entry> entriesInOrder(const CLI::App& app, const CLI::Option* branchOption,
                                  const std::vector<std::string>& branches, const std::vector<std::string>& lists) {
    std::vector<Entry> entries;
    std::size_t nextBranch = 0, nextList = 0;
    for (const CLI::Option* option : app.parse_order()) {
        if (option == branchOption) {
            entries.push_back(parseBranch(branches.at(nextBranch++)));
        } else if (option->get_name() == "--list") {
            for (Entry& entry : readListFile(lists.at(nextList++))) entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace

void checkCompanyCode(const std::string& code, const std::string& where) {
    const bool valid = code.size() == 2 && code[0] == '0' && code[1] >= '0' && code[1] <= '4';
    if (!valid) throw ArgumentError(where + ": company code \"" + code + "\" is not one of 00 to 04");
}

Entry parseBranch(const std::string& text) {
    const std::string where = "--branch \"" + text + "\"";
    const auto equals = text.rfind('=');
    if (equals == std::string::npos) throw ArgumentError(where + ": no company code (DB=CODE)");
    Entry entry{text.substr(0, equals), text.substr(equals + 1)};
    if (entry.banco.empty()) throw ArgumentError(where + ": no database before the '='");
    checkCompanyCode(entry.empresa, where);
    return entry;
}

std::vector<Entry> readListFile(const std::string& path) {
    const std::string text = readWholeFile(path);
    std::vector<Entry> entries;
    // Editors on Windows start UTF-8 files with a byte-order mark.
    std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (int number = 1; start < text.size(); ++number) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(withoutComment(text.substr(start, end - start)));
        start = end + 1;
        if (line.empty()) continue;
        const std::string where = path + ":" + std::to_string(number);
        const auto blank = line.find_last_of(" \t");
        if (blank == std::string::npos) throw ArgumentError(where + ": \"" + line + "\" has no company code (DB CODE)");
        Entry entry{trimmed(line.substr(0, blank)), line.substr(blank + 1)};
        checkCompanyCode(entry.empresa, where);
        entries.push_back(std::move(entry));
    }
    return entries;
}

void checkArguments(const Arguments& arguments) {
    // Checked here rather than by CLI11, which would report a missing
    // --central before an unknown option.
    if (arguments.central.empty()) throw ArgumentError("--central DB is required");
    if (!arguments.restorePath.empty()) {
        if (!arguments.entries.empty() || arguments.check || arguments.verify || arguments.changedOnly ||
            arguments.prune || !arguments.reportPath.empty())
            throw ArgumentError("--restore takes only --central and the connection options");
        return;
    }
    if (arguments.prune && arguments.check) throw ArgumentError("--prune excludes --check");
    if (arguments.prune && !arguments.changedOnly) throw ArgumentError("--prune needs --changed-only");
    // Nothing is deleted that cannot be put back.
    if (arguments.prune && arguments.pruneLog.empty())
        throw ArgumentError("--prune needs --prune-log FILE.json, where the deleted rows are kept");
    if (!arguments.prune && (arguments.pruneLimit || !arguments.pruneLog.empty()))
        throw ArgumentError("--prune-limit and --prune-log need --prune");
    if (arguments.entries.empty())
        throw ArgumentError("no branch database to convert: give --branch DB=CODE or a --list file with entries");
    for (const Entry& entry : arguments.entries)
        if (db::sameLocalFile(entry.banco, arguments.central))
            throw ArgumentError("branch \"" + entry.banco + "\" is the central database \"" + arguments.central +
                                "\" itself");
    // The prune log replaces the file it names: never a database of the run.
    if (!arguments.pruneLog.empty())
        for (const std::string& database : [&] {
                 std::vector<std::string> all{arguments.central, arguments.reportPath};
                 for (const Entry& entry : arguments.entries) all.push_back(entry.banco);
                 return all;
             }())
            if (!database.empty() && db::sameLocalFile(arguments.pruneLog, database))
                throw ArgumentError("--prune-log \"" + arguments.pruneLog + "\" is \"" + database +
                                    "\", a file the run uses");
    if (arguments.reportPath.empty()) return;
    // The report replaces the file it names: never one the run reads.
    const auto refuseReport = [&](const std::string& what, const std::string& path) {
        if (db::sameLocalFile(arguments.reportPath, path))
            throw ArgumentError("--report \"" + arguments.reportPath + "\" is " + what + " \"" + path + "\"");
    };
    refuseReport("the central database", arguments.central);
    for (const Entry& entry : arguments.entries) refuseReport("the branch database", entry.banco);
    for (const std::string& list : arguments.listFiles) refuseReport("the list file", list);
    struct stat target {};
    if (::stat(arguments.reportPath.c_str(), &target) == 0 && !S_ISREG(target.st_mode))
        throw ArgumentError("--report \"" + arguments.reportPath + "\" exists and is not a regular file");
}

Parsed parseArguments(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Arguments arguments;
    std::vector<std::string> branches, lists;
    CLI::App app(
        "Copies the accounts receivable (DOCUREC, then MOVIREC) of branch Firebird databases into a "
        "central one, unattended.",
        "tavolene-batch");
    app.footer(kFooter);
    app.set_version_flag("--version", TAVOLENE_VERSION);
    app.add_option("--central", arguments.central, "The central database: a file path or a connection string")
        ->type_name("DB");
    CLI::Option* branchOption =
        app.add_option("--branch", branches, "A branch database and the company code (00 to 04) of its rows")
            ->type_name("DB=CODE")
            ->allow_extra_args(false);
    app.add_option("--list", lists, "A file of branch entries, one \"DB CODE\" a line; # starts a comment")
        ->type_name("FILE")
        ->allow_extra_args(false);
    app.add_option("--commit-every", arguments.commitEvery,
                   "Rows per central commit (default 1: every row committed on its own)")
        ->type_name("N")
        ->check(wholeNumber("rows"));
    app.add_option("--jobs", arguments.jobs,
                   "Entries of different company codes at once, on N pairs of connections (default 1); the "
                   "entries of one code keep their list order")
        ->type_name("N")
        ->check(wholeNumber("workers"));
    app.add_option("--connect-timeout", arguments.connectTimeoutSeconds,
                   "Seconds to wait for a database server's first answer at each attach (default 15); a "
                   "branch whose server does not answer is warned once and skipped")
        ->type_name("S")
        ->check(wholeNumber("seconds"));
    app.add_option("--role", arguments.role, "SQL role to attach with, instead of the window's");
    app.add_option("--report", arguments.reportPath, "Also write the summary, the list and every failed row as JSON")
        ->type_name("FILE.json");
    app.add_flag("--quiet", arguments.quiet, "No progress line, even on a terminal");
    CLI::Option* checkOption = app.add_flag(
        "--check", arguments.check,
        "Write nothing: compare the central rows of each code with its branches' rows, as a run would copy them");
    app.add_flag("--verify", arguments.verify, "After the run, the comparison of --check")->excludes(checkOption);
    app.add_flag("--changed-only", arguments.changedOnly,
                 "Compare as --check does and write only the rows missing from the central database or "
                 "different there; the central tables end as a full run leaves them")
        ->excludes(checkOption);
    app.add_flag("--prune", arguments.prune,
                 "With --changed-only: also delete the central rows of a code that no listed branch of the code "
                 "holds, once every entry of the code was read to its end");
    app.add_option("--prune-limit", arguments.pruneLimit,
                   "The most rows --prune deletes in one run for a code (default: 5 % of the code's central rows)")
        ->type_name("N")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--prune-log", arguments.pruneLog,
                   "Where --prune writes every row it deletes, as JSON, before the delete is committed")
        ->type_name("FILE.json");
    app.add_option("--restore", arguments.restorePath,
                   "Put the rows of a --prune-log file back into the central database, nothing else")
        ->type_name("FILE.json");

    try {
        // Refused by name before CLI11 sees it: its messages would repeat
        // the value, and this line goes to logs.
        for (int i = 1; i < argc; ++i)
            if (const std::string_view word = argv[i]; word == "--password" || word.starts_with("--password="))
                throw ArgumentError("there is no --password option: set ISC_PASSWORD in the environment");
        app.parse(argc, argv);
        arguments.entries = entriesInOrder(app, branchOption, branches, lists);
        arguments.listFiles = lists;
        checkArguments(arguments);
    } catch (const CLI::ParseError& stop) {
        // --help and --version are "errors" of success.
        if (stop.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return {std::nullopt, app.exit(stop, out, err)};
        err << "tavolene-batch: " << oneLine(stop.what()) << std::endl;
        return {std::nullopt, kNothingDone};
    } catch (const ArgumentError& bad) {
        err << "tavolene-batch: " << oneLine(bad.what()) << std::endl;
        return {std::nullopt, kNothingDone};
    }
    return {std::move(arguments), 0};
}

}  // namespace batch
