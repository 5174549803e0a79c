#pragma once

// The frame of every fault case: a central database that already holds the
// committed rows of an earlier good run, the program's long-lived
// connections, and the two checks that end each case — the committed rows
// are all still there, unchanged, and a following good conversion works.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Harness.h"

namespace reliability {

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        centralPath = dir.file("central.fb");
        testsupport::createCentralDatabase(centralPath);
        goodBranch = dir.file("filial-boa.fb");
        makeBranch(goodBranch, "01", 3, "G");
        const Outcome first = program.convert(centralPath, {{goodBranch, "01"}});
        ASSERT_EQ(first.boxes, std::vector<Box>{success()}) << toString(first.boxes);
        committedDocs = dump(centralPath, "DOCUREC");
        committedMovs = dump(centralPath, "MOVIREC");
        ASSERT_EQ(committedDocs.size(), 3u);
        ASSERT_EQ(committedMovs.size(), 3u);
    }

    // Rows committed before the fault are all present with the same contents.
    void expectCommittedRowsKept() {
        expectRowsKept(centralPath, "DOCUREC", committedDocs);
        expectRowsKept(centralPath, "MOVIREC", committedMovs);
    }

    static void expectRowsKept(const std::string& path, const std::string& table, const testsupport::Rows& before) {
        const testsupport::Rows now = dump(path, table);
        for (const auto& row : before) {
            bool found = false;
            for (const auto& other : now) found = found || other == row;
            EXPECT_TRUE(found) << table << " lost or changed a committed row:\n"
                               << toString({row}) << "now holds:\n"
                               << toString(now);
        }
    }

    // A good branch converted right after the fault: success box, no log
    // line, its four documents and movements in the central database.
    void expectKeepsWorking(const std::string& central = {}) {
        const std::string target = central.empty() ? centralPath : central;
        const std::string next = dir.file("filial-seguinte-" + std::to_string(++followUps) + ".fb");
        const std::string prefix = "K" + std::to_string(followUps);
        makeBranch(next, "02", 4, prefix);
        const Outcome after = program.convert(target, {{next, "02"}});
        EXPECT_EQ(after.boxes, std::vector<Box>{success()}) << toString(after.boxes);
        EXPECT_TRUE(after.log.empty()) << after.log.front();
        EXPECT_EQ(
            testsupport::countRows(target, "DOCUREC", "CODEMPRESA = '02' AND CODDOCTO STARTING WITH '" + prefix + "'"),
            4);
        EXPECT_EQ(
            testsupport::countRows(target, "MOVIREC", "CODEMPRESA = '02' AND CODDOCTO STARTING WITH '" + prefix + "'"),
            4);
    }

    testsupport::TempDir dir;
    Program program;
    std::string centralPath;
    std::string goodBranch;
    testsupport::Rows committedDocs;
    testsupport::Rows committedMovs;
    int followUps = 0;
};

}  // namespace reliability
