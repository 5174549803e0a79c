#pragma once

// What the fault cases share: the conversion run driven the way the window
// drives it (same long-lived connections, same order of calls, same boxes),
// a recorder of everything the run shows, branch and central databases with
// known rows, full-content dumps to compare, and a transaction of another
// attachment that holds row locks.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TestDatabases.h"
#include "db/Connection.h"
#include "transfer/ConversionRun.h"
#include "transfer/ProgressView.h"

namespace reliability {

using Clock = std::chrono::steady_clock;

struct Box {
    enum class Kind { Information, Warning, Error };
    Kind kind;
    std::string text;
    bool operator==(const Box&) const = default;
};

std::string toString(const Box& box);
std::string toString(const std::vector<Box>& boxes);

// Records what the run shows. `onRow` is called with the key of every row
// the copy starts (from the progress label), before the row is written.
class Recorder : public transfer::ProgressView, public transfer::UserMessages {
public:
    void setProgressText(const std::string& text) override;
    void setGaugeMaximum(int maximum) override { gaugeMaximum = maximum; }
    void stepGauge() override { ++gaugePosition; }
    void resetGauge() override { gaugePosition = 0; }
    void processEvents() override {
        if (onProcessEvents) onProcessEvents();
    }
    void appendLog(const std::string& line) override { log.push_back(line); }

    void information(const std::string& text) override { boxes.push_back({Box::Kind::Information, text}); }
    void warning(const std::string& text) override { boxes.push_back({Box::Kind::Warning, text}); }
    void error(const std::string& text) override { boxes.push_back({Box::Kind::Error, text}); }

    std::vector<std::string> log;
    std::vector<Box> boxes;
    std::vector<std::string> startedRows;  // keys, in order
    std::vector<Clock::time_point> startedAt;
    int gaugeMaximum = 0;
    int gaugePosition = 0;
    std::function<void(const std::string& key)> onRow;
    std::function<void()> onProcessEvents;
};

struct Entry {
    std::string banco;
    std::string empresa;
};

// How one press of the converter panel ended.
struct Outcome {
    std::vector<Box> boxes;              // every box, in order
    std::vector<std::string> log;        // the log memo after the run
    std::optional<std::string> failure;  // the message that reached the failure handler
    bool started = false;                // the list was walked
    transfer::RunSummary summary;
};

// The program's state that outlives a run: the central and branch
// connections of the window.
class Program {
public:
    Program();
    // The converter panel with `centralPath` in the central field and
    // `entries` in the list: open the central connection, refuse an empty
    // list, run, then the end box or the table job's failure.
    Outcome convert(const std::string& centralPath, const std::vector<Entry>& entries, Recorder& recorder);
    Outcome convert(const std::string& centralPath, const std::vector<Entry>& entries);

    db::Connection central;
    db::Connection branch;
};

// The end box of a run where nothing failed.
Box success();
// The end box of a run with failed rows or unopened branch files.
Box endWithErrors(int failedRows, int unopenedFiles);
// The central connection's refusal.
Box centralRefused(const std::string& motivo);
// A branch file that could not be opened.
Box branchRefused(const std::string& path, const std::string& motivo);

// A branch database with `documents` documents of company `empresa`
// (CodDocto "<prefix>0001".. ) each with one movement, plus two documents
// with a movement each of company "09" that must never be copied.
void fillBranch(const std::string& path, const std::string& empresa, int documents, const std::string& prefix = "D");
void makeBranch(const std::string& path, const std::string& empresa, int documents, const std::string& prefix = "D");

// Every column of a table, ordered by its primary key columns, as text.
testsupport::Rows dump(const std::string& path, const std::string& table);
// A readable rendering of rows for failure output.
std::string toString(const testsupport::Rows& rows);
// The keys (CODDOCTO) of a table, sorted.
std::vector<std::string> keys(const std::string& path, const std::string& table);

// CodDocto values "<prefix>0001" .. "<prefix>NNNN".
std::string docKey(const std::string& prefix, int number);

// A transaction on its own attachment that keeps the rows it changed locked
// until it commits or rolls back. Usable from another thread than the one
// that made it (never from two at once).
class LockHolder {
public:
    explicit LockHolder(const std::string& path);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    void execute(const std::string& sql);
    long long transactionNumber();
    void commit();
    void rollback();

private:
    struct Handles;
    Handles* handles_;
};

// Lines of a child process's report: newlines and backslashes escaped.
std::string escapeLine(const std::string& text);
std::string unescapeLine(const std::string& text);

// The text of a file system path's location in an error message: the
// engine reports the path as given.
std::string quoted(const std::string& path);

}  // namespace reliability
