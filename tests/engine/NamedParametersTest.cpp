#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/NamedParameters.h"

namespace {

using db::parseNamedParameters;
using Names = std::vector<std::string>;
using Positions = std::vector<unsigned>;

TEST(NamedParameters, MarkersBecomePositionalInOrder) {
    const auto parsed = parseNamedParameters("UPDATE T SET A = :VALOR, B=:Cod_Emp$2 WHERE C = (:x)");
    EXPECT_EQ(parsed.positionalSql, "UPDATE T SET A = ?, B=? WHERE C = (?)");
    EXPECT_EQ(parsed.names, (Names{"VALOR", "Cod_Emp$2", "x"}));
}

TEST(NamedParameters, MarkerEndsAtTheFirstCharacterOutsideAName) {
    const auto parsed = parseNamedParameters("VALUES (:A,:B):C||:D/:E-:F\n:G");
    EXPECT_EQ(parsed.positionalSql, "VALUES (?,?)?||?/?-?\n?");
    EXPECT_EQ(parsed.names, (Names{"A", "B", "C", "D", "E", "F", "G"}));
}

TEST(NamedParameters, TextWithoutMarkersIsUnchanged) {
    const std::string sql = "SELECT * FROM DOCUREC WHERE CODEMPRESA = '01'";
    const auto parsed = parseNamedParameters(sql);
    EXPECT_EQ(parsed.positionalSql, sql);
    EXPECT_TRUE(parsed.names.empty());
    EXPECT_TRUE(parseNamedParameters("").positionalSql.empty());
}

TEST(NamedParameters, ColonNotFollowedByANameStaysAsWritten) {
    const auto parsed = parseNamedParameters("SELECT ': ' FROM T WHERE A = : B AND C = :");
    EXPECT_EQ(parsed.positionalSql, "SELECT ': ' FROM T WHERE A = : B AND C = :");
    EXPECT_TRUE(parsed.names.empty());
}

TEST(NamedParameters, QuotedStringsHoldNoMarkers) {
    const auto parsed = parseNamedParameters("SELECT ':NAO', 'hora 10:30' FROM T WHERE A = :SIM");
    EXPECT_EQ(parsed.positionalSql, "SELECT ':NAO', 'hora 10:30' FROM T WHERE A = ?");
    EXPECT_EQ(parsed.names, (Names{"SIM"}));
}

TEST(NamedParameters, DoubledQuoteDoesNotEndTheString) {
    // 'it''s :X' is one string; the marker after it is real.
    const auto parsed = parseNamedParameters("SELECT 'd''agua :X ''' || :Y FROM T");
    EXPECT_EQ(parsed.positionalSql, "SELECT 'd''agua :X ''' || ? FROM T");
    EXPECT_EQ(parsed.names, (Names{"Y"}));
}

TEST(NamedParameters, QuotedIdentifiersHoldNoMarkers) {
    const auto parsed = parseNamedParameters(R"(SELECT "A:B", "x"":C" FROM "T:1" WHERE "D" = :D)");
    EXPECT_EQ(parsed.positionalSql, R"(SELECT "A:B", "x"":C" FROM "T:1" WHERE "D" = ?)");
    EXPECT_EQ(parsed.names, (Names{"D"}));
}

TEST(NamedParameters, OneKindOfQuoteDoesNotCloseTheOther) {
    const auto parsed = parseNamedParameters(R"(SELECT 'a"b:X' , "c'd:Y" , :Z FROM T)");
    EXPECT_EQ(parsed.names, (Names{"Z"}));
}

TEST(NamedParameters, LineCommentsHoldNoMarkers) {
    const auto parsed = parseNamedParameters("SELECT A -- filtro :NAO, d'agua\nFROM T WHERE B = :SIM -- fim :X");
    EXPECT_EQ(parsed.names, (Names{"SIM"}));
    EXPECT_EQ(parsed.positionalSql, "SELECT A -- filtro :NAO, d'agua\nFROM T WHERE B = ? -- fim :X");
}

TEST(NamedParameters, LineCommentEndsAtCarriageReturnLineFeed) {
    const auto parsed = parseNamedParameters("SELECT A -- :NAO\r\nFROM T WHERE B = :SIM");
    EXPECT_EQ(parsed.names, (Names{"SIM"}));
}

TEST(NamedParameters, BlockCommentsHoldNoMarkers) {
    const auto parsed =
        parseNamedParameters("SELECT /* :A, it's\n :B */ C FROM T WHERE D = :D /* :E */ AND F = :F /* :G");
    EXPECT_EQ(parsed.names, (Names{"D", "F"}));
    EXPECT_EQ(parsed.positionalSql, "SELECT /* :A, it's\n :B */ C FROM T WHERE D = ? /* :E */ AND F = ? /* :G");
}

TEST(NamedParameters, CommentMarksInsideStringsAreText) {
    const auto parsed = parseNamedParameters("SELECT '--', '/*' FROM T WHERE A = :A AND B = '*/' AND C = :C");
    EXPECT_EQ(parsed.names, (Names{"A", "C"}));
}

TEST(NamedParameters, SingleMinusAndSlashAreOperators) {
    const auto parsed = parseNamedParameters("SELECT :A - :B, :C / :D FROM T");
    EXPECT_EQ(parsed.positionalSql, "SELECT ? - ?, ? / ? FROM T");
    EXPECT_EQ(parsed.names.size(), 4u);
}

TEST(NamedParameters, UnterminatedQuoteSwallowsTheRest) {
    EXPECT_TRUE(parseNamedParameters("SELECT 'aberto :X").names.empty());
    EXPECT_TRUE(parseNamedParameters("SELECT \"aberto :X").names.empty());
    EXPECT_EQ(parseNamedParameters("SELECT 'aberto :X").positionalSql, "SELECT 'aberto :X");
}

TEST(NamedParameters, RepeatedNamesKeepEveryPositionAndMatchWithoutCase) {
    const auto parsed = parseNamedParameters("WHERE A = :Cod OR B = :OUTRO OR C = :COD OR D = :cod");
    EXPECT_EQ(parsed.names.size(), 4u);
    EXPECT_EQ(parsed.positionsOf("cod"), (Positions{0, 2, 3}));
    EXPECT_EQ(parsed.positionsOf("COD"), (Positions{0, 2, 3}));
    EXPECT_EQ(parsed.positionsOf("Outro"), (Positions{1}));
    EXPECT_TRUE(parsed.positionsOf("CO").empty());
    EXPECT_TRUE(parsed.positionsOf("CODX").empty());
    EXPECT_TRUE(parsed.positionsOf("").empty());
}

TEST(NamedParameters, NamesDifferingOnlyInPunctuationAreDistinct) {
    const auto parsed = parseNamedParameters("VALUES (:DT_VENDA, :DTVENDA, :DT$VENDA, :DT_VENDA2)");
    EXPECT_EQ(parsed.positionsOf("dt_venda"), (Positions{0}));
    EXPECT_EQ(parsed.positionsOf("DTVENDA"), (Positions{1}));
    EXPECT_EQ(parsed.positionsOf("Dt$Venda"), (Positions{2}));
    EXPECT_EQ(parsed.positionsOf("DT_VENDA2"), (Positions{3}));
}

TEST(NamedParameters, UpsertWithManyParametersAndPaddedLayout) {
    // Parameters laid out with runs of blanks and tabs, as the table
    // statements are stored.
    const auto parsed = parseNamedParameters(
        "   UPDATE OR INSERT INTO MOVIREC (CODEMPRESA,\t\tNUMORD   ) VALUES (:CODEMPRESA ,\t:NUMORD\t)   ");
    EXPECT_EQ(parsed.names, (Names{"CODEMPRESA", "NUMORD"}));
    EXPECT_EQ(parsed.positionalSql, "   UPDATE OR INSERT INTO MOVIREC (CODEMPRESA,\t\tNUMORD   ) VALUES (? ,\t?\t)   ");
}

}  // namespace
