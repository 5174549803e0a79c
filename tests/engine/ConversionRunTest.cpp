// The run over the branch list: every entry in order, documents before
// movements, and what stops it.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "EngineFixture.h"
#include "EntryList.h"
#include "transfer/ConversionRun.h"

namespace {

using enginetest::TransferTest;
using testsupport::Cell;
using testsupport::documentRow;
using testsupport::movementRow;
using testsupport::Rows;
using Texts = std::vector<std::string>;

class ConversionRun : public TransferTest {
protected:
    std::string secondBranch = dir.file("filial-2.fb");

    void SetUp() override {
        TransferTest::SetUp();
        testsupport::createBranchDatabase(secondBranch);
        testsupport::insertRows(branchPath, "DOCUREC", {documentRow("01", "D1"), documentRow("02", "X")});
        testsupport::insertRows(branchPath, "MOVIREC", {movementRow("01", "D1", "1"), movementRow("01", "D1", "2")});
        testsupport::insertRows(secondBranch, "DOCUREC", {documentRow("02", "E1"), documentRow("02", "E2")});
        testsupport::insertRows(secondBranch, "MOVIREC", {movementRow("02", "E2", "1")});
    }
};

TEST_F(ConversionRun, TwoEntriesRunFourJobsInOrder) {
    testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
    const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view);
    EXPECT_EQ(view.rowLabels(),
              (Texts{"Integrando Documento: D1", "Integrando Movimento: D1", "Integrando Movimento: D1",
                     "Integrando Documento: E1", "Integrando Documento: E2", "Integrando Movimento: E2"}));
    // Each job ends with the display blanked.
    EXPECT_EQ(std::count(view.events.begin(), view.events.end(), "reset"), 4);
    EXPECT_EQ(summary.writtenRows, 6);
    EXPECT_TRUE(summary.clean());
    EXPECT_EQ(transfer::runEndMessage(summary), "Integração realizada com sucesso!");
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT CODEMPRESA, CODDOCTO FROM DOCUREC ORDER BY CODDOCTO"),
              (Rows{{Cell("01"), Cell("D1")}, {Cell("02"), Cell("E1")}, {Cell("02"), Cell("E2")}}));
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC"), 3);
}

TEST_F(ConversionRun, UnopenedBranchWarnsTwiceAndTheRunGoesOn) {
    const std::string missing = dir.file("nao-existe.fb");
    testsupport::EntryList list({{missing, "01"}, {secondBranch, "02"}});
    const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view);
    const std::string warning =
        "Erro ao conectar no banco de dados: " + missing + " Motivo: " + enginetest::openFailureOf(missing);
    EXPECT_EQ(view.warnings, (Texts{warning, warning}));
    EXPECT_EQ(summary.unopenedBranchJobs, 2);
    EXPECT_EQ(summary.writtenRows, 3);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 2);
}

TEST_F(ConversionRun, FailedJobStopsTheRunAndKeepsWhatWasWritten) {
    testsupport::execute(branchPath, "DROP TABLE MOVIREC");
    testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
    try {
        transfer::runConversion(connections(), list, view, view);
        FAIL() << "the run went through";
    } catch (const transfer::ConversionError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Erro ao converter os dados! Motivo: ", 0), 0u);
    }
    // The documents of the first entry stay; nothing of the second entry.
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT CODDOCTO FROM DOCUREC"), (Rows{{Cell("D1")}}));
    EXPECT_EQ(view.rowLabels(), Texts{"Integrando Documento: D1"});
    EXPECT_EQ(view.label, "");
}

TEST_F(ConversionRun, SameBranchTwiceCopiesOnce) {
    testsupport::EntryList list({{branchPath, "01"}, {branchPath, "01"}});
    const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view);
    EXPECT_EQ(summary.writtenRows, 6);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 1);
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC"), 2);
    EXPECT_TRUE(view.log.empty());
}

TEST_F(ConversionRun, ClosingTheWindowStopsBetweenRows) {
    testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
    view.stop = [&] { return view.rowLabels().size() >= 2; };
    const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view);
    EXPECT_TRUE(summary.stopped);
    EXPECT_FALSE(summary.clean());
    // The document, then the first movement; nothing after.
    EXPECT_EQ(summary.writtenRows, 2);
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC"), 1);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODEMPRESA = '02'"), 0);
    EXPECT_EQ(view.label, "");
}

}  // namespace
