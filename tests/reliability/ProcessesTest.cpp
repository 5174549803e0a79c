// The program as a process: killed in the middle of a copy, and two copies
// of it converting into the same central database at once. Each ends with
// the central database holding exactly what clean runs would have left.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "ChildProcess.h"
#include "Fixture.h"

namespace reliability {
namespace {

constexpr int kDocuments = 80;

// The engine's own validation of every page and record; empty when the
// tool is missing.
std::string validate(const std::string& path) {
    if (access("/usr/bin/gfix", X_OK) != 0) return "";
    const std::string command =
        "/usr/bin/gfix -v -full -user " + std::string(testsupport::kUser) + " '" + path + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        output += "exit " + std::to_string(pclose(pipe));
    }
    return output;
}

class Processes : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        bigBranch = dir.file("filial-grande.fb");
        makeBranch(bigBranch, "01", kDocuments, "M");
        // Another process needs the central file: the embedded engine opens
        // a database for one process at a time.
        program.central.close();
    }

    // What one clean run of each branch list, in order, leaves in a fresh
    // central database.
    void expectSameAsCleanRuns(const std::vector<std::vector<Entry>>& runs) {
        const std::string clean = dir.file("central-limpa.fb");
        testsupport::createCentralDatabase(clean);
        Program fresh;
        ASSERT_EQ(fresh.convert(clean, {{goodBranch, "01"}}).boxes, std::vector<Box>{success()});
        for (const auto& entries : runs) ASSERT_EQ(fresh.convert(clean, entries).boxes, std::vector<Box>{success()});
        fresh.central.close();
        for (const char* table : {"DOCUREC", "MOVIREC"}) {
            const testsupport::Rows expected = dump(clean, table);
            const testsupport::Rows actual = dump(centralPath, table);
            EXPECT_EQ(actual.size(), expected.size()) << table;
            EXPECT_TRUE(actual == expected) << table << " differs from a clean run:\n" << toString(actual);
        }
    }

    // Kills the run once `rows` rows have started (documents first, then
    // movements), optionally with the process stopped between rows.
    void killAfter(int rows, bool paused) {
        std::vector<std::string> options;
        if (paused) options.push_back("--pause-after=" + std::to_string(rows));
        ChildProcess child(driverArguments(centralPath, {{bigBranch, "01"}}, options));
        if (paused) {
            ASSERT_TRUE(child.waitFor("PAUSED"));
        } else {
            int started = 0;
            while (started < rows && child.waitFor("ROW ")) ++started;
            ASSERT_EQ(started, rows);
        }
        child.kill(SIGKILL);
        const int status = child.wait();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the run ended before the kill";
        EXPECT_TRUE(child.outcome().boxes.empty()) << toString(child.outcome().boxes);
    }

    long long copied(const std::string& table) {
        return testsupport::countRows(centralPath, table, "CODDOCTO STARTING WITH 'M'");
    }

    std::string bigBranch;
};

TEST_F(Processes, KilledBetweenRowsThenRunAgainLeavesWhatOneCleanRunLeaves) {
    killAfter(50, true);
    // Rows before the kill are committed, the rest is not there.
    EXPECT_EQ(copied("DOCUREC"), 49);
    EXPECT_EQ(copied("MOVIREC"), 0);
    const std::string report = validate(centralPath);
    EXPECT_TRUE(report.empty() || report == "exit 0") << report;
    const Outcome again = program.convert(centralPath, {{bigBranch, "01"}});
    EXPECT_EQ(again.boxes, std::vector<Box>{success()}) << toString(again.boxes);
    EXPECT_TRUE(again.log.empty());
    expectSameAsCleanRuns({{{bigBranch, "01"}}});
}

TEST_F(Processes, KilledWhileWritingDocumentsOrMovementsThenRunAgainLeavesWhatOneCleanRunLeaves) {
    // Not stopped: the kill lands wherever the copy happens to be, often
    // inside a write or its commit.
    for (const int rows : {30, kDocuments + 40}) {
        SCOPED_TRACE("killed after " + std::to_string(rows) + " rows started");
        killAfter(rows, false);
        const long long documents = copied("DOCUREC");
        const long long movements = copied("MOVIREC");
        EXPECT_GT(documents + movements, 0);
        EXPECT_LT(documents + movements, 2 * kDocuments) << "the kill came after the copy";
        const std::string report = validate(centralPath);
        EXPECT_TRUE(report.empty() || report == "exit 0") << report;
    }
    const Outcome again = program.convert(centralPath, {{bigBranch, "01"}});
    EXPECT_EQ(again.boxes, std::vector<Box>{success()}) << toString(again.boxes);
    EXPECT_TRUE(again.log.empty());
    expectSameAsCleanRuns({{{bigBranch, "01"}}});
}

TEST_F(Processes, SecondCopyOfTheProgramIsRefusedTheCentralDatabaseAndLosesNothing) {
    const std::string otherBranch = dir.file("filial-outra.fb");
    makeBranch(otherBranch, "02", 10, "B");
    ChildProcess first(driverArguments(centralPath, {{bigBranch, "01"}}, {"--pause-after=20"}));
    ASSERT_TRUE(first.waitFor("PAUSED"));

    ChildProcess second(driverArguments(centralPath, {{otherBranch, "02"}}));
    second.wait();
    const Outcome refused = second.outcome();
    EXPECT_EQ(refused.boxes, std::vector<Box>{centralRefused(
                                 "I/O error during \"lock\" operation for file \"" + centralPath +
                                 "\"\n-Database already opened with engine instance, incompatible with current")})
        << toString(refused.boxes);
    EXPECT_FALSE(refused.started);
    EXPECT_TRUE(second.rows().empty());

    first.writeLine("go on");
    first.wait();
    EXPECT_EQ(first.outcome().boxes, std::vector<Box>{success()}) << toString(first.outcome().boxes);
    EXPECT_EQ(first.rows().size(), 2u * kDocuments);

    // Once the first copy has ended the second one works.
    ChildProcess retry(driverArguments(centralPath, {{otherBranch, "02"}}));
    retry.wait();
    EXPECT_EQ(retry.outcome().boxes, std::vector<Box>{success()}) << toString(retry.outcome().boxes);
    expectCommittedRowsKept();
    expectSameAsCleanRuns({{{bigBranch, "01"}}, {{otherBranch, "02"}}});
    expectKeepsWorking();
}

}  // namespace
}  // namespace reliability
