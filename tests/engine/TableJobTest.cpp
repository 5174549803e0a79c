// The table job around the copy: opening the two connections and their
// messages, what the progress display shows, and a branch that changes
// between the counting pass and the copy pass.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "db/Query.h"
#include "transfer/Connections.h"
#include "transfer/RowCopy.h"
#include "transfer/TableJob.h"

namespace {

using enginetest::openFailureOf;
using enginetest::TransferTest;
using testsupport::documentRow;
using testsupport::movementRow;
using Texts = std::vector<std::string>;

const std::string kCentralFailure =
    std::string("Não foi possível conectar ao banco de dados Centralizador") + "\r" + "Motivo: ";

// ---------------------------------------------------------------------------
// Connections

class Connecting : public TransferTest {};

TEST_F(Connecting, EmptyCentralPathIsReportedAndNothingIsOpened) {
    db::Connection fresh;
    EXPECT_FALSE(transfer::ConectaBancoCentralizador(fresh, "", view));
    EXPECT_EQ(view.errors, Texts{kCentralFailure + "Caminho do banco centralizador não informado!"});
    EXPECT_FALSE(fresh.isAttached());
    EXPECT_TRUE(view.warnings.empty());
}

TEST_F(Connecting, CentralThatCannotBeOpenedCarriesTheClientReason) {
    const std::string missing = dir.file("central-que-nao-existe.fb");
    db::Connection fresh;
    EXPECT_FALSE(transfer::ConectaBancoCentralizador(fresh, missing, view));
    EXPECT_EQ(view.errors, Texts{kCentralFailure + openFailureOf(missing)});
    EXPECT_FALSE(fresh.isAttached());
}

TEST_F(Connecting, CentralOpensOnThePathAndFollowsAChangedPath) {
    db::Connection fresh;
    ASSERT_TRUE(transfer::ConectaBancoCentralizador(fresh, centralPath, view));
    EXPECT_TRUE(fresh.isAttached());
    EXPECT_EQ(fresh.parameters().value("Database"), centralPath);
    EXPECT_EQ(fresh.parameters().lines().size(), 14u);
    EXPECT_EQ(fresh.parameters().lines()[1], "Database=" + centralPath);

    // Every press attaches afresh: a file replaced under the same path in
    // between is the one that receives the rows.
    const auto serial = fresh.attachmentSerial();
    const std::string replacement = dir.file("nova-central.fb");
    testsupport::createCentralDatabase(replacement);
    ASSERT_EQ(std::rename(replacement.c_str(), centralPath.c_str()), 0);
    ASSERT_TRUE(transfer::ConectaBancoCentralizador(fresh, centralPath, view));
    EXPECT_GT(fresh.attachmentSerial(), serial);
    testsupport::insertRow(branchPath, "DOCUREC", testsupport::documentRow("01", "R1"));
    transfer::ConverteDocuRec({fresh, branch}, branchPath, "01", view, view);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 1);

    const std::string other = dir.file("outra-central.fb");
    testsupport::createCentralDatabase(other);
    ASSERT_TRUE(transfer::ConectaBancoCentralizador(fresh, other, view));
    EXPECT_EQ(fresh.attachedDatabase(), other);
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(Connecting, BranchIsAttachedAgainEveryTime) {
    ASSERT_TRUE(transfer::ConectaBancoFilial(branch, branchPath, view));
    const auto serial = branch.attachmentSerial();
    ASSERT_TRUE(transfer::ConectaBancoFilial(branch, branchPath, view));
    EXPECT_GT(branch.attachmentSerial(), serial);
    EXPECT_EQ(branch.parameters().lines()[1], "Database=" + branchPath);
    EXPECT_TRUE(view.warnings.empty());
}

TEST_F(Connecting, BranchThatCannotBeOpenedIsAWarningWithPathAndReason) {
    const std::string notADatabase = dir.file("notas.fb");
    std::ofstream(notADatabase) << std::string(20000, 'x');
    ASSERT_TRUE(transfer::ConectaBancoFilial(branch, branchPath, view));
    EXPECT_FALSE(transfer::ConectaBancoFilial(branch, notADatabase, view));
    EXPECT_EQ(view.warnings,
              Texts{"Erro ao conectar no banco de dados: " + notADatabase + " Motivo: " + openFailureOf(notADatabase)});
    EXPECT_FALSE(branch.isAttached());  // the previous branch was closed first
}

// ---------------------------------------------------------------------------
// A branch that cannot be opened

TEST_F(TransferTest, UnopenedBranchEndsTheJobQuietlyWithOneWarning) {
    const std::string missing = dir.file("filial-sumida.fb");
    transfer::JobResult result;
    ASSERT_NO_THROW(result = transfer::ConverteDocuRec(connections(), missing, "01", view, view));
    EXPECT_FALSE(result.branchOpened);
    EXPECT_EQ(result.tally.written + result.tally.failed, 0);
    ASSERT_NO_THROW(result = transfer::ConverteMoviRec(connections(), missing, "01", view, view));
    EXPECT_FALSE(result.branchOpened);

    const std::string warning = "Erro ao conectar no banco de dados: " + missing + " Motivo: " + openFailureOf(missing);
    EXPECT_EQ(view.warnings, (Texts{warning, warning}));
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(view.label, "");
    EXPECT_EQ(view.gaugePosition, 0);
}

// ---------------------------------------------------------------------------
// Progress

class Progress : public TransferTest {};

TEST_F(Progress, LabelAndGaugeFollowTheRowsAndAreResetAfterTheJob) {
    testsupport::insertRows(
        branchPath, "DOCUREC",
        {documentRow("01", "4711"), documentRow("01", "4712"), documentRow("01", "4713"), documentRow("02", "9999")});
    int maximumSeen = -1, positionAtEnd = -1;
    view.onProcessEvents = [&](int) {
        maximumSeen = view.gaugeMaximum;
        positionAtEnd = view.gaugePosition;
    };
    copyDocuments();

    EXPECT_EQ(view.labels, (Texts{"Processando...", "Integrando Documento: 4711", "Integrando Documento: 4712",
                                  "Integrando Documento: 4713", ""}));
    EXPECT_EQ(maximumSeen, 3);
    EXPECT_EQ(positionAtEnd, 3);  // on the last row, before the job's clean-up
    EXPECT_EQ(view.steps, 3);
    EXPECT_EQ(view.gaugePosition, 0);
    // Events are let through once per row while counting and once per row
    // while copying.
    EXPECT_EQ(view.processed, 6);
    // The gauge's maximum is set once, after the counting and before any row.
    EXPECT_EQ(std::count_if(view.events.begin(), view.events.end(),
                            [](const std::string& e) { return e.rfind("max:", 0) == 0; }),
              1);
    EXPECT_EQ(view.events.back(), "reset");
}

TEST_F(Progress, EmptyResultCopiesNothingAndLeavesTheDisplayBlank) {
    testsupport::insertRow(branchPath, "DOCUREC", documentRow("02", "1"));
    const transfer::JobResult result = copyDocuments("01");
    EXPECT_TRUE(result.branchOpened);
    EXPECT_EQ(result.tally.written, 0);
    EXPECT_EQ(view.labels, Texts{""});
    EXPECT_EQ(view.steps, 0);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 0);
}

TEST_F(Progress, DisplayIsResetWhenTheJobFails) {
    testsupport::insertRow(branchPath, "MOVIREC", movementRow("01", "1"));
    testsupport::execute(branchPath, "ALTER TABLE MOVIREC DROP CONSTRAINT PK_MOVIREC");
    testsupport::execute(branchPath, "ALTER TABLE MOVIREC ALTER CODDOCTO TO NUMDOCTO");
    EXPECT_THROW(copyMovements(), transfer::ConversionError);
    EXPECT_EQ(view.label, "");
    EXPECT_EQ(view.gaugePosition, 0);
    EXPECT_EQ(view.events.back(), "reset");
    EXPECT_TRUE(view.log.empty());
}

TEST_F(Progress, RowsAddedBetweenCountingAndCopyingAreCopiedToo) {
    testsupport::insertRows(branchPath, "DOCUREC", {documentRow("01", "1"), documentRow("01", "2")});
    view.onProcessEvents = [&](int call) {
        if (call == 2)  // on the last row of the counting pass
            testsupport::insertRow(branchPath, "DOCUREC", documentRow("01", "3"));
    };
    const transfer::JobResult result = copyDocuments();
    EXPECT_EQ(result.tally.written, 3);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 3);
    EXPECT_EQ(view.gaugeMaximum, 2);
    EXPECT_EQ(view.highestPosition, 2);  // stops at its maximum
}

TEST_F(Progress, RowsRemovedBetweenCountingAndCopyingAreNotCopied) {
    testsupport::insertRows(branchPath, "DOCUREC",
                            {documentRow("01", "1"), documentRow("01", "2"), documentRow("01", "3")});
    view.onProcessEvents = [&](int call) {
        if (call == 3)  // on the last row of the counting pass
            testsupport::execute(branchPath, "DELETE FROM DOCUREC WHERE CODDOCTO = '2'");
    };
    const transfer::JobResult result = copyDocuments();
    EXPECT_EQ(result.tally.written, 2);
    EXPECT_EQ(view.gaugeMaximum, 3);
    EXPECT_EQ(view.highestPosition, 2);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO = '2'"), 0);
}

TEST_F(Progress, LogLinesAccumulateAcrossTablesAndJobs) {
    testsupport::execute(centralPath, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_D CHECK (CODCLIENTE <> 'BLOQ')");
    testsupport::execute(centralPath, "ALTER TABLE MOVIREC ADD CONSTRAINT CK_M CHECK (CODCLIENTE <> 'BLOQ')");
    testsupport::insertRow(branchPath, "DOCUREC", documentRow("01", "7").set("CODCLIENTE", "BLOQ"));
    testsupport::insertRow(branchPath, "MOVIREC", movementRow("01", "7").set("CODCLIENTE", "BLOQ"));
    copyDocuments();
    copyMovements();
    copyDocuments();
    ASSERT_EQ(view.log.size(), 3u);
    EXPECT_EQ(view.log[0].rfind("DOCUREC: Documento = 7 Erro: ", 0), 0u);
    EXPECT_EQ(view.log[1].rfind("MOVIREC: Documento = 7 Erro: ", 0), 0u);
    EXPECT_EQ(view.log[2].rfind("DOCUREC: Documento = 7 Erro: ", 0), 0u);
}

// ---------------------------------------------------------------------------
// The row counter on its own

TEST_F(TransferTest, RowCounterCountsEveryRowAndLeavesTheQueryAtItsEnd) {
    testsupport::insertRows(branchPath, "DOCUREC",
                            {documentRow("01", "1"), documentRow("01", "2"), documentRow("01", "3")});
    branch.parameters().setValue("Database", branchPath);
    branch.open();
    db::Query query(branch);
    query.addSql("SELECT * FROM DOCUREC");
    query.open();
    EXPECT_EQ(transfer::retornaQuantRegistros(query, view), 3);
    EXPECT_TRUE(query.eof());
    EXPECT_EQ(view.processed, 3);
    // Counting again runs the select again.
    testsupport::insertRow(branchPath, "DOCUREC", documentRow("01", "4"));
    EXPECT_EQ(transfer::retornaQuantRegistros(query, view), 4);
}

}  // namespace
