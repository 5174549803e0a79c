// Rows of the central database locked by another transaction, and another
// connection at work in the central database while the run writes. The run
// waits for a lock, but never longer than the connection's lock time-out;
// what the other side does decides what becomes of the row, and the rows
// after it are copied either way.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Fixture.h"
#include "db/Connection.h"
#include "db/Query.h"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using testsupport::Cell;

// Lets the test thread hand a moment to another thread and wait for it.
class Signal {
public:
    void raise() {
        std::lock_guard lock(mutex_);
        raised_ = true;
        changed_.notify_all();
    }
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

std::string conflictLine(long long otherTransaction) {
    return "DOCUREC: Documento = G0002 Erro: deadlock\n-update conflicts with concurrent update\n"
           "-concurrent transaction number is " +
           std::to_string(otherTransaction);
}

long long millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

class Locks : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        // The same three documents again, changed at the branch since the
        // first run, so a written row can be told from a kept one.
        branch = dir.file("filial-alterada.fb");
        makeBranch(branch, "01", 3, "G");
        testsupport::execute(branch, "UPDATE DOCUREC SET OBSERVACAO = 'alterado na filial'");
    }

    Cell observacao(const std::string& key) {
        return testsupport::selectValue(centralPath, "SELECT OBSERVACAO FROM DOCUREC WHERE CODDOCTO = '" + key + "'");
    }

    // Runs the conversion of `branch` while `holder` keeps G0002 locked;
    // when the run reaches G0002, `release` runs on another thread after
    // `delay`. Returns the outcome; `releasedAt` and the recorder tell when.
    Outcome convertAgainstLock(LockHolder& holder, std::chrono::milliseconds delay,
                               const std::function<void(LockHolder&)>& release) {
        Signal reached;
        recorder.onRow = [&](const std::string& key) {
            if (key == "G0002") reached.raise();
        };
        std::thread other([&] {
            if (!reached.waitFor(30s)) return;
            std::this_thread::sleep_for(delay);
            releasedAt = Clock::now();
            if (release) release(holder);
        });
        const Outcome outcome = program.convert(centralPath, {{branch, "01"}}, recorder);
        other.join();
        return outcome;
    }

    // How long the run stood at G0002: from its start to the start of the
    // next row.
    Clock::time_point nextRowAfter(const std::string& key) const {
        for (std::size_t i = 0; i + 1 < recorder.startedRows.size(); ++i)
            if (recorder.startedRows[i] == key) return recorder.startedAt[i + 1];
        return {};
    }
    Clock::time_point rowStart(const std::string& key) const {
        for (std::size_t i = 0; i < recorder.startedRows.size(); ++i)
            if (recorder.startedRows[i] == key) return recorder.startedAt[i];
        return {};
    }

    std::string branch;
    Recorder recorder;
    Clock::time_point releasedAt{};
};

TEST_F(Locks, DefaultLockTimeOutIsSixtySecondsAndReachesTheServer) {
    db::Connection connection;
    EXPECT_EQ(connection.lockTimeoutSeconds(), 60);
    connection.parameters().setValue("Database", centralPath);
    connection.open();
    auto timeoutOfOwnTransaction = [&] {
        db::Query query(connection);
        query.addSql("SELECT MON$LOCK_TIMEOUT FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION");
        query.open();
        return query.asInteger(0);
    };
    EXPECT_EQ(timeoutOfOwnTransaction(), 60);
    connection.setLockTimeoutSeconds(2);
    EXPECT_EQ(timeoutOfOwnTransaction(), 2);
    // The window's connections are made the same way, so they wait 60 s.
    EXPECT_EQ(program.central.lockTimeoutSeconds(), 60);
    EXPECT_EQ(program.branch.lockTimeoutSeconds(), 60);
}

TEST_F(Locks, RowLockedUntilTheOtherSideRollsBackIsWrittenAfterTheWait) {
    LockHolder holder(centralPath);
    holder.execute("UPDATE DOCUREC SET OBSERVACAO = 'do outro lado' WHERE CODDOCTO = 'G0002'");
    const Outcome outcome = convertAgainstLock(holder, 1500ms, [](LockHolder& h) { h.rollback(); });
    EXPECT_EQ(outcome.boxes, std::vector<Box>{success()}) << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty()) << outcome.log.front();
    // The run stood at G0002 until the other side let go.
    EXPECT_GE(millisecondsBetween(releasedAt, nextRowAfter("G0002")), 0);
    EXPECT_GE(millisecondsBetween(rowStart("G0002"), nextRowAfter("G0002")), 1400);
    for (const char* key : {"G0001", "G0002", "G0003"}) EXPECT_EQ(observacao(key), Cell("alterado na filial")) << key;
    expectKeepsWorking();
}

TEST_F(Locks, RowLockedUntilTheOtherSideCommitsGetsTheServersAnswer) {
    LockHolder holder(centralPath);
    holder.execute("UPDATE DOCUREC SET OBSERVACAO = 'do outro lado' WHERE CODDOCTO = 'G0002'");
    const long long other = holder.transactionNumber();
    const Outcome outcome = convertAgainstLock(holder, 1500ms, [](LockHolder& h) { h.commit(); });
    EXPECT_GE(millisecondsBetween(releasedAt, nextRowAfter("G0002")), 0);
    EXPECT_GE(millisecondsBetween(rowStart("G0002"), nextRowAfter("G0002")), 1400);
    // Firebird 3 answers a read-committed write that waited for a
    // transaction that then committed with the update conflict.
    EXPECT_EQ(outcome.log, std::vector<std::string>{conflictLine(other)});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(observacao("G0001"), Cell("alterado na filial"));
    EXPECT_EQ(observacao("G0002"), Cell("do outro lado"));
    EXPECT_EQ(observacao("G0003"), Cell("alterado na filial"));
    expectKeepsWorking();
}

// The fault the program had: a lock never released froze it inside the
// database call. Now the row fails after the connection's lock time-out
// (60 s in the program; 2 s here) with the server's message, and the run
// goes on with the next row.
TEST_F(Locks, LockNeverReleasedFailsThatRowAfterTheTimeOutAndTheRunGoesOn) {
    program.central.setLockTimeoutSeconds(2);
    program.central.close();  // the next run attaches with the new setting
    LockHolder holder(centralPath);
    holder.execute("UPDATE DOCUREC SET OBSERVACAO = 'nunca liberado' WHERE CODDOCTO = 'G0002'");
    const long long other = holder.transactionNumber();
    const Outcome outcome = convertAgainstLock(holder, 0ms, nullptr);
    const long long waited = millisecondsBetween(rowStart("G0002"), nextRowAfter("G0002"));
    // The engine counts lock time-outs in whole seconds.
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 10000);
    // Firebird 3.0 words a record lock time-out as the same update
    // conflict, naming the transaction that still holds the row.
    EXPECT_EQ(outcome.log, std::vector<std::string>{conflictLine(other)});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(observacao("G0001"), Cell("alterado na filial"));
    EXPECT_EQ(observacao("G0003"), Cell("alterado na filial"));
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC", "CODDOCTO STARTING WITH 'G'"), 3);
    holder.rollback();
    EXPECT_EQ(observacao("G0002"), testsupport::documentRow("01", "G0002").value("OBSERVACAO"))
        << "the locked row keeps its committed value";
    expectKeepsWorking();
}

TEST_F(Locks, AnotherConnectionReadingAndWritingDuringTheRunLosesNothing) {
    const std::string busy = dir.file("filial-grande.fb");
    makeBranch(busy, "01", 40, "D");
    std::atomic<bool> done{false};
    std::atomic<int> writes{0};
    std::atomic<int> reads{0};
    std::atomic<bool> readsWentBack{false};
    std::atomic<int> runAt{0};  // the document the run is writing
    Signal wroteDuringRun;
    std::string otherFailure;
    std::thread other([&] {
        long long lastSeen = 0;
        int n = 0;
        try {
            while (!done) {
                // The central office at work: new documents of its own, checks
                // on rows the run has written, and counts of what has arrived.
                ++n;
                testsupport::insertRow(
                    centralPath, "DOCUREC",
                    testsupport::documentRow("07", docKey("O", n)).remove("DT_ALTERACAO").remove("USUARIO_ALT"));
                // Only documents the run has finished with: a row both sides
                // write at once is the lock cases' business.
                testsupport::execute(centralPath,
                                     "UPDATE DOCUREC SET CONFERIDO = 'S' WHERE CODEMPRESA = '01' AND "
                                     "CODDOCTO STARTING WITH 'D' AND CODDOCTO < '" +
                                         docKey("D", runAt.load()) + "'");
                ++writes;
                const long long seen = testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO STARTING WITH 'D'");
                readsWentBack = readsWentBack || seen < lastSeen;
                lastSeen = seen;
                ++reads;
                if (n == 2) wroteDuringRun.raise();
            }
        } catch (const std::exception& failure) {
            otherFailure = failure.what();
            wroteDuringRun.raise();
        }
    });
    Recorder recorder;
    bool documents = true;
    recorder.onRow = [&](const std::string& key) {
        if (key == "D0001" && runAt.load() > 1) documents = false;  // the movements have begun
        if (documents && key[0] == 'D') runAt = std::stoi(key.substr(1));
        if (key == "D0010" && documents) {
            EXPECT_TRUE(wroteDuringRun.waitFor(30s));
        }
    };
    const Outcome outcome = program.convert(centralPath, {{busy, "01"}}, recorder);
    done = true;
    other.join();
    EXPECT_EQ(otherFailure, "");
    EXPECT_EQ(outcome.boxes, std::vector<Box>{success()}) << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty()) << outcome.log.front();
    EXPECT_GE(writes.load(), 2);
    EXPECT_FALSE(readsWentBack) << "a committed row disappeared from another connection's view";
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO STARTING WITH 'D'"), 40);
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC", "CODDOCTO STARTING WITH 'D'"), 40);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODEMPRESA = '07'"), writes.load());
    // The run's upserts never name CONFERIDO, so the other side's checks stay.
    EXPECT_GE(testsupport::countRows(centralPath, "DOCUREC", "CONFERIDO = 'S'"), 1);
    expectCommittedRowsKept();
    expectKeepsWorking();
}

}  // namespace
}  // namespace reliability
