#include "batch/ParallelRun.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <streambuf>
#include <thread>

#include "batch/Terminal.h"
#include "db/Connection.h"
#include "db/Error.h"
#include "db/SystemTables.h"
#include "transfer/Connections.h"
#include "transfer/Tables.h"

namespace batch {

namespace {

// Lines written by several workers reach the shared stream whole, never
// interleaved within a line.
class LineBuffer : public std::streambuf {
public:
    LineBuffer(std::ostream& target, std::mutex& lock) : target_(target), lock_(lock) {}
    ~LineBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        pending_ += traits_type::to_char_type(c);
        if (c == '\n') flushLines();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        if (pending_.find('\n') != std::string::npos) flushLines();
        return count;
    }
    int sync() override {
        flushLines();
        return 0;
    }

private:
    void flushLines() {
        const auto end = pending_.rfind('\n');
        if (end == std::string::npos) return;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            target_.write(pending_.data(), static_cast<std::streamsize>(end + 1));
            target_.flush();
        }
        pending_.erase(0, end + 1);
    }

    std::ostream& target_;
    std::mutex& lock_;
    std::string pending_;
};

// A list of one entry: each entry runs on its own, so that what it did can
// be put back in list order afterwards.
class SingleEntry : public transfer::BranchList {
public:
    explicit SingleEntry(const Entry& entry) : entry_(entry) {}
    int count() const override { return 1; }
    void first() override { done_ = false; }
    bool eof() const override { return done_; }
    void next() override { done_ = true; }
    std::string banco() const override { return entry_.banco; }
    std::string empresa() const override { return entry_.empresa; }

private:
    const Entry& entry_;
    bool done_ = false;
};

// What one entry did.
struct EntryOutcome {
    bool ran = false;
    transfer::RunSummary summary;
    std::vector<std::string> messages;
    std::optional<FailedJob> failedJob;
};

// The entries of each company code, in list order; codes in the order
// they first appear.
std::vector<std::vector<std::size_t>> entriesByCode(const std::vector<Entry>& entries) {
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::string, std::size_t> groupOfCode;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const auto [at, added] = groupOfCode.try_emplace(entries[index].empresa, groups.size());
        if (added) groups.emplace_back();
        groups[at->second].push_back(index);
    }
    return groups;
}

// One worker: its connections, its view, and the groups it takes in turn.
class Worker {
public:
    Worker(const Arguments& arguments, db::Connection& central, std::ostream& target, std::mutex& targetLock,
           Terminal& shared)
        : arguments_(arguments),
          central_(central),
          lines_(target, targetLock),
          stream_(&lines_),
          terminal_(stream_, false, [&shared] { return shared.stopRequested(); }) {
        applyCredentials(branch_, arguments);
    }

    Terminal& terminal() { return terminal_; }

    void runEntry(std::size_t index, EntryOutcome& outcome) {
        SingleEntry list(arguments_.entries[index]);
        const std::size_t shown = terminal_.messages().size();
        outcome.ran = true;
        outcome.failedJob = convertEntries({central_, branch_}, list, terminal_, arguments_, outcome.summary);
        outcome.messages.assign(terminal_.messages().begin() + static_cast<std::ptrdiff_t>(shown),
                                terminal_.messages().end());
    }

private:
    const Arguments& arguments_;
    db::Connection& central_;
    db::Connection branch_;
    LineBuffer lines_;
    std::ostream stream_;
    Terminal terminal_;
};

// The outcomes put together in list order, as one run in order sums them.
void gather(const std::vector<Entry>& entries, std::vector<EntryOutcome>& outcomes, RunRecord& record) {
    // A file listed under several codes is one file not opened.
    std::set<std::string> unopened;
    for (std::size_t index = 0; index < outcomes.size(); ++index) {
        EntryOutcome& outcome = outcomes[index];
        if (!outcome.ran) continue;
        transfer::RunSummary& part = outcome.summary;
        for (transfer::JobReport& job : part.jobs) record.summary.jobs.push_back(std::move(job));
        record.summary.writtenRows += part.writtenRows;
        record.summary.failedRows += part.failedRows;
        record.summary.stopped = record.summary.stopped || part.stopped;
        if (part.unopenedBranches > 0 && unopened.insert(entries[index].banco).second)
            ++record.summary.unopenedBranches;
        for (std::string& message : outcome.messages) record.messages.push_back(std::move(message));
        if (outcome.failedJob && !record.failedJob) record.failedJob = std::move(outcome.failedJob);
    }
}

}  // namespace

std::string reasonToRunInOrder(db::Connection& central) {
    for (const transfer::TableProfile* profile : {&transfer::docuRecProfile(), &transfer::moviRecProfile()}) {
        std::vector<std::string> key;
        try {
            key = db::readPrimaryKey(central, profile->tableName);
        } catch (const db::Error& failure) {
            return "the primary key of the central " + profile->tableName + " could not be read: " + failure.what();
        }
        if (key.empty()) return "the central " + profile->tableName + " has no primary key";
        if (std::find(key.begin(), key.end(), "CODEMPRESA") == key.end())
            return "the primary key of the central " + profile->tableName +
                   " does not hold CODEMPRESA, so branches of different codes may write the same rows";
    }
    return {};
}

void runEntriesInParallel(const Arguments& arguments, int workers, db::Connection& central, Terminal& terminal,
                          RunRecord& record) {
    const std::vector<std::vector<std::size_t>> groups = entriesByCode(arguments.entries);
    workers = std::max(1, std::min(workers, static_cast<int>(groups.size())));
    std::mutex streamLock;

    // Every worker's central attachment is made before any row is written:
    // a central database that refuses a second attachment stops the run
    // with nothing done.
    std::vector<std::unique_ptr<db::Connection>> ownCentrals;
    std::vector<std::unique_ptr<Worker>> pool;
    for (int number = 0; number < workers; ++number) {
        db::Connection* workerCentral = &central;
        if (number > 0) {
            ownCentrals.push_back(std::make_unique<db::Connection>());
            workerCentral = ownCentrals.back().get();
            applyCredentials(*workerCentral, arguments);
            if (!transfer::ConectaBancoCentralizador(*workerCentral, arguments.central, terminal)) {
                record.centralError = terminal.messages().back();
                return;
            }
        }
        pool.push_back(std::make_unique<Worker>(arguments, *workerCentral, terminal.stream(), streamLock, terminal));
    }

    std::vector<EntryOutcome> outcomes(arguments.entries.size());
    std::atomic<std::size_t> nextGroup{0};
    std::atomic<bool> ended{false};  // a table job failed, or a stop was asked for
    const auto work = [&](Worker& worker) {
        for (std::size_t group; !ended && (group = nextGroup++) < groups.size();) {
            for (const std::size_t index : groups[group]) {
                if (ended) break;
                EntryOutcome& outcome = outcomes[index];
                worker.runEntry(index, outcome);
                if (outcome.failedJob || outcome.summary.stopped) ended = true;
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t number = 1; number < pool.size(); ++number) threads.emplace_back(work, std::ref(*pool[number]));
    work(*pool.front());
    for (std::thread& thread : threads) thread.join();
    gather(arguments.entries, outcomes, record);
}

}  // namespace batch
