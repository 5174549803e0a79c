// Copy of the receivable movements (MOVIREC): the four columns the select
// frees of NULL, the date-and-time column copied as text, dates without
// their time, and the movement's own log and progress texts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineFixture.h"
#include "transfer/TableJob.h"
#include "transfer/Tables.h"

namespace {

using enginetest::TransferTest;
using testsupport::Cell;
using testsupport::movementColumns;
using testsupport::movementRow;
using testsupport::Row;
using testsupport::Rows;

class MovementCopy : public TransferTest {};

TEST_F(MovementCopy, EveryColumnArrivesAndTheTimestampKeepsItsTime) {
    std::vector<Row> rows = {movementRow("01", "4711", "1"), movementRow("01", "4711", "2"),
                             movementRow("01", "4712", "1")};
    rows[0].set("DATAHORA", "2024-04-09 14:32:10.1234").set("DT_MOVIMENTO", "2024-04-09 18:45:00");
    rows[1].set("DATAHORA", "1999-12-31 23:59:59.9999").set("VALORMOV", "0.01").set("ORDEMLIQRECEBER", "-5");
    testsupport::insertRows(branchPath, "MOVIREC", rows);

    const transfer::JobResult result = copyMovements();
    EXPECT_EQ(result.tally.written, 3);
    ASSERT_TRUE(view.log.empty()) << view.log.front();

    Rows expected = rowsOf(branchPath, "MOVIREC", movementColumns());
    for (auto& row : expected)
        for (std::size_t c = 0; c < movementColumns().size(); ++c)
            if (movementColumns()[c].rfind("DT_", 0) == 0) row[c] = row[c]->substr(0, 10) + " 00:00:00.0000";
    EXPECT_EQ(centralRows("MOVIREC", movementColumns()), expected);

    EXPECT_EQ(testsupport::selectAsText(centralPath,
                                        "SELECT DATAHORA, DT_MOVIMENTO, VALORMOV, ORDEMLIQRECEBER FROM MOVIREC "
                                        "ORDER BY CODDOCTO, NUMORD"),
              (Rows{{Cell("2024-04-09 14:32:10.1234"), Cell("2024-04-09 00:00:00.0000"), Cell("740.25"), Cell("3")},
                    {Cell("1999-12-31 23:59:59.9999"), Cell("2024-04-09 00:00:00.0000"), Cell("0.01"), Cell("-5")},
                    {Cell("2024-04-09 14:32:10.0000"), Cell("2024-04-09 00:00:00.0000"), Cell("740.25"), Cell("3")}}));
}

TEST_F(MovementCopy, NullIntegersArriveAsZeroThroughTheDuplicatedColumns) {
    Row row = movementRow("01", "4711");
    for (const char* column : {"ORDEMLIQRECEBER", "CODLIQVALOR", "CODLIQINTEGRADA", "SEQUENCIAENCELIQ", "DT_VENCIMENTO",
                               "OBSERVACAO", "VALORDESC", "CODOPER", "CODBANCOANT"})
        row.set(column, std::nullopt);
    testsupport::insertRow(branchPath, "MOVIREC", row);

    copyMovements();
    ASSERT_TRUE(view.log.empty()) << view.log.front();
    EXPECT_EQ(testsupport::selectAsText(centralPath,
                                        "SELECT ORDEMLIQRECEBER, CODLIQVALOR, CODLIQINTEGRADA, SEQUENCIAENCELIQ, "
                                        "DT_VENCIMENTO, OBSERVACAO, VALORDESC, CODOPER, CODBANCOANT FROM MOVIREC"),
              (Rows{{Cell("0"), Cell("0"), Cell("0"), Cell("0"), Cell("1899-12-30 00:00:00.0000"), Cell(""), Cell("0"),
                     Cell(""), Cell("   ")}}));
}

TEST_F(MovementCopy, StoredIntegersWinOverNothingInTheDuplicatedColumns) {
    // With values present, the first (COALESCE) columns carry them.
    testsupport::insertRow(branchPath, "MOVIREC",
                           movementRow("01", "4711")
                               .set("ORDEMLIQRECEBER", "2147483647")
                               .set("CODLIQVALOR", "-1")
                               .set("CODLIQINTEGRADA", "0")
                               .set("SEQUENCIAENCELIQ", "99"));
    copyMovements();
    EXPECT_EQ(testsupport::selectAsText(
                  centralPath, "SELECT ORDEMLIQRECEBER, CODLIQVALOR, CODLIQINTEGRADA, SEQUENCIAENCELIQ FROM MOVIREC"),
              (Rows{{Cell("2147483647"), Cell("-1"), Cell("0"), Cell("99")}}));
}

TEST_F(MovementCopy, NullTimestampIsSentAsEmptyTextWhichATimestampColumnRefuses) {
    testsupport::insertRows(
        branchPath, "MOVIREC",
        {movementRow("01", "4711", "1").set("DATAHORA", std::nullopt), movementRow("01", "4711", "2")});
    const transfer::JobResult result = copyMovements();
    EXPECT_EQ(result.tally.written, 1);
    ASSERT_EQ(view.log.size(), 1u);
    EXPECT_EQ(view.log[0].rfind("MOVIREC: Documento = 4711 Erro: ", 0), 0u) << view.log[0];
    EXPECT_NE(view.log[0].find("conversion error from string \"\""), std::string::npos) << view.log[0];

    // A central that keeps the moment as text takes the empty text.
    testsupport::execute(centralPath, "ALTER TABLE MOVIREC ALTER DATAHORA TYPE VARCHAR(30)");
    view.log.clear();
    copyMovements();
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT NUMORD, DATAHORA FROM MOVIREC ORDER BY NUMORD"),
              (Rows{{Cell("1"), Cell("")}, {Cell("2"), Cell("2024-04-09 14:32:10.0000")}}));
}

TEST_F(MovementCopy, CompanyFilterAndRerunWithoutDuplicates) {
    testsupport::insertRows(branchPath, "MOVIREC",
                            {movementRow("01", "1", "1"), movementRow("01", "1", "2"), movementRow("02", "1", "1"),
                             movementRow("00", "2", "1")});
    EXPECT_EQ(copyMovements("01").tally.written, 2);
    testsupport::execute(branchPath, "UPDATE MOVIREC SET VALORMOV = 10 WHERE NUMORD = '2'");
    EXPECT_EQ(copyMovements("01").tally.written, 2);
    EXPECT_EQ(
        testsupport::selectAsText(centralPath,
                                  "SELECT CODEMPRESA, CODDOCTO, NUMORD, VALORMOV FROM MOVIREC ORDER BY NUMORD"),
        (Rows{{Cell("01"), Cell("1"), Cell("1"), Cell("740.25")}, {Cell("01"), Cell("1"), Cell("2"), Cell("10")}}));
}

TEST_F(MovementCopy, RefusedRowIsLoggedWithTheMovementPrefix) {
    testsupport::execute(centralPath,
                         "ALTER TABLE MOVIREC ADD CONSTRAINT CK_MOVIREC_ESTORNO CHECK (ESTORNADO IN ('S', 'N'))");
    testsupport::insertRows(branchPath, "MOVIREC",
                            {movementRow("01", "88", "1"), movementRow("01", "89", "1").set("ESTORNADO", "X"),
                             movementRow("01", "90", "1")});
    const transfer::JobResult result = copyMovements();
    EXPECT_EQ(result.tally.written, 2);
    ASSERT_EQ(view.log.size(), 1u);
    EXPECT_EQ(view.log[0].rfind("MOVIREC: Documento = 89 Erro: ", 0), 0u) << view.log[0];
    EXPECT_NE(view.log[0].find("CK_MOVIREC_ESTORNO"), std::string::npos) << view.log[0];
    EXPECT_EQ(view.rowLabels(), (std::vector<std::string>{"Integrando Movimento: 88", "Integrando Movimento: 89",
                                                          "Integrando Movimento: 90"}));
}

TEST_F(MovementCopy, BranchWithoutACoalescedColumnFailsTheJob) {
    // The select names the four columns itself, so their absence is the
    // select's failure, not a row's.
    testsupport::execute(branchPath, "ALTER TABLE MOVIREC DROP SEQUENCIAENCELIQ");
    testsupport::insertRow(branchPath, "MOVIREC", movementRow("01", "1").remove("SEQUENCIAENCELIQ"));
    try {
        copyMovements();
        FAIL() << "the job went through";
    } catch (const transfer::ConversionError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("Erro ao converter os dados! Motivo: ", 0), 0u) << message;
        EXPECT_NE(message.find("SEQUENCIAENCELIQ"), std::string::npos) << message;
    }
    EXPECT_TRUE(view.log.empty());
}

TEST_F(MovementCopy, SelectYieldsTheFourColumnsTwiceAndTheCopyReadsTheFirst) {
    // The shape of the branch result the copy relies on.
    testsupport::insertRow(branchPath, "MOVIREC", movementRow("01", "1").set("CODLIQVALOR", std::nullopt));
    std::string select = transfer::QuerySelectMoviRecFilial();
    select.replace(select.find(":CODEMPRESA"), 11, "'01'");
    const Rows rows = testsupport::selectAsText(branchPath, select);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size(), 4u + 40u);
    EXPECT_EQ(rows[0][1], Cell("0"));
    EXPECT_EQ(rows[0][4 + 29], std::nullopt);  // MOVIREC.CODLIQVALOR, the 30th column of the table
}

}  // namespace
