// Values that are NULL, empty, unconvertible, huge or made of odd bytes:
// each row either arrives exactly as the copy rules say, or fails alone
// with one log line that names it, and the rows around it arrive.

#include <gtest/gtest.h>

#include <random>

#include "Fixture.h"

namespace reliability {
namespace {

using testsupport::Cell;

std::string editTable(std::string sql, const std::string& table, const std::string& from, const std::string& to) {
    const auto start = sql.find("CREATE TABLE " + table + " (");
    const auto end = sql.find(");", start);
    const auto at = sql.find(from, start);
    if (start == std::string::npos || at == std::string::npos || at > end)
        throw std::runtime_error("schema has no \"" + from + "\" in " + table);
    return sql.replace(at, from.size(), to);
}

std::string everyByteFrom1To255() {
    std::string bytes;
    for (int c = 1; c <= 255; ++c) bytes += static_cast<char>(c);
    return bytes;
}

class BadValues : public FaultTest {
protected:
    std::string branch() { return dir.file("filial-valores.fb"); }

    Cell central(const std::string& column, const std::string& key, const std::string& table = "DOCUREC") {
        return testsupport::selectValue(centralPath,
                                        "SELECT " + column + " FROM " + table + " WHERE CODDOCTO = '" + key + "'");
    }
};

TEST_F(BadValues, NullInEachReadKindArrivesAsEmptyZeroOrTheZeroDate) {
    testsupport::createBranchDatabase(branch());
    testsupport::insertRows(branch(), "DOCUREC",
                            {testsupport::documentRow("01", "N0001")
                                 .set("OBSERVACAO", std::nullopt)       // text
                                 .set("VALORPAGO", std::nullopt)        // floating-point
                                 .set("DT_VENCIMENTO", std::nullopt)    // date-time
                                 .set("CODPROJ", std::nullopt)          // integer
                                 .setBlob("ANOTACOES", std::nullopt)})  // bytes
        ;
    testsupport::insertRows(branch(), "MOVIREC",
                            {testsupport::movementRow("01", "N0001")
                                 .set("CODOPER", std::nullopt)
                                 .set("JUROSMULTA", std::nullopt)
                                 .set("DT_VENCIMENTO", std::nullopt)
                                 .set("ORDEMLIQRECEBER", std::nullopt)
                                 .set("CODLIQVALOR", std::nullopt)
                                 .set("CODLIQINTEGRADA", std::nullopt)
                                 .set("SEQUENCIAENCELIQ", std::nullopt)});
    const Outcome outcome = program.convert(centralPath, {{branch(), "01"}});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{success()}) << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty());
    EXPECT_EQ(central("OBSERVACAO", "N0001"), Cell(""));
    // Dialect 1 keeps NUMERIC(15,2) as double precision: read back as "0".
    EXPECT_EQ(central("VALORPAGO", "N0001"), Cell("0"));
    EXPECT_EQ(central("DT_VENCIMENTO", "N0001"), Cell("1899-12-30 00:00:00.0000"));
    EXPECT_EQ(central("CODPROJ", "N0001"), Cell("0"));
    // An empty byte sequence reaches the central database as an empty blob.
    EXPECT_EQ(central("ANOTACOES", "N0001"), Cell(""));
    EXPECT_EQ(central("CODOPER", "N0001", "MOVIREC"), Cell(""));
    EXPECT_EQ(central("JUROSMULTA", "N0001", "MOVIREC"), Cell("0"));
    EXPECT_EQ(central("DT_VENCIMENTO", "N0001", "MOVIREC"), Cell("1899-12-30 00:00:00.0000"));
    for (const char* column : {"ORDEMLIQRECEBER", "CODLIQVALOR", "CODLIQINTEGRADA", "SEQUENCIAENCELIQ"})
        EXPECT_EQ(central(column, "N0001", "MOVIREC"), Cell("0")) << column;
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(BadValues, EmptyTextIntoANumericColumnFailsThatRowAlone) {
    testsupport::createBranchDatabase(branch());
    // ORDEM travels as text; NULL reads as the empty text, which the
    // central SMALLINT cannot take.
    testsupport::insertRows(
        branch(), "DOCUREC",
        {testsupport::documentRow("01", "E0001"), testsupport::documentRow("01", "E0002").set("ORDEM", std::nullopt),
         testsupport::documentRow("01", "E0003")});
    const Outcome outcome = program.convert(centralPath, {{branch(), "01"}});
    EXPECT_EQ(outcome.log, std::vector<std::string>{"DOCUREC: Documento = E0002 Erro: Dynamic SQL Error\n-SQL error "
                                                    "code = -303\n-conversion error from string \"\""});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO IN ('E0001', 'E0003')"), 2);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO = 'E0002'"), 0);
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(BadValues, TextTheCentralColumnCannotConvertFailsThatRowAlone) {
    testsupport::createDatabase(branch(), editTable(testsupport::schemaText("branch.sql"), "DOCUREC",
                                                    "ORDEM               SMALLINT", "ORDEM VARCHAR(10)"));
    testsupport::insertRows(branch(), "DOCUREC",
                            {testsupport::documentRow("01", "C0001").set("ORDEM", "7"),
                             testsupport::documentRow("01", "C0002").set("ORDEM", "sete"),
                             testsupport::documentRow("01", "C0003").set("ORDEM", " 12 ")});
    const Outcome outcome = program.convert(centralPath, {{branch(), "01"}});
    EXPECT_EQ(outcome.log, std::vector<std::string>{"DOCUREC: Documento = C0002 Erro: Dynamic SQL Error\n-SQL error "
                                                    "code = -303\n-conversion error from string \"sete\""});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(central("ORDEM", "C0001"), Cell("7"));
    EXPECT_EQ(central("ORDEM", "C0003"), Cell("12"));
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(BadValues, TextThatIsNoNumberFailsToReadAndOnlyThatRowIsLogged) {
    // A branch that keeps an amount as text; it is read as a number.
    testsupport::createDatabase(branch(), editTable(testsupport::schemaText("branch.sql"), "DOCUREC",
                                                    "VALORVENDA          NUMERIC(15,2)", "VALORVENDA VARCHAR(20)"));
    testsupport::insertRows(branch(), "DOCUREC",
                            {testsupport::documentRow("01", "R0001").set("VALORVENDA", "1500.75"),
                             testsupport::documentRow("01", "R0002").set("VALORVENDA", "1.500,75"),
                             testsupport::documentRow("01", "R0003").set("VALORVENDA", "-3")});
    const Outcome outcome = program.convert(centralPath, {{branch(), "01"}});
    EXPECT_EQ(outcome.log, std::vector<std::string>{
                               "DOCUREC: Documento = R0002 Erro: '1.500,75' is not a valid floating point value"});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(central("VALORVENDA", "R0001"), Cell("1500.75"));
    EXPECT_EQ(central("VALORVENDA", "R0003"), Cell("-3"));
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO = 'R0002'"), 0);
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(BadValues, BlobOfSeveralMegabytesArrivesByteForByte) {
    std::string notes(6 * 1024 * 1024 + 12345, '\0');
    std::mt19937 random(20240315);
    for (char& c : notes) c = static_cast<char>(random());
    testsupport::createBranchDatabase(branch());
    testsupport::insertRows(
        branch(), "DOCUREC",
        {testsupport::documentRow("01", "B0001"), testsupport::documentRow("01", "B0002").setBlob("ANOTACOES", notes),
         testsupport::documentRow("01", "B0003")});
    const Outcome outcome = program.convert(centralPath, {{branch(), "01"}});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{success()}) << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty());
    const Cell arrived = central("ANOTACOES", "B0002");
    ASSERT_TRUE(arrived);
    EXPECT_EQ(arrived->size(), notes.size());
    EXPECT_TRUE(*arrived == notes) << "the blob's bytes differ";
    EXPECT_EQ(central("ANOTACOES", "B0003"), testsupport::documentRow("01", "x").value("ANOTACOES"));
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(BadValues, TextHoldingEveryByteFrom1To255ArrivesUnchangedAndTheLogShowsOddKeys) {
    // Both tables widened so the 255 bytes fit; no character set anywhere.
    testsupport::createDatabase(branch(), editTable(testsupport::schemaText("branch.sql"), "DOCUREC",
                                                    "OBSERVACAO          VARCHAR(200)", "OBSERVACAO VARCHAR(255)"));
    const std::string central2 = dir.file("central-larga.fb");
    testsupport::createDatabase(central2, editTable(testsupport::schemaText("central.sql"), "DOCUREC",
                                                    "OBSERVACAO          VARCHAR(200)", "OBSERVACAO VARCHAR(255)"));
    const std::string bytes = everyByteFrom1To255();
    // A key in Windows-1252 bytes ("Çã€") whose row fails: its log line
    // must still name it readably.
    const std::string oddKey = "\xC7\xE3\x80-9";
    testsupport::insertRows(branch(), "DOCUREC",
                            {testsupport::documentRow("01", "Y0001").set("OBSERVACAO", bytes),
                             testsupport::documentRow("01", oddKey).set("ORDEM", std::nullopt),
                             testsupport::documentRow("01", "Y0003").set("CODCLIENTE", "\xFF\x01\x7F")});
    const Outcome outcome = program.convert(central2, {{branch(), "01"}});
    EXPECT_EQ(outcome.log,
              std::vector<std::string>{"DOCUREC: Documento = \u00C7\u00E3\u20AC-9 Erro: Dynamic SQL Error\n-SQL error "
                                       "code = -303\n-conversion error from string \"\""});
    EXPECT_EQ(outcome.boxes, std::vector<Box>{endWithErrors(1, 0)}) << toString(outcome.boxes);
    EXPECT_EQ(testsupport::selectValue(central2, "SELECT OBSERVACAO FROM DOCUREC WHERE CODDOCTO = 'Y0001'"),
              Cell(bytes));
    EXPECT_EQ(testsupport::selectValue(central2, "SELECT CODCLIENTE FROM DOCUREC WHERE CODDOCTO = 'Y0003'"),
              Cell("\xFF\x01\x7F"));
    expectCommittedRowsKept();
    expectKeepsWorking();
}

}  // namespace
}  // namespace reliability
