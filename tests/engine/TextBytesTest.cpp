// Text is bytes: whatever a branch column holds reaches the central column
// unchanged, in databases of character set NONE and WIN1252. Only what is
// shown (progress label, log line) is decoded, as UTF-8 when it is valid
// UTF-8, else as Windows-1252.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineFixture.h"
#include "transfer/DisplayText.h"
#include "transfer/TableJob.h"

namespace {

using enginetest::TransferTest;
using testsupport::Cell;
using testsupport::documentRow;
using testsupport::movementRow;
using testsupport::Rows;

// "Ação de cobrança: João Conceição, 1º aviso" in Windows-1252 and in UTF-8.
const std::string kCp1252 =
    "A\xE7\xE3o de cobran\xE7"
    "a: Jo\xE3o Concei\xE7\xE3o, 1\xBA aviso";
const std::string kUtf8 = "Ação de cobrança: João Conceição, 1º aviso";

std::string bytesFrom(int first, int last) {
    std::string bytes;
    for (int b = first; b <= last; ++b) bytes += static_cast<char>(b);
    return bytes;
}

class TextBytes : public TransferTest {};

TEST_F(TextBytes, AccentedTextInACharsetNoneDatabase) {
    testsupport::insertRows(branchPath, "DOCUREC",
                            {documentRow("01", "1").set("OBSERVACAO", kCp1252).set("CODCLIENTE", "JOS\xC9"),
                             documentRow("01", "2").set("OBSERVACAO", kUtf8).set("CODCLIENTE", "JOSÉ")});
    testsupport::insertRow(branchPath, "MOVIREC",
                           movementRow("01", "1").set("NOMEBANCOPGTO", "CAIXA ECON\xD4MICA").set("USUARIO", "Estêvão"));
    copyDocuments();
    copyMovements();
    ASSERT_TRUE(view.log.empty()) << view.log.front();
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT OBSERVACAO, CODCLIENTE FROM DOCUREC ORDER BY CODDOCTO"),
              (Rows{{Cell(kCp1252), Cell("JOS\xC9")}, {Cell(kUtf8), Cell("JOSÉ")}}));
    EXPECT_EQ(testsupport::selectAsText(centralPath, "SELECT NOMEBANCOPGTO, USUARIO FROM MOVIREC"),
              (Rows{{Cell("CAIXA ECON\xD4MICA"), Cell("Estêvão")}}));
}

TEST_F(TextBytes, EveryByteInACharsetNoneDatabase) {
    testsupport::insertRows(
        branchPath, "DOCUREC",
        {documentRow("01", "1").set("OBSERVACAO", bytesFrom(1, 127)).set("CODMOEDA", "\x01\x7F\x80"),
         documentRow("01", "2").set("OBSERVACAO", bytesFrom(128, 255)).set("CODMOEDA", "\xFF\xA0\x81"),
         documentRow("01", "3\xE7").set("OBSERVACAO", "'\"\\%_;:CODDOCTO")});
    testsupport::insertRow(branchPath, "MOVIREC", movementRow("01", "1").set("OBSERVACAO", bytesFrom(100, 255)));
    copyDocuments();
    copyMovements();
    ASSERT_TRUE(view.log.empty()) << view.log.front();
    EXPECT_EQ(
        testsupport::selectAsText(centralPath, "SELECT CODDOCTO, OBSERVACAO, CODMOEDA FROM DOCUREC ORDER BY CODDOCTO"),
        (Rows{{Cell("1"), Cell(bytesFrom(1, 127)), Cell("\x01\x7F\x80")},
              {Cell("2"), Cell(bytesFrom(128, 255)), Cell("\xFF\xA0\x81")},
              {Cell("3\xE7"), Cell("'\"\\%_;:CODDOCTO"), Cell("R$ ")}}));
    EXPECT_EQ(testsupport::selectValue(centralPath, "SELECT OBSERVACAO FROM MOVIREC"), Cell(bytesFrom(100, 255)));
}

TEST_F(TextBytes, AccentedTextInWin1252Databases) {
    const std::string branch1252 = dir.file("filial-1252.fb"), central1252 = dir.file("central-1252.fb");
    testsupport::createBranchDatabase(branch1252, "WIN1252");
    testsupport::createCentralDatabase(central1252, "WIN1252");
    ASSERT_EQ(testsupport::selectValue(branch1252, "SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE"),
              Cell("WIN1252"));
    // Notes with every byte above 0x7F, those Windows-1252 leaves undefined
    // included: short ones ride in the statement's message, long ones go
    // as blobs of their own; neither is converted on the way.
    std::string longNotes;
    while (longNotes.size() < 40000) longNotes += bytesFrom(128, 255) + kCp1252;
    testsupport::insertRows(branch1252, "DOCUREC",
                            {documentRow("01", "1")
                                 .set("OBSERVACAO", kCp1252)
                                 .set("CODCLIENTE",
                                      "M\xC3"
                                      "E")
                                 .set("CODMOEDA", "\x80  ")
                                 .setBlob("ANOTACOES", bytesFrom(128, 255)),
                             documentRow("01", "2").setBlob("ANOTACOES", longNotes)});
    central.close();
    central.parameters().setValue("Database", central1252);
    central.open();
    // Read as the window reads them, then with short notes in the row.
    for (const bool inlineBlobs : {false, true}) {
        SCOPED_TRACE(inlineBlobs ? "notes in the row" : "notes read apart");
        testsupport::execute(central1252, "DELETE FROM DOCUREC");
        transfer::JobOptions options;
        options.inlineShortBlobs = inlineBlobs;
        transfer::ConverteDocuRec(connections(), branch1252, "01", view, view, options);
        ASSERT_TRUE(view.log.empty()) << view.log.front();
        EXPECT_EQ(testsupport::selectAsText(central1252,
                                            "SELECT OBSERVACAO, CODCLIENTE, CODMOEDA, ANOTACOES FROM DOCUREC "
                                            "WHERE CODDOCTO = '1'"),
                  (Rows{{Cell(kCp1252),
                         Cell("M\xC3"
                              "E"),
                         Cell("\x80  "), Cell(bytesFrom(128, 255))}}));
        EXPECT_TRUE(testsupport::selectValue(central1252, "SELECT ANOTACOES FROM DOCUREC WHERE CODDOCTO = '2'") ==
                    Cell(longNotes));
    }

    // A NONE branch into the WIN1252 central: the bytes are still the bytes.
    testsupport::insertRow(branchPath, "DOCUREC",
                           documentRow("01", "3").set("OBSERVACAO", kCp1252).setBlob("ANOTACOES", bytesFrom(128, 255)));
    copyDocuments();
    EXPECT_EQ(testsupport::selectAsText(central1252, "SELECT OBSERVACAO, ANOTACOES FROM DOCUREC WHERE CODDOCTO = '3'"),
              (Rows{{Cell(kCp1252), Cell(bytesFrom(128, 255))}}));

    // The same two copies in blocks leave the same bytes, notes included.
    const std::string blocks1252 = dir.file("central-1252-blocks.fb");
    testsupport::createCentralDatabase(blocks1252, "WIN1252");
    central.close();
    central.parameters().setValue("Database", blocks1252);
    central.open();
    for (const std::string& branchFile : {branch1252, branchPath})
        transfer::ConverteDocuRec(connections(), branchFile, "01", view, view, {{2, 2}});
    EXPECT_TRUE(view.log.empty()) << view.log.front();
    EXPECT_EQ(rowsOf(blocks1252, "DOCUREC", testsupport::documentColumns()),
              rowsOf(central1252, "DOCUREC", testsupport::documentColumns()));
}

TEST_F(TextBytes, LabelAndLogShowWindows1252KeysDecoded) {
    testsupport::execute(centralPath, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_D CHECK (VALORDOCTO >= 0)");
    testsupport::insertRows(branchPath, "DOCUREC",
                            {documentRow("01", "N\xBA 10").set("VALORDOCTO", "-1"), documentRow("01", "Nº 11")});
    copyDocuments();
    EXPECT_EQ(view.rowLabels(),
              (std::vector<std::string>{"Integrando Documento: Nº 10", "Integrando Documento: Nº 11"}));
    ASSERT_EQ(view.log.size(), 1u);
    EXPECT_EQ(view.log[0].rfind("DOCUREC: Documento = Nº 10 Erro: ", 0), 0u) << view.log[0];
    // The key written is the branch's bytes, not the decoded text.
    EXPECT_EQ(testsupport::selectValue(centralPath, "SELECT CODDOCTO FROM DOCUREC"), Cell("Nº 11"));
}

TEST(DisplayText, ValidUtf8IsShownAsItIs) {
    EXPECT_EQ(transfer::displayText(kUtf8), kUtf8);
    EXPECT_EQ(transfer::displayText(""), "");
    EXPECT_EQ(transfer::displayText("plain ASCII 123"), "plain ASCII 123");
    EXPECT_EQ(transfer::displayText("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");  // four-byte form
}

TEST(DisplayText, OtherBytesAreWindows1252) {
    EXPECT_EQ(transfer::displayText(kCp1252), kUtf8);
    EXPECT_EQ(transfer::displayText("\x80 \x93x\x94 \x96 \x9F"), "€ “x” – Ÿ");
    // One stray byte makes the whole text Windows-1252, valid sequences too.
    EXPECT_EQ(transfer::displayText("ç \xE7"), "Ã§ ç");
    // Truncated, overlong and surrogate forms are not UTF-8.
    EXPECT_EQ(transfer::displayText("abc\xC3"), "abcÃ");
    EXPECT_EQ(transfer::displayText("\xC0\xAF"), "À¯");
    EXPECT_EQ(transfer::displayText("\xED\xA0\x80"), "í\xC2\xA0\xE2\x82\xAC");
}

}  // namespace
