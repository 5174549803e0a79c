#include "BranchData.h"
#include "TestDatabases.h"
#include "WindowRun.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// The click on the converter picture really starts the run: the rows arrive
// and the success box is seen.
TEST(WindowRun, ClickCopiesEveryRowAndEndsWithTheSuccessBox) {
    testsupport::TempDir folder;
    const std::string branch = folder.file("branch.fdb");
    const bench::BranchCounts counts = bench::generateBranch(branch, 15);
    const std::string central = folder.file("central.fdb");
    bench::createCentral(central, false);

    const bench::WindowTally tally = bench::runWindow(branch, central, bench::kCompanyCodes);
    EXPECT_TRUE(tally.succeeded);
    EXPECT_TRUE(tally.problems.empty()) << tally.problems.front();
    EXPECT_GT(tally.seconds, 0);
    const bench::BranchCounts copied = bench::countRows(central);
    EXPECT_EQ(copied.documents, counts.documents);
    EXPECT_EQ(copied.movements, counts.movements);
}

// A run that cannot start is reported, not counted as a success.
TEST(WindowRun, CentralThatCannotBeOpenedIsAProblem) {
    testsupport::TempDir folder;
    const std::string branch = folder.file("branch.fdb");
    bench::generateBranch(branch, 3);

    const bench::WindowTally tally = bench::runWindow(branch, folder.file("missing.fdb"), bench::kCompanyCodes);
    EXPECT_FALSE(tally.succeeded);
    ASSERT_EQ(tally.problems.size(), 1u);
    EXPECT_NE(tally.problems.front().find("Centralizador"), std::string::npos) << tally.problems.front();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
