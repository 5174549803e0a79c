// The whole road of a conversion against a real Firebird 3 server: the
// central database is held by a server process of its own (started by
// scripts/test-server, on loopback, as the `firebird` user) and the branch
// files are opened by path with the embedded engine, as on a branch office
// network. When the server cannot be installed or started on this machine
// every case is skipped with the script's reason.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "EntryList.h"
#include "TestDatabases.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "reconcile/Merge.h"
#include "transfer/Connections.h"
#include "transfer/ConversionRun.h"

#ifndef TAVOLENE_TEST_SERVER_SCRIPT
#error "TAVOLENE_TEST_SERVER_SCRIPT must name scripts/test-server"
#endif

namespace {

using testsupport::countRows;
using testsupport::selectAsText;
using testsupport::selectValue;

constexpr int kServerUnavailable = 77;

struct ScriptResult {
    int exitCode = -1;
    std::string output;
};

// A shell command line, its standard error merged into its output.
ScriptResult runShell(const std::string& line) {
    ScriptResult result;
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) {
        result.output = "cannot run " + line;
        return result;
    }
    std::array<char, 512> buffer;
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), read);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
    return result;
}

ScriptResult runServerScript(const std::string& command) {
    return runShell(std::string("'") + TAVOLENE_TEST_SERVER_SCRIPT + "' " + command + " 2>&1");
}

std::string serverPort() {
    const char* port = std::getenv("TAVOLENE_FB_PORT");
    return port && *port ? port : "3051";
}

class RecordingView : public transfer::ProgressView {
public:
    void setProgressText(const std::string&) override {}
    void setGaugeMaximum(int) override {}
    void stepGauge() override {
        if (onRow) onRow();
    }
    void resetGauge() override {}
    void processEvents() override {}
    void appendLog(const std::string& line) override { log.push_back(line); }
    void tableJobStarting(const std::string& banco, const std::string& empresa, const std::string& table) override {
        if (onJob) onJob(banco, empresa, table);
    }

    std::vector<std::string> log;
    std::function<void()> onRow;
    std::function<void(const std::string&, const std::string&, const std::string&)> onJob;
};

class RecordingMessages : public transfer::UserMessages {
public:
    void information(const std::string& text) override { boxes.push_back("information: " + text); }
    void warning(const std::string& text) override { boxes.push_back("warning: " + text); }
    void error(const std::string& text) override { boxes.push_back("error: " + text); }

    std::vector<std::string> boxes;
};

class ServerRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const ScriptResult started = runServerScript("start");
        std::fprintf(stderr, "%s\n", started.output.c_str());
        if (started.exitCode == 0) {
            startedHere_ = true;
            return;
        }
        unavailable_ =
            started.exitCode == kServerUnavailable
                ? started.output
                : "scripts/test-server start exited with " + std::to_string(started.exitCode) + ": " + started.output;
        failedToStart_ = started.exitCode != kServerUnavailable;
    }

    static void TearDownTestSuite() {
        if (startedHere_) std::fprintf(stderr, "%s\n", runServerScript("stop").output.c_str());
        startedHere_ = false;
    }

    void SetUp() override {
        // Only "cannot be installed or started here" is a skip; a script
        // that fails any other way is a fault of the set-up.
        if (failedToStart_) FAIL() << *unavailable_;
        if (unavailable_) GTEST_SKIP() << *unavailable_;

        // The server runs as another user: it must reach the central folder.
        ASSERT_EQ(chmod(dir_.path().c_str(), 0711), 0);
        const std::string centralFolder = dir_.file("central");
        ASSERT_EQ(mkdir(centralFolder.c_str(), 0777), 0);
        ASSERT_EQ(chmod(centralFolder.c_str(), 0777), 0);
        centralFile_ = centralFolder + "/central.fb";
        centralPath_ = "localhost/" + serverPort() + ":" + centralFile_;
        testsupport::createCentralDatabase(centralPath_);

        branchA_ = dir_.file("filial-a.fb");
        branchB_ = dir_.file("filial-b.fb");
        testsupport::createBranchDatabase(branchA_);
        testsupport::createBranchDatabase(branchB_);
    }

    // Opens the central connection the way the converter panel does and runs
    // the conversion over the entries.
    transfer::RunSummary convert(const std::vector<std::pair<std::string, std::string>>& entries,
                                 const transfer::RunOptions& options = {}) {
        EXPECT_TRUE(transfer::ConectaBancoCentralizador(central_, centralPath_, messages_));
        testsupport::EntryList list(entries);
        return transfer::runConversion({central_, branch_}, list, view_, messages_, options);
    }

    long long centralCount(const std::string& table, const std::string& where = {}) {
        return countRows(centralPath_, table, where);
    }

    testsupport::TempDir dir_;
    std::string centralFile_;
    std::string centralPath_;
    std::string branchA_;
    std::string branchB_;
    RecordingView view_;
    RecordingMessages messages_;
    // Declared after the folder, so they detach before it is removed.
    db::Connection central_;
    db::Connection branch_;

    static inline bool startedHere_ = false;
    static inline bool failedToStart_ = false;
    static inline std::optional<std::string> unavailable_;
};

TEST_F(ServerRoad, TwoBranchesByPathIntoServerHeldCentralAndRunAgainWithoutDuplicates) {
    using testsupport::documentRow;
    using testsupport::movementRow;
    testsupport::insertRows(branchA_, "DOCUREC",
                            {documentRow("01", "A-1"), documentRow("01", "A-2"), documentRow("01", "A-3"),
                             documentRow("02", "A-OTHER")});  // another company's: not for this entry
    testsupport::insertRows(
        branchA_, "MOVIREC",
        {movementRow("01", "A-1", "1"), movementRow("01", "A-1", "2"), movementRow("02", "A-OTHER", "1")});
    testsupport::insertRows(branchB_, "DOCUREC",
                            {documentRow("02", "B-1"), documentRow("02", "A-1").set("VALORDOCTO", "99.99")});
    testsupport::insertRows(branchB_, "MOVIREC", {movementRow("02", "B-1", "1")});

    const std::vector<std::pair<std::string, std::string>> entries = {{branchA_, "01"}, {branchB_, "02"}};
    const transfer::RunSummary first = convert(entries);
    EXPECT_TRUE(messages_.boxes.empty()) << messages_.boxes.front();
    EXPECT_TRUE(view_.log.empty()) << view_.log.front();
    EXPECT_EQ(first.writtenRows, 8);
    EXPECT_TRUE(first.clean());

    // The program's central attachment goes through the server, not the
    // embedded engine.
    EXPECT_EQ(selectValue(centralPath_,
                          "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$REMOTE_PROTOCOL STARTING WITH 'TCP' "
                          "AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0"),
              "1");

    EXPECT_EQ(centralCount("DOCUREC"), 5);
    EXPECT_EQ(centralCount("DOCUREC", "CODEMPRESA = '01'"), 3);
    EXPECT_EQ(centralCount("DOCUREC", "CODDOCTO = 'A-OTHER'"), 0);
    EXPECT_EQ(centralCount("MOVIREC"), 3);
    EXPECT_EQ(centralCount("MOVIREC", "CODEMPRESA = '02' AND CODDOCTO = 'B-1'"), 1);

    // Same document number in two companies: two rows, each with its own value.
    const testsupport::Rows sameNumber =
        selectAsText(centralPath_,
                     "SELECT CODEMPRESA, VALORDOCTO, DT_VENDA, ANOTACOES, CODMOEDA FROM DOCUREC "
                     "WHERE CODDOCTO = 'A-1' ORDER BY CODEMPRESA");
    ASSERT_EQ(sameNumber.size(), 2u);
    EXPECT_EQ(sameNumber[0][0], "01");
    EXPECT_EQ(sameNumber[0][1], "1480.5");
    EXPECT_EQ(sameNumber[1][0], "02");
    EXPECT_EQ(sameNumber[1][1], "99.99");
    // Dates travel as dates: the time of day of the branch value is gone.
    EXPECT_EQ(sameNumber[0][2], "2024-03-10 00:00:00.0000");
    EXPECT_EQ(sameNumber[0][3], "Cliente pediu boleto por e-mail.\r\nLigar antes do vencimento.");
    EXPECT_EQ(sameNumber[0][4], "R$ ");
    EXPECT_EQ(selectValue(centralPath_, "SELECT VALORMOV FROM MOVIREC WHERE CODDOCTO = 'A-1' AND NUMORD = '2'"),
              "740.25");

    // Between the runs the central office checks a row and a branch changes
    // one; the second run replaces rows instead of adding them.
    testsupport::execute(centralPath_,
                         "UPDATE DOCUREC SET CONFERIDO = 'S' WHERE CODEMPRESA = '01' AND CODDOCTO = 'A-2'");
    testsupport::execute(branchA_, "UPDATE DOCUREC SET VALORPAGO = 100 WHERE CODDOCTO = 'A-2'");
    view_.log.clear();
    const transfer::RunSummary second = convert(entries);
    EXPECT_TRUE(messages_.boxes.empty()) << messages_.boxes.front();
    EXPECT_TRUE(view_.log.empty()) << view_.log.front();
    EXPECT_EQ(second.writtenRows, 8);
    EXPECT_EQ(centralCount("DOCUREC"), 5);
    EXPECT_EQ(centralCount("MOVIREC"), 3);
    const testsupport::Rows replaced =
        selectAsText(centralPath_,
                     "SELECT VALORPAGO, CONFERIDO FROM DOCUREC WHERE CODEMPRESA = '01' AND "
                     "CODDOCTO = 'A-2'");
    ASSERT_EQ(replaced.size(), 1u);
    EXPECT_EQ(replaced[0][0], "100");
    EXPECT_EQ(replaced[0][1], "S");
}

TEST_F(ServerRoad, RowTheServerRefusesGivesOneLogLineWithTheServersMessageAndTheRunGoesOn) {
    testsupport::execute(centralPath_, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_DOCUREC_VALOR CHECK (VALORDOCTO >= 0)");
    testsupport::insertRows(branchA_, "DOCUREC",
                            {testsupport::documentRow("01", "OK-1"), testsupport::documentRow("01", "OK-2"),
                             testsupport::documentRow("01", "NEG-1").set("VALORDOCTO", "-5"),
                             testsupport::documentRow("01", "OK-3"), testsupport::documentRow("01", "OK-4")});
    testsupport::insertRows(branchA_, "MOVIREC", {testsupport::movementRow("01", "NEG-1")});

    // Row by row, then again with many rows per commit, which over a server
    // go in blocks: the rows before and after the refused one take one
    // statement each side, the refused row one of its own; tried first as
    // one MERGE, which the refused row fails, one statement more.
    const struct {
        int rowsPerCommit;
        bool merge;
        int documentStatements;
    } ways[] = {{1, true, 5}, {10000, false, 3}, {10000, true, 4}};
    for (const auto& [rowsPerCommit, merge, documentStatements] : ways) {
        SCOPED_TRACE(std::to_string(rowsPerCommit) + (merge ? " merge" : ""));
        view_.log.clear();
        const transfer::RunSummary summary = convert({{branchA_, "01"}}, {{rowsPerCommit, 0, merge}});

        ASSERT_EQ(view_.log.size(), 1u);
        const std::string& line = view_.log.front();
        const std::string frame = "DOCUREC: Documento = NEG-1 Erro: ";
        EXPECT_EQ(line.substr(0, frame.size()), frame) << line;
        EXPECT_NE(line.find("Operation violates CHECK constraint CK_DOCUREC_VALOR on view or table DOCUREC"),
                  std::string::npos)
            << line;
        EXPECT_EQ(summary.failedRows, 1);
        EXPECT_EQ(summary.writtenRows, 5);
        EXPECT_EQ(summary.jobs.at(0).tally.centralStatements, documentStatements);
        EXPECT_EQ(transfer::runEndMessage(summary).rfind("Integração concluída com erros!", 0), 0u);
        EXPECT_EQ(centralCount("DOCUREC"), 4);
        EXPECT_EQ(centralCount("DOCUREC", "CODDOCTO = 'NEG-1'"), 0);
        // The movement of the refused document has no foreign key to stop it.
        EXPECT_EQ(centralCount("MOVIREC", "CODDOCTO = 'NEG-1'"), 1);
    }
}

// While the server holds the central file, the same file by its plain path
// cannot be opened: the embedded engine meets the server's lock, and the
// client's Loopback provider asks Firebird's default port, where this server
// does not listen. The user gets the error box with the engine's reason.
TEST_F(ServerRoad, PlainPathToCentralHeldByServerOnItsOwnPortIsRefusedWithTheLockReason) {
    ASSERT_TRUE(transfer::ConectaBancoCentralizador(central_, centralPath_, messages_));

    db::Connection byPath;
    EXPECT_FALSE(transfer::ConectaBancoCentralizador(byPath, centralFile_, messages_));
    EXPECT_FALSE(byPath.isAttached());
    ASSERT_EQ(messages_.boxes.size(), 1u);
    const std::string& box = messages_.boxes.front();
    EXPECT_EQ(box.rfind("error: Não foi possível conectar ao banco de dados Centralizador\rMotivo: ", 0), 0u) << box;
    EXPECT_NE(box.find("I/O error during \"lock\" operation for file \"" + centralFile_ + "\""), std::string::npos)
        << box;

    // Once the server lets go of the file, the plain path opens it directly
    // (the file is the server user's: only root may open it so).
    if (geteuid() != 0) return;
    central_.close();
    messages_.boxes.clear();
    EXPECT_TRUE(transfer::ConectaBancoCentralizador(byPath, centralFile_, messages_));
    EXPECT_TRUE(messages_.boxes.empty());
}

// The server dies mid-run: the run ends with one job failure instead of a
// log line for every row left, the rows committed before stay, and a rerun
// once the server is back leaves the tables a clean run leaves.
TEST_F(ServerRoad, ServerKilledMidRunEndsTheRunOnceAndARerunConverges) {
    std::vector<testsupport::Row> documents;
    for (int i = 0; i < 200; ++i) documents.push_back(testsupport::documentRow("01", "K-" + std::to_string(i)));
    testsupport::insertRows(branchA_, "DOCUREC", documents);
    testsupport::insertRows(branchA_, "MOVIREC", {testsupport::movementRow("01", "K-1")});

    const char* folder = std::getenv("TAVOLENE_FB_SERVER_DIR");
    const std::string pidFile =
        (folder && *folder ? std::string(folder) : "/tmp/tavolene-fbserver-" + serverPort()) + "/firebird.pid";
    int rows = 0;
    view_.onRow = [&] {
        if (++rows != 50) return;
        pid_t server = 0;
        std::ifstream(pidFile) >> server;
        ASSERT_GT(server, 0) << pidFile;
        ASSERT_EQ(kill(server, SIGKILL), 0);
        for (int wait = 0; wait < 100 && kill(server, 0) == 0; ++wait) usleep(50000);
    };
    try {
        convert({{branchA_, "01"}});
        ADD_FAILURE() << "the run went on without its server";
    } catch (const transfer::ConversionError& failure) {
        // The central database is the one on the server.
        EXPECT_EQ(
            std::string(failure.what())
                .rfind("Erro ao converter os dados! Motivo: conexão com o banco de dados Centralizador perdida: ", 0),
            0u)
            << failure.what();
        EXPECT_GE(failure.tally.written, 48);
    }
    EXPECT_LE(view_.log.size(), 1u) << "one row at most may fail before the loss is known";
    view_.onRow = nullptr;
    view_.log.clear();

    const ScriptResult restarted = runServerScript("start");
    ASSERT_EQ(restarted.exitCode, 0) << restarted.output;
    EXPECT_GE(centralCount("DOCUREC"), 48);
    const transfer::RunSummary rerun = convert({{branchA_, "01"}});
    EXPECT_TRUE(rerun.clean());

    const std::string clean = dir_.file("limpa.fb");
    testsupport::createCentralDatabase(clean);
    db::Connection cleanCentral;
    ASSERT_TRUE(transfer::ConectaBancoCentralizador(cleanCentral, clean, messages_));
    testsupport::EntryList list({{branchA_, "01"}});
    EXPECT_TRUE(transfer::runConversion({cleanCentral, branch_}, list, view_, messages_).clean());
    for (const auto& [table, columns] :
         {std::pair{"DOCUREC", testsupport::documentColumns()}, std::pair{"MOVIREC", testsupport::movementColumns()}}) {
        std::string list;
        for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + column;
        const std::string select = "SELECT " + list + " FROM " + table + " ORDER BY 1, 2, 3, 4, 5, 6";
        EXPECT_EQ(selectAsText(centralPath_, select), selectAsText(clean, select)) << table;
    }
}

// The central file reached through another string for the same file on the
// same server is the central database itself: refused as the local path
// case is, and the central's own rows keep their NULLs.
TEST_F(ServerRoad, CentralThroughAnotherStringForTheSameServerFileIsRefusedAsTheCentral) {
    testsupport::insertRows(centralPath_, "DOCUREC",
                            {testsupport::documentRow("01", "ONLY-C")
                                 .remove("DT_ALTERACAO")
                                 .remove("USUARIO_ALT")
                                 .set("DT_VENDA", "2024-03-10 15:30:00")
                                 .set("OBSERVACAO", std::nullopt)});
    const std::string onlyCentral = "SELECT * FROM DOCUREC WHERE CODDOCTO = 'ONLY-C'";
    const testsupport::Rows before = selectAsText(centralPath_, onlyCentral);
    testsupport::insertRows(branchA_, "DOCUREC", {testsupport::documentRow("01", "A-1")});
    const std::string link = dir_.file("central") + "/atalho.fb";
    ASSERT_EQ(symlink(centralFile_.c_str(), link.c_str()), 0);
    for (const std::string& alias :
         {centralPath_, "127.0.0.1/" + serverPort() + ":" + centralFile_, "localhost/" + serverPort() + ":" + link}) {
        SCOPED_TRACE(alias);
        messages_.boxes.clear();
        const transfer::RunSummary summary = convert({{alias, "01"}, {branchA_, "01"}});
        ASSERT_EQ(messages_.boxes.size(), 1u) << testing::PrintToString(messages_.boxes);
        EXPECT_EQ(messages_.boxes[0], "warning: Erro ao conectar no banco de dados: " + alias +
                                          " Motivo: " + transfer::kBancoCentralizadorNaLista);
        EXPECT_EQ(summary.unopenedBranches, 1);
        EXPECT_EQ(summary.writtenRows, 1);
        EXPECT_EQ(selectAsText(centralPath_, onlyCentral), before);
    }
}

// A server that stops answering mid-run (SIGSTOP) ends the job as a lost
// connection once a call has waited the bound; the rows committed before
// stay, and a rerun converges. The default bound is over a minute, so CI
// runs the case with a short one and TAVOLENE_SLOW_TESTS=1 adds the default.
TEST_F(ServerRoad, StoppedServerEndsTheJobAsALostConnectionWithinTheBound) {
    std::vector<testsupport::Row> documents;
    for (int i = 0; i < 120; ++i) documents.push_back(testsupport::documentRow("01", "T-" + std::to_string(i)));
    testsupport::insertRows(branchA_, "DOCUREC", documents);
    std::vector<int> bounds = {3};
    if (std::getenv("TAVOLENE_SLOW_TESTS")) bounds.push_back(db::Connection::kDefaultStallTimeoutSeconds);
    const char* folder = std::getenv("TAVOLENE_FB_SERVER_DIR");
    const std::string pidFile =
        (folder && *folder ? std::string(folder) : "/tmp/tavolene-fbserver-" + serverPort()) + "/firebird.pid";
    pid_t server = 0;
    std::ifstream(pidFile) >> server;
    ASSERT_GT(server, 0) << pidFile;
    for (const int bound : bounds) {
        SCOPED_TRACE(bound);
        testsupport::execute(centralPath_, "DELETE FROM DOCUREC");
        central_.setStallTimeoutSeconds(bound);
        int rows = 0;
        std::chrono::steady_clock::time_point stopped;
        view_.onRow = [&] {
            if (++rows != 50) return;
            ASSERT_EQ(kill(server, SIGSTOP), 0);
            stopped = std::chrono::steady_clock::now();
        };
        bool lost = false;
        try {
            convert({{branchA_, "01"}});
        } catch (const transfer::ConversionError& failure) {
            lost = std::string(failure.what()).find("Error reading data from the connection") != std::string::npos;
            EXPECT_TRUE(lost) << failure.what();
        }
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
        ASSERT_EQ(kill(server, SIGCONT), 0);
        view_.onRow = nullptr;
        EXPECT_TRUE(lost && waited >= bound - 1 && waited < bound + 10) << waited << " s, lost: " << lost;
        std::fprintf(stderr, "bound %d s: the job ended %.1f s after the server stopped\n", bound, waited);
        EXPECT_GE(centralCount("DOCUREC"), 48);
        EXPECT_TRUE(convert({{branchA_, "01"}}).clean());
        EXPECT_EQ(centralCount("DOCUREC"), 120);
    }
}

// Both databases behind the server, as a runner far from its branch sees
// them: with the wire compressed on request (and plain without), the notes
// arrive byte for byte whatever their length, and each attachment of the
// run says whether its wire is compressed.
TEST_F(ServerRoad, NotesOfEveryLengthCrossACompressedOrPlainWireByteForByte) {
    std::string everyByte, longNotes;
    for (int byte = 1; byte < 256; ++byte) everyByte += static_cast<char>(byte);
    for (int i = 0; longNotes.size() < 200000; ++i) longNotes += everyByte.substr(i % 255) + "\r\n";
    const std::vector<std::pair<std::string, std::optional<std::string>>> notes = {
        {"N-NULL", std::nullopt},
        {"N-EMPTY", ""},
        {"N-SHORT",
         "Ligar antes do vencimento.\r\n\xC7"
         "obran\xE7"
         "a"},
        {"N-BYTES", everyByte + std::string("\0fim\0", 5)},
        {"N-1024", longNotes.substr(0, 1024)},
        {"N-1025", longNotes.substr(0, 1025)},
        {"N-4000", longNotes.substr(0, 4000)},
        {"N-4001", longNotes.substr(0, 4001)},
        {"N-32765", longNotes.substr(0, 32765)},
        {"N-32766", longNotes.substr(0, 32766)},
        {"N-LONG", longNotes},
    };
    const std::string branch = "localhost/" + serverPort() + ":" + dir_.file("central") + "/filial-remota.fb";
    testsupport::createBranchDatabase(branch);
    std::vector<testsupport::Row> documents;
    for (const auto& [key, bytes] : notes)
        documents.push_back(testsupport::documentRow("01", key).setBlob("ANOTACOES", bytes));
    testsupport::insertRows(branch, "DOCUREC", documents);
    testsupport::insertRows(branch, "MOVIREC", {testsupport::movementRow("01", "N-LONG")});

    const auto wireCompressed = [](db::Connection& connection) {
        db::Query query(connection);
        query.addSql("SELECT RDB$GET_CONTEXT('SYSTEM', 'WIRE_COMPRESSED') FROM RDB$DATABASE");
        query.open();
        return query.asText(0);
    };
    // The window's way, then the runner's: short notes arrive with their
    // rows, the total is counted by the database, the jobs share.
    transfer::RunOptions runnersWay;
    runnersWay.countInDatabase = runnersWay.shareAcrossJobs = runnersWay.inlineShortBlobs = true;
    // And in fast mode: the short notes as text in one MERGE, the long ones
    // in blocks.
    transfer::RunOptions fastWay = runnersWay;
    fastWay.commit.rowsPerCommit = 10000;
    for (const auto& [compress, options] :
         {std::pair{false, transfer::RunOptions{}}, std::pair{true, transfer::RunOptions{}},
          std::pair{true, runnersWay}, std::pair{false, fastWay}}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        SCOPED_TRACE(options.inlineShortBlobs ? "the runner's way" : "the window's way");
        SCOPED_TRACE(options.commit.rowsPerCommit);
        testsupport::execute(centralPath_, "DELETE FROM DOCUREC");
        central_.setWireCompression(compress);
        branch_.setWireCompression(compress);
        const transfer::RunSummary summary = convert({{branch, "01"}}, options);
        EXPECT_TRUE(messages_.boxes.empty()) << messages_.boxes.front();
        EXPECT_TRUE(view_.log.empty()) << view_.log.front();
        EXPECT_EQ(summary.writtenRows, static_cast<int>(notes.size()) + 1);
        const std::string expected = compress ? "TRUE" : "FALSE";
        EXPECT_EQ(wireCompressed(central_), expected);
        ASSERT_TRUE(branch_.isAttached());
        EXPECT_EQ(wireCompressed(branch_), expected);

        for (const auto& [key, bytes] : notes) {
            SCOPED_TRACE(key);
            // No notes are read as empty notes, and written so.
            const testsupport::Cell copied =
                selectValue(centralPath_, "SELECT ANOTACOES FROM DOCUREC WHERE CODDOCTO = '" + key + "'");
            ASSERT_TRUE(copied.has_value());
            EXPECT_EQ(copied->size(), bytes.value_or("").size());
            EXPECT_TRUE(*copied == bytes.value_or(""));
        }
    }

    // The comparison reads them back from both sides, the short notes with
    // their rows and the long ones from their blobs, as the check reads the
    // branch and as a changed-only run does: all equal but the one made a
    // byte apart at its end.
    testsupport::execute(centralPath_,
                         "UPDATE DOCUREC SET ANOTACOES = SUBSTRING(ANOTACOES FROM 1 FOR 259) || ASCII_CHAR(1) "
                         "WHERE CODDOCTO = 'N-BYTES'");
    struct Differences : reconcile::CheckSink {
        explicit Differences(bool sent) : sent(sent) {}
        void difference(const reconcile::TableCheck&, const reconcile::Difference& found) override {
            this->found.push_back(found.key.back() + ": " + (found.columns.empty() ? "" : found.columns.front()));
        }
        void tableDone(const reconcile::TableCheck& table) override { equal += table.equal; }
        bool keepsSentRows() const override { return sent; }
        bool sent;
        long long equal = 0;
        std::vector<std::string> found;
    };
    for (const bool sent : {false, true}) {
        SCOPED_TRACE(sent ? "as a changed-only run reads" : "as the check reads");
        Differences differences(sent);
        reconcile::checkEntries(central_, {{branch, "01"}}, branch_.parameters(), differences);
        EXPECT_EQ(differences.found, std::vector<std::string>{"N-BYTES: ANOTACOES"});
        EXPECT_EQ(differences.equal, static_cast<long long>(notes.size()));
    }
}

// A branch on the server listed under several codes, one entry after
// another: the runner reads them through one attachment and selects
// prepared once, and writes what separate attachments per job (the
// window's way, into a local central) write, byte for byte, with the same
// warnings. An attachment killed between entries is attached afresh.
TEST_F(ServerRoad, EntriesOfOneServerBranchShareItsAttachmentAndWriteWhatSeparateJobsWrite) {
    const std::string remote = "localhost/" + serverPort() + ":" + dir_.file("central") + "/filial-remota.fb";
    testsupport::createBranchDatabase(remote);
    std::string longNote;
    for (int i = 0; longNote.size() < 40000; ++i) longNote += static_cast<char>(1 + i % 255);
    std::vector<testsupport::Row> documents, movements;
    for (const std::string code : {"01", "02"})
        for (int i = 0; i < 30; ++i) {
            const std::string key = "R" + code + "-" + std::to_string(i);
            documents.push_back(
                testsupport::documentRow(code, key).setBlob("ANOTACOES", i % 10 == 0 ? longNote : "nota \xE7" + key));
            movements.push_back(testsupport::movementRow(code, key, "1"));
            movements.push_back(testsupport::movementRow(code, key, "2"));
        }
    testsupport::insertRows(remote, "DOCUREC", documents);
    testsupport::insertRows(remote, "MOVIREC", movements);
    testsupport::insertRows(branchA_, "DOCUREC", {testsupport::documentRow("01", "A-1")});
    const std::string missing = dir_.file("nao-existe.fb");
    // Ends the program's attachment to the remote branch, seen from another.
    const auto killBranchAttachment = [&] {
        testsupport::execute(remote,
                             "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                             "AND MON$SYSTEM_FLAG = 0");
    };

    transfer::RunOptions runnersWay;
    runnersWay.countInDatabase = runnersWay.shareAcrossJobs = runnersWay.inlineShortBlobs = true;
    runnersWay.commit.rowsPerCommit = 10000;
    runnersWay.readAheadRows = 3;
    runnersWay.shareBranchReads = true;
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> entries;
        bool killBeforeSecondEntry;
        std::uint64_t runnerAttaches;
    } cases[] = {
        {"two codes", {{remote, "01"}, {remote, "02"}}, false, 1},
        {"a code again and one with no rows",
         {{remote, "02"}, {remote, "01"}, {remote, "02"}, {remote, "09"}},
         false,
         1},
        {"another branch between", {{remote, "01"}, {branchA_, "01"}, {remote, "02"}}, false, 3},
        {"a missing branch twice", {{missing, "01"}, {missing, "02"}, {remote, "01"}, {remote, "02"}}, false, 1},
        {"attachment killed between entries", {{remote, "01"}, {remote, "02"}}, true, 2},
    };
    const auto tableRows = [](const std::string& path) {
        std::vector<testsupport::Rows> tables;
        for (const auto& [table, columns] : {std::pair{"DOCUREC", testsupport::documentColumns()},
                                             std::pair{"MOVIREC", testsupport::movementColumns()}}) {
            std::string list;
            for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + column;
            tables.push_back(selectAsText(path, "SELECT " + list + " FROM " + table + " ORDER BY 1, 2, 3, 4, 5, 6"));
        }
        return tables;
    };
    int run = 0;
    for (const auto& [name, entries, killBeforeSecondEntry, runnerAttaches] : cases) {
        SCOPED_TRACE(name);
        const std::string separate = dir_.file("sequencial-" + std::to_string(++run) + ".fb");
        testsupport::createCentralDatabase(separate);
        RecordingMessages separateMessages;
        db::Connection separateCentral, separateBranch;
        ASSERT_TRUE(transfer::ConectaBancoCentralizador(separateCentral, separate, separateMessages));
        testsupport::EntryList separateList(entries);
        const transfer::RunSummary expected =
            transfer::runConversion({separateCentral, separateBranch}, separateList, view_, separateMessages);
        separateCentral.close();

        testsupport::execute(centralPath_, "DELETE FROM DOCUREC");
        testsupport::execute(centralPath_, "DELETE FROM MOVIREC");
        messages_.boxes.clear();
        db::Connection sharedBranch;
        int jobs = 0;
        view_.onJob = [&](const std::string&, const std::string&, const std::string&) {
            if (++jobs == 3 && killBeforeSecondEntry) killBranchAttachment();
        };
        ASSERT_TRUE(transfer::ConectaBancoCentralizador(central_, centralPath_, messages_));
        testsupport::EntryList list(entries);
        const transfer::RunSummary shared =
            transfer::runConversion({central_, sharedBranch}, list, view_, messages_, runnersWay);
        view_.onJob = nullptr;
        EXPECT_EQ(sharedBranch.attachmentSerial(), runnerAttaches);
        sharedBranch.drop();
        central_.close();

        EXPECT_GT(shared.writtenRows, 0);
        EXPECT_EQ(shared.writtenRows, expected.writtenRows);
        EXPECT_EQ(shared.failedRows, 0);
        EXPECT_EQ(shared.unopenedBranches, expected.unopenedBranches);
        EXPECT_EQ(shared.jobs.size(), expected.jobs.size());
        EXPECT_EQ(messages_.boxes, separateMessages.boxes);
        EXPECT_TRUE(tableRows(centralPath_) == tableRows(separate));
    }
}

// A remote branch whose attachment is ended while its rows are being
// fetched: the job ends as a failure after the rows read before the loss,
// whether the rows are read ahead on a thread of their own or in the loop.
// Every row counted as written is in the central database, and the loss is
// no row's log line.
TEST_F(ServerRoad, BranchLostWhileItsRowsAreReadEndsTheJobAfterTheRowsBeforeIt) {
    const std::string remote = "localhost/" + serverPort() + ":" + dir_.file("central") + "/filial-perdida.fb";
    testsupport::createBranchDatabase(remote);
    std::vector<testsupport::Row> documents;
    // Many fetch batches: the loss is met by a fetch, not by rows the
    // client already holds.
    for (int i = 0; i < 3000; ++i)
        documents.push_back(testsupport::documentRow("01", "P-" + std::to_string(100000 + i))
                                .setBlob("ANOTACOES", "nota da filial " + std::string(200, 'x')));
    testsupport::insertRows(remote, "DOCUREC", documents);

    transfer::RunOptions readAhead;
    readAhead.countInDatabase = readAhead.shareAcrossJobs = readAhead.inlineShortBlobs = true;
    readAhead.commit.rowsPerCommit = 10000;
    readAhead.readAheadRows = 3;
    readAhead.shareBranchReads = true;
    transfer::RunOptions inTheLoop = readAhead;
    inTheLoop.readAheadRows = 0;
    for (const auto& [name, options] : {std::pair{"read ahead", readAhead}, std::pair{"in the loop", inTheLoop}}) {
        SCOPED_TRACE(name);
        testsupport::execute(centralPath_, "DELETE FROM DOCUREC");
        view_.log.clear();
        int rows = 0;
        view_.onRow = [&] {
            if (++rows == 100)
                testsupport::execute(remote,
                                     "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                                     "AND MON$SYSTEM_FLAG = 0");
        };
        try {
            convert({{remote, "01"}}, options);
            ADD_FAILURE() << "the job went on without its branch";
        } catch (const transfer::ConversionError& failure) {
            EXPECT_EQ(std::string(failure.what()).rfind("Erro ao converter os dados! Motivo: ", 0), 0u)
                << failure.what();
            EXPECT_GE(failure.tally.written, 100);
            EXPECT_LT(failure.tally.written, 3000);
            EXPECT_EQ(failure.tally.failed, 0);
            EXPECT_EQ(centralCount("DOCUREC"), failure.tally.written);
        }
        view_.onRow = nullptr;
        EXPECT_TRUE(view_.log.empty()) << view_.log.front();
        branch_.drop();
        central_.close();
    }
}

// tavolene-batch with the central database named by a connection string to
// the server and the branch by its plain path. The server checks the
// password, which comes from the environment and shows nowhere.
TEST_F(ServerRoad, BatchRunnerConvertsIntoTheServerHeldCentralWithThePasswordFromTheEnvironment) {
    testsupport::insertRows(branchA_, "DOCUREC",
                            {testsupport::documentRow("01", "S-1"), testsupport::documentRow("01", "S-2")});
    testsupport::insertRows(branchA_, "MOVIREC", {testsupport::movementRow("01", "S-1")});
    const std::string report = dir_.file("run.json");
    for (const std::string password : {"not-the-password-7", testsupport::kPassword}) {
        const ScriptResult run =
            runShell("ISC_USER=SYSDBA ISC_PASSWORD=" + password + " '" + TAVOLENE_BATCH + "' --central '" +
                     centralPath_ + "' --branch '" + branchA_ + "=01' --report '" + report + "' 2>&1");
        std::string written;
        if (FILE* file = std::fopen(report.c_str(), "r")) {
            for (int c; (c = std::fgetc(file)) != EOF;) written += static_cast<char>(c);
            std::fclose(file);
        }
        EXPECT_EQ(run.output.find(password), std::string::npos) << run.output;
        EXPECT_EQ(written.find(password), std::string::npos) << written;
        if (password != testsupport::kPassword) {
            EXPECT_EQ(run.exitCode, 3) << run.output;
            EXPECT_NE(run.output.find("Your user name and password are not defined"), std::string::npos) << run.output;
            EXPECT_EQ(centralCount("DOCUREC"), 0);
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(centralCount("DOCUREC"), 2);
        EXPECT_EQ(centralCount("MOVIREC"), 1);
    }
}

}  // namespace
