// Branch and central tables that do not have the shape the copy expects:
// each mismatch ends either as one log line per refused row with the
// server's or the reader's reason, or as the table job's failure that stops
// the run; nothing committed is lost and the next run works.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "Fixture.h"

namespace reliability {
namespace {

using testsupport::Row;

// The schema text with `from` replaced by `to` once, inside the DOCUREC
// table (the first table of both schema files).
std::string editDocurec(std::string sql, const std::string& from, const std::string& to) {
    const auto table = sql.find("CREATE TABLE DOCUREC");
    const auto end = sql.find(");", table);
    const auto at = sql.find(from, table);
    if (table == std::string::npos || at == std::string::npos || at > end)
        throw std::runtime_error("schema has no \"" + from + "\" in DOCUREC");
    return sql.replace(at, from.size(), to);
}

// The branch DOCUREC with its columns in reverse order and two more columns
// the copy does not know.
std::string reorderedBranchSchema() {
    std::string sql = testsupport::schemaText("branch.sql");
    const auto open = sql.find("CREATE TABLE DOCUREC (");
    const auto body = sql.find('\n', open) + 1;
    const auto constraint = sql.find("    CONSTRAINT PK_DOCUREC", body);
    std::vector<std::string> columns;
    std::istringstream lines(sql.substr(body, constraint - body));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) columns.push_back(line.back() == ',' ? line.substr(0, line.size() - 1) : line);
    std::reverse(columns.begin(), columns.end());
    columns.insert(columns.begin() + 5, "    FILIAL_EXTRA VARCHAR(30) DEFAULT 'só na filial'");
    columns.push_back("    OUTRA_DATA DATE DEFAULT '2001-01-01'");
    std::string block;
    for (const std::string& column : columns) block += column + ",\n";
    return sql.replace(body, constraint - body, block);
}

class SchemaMismatch : public FaultTest {
protected:
    std::string otherCentral(const std::string& name, const std::string& sql) {
        const std::string path = dir.file(name);
        testsupport::createDatabase(path, sql);
        return path;
    }

    // `count` document log lines for D0001.. with `reason`.
    static std::vector<std::string> documentLines(int count, const std::string& reason) {
        std::vector<std::string> lines;
        for (int i = 1; i <= count; ++i) lines.push_back("DOCUREC: Documento = " + docKey("D", i) + " Erro: " + reason);
        return lines;
    }

    // A central database that refuses every document: each gets one log
    // line with `reason`, movements still arrive, the run ends with the
    // warning, and switching back to the usual central database works.
    void expectEveryDocumentRefused(const std::string& central, const std::string& reason) {
        const std::string branch = dir.file("filial.fb");
        makeBranch(branch, "01", 3);
        const Outcome outcome = program.convert(central, {{branch, "01"}});
        EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(3, 0)}) << toString(outcome.boxes);
        EXPECT_EQ(outcome.log, documentLines(3, reason));
        EXPECT_EQ(keys(central, "MOVIREC"), (std::vector<std::string>{"D0001", "D0002", "D0003"}));
        expectCommittedRowsKept();
        expectKeepsWorking();
    }
};

TEST_F(SchemaMismatch, BranchWithoutTheDocumentTableStopsTheRunAtThatJob) {
    const std::string branch = dir.file("sem-docurec.fb");
    makeBranch(branch, "01", 2);
    testsupport::execute(branch, "DROP TABLE DOCUREC");
    const std::string next = dir.file("proxima.fb");
    makeBranch(next, "03", 2, "S");
    const Outcome outcome = program.convert(centralPath, {{branch, "01"}, {next, "03"}});
    EXPECT_EQ(outcome.failure, "Erro ao converter os dados! Motivo: " + branch +
                                   " (DOCUREC): Dynamic SQL Error\n-SQL error code = -204\n"
                                   "-Table unknown\n-DOCUREC\n-At line 1, column 15");
    EXPECT_TRUE(outcome.boxes.empty()) << "no end box after a failed job: " << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty());
    // The run stopped there: neither the entry's movements nor the next entry.
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC", "CODDOCTO STARTING WITH 'D'"), 0);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODEMPRESA = '03'"), 0);
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(SchemaMismatch, BranchWithoutCodDoctoStopsTheJobAtItsFirstRowWithoutALogLine) {
    const std::string branch = dir.file("sem-coddocto.fb");
    testsupport::createBranchDatabase(branch);
    testsupport::executeScript(branch,
                               "ALTER TABLE DOCUREC DROP CONSTRAINT PK_DOCUREC;"
                               "ALTER TABLE DOCUREC DROP CODDOCTO;");
    testsupport::insertRows(branch, "DOCUREC",
                            {testsupport::documentRow("01", "x").remove("CODDOCTO"),
                             testsupport::documentRow("01", "y").remove("CODDOCTO")});
    const Outcome outcome = program.convert(centralPath, {{branch, "01"}});
    EXPECT_EQ(outcome.failure,
              "Erro ao converter os dados! Motivo: " + branch + " (DOCUREC): Field 'CodDocto' not found");
    EXPECT_TRUE(outcome.log.empty());
    EXPECT_TRUE(outcome.boxes.empty()) << toString(outcome.boxes);
    EXPECT_EQ(dump(centralPath, "DOCUREC"), committedDocs) << "not one upsert may have run";
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(SchemaMismatch, BranchWithoutAnotherMappedColumnLogsEveryDocumentAndCopiesTheMovements) {
    const std::string branch = dir.file("sem-codmoeda.fb");
    makeBranch(branch, "01", 3);
    testsupport::execute(branch, "ALTER TABLE DOCUREC DROP CODMOEDA");
    const Outcome outcome = program.convert(centralPath, {{branch, "01"}});
    EXPECT_EQ(outcome.log, documentLines(3, "Field 'CodMoeda' not found"));
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(3, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO STARTING WITH 'D'"), 0);
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC", "CODDOCTO STARTING WITH 'D'"), 3);
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(SchemaMismatch, BranchWithExtraAndReorderedColumnsArrivesAsFromTheUsualBranch) {
    const std::string usual = dir.file("usual.fb");
    const std::string reordered = dir.file("reordenada.fb");
    makeBranch(usual, "01", 4);
    testsupport::createDatabase(reordered, reorderedBranchSchema());
    fillBranch(reordered, "01", 4);
    ASSERT_NE(testsupport::selectAsText(reordered, "SELECT FIRST 1 * FROM DOCUREC").at(0).size(),
              testsupport::selectAsText(usual, "SELECT FIRST 1 * FROM DOCUREC").at(0).size());
    const std::string fromUsual = dir.file("central-usual.fb");
    const std::string fromReordered = dir.file("central-reordenada.fb");
    testsupport::createCentralDatabase(fromUsual);
    testsupport::createCentralDatabase(fromReordered);
    EXPECT_EQ(program.convert(fromUsual, {{usual, "01"}}).boxes, std::vector<Box>{success()});
    const Outcome outcome = program.convert(fromReordered, {{reordered, "01"}});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{success()}) << toString(outcome.boxes);
    const testsupport::Rows expected = dump(fromUsual, "DOCUREC");
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(dump(fromReordered, "DOCUREC"), expected) << toString(dump(fromReordered, "DOCUREC"));
    EXPECT_EQ(dump(fromReordered, "MOVIREC"), dump(fromUsual, "MOVIREC"));
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(SchemaMismatch, CentralWithoutTheDocumentTableRefusesEveryDocument) {
    const std::string central = otherCentral("central-sem-docurec.fb", testsupport::schemaText("central.sql"));
    testsupport::execute(central, "DROP TABLE DOCUREC");
    expectEveryDocumentRefused(
        central, "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-DOCUREC\n-At line 1, column 23");
}

TEST_F(SchemaMismatch, CentralWithoutAColumnRefusesEveryDocument) {
    const std::string central = otherCentral("central-sem-coluna.fb", testsupport::schemaText("central.sql"));
    testsupport::execute(central, "ALTER TABLE DOCUREC DROP CODMOEDA");
    expectEveryDocumentRefused(
        central, "Dynamic SQL Error\n-SQL error code = -206\n-Column unknown\n-CODMOEDA\n-At line 1, column 114");
}

TEST_F(SchemaMismatch, CentralWithoutAPrimaryKeyRefusesEveryDocument) {
    const std::string central = otherCentral("central-sem-chave.fb", testsupport::schemaText("central.sql"));
    testsupport::execute(central, "ALTER TABLE DOCUREC DROP CONSTRAINT PK_DOCUREC");
    expectEveryDocumentRefused(central, "Dynamic SQL Error\n-Primary key required on table DOCUREC");
}

TEST_F(SchemaMismatch, CentralTextColumnTooShortRefusesOnlyTheRowsThatDoNotFit) {
    const std::string central =
        otherCentral("central-curta.fb", editDocurec(testsupport::schemaText("central.sql"),
                                                     "OBSERVACAO          VARCHAR(200)", "OBSERVACAO VARCHAR(10)"));
    const std::string branch = dir.file("filial.fb");
    testsupport::createBranchDatabase(branch);
    testsupport::insertRows(branch, "DOCUREC",
                            {testsupport::documentRow("01", "D0001").set("OBSERVACAO", "curta"),
                             testsupport::documentRow("01", "D0002").set("OBSERVACAO", "Venda a prazo, 30 dias"),
                             testsupport::documentRow("01", "D0003").set("OBSERVACAO", "1234567890")});
    const Outcome outcome = program.convert(central, {{branch, "01"}});
    // The server names the text's own length (22) as the actual one.
    EXPECT_EQ(outcome.log,
              std::vector<std::string>{"DOCUREC: Documento = D0002 Erro: Dynamic SQL Error\n-SQL error code = -303\n"
                                       "-arithmetic exception, numeric overflow, or string truncation\n"
                                       "-string right truncation\n-expected length 10, actual 22"});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(keys(central, "DOCUREC"), (std::vector<std::string>{"D0001", "D0003"}));
    EXPECT_EQ(testsupport::selectValue(central, "SELECT OBSERVACAO FROM DOCUREC WHERE CODDOCTO = 'D0003'"),
              "1234567890");
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(SchemaMismatch, CentralNumericColumnThatOverflowsRefusesOnlyThatRow) {
    const std::string central = otherCentral(
        "central-estreita.fb", editDocurec(testsupport::schemaText("central.sql"), "VALORDOCTO          NUMERIC(15,2)",
                                           "VALORDOCTO NUMERIC(4,2)"));
    const std::string branch = dir.file("filial.fb");
    testsupport::createBranchDatabase(branch);
    testsupport::insertRows(branch, "DOCUREC",
                            {testsupport::documentRow("01", "D0001").set("VALORDOCTO", "99.99"),
                             testsupport::documentRow("01", "D0002").set("VALORDOCTO", "1480.5"),
                             testsupport::documentRow("01", "D0003").set("VALORDOCTO", "-12.5")});
    const Outcome outcome = program.convert(central, {{branch, "01"}});
    EXPECT_EQ(outcome.log,
              std::vector<std::string>{"DOCUREC: Documento = D0002 Erro: Dynamic SQL Error\n-SQL error code = -303\n"
                                       "-arithmetic exception, numeric overflow, or string truncation\n"
                                       "-numeric value is out of range"});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(keys(central, "DOCUREC"), (std::vector<std::string>{"D0001", "D0003"}));
    EXPECT_EQ(testsupport::selectValue(central, "SELECT VALORDOCTO FROM DOCUREC WHERE CODDOCTO = 'D0001'"), "99.99");
    expectCommittedRowsKept();
    expectKeepsWorking();
}

}  // namespace
}  // namespace reliability
