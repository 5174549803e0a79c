// The data access layer against real embedded databases: opening, reading
// each kind with its NULL rule, blobs, the forward-only select, and
// parameters converted by the server.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "TestDatabases.h"
#include "db/Connection.h"
#include "db/DateTime.h"
#include "db/Error.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "db/Transaction.h"

namespace {

using testsupport::Cell;
using testsupport::Rows;

void openOn(db::Connection& connection, const std::string& path) {
    connection.parameters().setValue("Database", path);
    connection.open();
}

// The message of the db::Error that `action` throws, or a failure.
template <typename Action>
std::string errorOf(Action&& action) {
    try {
        action();
    } catch (const db::Error& error) {
        return error.what();
    }
    ADD_FAILURE() << "no db::Error was thrown";
    return {};
}

// ---------------------------------------------------------------------------
// Opening

class Opening : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    db::Connection connection;

    std::string failedOpenMessage(const std::string& path) {
        connection.parameters().setValue("Database", path);
        std::string message;
        long code = 0;
        try {
            connection.open();
            ADD_FAILURE() << "opened " << path;
        } catch (const db::Error& error) {
            message = error.what();
            code = error.code();
        }
        EXPECT_FALSE(connection.isAttached());
        EXPECT_NE(code, 0) << message;
        EXPECT_NE(message.find(path), std::string::npos) << message;
        return message;
    }
};

TEST_F(Opening, MissingFileCarriesTheClientMessage) {
    const std::string message = failedOpenMessage(dir.file("nao-existe.fb"));
    EXPECT_NE(message.find("I/O error during \"open\" operation"), std::string::npos) << message;
    EXPECT_NE(message.find('\n'), std::string::npos) << "every line of the status: " << message;
}

TEST_F(Opening, TextFileNamedLikeADatabaseIsRefused) {
    const std::string path = dir.file("planilha.fb");
    {
        std::ofstream out(path);
        out << "CODDOCTO;VALOR\n";
        for (int i = 0; i < 5000; ++i) out << 4711 + i << ";100,00\n";
    }
    const std::string message = failedOpenMessage(path);
    EXPECT_NE(message.find("not a valid database"), std::string::npos) << message;
}

TEST_F(Opening, EmptyFileIsRefused) {
    const std::string path = dir.file("vazio.fb");
    std::ofstream{path};
    failedOpenMessage(path);
}

TEST_F(Opening, DirectoryIsRefused) { failedOpenMessage(dir.path()); }

// The client library recurses without end on a symbolic-link loop; such a
// path is refused with the system's reason before it gets there.
TEST_F(Opening, PathThroughASymbolicLinkLoopIsRefused) {
    const std::string loop = dir.file("laco.fb");
    const std::string folderLoop = dir.file("pasta");
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    ASSERT_EQ(::symlink(folderLoop.c_str(), folderLoop.c_str()), 0);
    for (const std::string& path : {loop, folderLoop + "/central.fb"}) {
        const std::string message = failedOpenMessage(path);
        EXPECT_NE(message.find("Too many levels of symbolic links"), std::string::npos) << message;
    }
}

TEST_F(Opening, RefusedOpenLeavesTheConnectionUsable) {
    failedOpenMessage(dir.file("nao-existe.fb"));
    const std::string path = dir.file("ok.fb");
    testsupport::createDatabase(path, "CREATE TABLE T (A INTEGER)");
    openOn(connection, path);
    EXPECT_TRUE(connection.isAttached());
    EXPECT_EQ(connection.attachedDatabase(), path);
}

TEST_F(Opening, OpenWhileAttachedKeepsTheAttachmentAndCloseDetaches) {
    const std::string first = dir.file("a.fb"), second = dir.file("b.fb");
    testsupport::createDatabase(first, "CREATE TABLE T (A INTEGER)");
    testsupport::createDatabase(second, "CREATE TABLE T (A INTEGER)");
    openOn(connection, first);
    const auto serial = connection.attachmentSerial();
    openOn(connection, second);
    EXPECT_EQ(connection.attachedDatabase(), first);
    EXPECT_EQ(connection.attachmentSerial(), serial);
    connection.close();
    EXPECT_FALSE(connection.isAttached());
    openOn(connection, second);
    EXPECT_EQ(connection.attachedDatabase(), second);
    EXPECT_GT(connection.attachmentSerial(), serial);
    connection.close();
    connection.close();  // closing a closed connection is harmless
}

// Two connections attach at once from two threads, each to a server that
// never answers: each attach ends by its own bound, never by the other's
// break-off.
TEST_F(Opening, ConcurrentAttachesAreEachBrokenOffByTheirOwnBound) {
    const testsupport::SilentServer first, second;
    db::Connection other;
    connection.setStallTimeoutSeconds(1);
    other.setStallTimeoutSeconds(2);
    std::string firstMessage;
    std::thread attach([&] { firstMessage = errorOf([&] { openOn(connection, first.database()); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string secondMessage = errorOf([&] { openOn(other, second.database()); });
    attach.join();
    EXPECT_NE(firstMessage.find("within 1 s"), std::string::npos) << firstMessage;
    EXPECT_NE(secondMessage.find("within 2 s"), std::string::npos) << secondMessage;
}

TEST_F(Opening, PathWithBlanksAndAccentsOpens) {
    const std::string path = dir.file("Filial São João 01.fb");
    testsupport::createDatabase(path, "CREATE TABLE T (A INTEGER)");
    openOn(connection, path);
    EXPECT_TRUE(connection.isAttached());
}

// ---------------------------------------------------------------------------
// Reading

constexpr const char* kKindsSchema = R"(
CREATE TABLE KINDS (
    ID      INTEGER NOT NULL PRIMARY KEY,
    CH      CHAR(6),
    VC      VARCHAR(40),
    NUM     NUMERIC(15,2),
    SCALED  NUMERIC(9,4),
    DBL     DOUBLE PRECISION,
    INTG    INTEGER,
    SML     SMALLINT,
    DT      DATE,
    TXT     BLOB SUB_TYPE 1,
    BIN     BLOB SUB_TYPE 0
);
INSERT INTO KINDS (ID) VALUES (1);
INSERT INTO KINDS VALUES (2, 'ab', 'São Paulo  ', 1234.56, -2.5, 0.1, -42, 7,
                          '2024-03-15 14:30:05', 'linha 1', 'bytes');
INSERT INTO KINDS VALUES (3, '', '', 0, 0, 0, 0, 0, '1899-12-30 00:00:00', '', '');
)";

class Reading : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string path = dir.file("kinds.fb");
    db::Connection connection;
    db::Query query;

    void SetUp() override {
        testsupport::createDatabase(path, kKindsSchema);
        openOn(connection, path);
        query.attach(connection);
    }

    void openRow(int id) {
        query.clearSql();
        query.addSql("SELECT * FROM KINDS WHERE ID = :ID");
        query.setText(query.paramIndex("id"), std::to_string(id));
        query.open();
        ASSERT_FALSE(query.eof());
    }
    int field(const char* name) { return query.fieldIndex(name); }
};

TEST_F(Reading, NullReadsAsEmptyZeroOrTheZeroDate) {
    openRow(1);
    for (const char* name : {"CH", "VC", "NUM", "SCALED", "DBL", "INTG", "SML", "DT", "TXT", "BIN"}) {
        SCOPED_TRACE(name);
        const int index = field(name);
        EXPECT_TRUE(query.isNull(index));
        EXPECT_EQ(query.asText(index), "");
        EXPECT_EQ(query.asBytes(index), "");
        if (std::string(name) != "TXT" && std::string(name) != "BIN") {
            EXPECT_EQ(query.asDouble(index), 0.0);
            EXPECT_EQ(query.asInteger(index), 0);
            EXPECT_EQ(query.asDateTime(index), (db::DateTime{1899, 12, 30, 0, 0, 0, 0}));
        }
    }
}

TEST_F(Reading, ValuesInTheirKinds) {
    openRow(2);
    EXPECT_FALSE(query.isNull(field("ch")));
    EXPECT_EQ(query.asText(field("ch")), "ab    ");  // CHAR keeps its blanks
    EXPECT_EQ(query.asText(field("Vc")), "São Paulo  ");
    EXPECT_DOUBLE_EQ(query.asDouble(field("NUM")), 1234.56);
    EXPECT_DOUBLE_EQ(query.asDouble(field("SCALED")), -2.5);
    EXPECT_EQ(query.asText(field("SCALED")), "-2.5000");
    EXPECT_EQ(query.asDouble(field("DBL")), 0.1);
    EXPECT_EQ(query.asInteger(field("INTG")), -42);
    EXPECT_EQ(query.asText(field("INTG")), "-42");
    EXPECT_EQ(query.asInteger(field("SML")), 7);
    EXPECT_DOUBLE_EQ(query.asDouble(field("SML")), 7.0);
    EXPECT_EQ(query.asDateTime(field("DT")), (db::DateTime{2024, 3, 15, 14, 30, 5, 0}));
    EXPECT_EQ(query.asText(field("DT")), "2024-03-15 14:30:05.0000");
    EXPECT_EQ(query.asText(field("TXT")), "linha 1");
    EXPECT_EQ(query.asBytes(field("BIN")), "bytes");
}

// Every cent from 0.00 to 999.99 in a scaled column reads as the double
// nearest its decimal value, so the central's "= 0.57" finds what was copied.
TEST_F(Reading, EveryCentOfAScaledColumnIsTheNearestDouble) {
    testsupport::executeScript(path, R"(
        CREATE TABLE DIGITS (D INTEGER);
        INSERT INTO DIGITS VALUES (0); INSERT INTO DIGITS VALUES (1); INSERT INTO DIGITS VALUES (2);
        INSERT INTO DIGITS VALUES (3); INSERT INTO DIGITS VALUES (4); INSERT INTO DIGITS VALUES (5);
        INSERT INTO DIGITS VALUES (6); INSERT INTO DIGITS VALUES (7); INSERT INTO DIGITS VALUES (8);
        INSERT INTO DIGITS VALUES (9);
        CREATE TABLE CENTS (N INTEGER, VALOR NUMERIC(9,2), PEQUENO NUMERIC(4,2));
        INSERT INTO CENTS SELECT A.D + 10 * B.D + 100 * C.D + 1000 * E.D + 10000 * F.D,
                                 (A.D + 10 * B.D + 100 * C.D + 1000 * E.D + 10000 * F.D) / 100.0,
                                 (A.D + 10 * B.D) / 100.0
                          FROM DIGITS A, DIGITS B, DIGITS C, DIGITS E, DIGITS F;
    )");
    query.clearSql();
    query.addSql("SELECT N, VALOR, PEQUENO FROM CENTS");
    query.open();
    int rows = 0, wrong = 0;
    for (; !query.eof(); query.next(), ++rows) {
        const int cents = query.asInteger(0);
        char text[16];
        std::snprintf(text, sizeof text, "%d.%02d", cents / 100, cents % 100);
        if (query.asDouble(1) != std::strtod(text, nullptr) || query.asText(1) != text) {
            if (++wrong <= 5) ADD_FAILURE() << text << " read as " << query.asDouble(1);
        }
        std::snprintf(text, sizeof text, "0.%02d", cents % 100);
        if (query.asDouble(2) != std::strtod(text, nullptr) && ++wrong <= 5)
            ADD_FAILURE() << text << " read as " << query.asDouble(2);
    }
    EXPECT_EQ(rows, 100000);
    EXPECT_EQ(wrong, 0);
}

TEST_F(Reading, StoredEmptyAndZeroAreNotNull) {
    openRow(3);
    for (const char* name : {"CH", "VC", "NUM", "DT", "TXT", "BIN"}) EXPECT_FALSE(query.isNull(field(name))) << name;
    EXPECT_EQ(query.asText(field("CH")), "      ");
    EXPECT_EQ(query.asText(field("VC")), "");
    EXPECT_EQ(query.asDateTime(field("DT")), db::DateTime{});
}

TEST_F(Reading, TextThatIsNoNumberOrDateFailsToReadInThatKind) {
    openRow(2);
    EXPECT_THROW(query.asDouble(field("VC")), db::Error);
    EXPECT_THROW(query.asInteger(field("VC")), db::Error);
    EXPECT_THROW(query.asDateTime(field("VC")), db::Error);
}

TEST_F(Reading, FieldLookupIgnoresCaseAndNamesTheMissingField) {
    openRow(2);
    EXPECT_EQ(query.fieldIndex("id"), query.fieldIndex("ID"));
    const std::string message = errorOf([&] { query.fieldIndex("CodDocto"); });
    EXPECT_NE(message.find("CodDocto"), std::string::npos) << message;
}

TEST_F(Reading, FirstOfTwoSameNamedColumnsWins) {
    query.clearSql();
    query.addSql("SELECT COALESCE(K.INTG, 0) intg, COALESCE(K.SML, 5) Sml, K.* FROM KINDS K WHERE ID = 1");
    query.open();
    ASSERT_FALSE(query.eof());
    EXPECT_FALSE(query.isNull(query.fieldIndex("INTG")));
    EXPECT_EQ(query.asInteger(query.fieldIndex("Intg")), 0);
    EXPECT_EQ(query.asInteger(query.fieldIndex("sml")), 5);
    // The stored NULL is still there, later in the row.
    EXPECT_EQ(query.fieldName(2), "ID");
    EXPECT_TRUE(query.isNull(query.fieldCount() - 1));
}

TEST_F(Reading, NoRowIsEmptyAndAtItsEnd) {
    query.clearSql();
    query.addSql("SELECT * FROM KINDS WHERE ID = 99");
    query.open();
    EXPECT_TRUE(query.eof());
    EXPECT_TRUE(query.isEmpty());
    EXPECT_THROW(query.asText(0), db::Error);
}

TEST_F(Reading, WholeBlobOfSeveralMegabytesByteForByte) {
    std::string bytes(5 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(20240315);
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    testsupport::insertRow(path, "KINDS", testsupport::Row().set("ID", "10").setBlob("BIN", bytes).setBlob("TXT", ""));

    query.clearSql();
    query.addSql("SELECT BIN, TXT FROM KINDS WHERE ID = 10");
    query.open();
    ASSERT_FALSE(query.eof());
    const std::string read = query.asBytes(0);
    ASSERT_EQ(read.size(), bytes.size());
    EXPECT_TRUE(read == bytes);
    // An empty blob is an empty value, not NULL.
    EXPECT_FALSE(query.isNull(1));
    EXPECT_EQ(query.asBytes(1), "");
    // The same bytes as another reader sees them.
    EXPECT_TRUE(testsupport::selectValue(path, "SELECT BIN FROM KINDS WHERE ID = 10") == bytes);
}

TEST_F(Reading, FirstAfterMovingRunsTheSelectAgainAndSeesNewRows) {
    query.clearSql();
    query.addSql("SELECT ID FROM KINDS WHERE ID < :LIMITE ORDER BY ID");
    query.setText(query.paramIndex("LIMITE"), "50");
    query.open();
    int count = 0;
    query.first();  // on the first row already: nothing runs again
    for (; !query.eof(); query.next()) ++count;
    EXPECT_EQ(count, 3);

    testsupport::execute(path, "INSERT INTO KINDS (ID) VALUES (4)");
    testsupport::execute(path, "INSERT INTO KINDS (ID) VALUES (60)");
    query.first();
    std::vector<int> ids;
    for (; !query.eof(); query.next()) ids.push_back(query.asInteger(0));
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4}));  // same parameter value
    query.next();                                    // past the end stays there
    EXPECT_TRUE(query.eof());
}

TEST_F(Reading, ResultSeenFromTheFirstRowWhenFirstComesBeforeAnyMove) {
    query.clearSql();
    query.addSql("SELECT ID FROM KINDS ORDER BY ID");
    query.open();
    query.next();
    EXPECT_EQ(query.asInteger(0), 2);
    query.first();
    EXPECT_EQ(query.asInteger(0), 1);
}

TEST_F(Reading, SelectOfAMissingTableFailsWithTheServerMessage) {
    query.clearSql();
    query.addSql("SELECT * FROM DOCUREC WHERE CODEMPRESA = :CODEMPRESA");
    const std::string message = errorOf([&] {
        query.setText(query.paramIndex("CodEmpresa"), "01");
        query.open();
    });
    EXPECT_NE(message.find("Table unknown"), std::string::npos) << message;
    EXPECT_NE(message.find("DOCUREC"), std::string::npos) << message;
}

// ---------------------------------------------------------------------------
// Writing

constexpr const char* kTargetSchema = R"(
CREATE TABLE TARGET (
    ID      INTEGER NOT NULL PRIMARY KEY,
    VC      VARCHAR(10),
    CH      CHAR(4),
    NUM     NUMERIC(15,2),
    SCALED  NUMERIC(9,4),
    INTG    INTEGER,
    DT      DATE,
    TXT     BLOB SUB_TYPE 1,
    BIG     VARCHAR(2000)
)
)";

class Writing : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string path = dir.file("target.fb");
    db::Connection connection;
    db::Statement statement;

    void SetUp() override {
        testsupport::createDatabase(path, kTargetSchema);
        openOn(connection, path);
        statement.attach(connection);
    }
    Rows row(int id) {
        return testsupport::selectAsText(
            path, "SELECT VC, CH, NUM, SCALED, INTG, DT, TXT, BIG FROM TARGET WHERE ID = " + std::to_string(id));
    }
    void prepare(const std::string& sql) {
        statement.clearSql();
        statement.addSql(sql);
    }
};

TEST_F(Writing, ServerConvertsEachParameterKindToTheColumn) {
    prepare(
        "INSERT INTO TARGET (ID, VC, CH, NUM, SCALED, INTG, DT, TXT) "
        "VALUES (:ID, :VC, :CH, :NUM, :SCALED, :INTG, :DT, :TXT)");
    statement.setText(statement.paramIndex("id"), "1");
    statement.setText(statement.paramIndex("VC"), "2.5");
    statement.setText(statement.paramIndex("CH"), "x");
    statement.setText(statement.paramIndex("NUM"), "1234.56");
    statement.setDouble(statement.paramIndex("SCALED"), 1.23456);
    statement.setText(statement.paramIndex("INTG"), " 42 ");
    statement.setText(statement.paramIndex("DT"), "2024-03-15 14:30:05");
    statement.setBlob(statement.paramIndex("TXT"), "anotação");
    statement.execute();
    const Rows expected = {{Cell("2.5"), Cell("x   "), Cell("1234.56"), Cell("1.2346"), Cell("42"),
                            Cell("2024-03-15 14:30:05.0000"), Cell("anotação"), std::nullopt}};
    EXPECT_EQ(row(1), expected);

    prepare("INSERT INTO TARGET (ID, VC, NUM, INTG, DT, TXT) VALUES (:ID, :VC, :NUM, :INTG, :DT, :TXT)");
    statement.setInteger(statement.paramIndex("ID"), 2);
    statement.setInteger(statement.paramIndex("VC"), -7);
    statement.setInteger(statement.paramIndex("NUM"), 99);
    statement.setDouble(statement.paramIndex("INTG"), 41.6);
    statement.setDate(statement.paramIndex("DT"), db::DateTime{2024, 2, 29, 23, 59, 59, 9999});
    statement.setText(statement.paramIndex("TXT"), "texto no blob");
    statement.execute();
    const Rows second = {{Cell("-7"), std::nullopt, Cell("99"), std::nullopt, Cell("42"),
                          Cell("2024-02-29 00:00:00.0000"), Cell("texto no blob"), std::nullopt}};
    EXPECT_EQ(row(2), second);
}

TEST_F(Writing, EmptyTextIsEmptyNotNullAndUnsetIsNull) {
    prepare("INSERT INTO TARGET (ID, VC, CH, TXT, BIG) VALUES (:ID, :VC, :CH, :TXT, :BIG)");
    statement.setInteger(statement.paramIndex("ID"), 1);
    statement.setText(statement.paramIndex("VC"), "");
    statement.setText(statement.paramIndex("CH"), "");
    statement.setBlob(statement.paramIndex("TXT"), "");
    statement.execute();
    const Rows rows = testsupport::selectAsText(path, "SELECT VC, CH, TXT, BIG FROM TARGET");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], Cell(""));
    EXPECT_EQ(rows[0][1], Cell("    "));
    EXPECT_EQ(rows[0][3], std::nullopt);
    // An empty blob may reach the table as an empty value or as NULL; it is
    // never anything else.
    EXPECT_TRUE(!rows[0][2] || rows[0][2]->empty());
}

TEST_F(Writing, RepeatedMarkerTakesOneValueEverywhere) {
    prepare("INSERT INTO TARGET (ID, VC, INTG) VALUES (:N, :n, :N * 2)");
    statement.setInteger(statement.paramIndex("n"), 21);
    statement.execute();
    EXPECT_EQ(testsupport::selectAsText(path, "SELECT ID, VC, INTG FROM TARGET"),
              (Rows{{Cell("21"), Cell("21"), Cell("42")}}));
}

TEST_F(Writing, MissingParameterIsNamedInTheError) {
    prepare("INSERT INTO TARGET (ID) VALUES (:ID)");
    const std::string message = errorOf([&] { statement.paramIndex("CodDocto"); });
    EXPECT_NE(message.find("CodDocto"), std::string::npos) << message;
}

// Each execute is committed when it returns, whether the program commits
// its own transaction per execute or the server commits each statement of
// one transaction; a failed one leaves nothing and the next goes on.
TEST_F(Writing, EachExecuteIsCommittedAndAFailedOneLeavesNothing) {
    for (const bool serverCommits : {false, true}) {
        SCOPED_TRACE(serverCommits ? "the server commits each statement" : "a transaction per execute");
        testsupport::execute(path, "DELETE FROM TARGET");
        prepare("INSERT INTO TARGET (ID, VC, TXT) VALUES (:ID, :VC, :TXT)");
        std::optional<db::Transaction> eachStatement;
        if (serverCommits) eachStatement.emplace(connection, db::Transaction::Commits::EachStatement);
        const auto execute = [&] { eachStatement ? statement.execute(*eachStatement) : statement.execute(); };
        const int id = statement.paramIndex("ID"), vc = statement.paramIndex("VC"), txt = statement.paramIndex("TXT");
        statement.setInteger(id, 1);
        statement.setText(vc, "um");
        statement.setBlob(txt, "blob um");
        execute();
        EXPECT_EQ(testsupport::countRows(path, "TARGET"), 1);  // seen by another attachment

        statement.setInteger(id, 2);
        statement.setText(vc, "longo demais");
        const std::string message = errorOf(execute);
        EXPECT_NE(message.find("truncation"), std::string::npos) << message;

        statement.setInteger(id, 1);  // duplicate key
        statement.setText(vc, "dois");
        const std::string duplicate = errorOf(execute);
        EXPECT_NE(duplicate.find("PRIMARY"), std::string::npos) << duplicate;

        statement.setInteger(id, 3);
        execute();
        EXPECT_EQ(testsupport::selectAsText(path, "SELECT ID, VC, TXT FROM TARGET ORDER BY ID"),
                  (Rows{{Cell("1"), Cell("um"), Cell("blob um")}, {Cell("3"), Cell("dois"), Cell("blob um")}}));
        // Nothing was left for the end of the transaction.
        if (eachStatement) eachStatement->rollback();
        EXPECT_EQ(testsupport::countRows(path, "TARGET"), 2);
    }
}

TEST_F(Writing, TextTheColumnCannotTakeIsAConversionErrorFromTheServer) {
    prepare("INSERT INTO TARGET (ID, INTG, DT) VALUES (:ID, :INTG, :DT)");
    statement.setInteger(statement.paramIndex("ID"), 1);
    statement.setText(statement.paramIndex("INTG"), "");
    statement.setText(statement.paramIndex("DT"), "2024-01-01");
    std::string message = errorOf([&] { statement.execute(); });
    EXPECT_NE(message.find("conversion error"), std::string::npos) << message;
    statement.setText(statement.paramIndex("INTG"), "1");
    statement.setText(statement.paramIndex("DT"), "31/12/2024");
    message = errorOf([&] { statement.execute(); });
    EXPECT_NE(message.find("conversion error"), std::string::npos) << message;
    EXPECT_EQ(testsupport::countRows(path, "TARGET"), 0);
}

TEST_F(Writing, ValuesOfChangingLengthAndKindBetweenExecutes) {
    prepare("UPDATE OR INSERT INTO TARGET (ID, BIG, NUM) VALUES (:ID, :BIG, :NUM)");
    const int id = statement.paramIndex("ID"), big = statement.paramIndex("BIG"), num = statement.paramIndex("NUM");
    const std::string lengths[] = {std::string(3, 'a'), std::string(1500, 'b'), std::string(10, 'c'),
                                   std::string(2000, 'd'), std::string()};
    for (int i = 0; i < 5; ++i) {
        statement.setInteger(id, i);
        statement.setText(big, lengths[i]);
        if (i % 2)
            statement.setDouble(num, i + 0.5);
        else
            statement.setText(num, std::to_string(i) + ".25");
        statement.execute();
    }
    const Rows rows = testsupport::selectAsText(path, "SELECT BIG, NUM FROM TARGET ORDER BY ID");
    ASSERT_EQ(rows.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rows[i][0], Cell(lengths[i])) << i;
        EXPECT_EQ(rows[i][1], Cell(std::to_string(i) + (i % 2 ? ".5" : ".25"))) << i;
    }
}

TEST_F(Writing, StatementSurvivesTheConnectionBeingReopened) {
    prepare("INSERT INTO TARGET (ID) VALUES (:ID)");
    statement.setInteger(statement.paramIndex("ID"), 1);
    statement.execute();
    connection.close();
    EXPECT_THROW(statement.execute(), db::Error);
    connection.open();
    statement.setInteger(statement.paramIndex("ID"), 2);
    statement.execute();
    EXPECT_EQ(testsupport::countRows(path, "TARGET"), 2);
}

TEST_F(Writing, MegabyteBlobParameterArrivesWhole) {
    std::string bytes;
    for (int i = 0; bytes.size() < 3 * 1024 * 1024; ++i)
        bytes += "Linha " + std::to_string(i) + " das anotações do cliente\r\n";
    prepare("INSERT INTO TARGET (ID, TXT) VALUES (:ID, :TXT)");
    statement.setInteger(statement.paramIndex("ID"), 1);
    statement.setBlob(statement.paramIndex("TXT"), bytes);
    statement.execute();
    EXPECT_TRUE(testsupport::selectValue(path, "SELECT TXT FROM TARGET") == bytes);
}

}  // namespace
