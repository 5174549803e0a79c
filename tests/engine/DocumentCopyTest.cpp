// Copy of the receivable documents (DOCUREC) from a branch database into the
// central database: values, NULL rules, dates, the notes blob, the company
// filter, re-runs, failing rows and branches of the wrong shape.

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineFixture.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "db/SystemTables.h"
#include "transfer/TableJob.h"
#include "transfer/Tables.h"
#include "transfer/WrittenValue.h"

namespace {

using enginetest::TransferTest;
using testsupport::Cell;
using testsupport::documentColumns;
using testsupport::documentRow;
using testsupport::Row;
using testsupport::Rows;

constexpr const char* kZeroDate = "1899-12-30 00:00:00.0000";

bool isDateColumn(const std::string& column) { return column.rfind("DT_", 0) == 0; }

// The branch rows as the central table should hold them: the same values,
// the three dates without their time of day.
Rows withDatesOnly(Rows rows) {
    const auto& columns = documentColumns();
    for (auto& row : rows)
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (isDateColumn(columns[i]) && row[i]) row[i] = row[i]->substr(0, 10) + " 00:00:00.0000";
    return rows;
}

class DocumentCopy : public TransferTest {};

TEST_F(DocumentCopy, EveryColumnArrivesWithTheDatesLosingOnlyTheirTime) {
    std::vector<Row> rows = {documentRow("01", "4711"), documentRow("01", "4712"), documentRow("01", "4713")};
    rows[1]
        .set("DT_EMISSAO", "2024-03-11 23:59:59.9999")
        .set("DT_VENCIMENTO", "1850-01-01 12:00:00")
        .set("VALORDOCTO", "-0.01")
        .set("COMISSAO", "99.9999")
        .set("CODPROJ", "-2147483648")
        .set("QUANTITENS", "1234567.125")
        .set("CODMOEDA", "U");
    rows[2].set("VALORVENDA", "9999999999999.99").set("CODPROJ", "2147483647").set("OBSERVACAO", "");
    testsupport::insertRows(branchPath, "DOCUREC", rows);

    const transfer::JobResult result = copyDocuments();
    EXPECT_TRUE(result.branchOpened);
    EXPECT_EQ(result.tally.written, 3);
    EXPECT_EQ(result.tally.failed, 0);
    EXPECT_TRUE(view.log.empty());

    const Rows branchRows = rowsOf(branchPath, "DOCUREC", documentColumns());
    const Rows copied = centralRows("DOCUREC", documentColumns());
    ASSERT_EQ(copied.size(), 3u);
    const Rows expected = withDatesOnly(branchRows);
    for (std::size_t r = 0; r < copied.size(); ++r)
        for (std::size_t c = 0; c < documentColumns().size(); ++c)
            EXPECT_EQ(copied[r][c], expected[r][c]) << "row " << r << " column " << documentColumns()[c];

    // Spot checks against literal values, so the comparison above cannot
    // pass by reading both sides wrong.
    EXPECT_EQ(
        testsupport::selectAsText(centralPath,
                                  "SELECT DT_VENDA, DT_EMISSAO, DT_VENCIMENTO, VALORVENDA, COMISSAO, CODPROJ, "
                                  "CODMOEDA, CONFERIDO FROM DOCUREC WHERE CODDOCTO = '4712'"),
        (Rows{{Cell("2024-03-10 00:00:00.0000"), Cell("2024-03-11 00:00:00.0000"), Cell("1850-01-01 00:00:00.0000"),
               Cell("1500.75"), Cell("99.9999"), Cell("-2147483648"), Cell("U  "), Cell("N")}}));
}

TEST_F(DocumentCopy, NullsArriveAsEmptyTextZeroAndTheZeroDate) {
    Row row = documentRow("01", "5000");
    for (const std::string& column : documentColumns())
        if (column != "CODEMPRESA" && column != "TIPODOCTO" && column != "CODDOCTO" && column != "ORDEM")
            row.set(column, std::nullopt);
    testsupport::insertRow(branchPath, "DOCUREC", row);

    copyDocuments();
    ASSERT_TRUE(view.log.empty()) << view.log.front();
    const Rows copied = centralRows("DOCUREC", documentColumns());
    ASSERT_EQ(copied.size(), 1u);
    const std::set<std::string> numbers = {"VALORVENDA",   "VALORDOCTO",      "VALORDESC",       "VALORPAGO",
                                           "VALORDEVOL",   "COMISSAO",        "QUANTITENS",      "TXANTECIP",
                                           "DESPADIC",     "TAXARETENCAO",    "CODPROJ",         "DESCFINANC",
                                           "TXMANUTENCAO", "ACRESCIMOBOLETO", "ACRESCIMOREMESSA"};
    const std::set<std::string> keys = {"CODEMPRESA", "TIPODOCTO", "CODDOCTO", "ORDEM"};
    for (std::size_t c = 0; c < documentColumns().size(); ++c) {
        const std::string& column = documentColumns()[c];
        SCOPED_TRACE(column);
        const Cell& value = copied[0][c];
        if (keys.count(column)) continue;
        if (column == "ANOTACOES") {
            // An empty blob may be stored as empty or as NULL.
            EXPECT_TRUE(!value || value->empty());
            continue;
        }
        ASSERT_TRUE(value.has_value()) << "written as NULL";
        if (isDateColumn(column))
            EXPECT_EQ(*value, kZeroDate);
        else if (numbers.count(column))
            EXPECT_EQ(std::stod(*value), 0.0) << *value;
        else  // text; a CHAR column pads the empty text with blanks
            EXPECT_EQ(value->find_first_not_of(' '), std::string::npos) << "'" << *value << "'";
    }
    // The numeric columns really are zero, and the texts really are empty.
    EXPECT_EQ(testsupport::selectAsText(centralPath,
                                        "SELECT VALORPAGO, COMISSAO, CODPROJ, OBSERVACAO, CODCLIENTE FROM DOCUREC"),
              (Rows{{Cell("0"), Cell("0.0000"), Cell("0"), Cell(""), Cell("")}}));
}

TEST_F(DocumentCopy, NotesArriveByteForByte) {
    std::string notes;
    for (int byte = 1; byte < 256; ++byte) notes += static_cast<char>(byte);
    notes += std::string("\0meio\0", 6);
    for (int i = 0; i < 20000; ++i)
        notes += "Cliente ligou em " + std::to_string(i) + "/03: prometeu pagar até sexta.\r\n";
    // Long notes go as blobs of their own, short ones inside the upsert's
    // message; the rows alternate so each follows the other way. Empty
    // notes stay empty, not NULL, as an empty blob of its own leaves them.
    const std::vector<std::pair<std::string, std::string>> rows = {{"4711", notes},
                                                                   {"4712", notes.substr(0, 300)},
                                                                   {"4713", notes.substr(0, 32765)},
                                                                   {"4714", notes.substr(0, 32766)},
                                                                   {"4715", "Ligar."},
                                                                   {"4716", ""}};
    for (const auto& [key, bytes] : rows)
        testsupport::insertRow(branchPath, "DOCUREC", documentRow("01", key).setBlob("ANOTACOES", bytes));

    copyDocuments();
    ASSERT_TRUE(view.log.empty()) << view.log.front();
    for (const auto& [key, bytes] : rows) {
        SCOPED_TRACE(key);
        const Cell copied =
            testsupport::selectValue(centralPath, "SELECT ANOTACOES FROM DOCUREC WHERE CODDOCTO = '" + key + "'");
        ASSERT_TRUE(copied.has_value());
        EXPECT_EQ(copied->size(), bytes.size());
        EXPECT_TRUE(*copied == bytes);
    }
}

// What a run writes for each mapped column, by transfer's one definition of
// it, against what the copy left in the central row: ordinary values, dates
// with a time of day, a padded CHAR, blob bytes, NULLs, and amounts a branch
// keeps as doubles that an exact central column rounds. Then the same rows
// sent by hand through sentValue and setParameter leave the same table.
TEST_F(DocumentCopy, WrittenValuesAreWhatTheCopyLeavesInTheCentralRow) {
    branchPath = dir.file("doubles.fb");
    std::string schema = testsupport::schemaText("branch.sql");
    const std::string exact = "COMISSAO            NUMERIC(9,4)";
    schema.replace(schema.find(exact), exact.size(), "COMISSAO DOUBLE PRECISION");
    testsupport::createDatabase(branchPath, schema);
    const std::string notes("\0\x01\xe9 fim   ", 10);
    std::vector<Row> rows = {documentRow("01", "4711"), documentRow("01", "4712"), documentRow("01", "4713"),
                             documentRow("01", "4714")};
    rows[1]
        .set("DT_EMISSAO", "2024-03-11 23:59:59.9999")
        .set("VALORDOCTO", "-0.01")
        .set("COMISSAO", "1.00005")  // kept as 1.0001, as the server rounds it
        .set("QUANTITENS", "1234567.125")
        .set("CODMOEDA", "U")
        .setBlob("ANOTACOES", notes);
    rows[2]
        .set("COMISSAO", "-0.00015")  // its double a hair short of the half, kept as -0.0002
        .set("CODPROJ", "-2147483648");
    for (const std::string& column : documentColumns())
        if (column != "CODEMPRESA" && column != "TIPODOCTO" && column != "CODDOCTO" && column != "ORDEM")
            rows[3].set(column, std::nullopt);
    testsupport::insertRows(branchPath, "DOCUREC", rows);
    ASSERT_EQ(copyDocuments().tally.written, 4);
    ASSERT_TRUE(view.log.empty()) << view.log.front();

    const transfer::TableProfile& profile = transfer::docuRecProfile();
    std::string fields, parameters;
    for (const transfer::ColumnMapping& mapping : profile.columns) {
        fields += (fields.empty() ? "" : ", ") + mapping.field;
        parameters += (parameters.empty() ? "" : ", ") + mapping.parameter;
    }
    branch.parameters().setValue("Database", branchPath);
    branch.open();
    db::Query branchSide(branch), centralSide(central);
    branchSide.addSql("SELECT " + fields + " FROM DOCUREC ORDER BY CODDOCTO");
    centralSide.addSql("SELECT " + parameters + " FROM DOCUREC ORDER BY CODDOCTO");
    branchSide.open();
    centralSide.open();
    const db::ColumnTypes types = db::readColumnTypes(central, "DOCUREC");
    int compared = 0, fromSentValues = 0;
    for (; !branchSide.eof() && !centralSide.eof(); branchSide.next(), centralSide.next(), ++compared) {
        for (int i = 0; i < static_cast<int>(profile.columns.size()); ++i) {
            const transfer::ColumnMapping& mapping = profile.columns[static_cast<std::size_t>(i)];
            SCOPED_TRACE(mapping.parameter + " of row " + std::to_string(compared));
            std::string name = mapping.parameter;
            for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            const transfer::WrittenColumn column = transfer::writtenColumn(mapping, types.at(name));
            transfer::WrittenValue expected;
            transfer::readWrittenValue(column, branchSide, i, expected);
            // The value read for sending, where it stands for the read of
            // the field, gives the same.
            transfer::WrittenValue fromSent;
            if (transfer::writtenValueOfSent(column, transfer::sentValue(mapping, branchSide, i), fromSent)) {
                ++fromSentValues;
                EXPECT_TRUE(fromSent.text == expected.text);
                EXPECT_EQ(fromSent.units, expected.units);
                EXPECT_EQ(fromSent.number, expected.number);
                EXPECT_EQ(fromSent.date, expected.date);
            }
            // An empty blob may be stored as NULL; nothing else may.
            EXPECT_TRUE(!centralSide.isNull(i) ||
                        (column.stored == transfer::StoredAs::Bytes && expected.text.empty()));
            switch (column.stored) {
                case transfer::StoredAs::Text: {
                    std::string held = centralSide.asText(i);
                    if (column.padded) held.erase(held.find_last_not_of(' ') + 1);
                    EXPECT_EQ(expected.text, held);
                    break;
                }
                case transfer::StoredAs::Bytes:
                    EXPECT_TRUE(expected.text == centralSide.asBytes(i));
                    break;
                case transfer::StoredAs::Number:
                    if (column.inUnits)
                        EXPECT_EQ(expected.units,
                                  std::llround(centralSide.asDouble(i) * std::pow(10, column.decimals)));
                    else
                        EXPECT_EQ(expected.number, centralSide.asDouble(i));
                    break;
                case transfer::StoredAs::Date:
                    EXPECT_EQ(expected.date, centralSide.asDateTime(i));
                    break;
            }
        }
    }
    EXPECT_EQ(compared, 4);
    // Every column is kept as it is sent but ORDEM, a text the server turns
    // into a SMALLINT, which is read as a number instead.
    EXPECT_EQ(fromSentValues, 4 * (static_cast<int>(profile.columns.size()) - 1));
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT COMISSAO FROM DOCUREC ORDER BY CODDOCTO"),
              (Rows{{Cell("2.5000")}, {Cell("1.0001")}, {Cell("-0.0002")}, {Cell("0.0000")}}));

    const std::string byHandPath = dir.file("byhand.fb");
    testsupport::createCentralDatabase(byHandPath);
    db::Connection byHand;
    byHand.parameters().setValue("Database", byHandPath);
    byHand.open();
    db::Statement upsert(byHand);
    upsert.addSql(profile.upsertSql);
    for (branchSide.first(); !branchSide.eof(); branchSide.next()) {
        for (int i = 0; i < static_cast<int>(profile.columns.size()); ++i) {
            const transfer::ColumnMapping& mapping = profile.columns[static_cast<std::size_t>(i)];
            const transfer::SentValue value = transfer::sentValue(mapping, branchSide, i);
            transfer::setParameter(upsert, upsert.paramIndex(mapping.parameter), value);
        }
        upsert.execute();
    }
    byHand.close();
    EXPECT_EQ(rowsOf(byHandPath, "DOCUREC", documentColumns()), centralRows("DOCUREC", documentColumns()));
}

TEST_F(DocumentCopy, OnlyTheEntrysCompanyIsCopied) {
    testsupport::insertRows(branchPath, "DOCUREC",
                            {documentRow("00", "1"), documentRow("01", "2"), documentRow("02", "3"),
                             documentRow("01", "4"), documentRow("04", "5")});
    const transfer::JobResult result = copyDocuments("01");
    EXPECT_EQ(result.tally.written, 2);
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT CODEMPRESA, CODDOCTO FROM DOCUREC ORDER BY CODDOCTO"),
              (Rows{{Cell("01"), Cell("2")}, {Cell("01"), Cell("4")}}));

    copyDocuments("03");  // nothing of that company
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 2);
    EXPECT_TRUE(view.log.empty());
}

TEST_F(DocumentCopy, RunningAgainReplacesRowsInsteadOfAddingThem) {
    testsupport::insertRows(branchPath, "DOCUREC", {documentRow("01", "1"), documentRow("01", "2")});
    copyDocuments();
    // The central office marks a document as checked; the copy never names
    // that column.
    testsupport::execute(centralPath, "UPDATE DOCUREC SET CONFERIDO = 'S' WHERE CODDOCTO = '1'");
    testsupport::execute(branchPath, "UPDATE DOCUREC SET VALORPAGO = 1480.5, SITUACAO = 'Q' WHERE CODDOCTO = '1'");
    testsupport::insertRow(branchPath, "DOCUREC", documentRow("01", "3"));

    const transfer::JobResult again = copyDocuments();
    EXPECT_EQ(again.tally.written, 3);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(testsupport::selectAsText(
                  centralPath, "SELECT CODDOCTO, VALORPAGO, SITUACAO, CONFERIDO FROM DOCUREC ORDER BY CODDOCTO"),
              (Rows{{Cell("1"), Cell("1480.5"), Cell("Q"), Cell("S")},
                    {Cell("2"), Cell("0"), Cell("A"), Cell("N")},
                    {Cell("3"), Cell("0"), Cell("A"), Cell("N")}}));
}

TEST_F(DocumentCopy, RefusedRowGivesOneLogLineAndLaterRowsStillCopy) {
    testsupport::execute(centralPath, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_DOCUREC_VALOR CHECK (VALORDOCTO >= 0)");
    std::vector<Row> rows = {documentRow("01", "A1"), documentRow("01", "A2"), documentRow("01", "A3"),
                             documentRow("01", "A4")};
    rows[1].set("VALORDOCTO", "-10");
    rows[2].set("ORDEM", std::nullopt);  // the empty text does not fit the SMALLINT
    testsupport::insertRows(branchPath, "DOCUREC", rows);

    const transfer::JobResult result = copyDocuments();
    EXPECT_EQ(result.tally.written, 2);
    EXPECT_EQ(result.tally.failed, 2);
    ASSERT_EQ(view.log.size(), 2u);
    const std::string first = "DOCUREC: Documento = A2 Erro: ";
    ASSERT_EQ(view.log[0].substr(0, first.size()), first) << view.log[0];
    EXPECT_NE(view.log[0].find("CHECK constraint CK_DOCUREC_VALOR"), std::string::npos) << view.log[0];
    const std::string second = "DOCUREC: Documento = A3 Erro: ";
    ASSERT_EQ(view.log[1].substr(0, second.size()), second) << view.log[1];
    EXPECT_NE(view.log[1].find("conversion error from string \"\""), std::string::npos) << view.log[1];

    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT CODDOCTO FROM DOCUREC ORDER BY CODDOCTO"),
              (Rows{{Cell("A1")}, {Cell("A4")}}));
    // The failed rows were counted on the gauge all the same.
    EXPECT_EQ(view.gaugeMaximum, 4);
    EXPECT_EQ(view.steps, 4);
}

TEST_F(DocumentCopy, LogLineCarriesTheWholeServerMessage) {
    testsupport::execute(centralPath, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_DOCUREC_VALOR CHECK (VALORDOCTO >= 0)");
    testsupport::insertRow(branchPath, "DOCUREC", documentRow("01", "A2").set("VALORDOCTO", "-10"));
    copyDocuments();
    ASSERT_EQ(view.log.size(), 1u);

    // The same refusal, met directly through the data access layer.
    std::string message;
    try {
        testsupport::insertRow(
            centralPath, "DOCUREC",
            documentRow("01", "X").set("VALORDOCTO", "-10").remove("DT_ALTERACAO").remove("USUARIO_ALT"));
    } catch (const std::exception& failure) {
        message = failure.what();
    }
    ASSERT_NE(message.find("Operation violates"), std::string::npos) << message;
    const std::string serverPart = message.substr(message.find("Operation violates"));
    EXPECT_EQ(view.log[0], "DOCUREC: Documento = A2 Erro: " + serverPart);
    EXPECT_NE(serverPart.find('\n'), std::string::npos) << "a message of several lines stays in one log line";
}

TEST_F(DocumentCopy, RefusedRowWithoutADocumentNumberKeepsTheLineFrame) {
    // A branch without a primary key may hold a document with no number.
    auto definitions = enginetest::columnDefinitions(testsupport::schemaText("branch.sql"), "DOCUREC");
    std::string ddl;
    for (const auto& [name, definition] : definitions) {
        std::string column = definition;
        if (const auto notNull = column.find(" NOT NULL"); notNull != std::string::npos) column.erase(notNull);
        ddl += (ddl.empty() ? "CREATE TABLE DOCUREC (" : ", ") + column;
    }
    const std::string otherBranch = dir.file("sem-chave.fb");
    testsupport::createDatabase(otherBranch, ddl + ")");
    testsupport::execute(centralPath, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_NUMERO CHECK (CODDOCTO <> '')");
    testsupport::insertRows(otherBranch, "DOCUREC",
                            {documentRow("01", "1").set("CODDOCTO", std::nullopt), documentRow("01", "2")});
    transfer::ConverteDocuRec(connections(), otherBranch, "01", view, view);
    ASSERT_EQ(view.log.size(), 1u);
    EXPECT_EQ(view.log[0].rfind("DOCUREC: Documento =  Erro: ", 0), 0u) << view.log[0];
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 1);
}

TEST_F(DocumentCopy, ExtraAndReorderedBranchColumnsAreCopiedTheSame) {
    // A branch whose DOCUREC lists the copied columns backwards, with columns
    // of its own in between and no primary key.
    const auto definitions = enginetest::columnDefinitions(testsupport::schemaText("branch.sql"), "DOCUREC");
    std::string ddl = "CREATE TABLE DOCUREC (OBS_INTERNA VARCHAR(50)";
    for (auto it = documentColumns().rbegin(); it != documentColumns().rend(); ++it) {
        ddl += ", " + definitions.at(*it);
        if (*it == "ANOTACOES") ddl += ", VERSAO INTEGER DEFAULT 3";
    }
    ddl += ", DT_ALTERACAO DATE, USUARIO_ALT VARCHAR(20))";
    const std::string otherBranch = dir.file("filial-antiga.fb");
    testsupport::createDatabase(otherBranch, ddl);
    ASSERT_EQ(testsupport::selectValue(otherBranch,
                                       "SELECT FIRST 1 TRIM(RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS "
                                       "WHERE RDB$RELATION_NAME = 'DOCUREC' AND RDB$FIELD_POSITION = 1"),
              Cell("ACRESCIMOREMESSA"));

    const std::vector<Row> rows = {documentRow("01", "7001"), documentRow("01", "7002").set("OBSERVACAO", "outra")};
    testsupport::insertRows(otherBranch, "DOCUREC", rows);
    testsupport::insertRows(branchPath, "DOCUREC", rows);
    const transfer::JobResult result = transfer::ConverteDocuRec(connections(), otherBranch, "01", view, view);
    EXPECT_EQ(result.tally.written, 2);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(centralRows("DOCUREC", documentColumns()),
              withDatesOnly(rowsOf(branchPath, "DOCUREC", documentColumns())));
}

TEST_F(DocumentCopy, BranchWithoutCodDoctoStopsTheJobWithoutALogLine) {
    const std::string otherBranch = dir.file("sem-coddocto.fb");
    std::string schema = testsupport::schemaText("branch.sql");
    // The document number under another name.
    for (std::string::size_type at; (at = schema.find("CODDOCTO")) != std::string::npos;)
        schema.replace(at, 8, "NUMDOCTO");
    testsupport::createDatabase(otherBranch, schema);
    Row row = documentRow("01", "1");
    row.remove("CODDOCTO").set("NUMDOCTO", "1");
    testsupport::insertRow(otherBranch, "DOCUREC", row);

    try {
        transfer::ConverteDocuRec(connections(), otherBranch, "01", view, view);
        FAIL() << "the job went through";
    } catch (const transfer::ConversionError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("Erro ao converter os dados! Motivo: ", 0), 0u) << message;
        EXPECT_NE(message.find("CodDocto"), std::string::npos) << message;
    }
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 0);
    EXPECT_EQ(view.label, "");
    EXPECT_EQ(view.gaugePosition, 0);
}

TEST_F(DocumentCopy, BranchMissingAnotherColumnLogsEveryRow) {
    testsupport::insertRows(branchPath, "DOCUREC", {documentRow("01", "1"), documentRow("01", "2")});
    testsupport::execute(branchPath, "ALTER TABLE DOCUREC DROP CODPROJ");

    const transfer::JobResult result = copyDocuments();
    EXPECT_EQ(result.tally.written, 0);
    EXPECT_EQ(result.tally.failed, 2);
    ASSERT_EQ(view.log.size(), 2u);
    EXPECT_EQ(view.log[0].rfind("DOCUREC: Documento = 1 Erro: ", 0), 0u) << view.log[0];
    EXPECT_EQ(view.log[1].rfind("DOCUREC: Documento = 2 Erro: ", 0), 0u) << view.log[1];
    EXPECT_NE(view.log[0].find("CodProj"), std::string::npos) << view.log[0];
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 0);
}

TEST_F(DocumentCopy, CentralMissingAColumnRefusesEveryRow) {
    testsupport::execute(centralPath, "ALTER TABLE DOCUREC DROP CODBANDEIRA");
    testsupport::insertRows(branchPath, "DOCUREC", {documentRow("01", "1"), documentRow("01", "2")});
    const transfer::JobResult result = copyDocuments();
    EXPECT_EQ(result.tally.failed, 2);
    ASSERT_EQ(view.log.size(), 2u);
    EXPECT_NE(view.log[1].find("CODBANDEIRA"), std::string::npos) << view.log[1];
}

TEST_F(DocumentCopy, BranchWithoutTheTableFailsTheJob) {
    const std::string otherBranch = dir.file("so-movimentos.fb");
    testsupport::createDatabase(otherBranch, "CREATE TABLE MOVIREC (CODEMPRESA CHAR(2))");
    try {
        transfer::ConverteDocuRec(connections(), otherBranch, "01", view, view);
        FAIL() << "the job went through";
    } catch (const transfer::ConversionError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("Erro ao converter os dados! Motivo: ", 0), 0u) << message;
        EXPECT_NE(message.find("Table unknown"), std::string::npos) << message;
        EXPECT_NE(message.find("DOCUREC"), std::string::npos) << message;
    }
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(view.warnings.empty());
    EXPECT_EQ(view.label, "");
}

}  // namespace
