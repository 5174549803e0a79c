// The run over the branch list: every entry in order, documents before
// movements, and what stops it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineFixture.h"
#include "EntryList.h"
#include "transfer/Connections.h"
#include "transfer/ConversionRun.h"

namespace {

using enginetest::Recorder;
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

TEST_F(ConversionRun, UnopenedBranchWarnsTwiceCountsOnceAndTheRunGoesOn) {
    const std::string missing = dir.file("nao-existe.fb");
    testsupport::EntryList list({{missing, "01"}, {secondBranch, "02"}});
    const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view);
    const std::string warning =
        "Erro ao conectar no banco de dados: " + missing + " Motivo: " + enginetest::openFailureOf(missing);
    EXPECT_EQ(view.warnings, (Texts{warning, warning}));
    EXPECT_EQ(summary.unopenedBranches, 1);
    EXPECT_EQ(summary.writtenRows, 3);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 2);
    // No row failed, so there is nothing in the log to look at.
    EXPECT_EQ(transfer::runEndMessage(summary),
              "Integração concluída com erros! Registros não integrados: 0. Bancos não conectados: 1.");
}

// The central file listed as a branch, by its own path or another name for
// it, is refused before anything is read or written.
TEST_F(ConversionRun, CentralFileListedAsABranchIsRefused) {
    const std::string link = dir.file("atalho.fb");
    const std::string hardLink = dir.file("outro-nome.fb");
    ASSERT_EQ(::symlink(centralPath.c_str(), link.c_str()), 0);
    ASSERT_EQ(::link(centralPath.c_str(), hardLink.c_str()), 0);
    testsupport::insertRow(
        centralPath, "DOCUREC",
        documentRow("01", "C1").remove("DT_ALTERACAO").remove("USUARIO_ALT").set("OBSERVACAO", std::nullopt));
    const Rows before = centralRows("DOCUREC", testsupport::documentColumns());
    for (const std::string& path : {centralPath, link, hardLink, dir.path() + "/./central.fb"}) {
        SCOPED_TRACE(path);
        view = {};
        testsupport::EntryList list({{path, "01"}, {secondBranch, "02"}});
        const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view);
        EXPECT_EQ(view.warnings, Texts{"Erro ao conectar no banco de dados: " + path +
                                       " Motivo: " + transfer::kBancoCentralizadorNaLista});
        EXPECT_EQ(summary.unopenedBranches, 1);
        EXPECT_EQ(summary.writtenRows, 3);  // the next entry still runs
        EXPECT_EQ(centralRows("DOCUREC", testsupport::documentColumns(), "CODEMPRESA = '01'"), before);
    }
}

TEST_F(ConversionRun, FailedJobStopsTheRunAndKeepsWhatWasWritten) {
    testsupport::execute(branchPath, "DROP TABLE MOVIREC");
    testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
    try {
        transfer::runConversion(connections(), list, view, view);
        FAIL() << "the run went through";
    } catch (const transfer::ConversionError& error) {
        // With many branches listed, the reason says which file and table.
        const std::string expected = "Erro ao converter os dados! Motivo: " + branchPath + " (MOVIREC): ";
        EXPECT_EQ(std::string(error.what()).rfind(expected, 0), 0u) << error.what();
        EXPECT_NE(std::string(error.what()).find("MOVIREC"), std::string::npos);
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

// The runner's way (the total asked of the database, one branch attachment
// per entry, each upsert prepared once per run, notes in the rows, each row
// committed by the server as its execute ends) ends as
// the window's way does: the same boxes, log lines, gauge maxima and rows,
// only without the counting pass and the second attach of an entry.
TEST_F(ConversionRun, SharedAttachmentAndDatabaseCountEndAsTheWindowsWayDoes) {
    testsupport::insertRows(branchPath, "DOCUREC",
                            {documentRow("01", "D2").set("CODCLIENTE", "BLOQ"), documentRow("01", "D3"),
                             documentRow("02", "X2"), documentRow("03", "Y")});
    const std::string missing = dir.file("nao-existe.fb");
    // A branch without notes, which the runner's select names: read the
    // window's way, each row logged.
    const std::string noNotes = dir.file("sem-anotacoes.fb");
    std::string schema = testsupport::schemaText("branch.sql");
    schema.erase(schema.find("ANOTACOES"), schema.find('\n', schema.find("ANOTACOES")) - schema.find("ANOTACOES"));
    testsupport::createDatabase(noNotes, schema);
    testsupport::insertRow(noNotes, "DOCUREC", documentRow("01", "S1").remove("ANOTACOES"));
    const std::vector<std::pair<std::string, std::string>> entries = {{branchPath, "01"},   {missing, "01"},
                                                                      {secondBranch, "02"}, {branchPath, "02"},
                                                                      {noNotes, "01"},      {secondBranch, "09"}};
    struct Way {
        Recorder view;
        transfer::RunSummary summary;
        std::uint64_t branchAttaches = 0;
        Rows documents, movements;
    };
    const auto runWay = [&](const transfer::RunOptions& options, const std::string& name) {
        Way way;
        const std::string path = dir.file(name + ".fb");
        testsupport::createCentralDatabase(path);
        testsupport::execute(path, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_BLOQ CHECK (CODCLIENTE <> 'BLOQ')");
        db::Connection target, source;
        target.parameters().setValue("Database", path);
        target.open();
        testsupport::EntryList list(entries);
        way.summary = transfer::runConversion({target, source}, list, way.view, way.view, options);
        way.branchAttaches = source.attachmentSerial();
        way.documents = rowsOf(path, "DOCUREC", testsupport::documentColumns());
        way.movements = rowsOf(path, "MOVIREC", testsupport::movementColumns());
        return way;
    };
    const Way window = runWay({}, "janela");
    transfer::RunOptions shared;
    shared.countInDatabase = shared.shareAcrossJobs = shared.inlineShortBlobs = true;
    shared.commit.serverCommitsEachRow = true;
    // Rows read on their own thread, two at most ahead of the writes.
    shared.readAheadRows = 2;
    shared.shareBranchReads = true;
    const Way runner = runWay(shared, "lote");

    ASSERT_EQ(window.summary.writtenRows, 9);
    ASSERT_EQ(window.view.log.size(), 2u);
    // Labels, gauge maxima (each job's company rows), resets and log lines.
    EXPECT_EQ(runner.view.events, window.view.events);
    EXPECT_EQ(std::count(window.view.events.begin(), window.view.events.end(), "max:3"), 1);
    EXPECT_EQ(runner.view.warnings, window.view.warnings);
    EXPECT_EQ(runner.summary.writtenRows, window.summary.writtenRows);
    EXPECT_EQ(runner.summary.failedRows, window.summary.failedRows);
    EXPECT_EQ(runner.summary.unopenedBranches, window.summary.unopenedBranches);
    EXPECT_EQ(runner.documents, window.documents);
    EXPECT_EQ(runner.movements, window.movements);
    // Only the counting pass's events per row are gone.
    int read = 0;
    for (const transfer::JobReport& job : window.summary.jobs) read += job.tally.read;
    EXPECT_EQ(runner.view.processed, window.view.processed - read);
    // Five entries open, the missing one twice tried and never attached.
    EXPECT_EQ(window.branchAttaches, 10u);
    EXPECT_EQ(runner.branchAttaches, 5u);
}

TEST_F(ConversionRun, ClosingTheWindowStopsBetweenRows) {
    // Row by row, and with rows waiting for a block and a commit: the stop
    // writes and commits what was read; so it does with the rows read ahead
    // of the writes, and the rows read but not reached are not written.
    const std::pair<transfer::CommitPolicy, int> ways[] = {{transfer::CommitPolicy{1, 0}, 0},
                                                           {transfer::CommitPolicy{10000, 4}, 0},
                                                           {transfer::CommitPolicy{1, 0}, 1},
                                                           {transfer::CommitPolicy{10000, 4}, 3}};
    for (const auto& [policy, readAheadRows] : ways) {
        SCOPED_TRACE(std::to_string(policy.rowsPerCommit) + " per commit, read ahead " + std::to_string(readAheadRows));
        transfer::RunOptions options{policy};
        options.readAheadRows = readAheadRows;
        testsupport::execute(centralPath, "DELETE FROM DOCUREC");
        testsupport::execute(centralPath, "DELETE FROM MOVIREC");
        view = {};
        testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
        view.stop = [&] { return view.rowLabels().size() >= 2; };
        const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view, options);
        EXPECT_TRUE(summary.stopped);
        EXPECT_FALSE(summary.clean());
        // The document, then the first movement; nothing after.
        EXPECT_EQ(summary.writtenRows, 2);
        EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 1);
        EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC"), 1);
        EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODEMPRESA = '02'"), 0);
        EXPECT_EQ(view.label, "");
    }
}

}  // namespace

namespace {

// Several rows per commit: the central tables and the log end as one commit
// per row leaves them, refused rows included; a commit that fails takes
// every row since the last one with it, each with its own log line.
class FastMode : public ConversionRun {
protected:
    static constexpr const char* kRefuse = "ALTER TABLE DOCUREC ADD CONSTRAINT CK_BLOQ CHECK (CODCLIENTE <> 'BLOQ')";

    void SetUp() override {
        ConversionRun::SetUp();
        std::vector<testsupport::Row> rows;
        for (int i = 0; i < 7; ++i)
            rows.push_back(documentRow("01", "F" + std::to_string(i)).set("CODCLIENTE", i % 3 == 1 ? "BLOQ" : "OK"));
        testsupport::insertRows(branchPath, "DOCUREC", rows);
    }

    transfer::RunSummary run(db::Connection& target, int rowsPerCommit, int rowsPerStatement = 0) {
        testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
        return transfer::runConversion({target, branch}, list, view, view, {{rowsPerCommit, rowsPerStatement}});
    }
};

int statements(const transfer::RunSummary& summary) {
    int count = 0;
    for (const auto& job : summary.jobs) count += job.tally.centralStatements;
    return count;
}

// Bytes of every value, so a note shows any change made on the way.
std::string noteOf(std::size_t length) {
    std::string note(length, '\0');
    for (std::size_t i = 0; i < length; ++i) note[i] = static_cast<char>((i * 7 + length) % 256);
    return note;
}

TEST_F(FastMode, EndsAsOneCommitPerRowDoes) {
    // The second branch fills blocks of four: E1 E2 G0 G1 | G2 G3 G4 G5 |
    // ..., its first, a middle and its last row refused; a client code
    // longer than the central column; notes at and past what a block
    // carries as text, past the longest text parameter, empty and NULL;
    // movements the central refuses (NULL moment) among others; last, a
    // document and a movement NULL in every column they may be. The central
    // document number compares without letter case (its collation): H1 and
    // h1 are one row there, and the rows it already holds as e1 and g0 are
    // E1's and G0's, to be rewritten to the branch's bytes, key included.
    testsupport::execute(secondBranch, "ALTER TABLE DOCUREC ALTER CODCLIENTE TYPE VARCHAR(30)");
    const std::set<int> refused = {2, 3, 5, 10};
    const std::map<int, std::optional<std::string>> notes = {
        {1, noteOf(1024)}, {4, noteOf(1025)}, {6, noteOf(40000)}, {7, std::string()}, {8, std::nullopt}};
    std::vector<testsupport::Row> documents, movements;
    for (int i = 0; i < 11; ++i) {
        documents.push_back(
            documentRow("02", "G" + std::to_string(i)).set("CODCLIENTE", refused.count(i) ? "BLOQ" : "OK"));
        if (notes.count(i)) documents.back().setBlob("ANOTACOES", notes.at(i));
        if (i == 9) documents.back().set("CODCLIENTE", std::string(25, 'L'));
        movements.push_back(movementRow("02", "E2", std::to_string(i + 2)));
        if (i % 4 == 1) movements.back().set("DATAHORA", std::nullopt);
    }
    auto nullsBut = [](testsupport::Row row, const std::vector<std::string>& columns, std::set<std::string> kept) {
        for (const std::string& column : columns)
            if (!kept.count(column)) row.set(column, std::nullopt);
        return row;
    };
    documents.push_back(nullsBut(documentRow("02", "G11"), testsupport::documentColumns(),
                                 {"CODEMPRESA", "TIPODOCTO", "CODDOCTO", "ORDEM"}));
    movements.push_back(nullsBut(movementRow("02", "E2", "13"), testsupport::movementColumns(),
                                 {"CODEMPRESA", "TIPODOCTO", "CODDOCTO", "NUMORD", "DATAHORA"}));
    documents.push_back(documentRow("02", "H1").set("CODCLIENTE", "PRIMEIRO"));
    documents.push_back(documentRow("02", "h1").set("CODCLIENTE", "SEGUNDO"));
    testsupport::insertRows(secondBranch, "DOCUREC", documents);
    testsupport::insertRows(secondBranch, "MOVIREC", movements);
    std::string schema = testsupport::schemaText("central.sql");
    const std::string number = "CODDOCTO            VARCHAR(20) NOT NULL";
    schema.replace(schema.find(number), number.size(),
                   "CODDOCTO VARCHAR(20) CHARACTER SET ISO8859_1 NOT NULL COLLATE PT_BR");
    auto createCentral = [&](const std::string& path, db::Connection& connection) {
        testsupport::createDatabase(path, schema);
        testsupport::execute(path, kRefuse);
        for (const char* held : {"e1 ", "g0"})
            testsupport::insertRow(
                path, "DOCUREC",
                documentRow("02", held).remove("DT_ALTERACAO").remove("USUARIO_ALT").set("CODCLIENTE", "ANTIGO"));
        connection.parameters().setValue("Database", path);
        connection.open();
    };
    const std::string perRowPath = dir.file("central-per-row.fb");
    db::Connection perRowCentral;
    createCentral(perRowPath, perRowCentral);
    const transfer::RunSummary perRow = run(perRowCentral, 1);
    const std::vector<std::string> perRowLog = view.log;
    ASSERT_EQ(perRow.failedRows, 2 + 5 + 3);
    ASSERT_EQ(statements(perRow), perRow.writtenRows + perRow.failedRows);
    // Blocks only, then MERGEs first.
    const struct {
        int rowsPerCommit, rowsPerStatement;
        bool merge;
    } policies[] = {{2, 0, false},     {3, 85, false},   {10000, 0, false}, {10000, 85, false},
                    {10000, 4, false}, {6, 4, false},    {2, 0, true},      {3, 85, true},
                    {10000, 85, true}, {10000, 4, true}, {6, 4, true},      {10000, 3, true}};
    for (const auto& policy : policies) {
        const std::string name = std::to_string(policy.rowsPerCommit) + "-" + std::to_string(policy.rowsPerStatement) +
                                 (policy.merge ? "-merge" : "");
        SCOPED_TRACE(name);
        const std::string fastPath = dir.file("central-" + name + ".fb");
        db::Connection fast;
        createCentral(fastPath, fast);
        view = {};
        testsupport::EntryList list({{branchPath, "01"}, {secondBranch, "02"}});
        const transfer::RunSummary summary = transfer::runConversion(
            {fast, branch}, list, view, view, {{policy.rowsPerCommit, policy.rowsPerStatement, policy.merge}});
        EXPECT_EQ(view.log, perRowLog);
        EXPECT_EQ(summary.writtenRows, perRow.writtenRows);
        EXPECT_EQ(summary.failedRows, perRow.failedRows);
        // The progress view saw every row. Blocks took fewer statements than
        // a statement per row, though a refused row costs two; a local file
        // takes its rows one by one.
        EXPECT_EQ(view.steps, perRow.writtenRows + perRow.failedRows);
        // A MERGE that fails costs its rows one statement more.
        if (policy.rowsPerStatement > 0 && !policy.merge) {
            EXPECT_LT(statements(summary), statements(perRow));
        } else if (policy.rowsPerStatement > 0) {
            EXPECT_GT(statements(summary), 0);
        } else {
            EXPECT_EQ(statements(summary), statements(perRow));
        }
        for (const char* table : {"DOCUREC", "MOVIREC"}) {
            const auto& columns =
                std::string(table) == "DOCUREC" ? testsupport::documentColumns() : testsupport::movementColumns();
            EXPECT_EQ(rowsOf(fastPath, table, columns), rowsOf(perRowPath, table, columns)) << table;
        }
    }
    // The comparison above cannot pass by losing the notes on both sides.
    EXPECT_EQ(testsupport::selectValue(perRowPath, "SELECT ANOTACOES FROM DOCUREC WHERE CODDOCTO = 'G6'"),
              noteOf(40000));
    EXPECT_EQ(testsupport::selectValue(perRowPath, "SELECT ANOTACOES FROM DOCUREC WHERE CODDOCTO = 'G8'"), "");
    // Nor by leaving the rows the central held, or both of one key, as they were.
    EXPECT_EQ(testsupport::selectAsText(perRowPath,
                                        "SELECT CODDOCTO, CODCLIENTE FROM DOCUREC WHERE CODDOCTO IN ('E1', 'G0', 'H1') "
                                        "ORDER BY CODDOCTO"),
              (Rows{{Cell("E1"), Cell("C00042")}, {Cell("G0"), Cell("OK")}, {Cell("h1"), Cell("SEGUNDO")}}));
}

TEST_F(FastMode, FailedCommitFailsEveryRowSinceTheLastOne) {
    testsupport::execute(centralPath, "CREATE EXCEPTION E_FECHAMENTO 'fechamento recusado'");
    testsupport::execute(centralPath,
                         "CREATE TRIGGER TG_FECHAMENTO ON TRANSACTION COMMIT AS BEGIN "
                         "IF (EXISTS(SELECT 1 FROM DOCUREC WHERE CODCLIENTE = 'BLOQ')) THEN EXCEPTION E_FECHAMENTO; "
                         "END");
    central.close();  // an attachment loads the database's triggers when it is made
    central.open();
    // D1, F0 | F1 (refused at commit), F2 | F3, F4 (refused) | F5, F6; row
    // by row into each commit, and in blocks of two.
    for (int rowsPerStatement : {0, 2}) {
        SCOPED_TRACE(rowsPerStatement);
        testsupport::execute(centralPath, "DELETE FROM DOCUREC");
        view = {};
        const transfer::RunSummary summary = run(central, 2, rowsPerStatement);
        ASSERT_EQ(view.log.size(), 4u);
        const Texts keys{"F1", "F2", "F3", "F4"};
        for (std::size_t i = 0; i < view.log.size(); ++i) {
            EXPECT_EQ(view.log[i].rfind("DOCUREC: Documento = " + keys[i] + " Erro: ", 0), 0u) << view.log[i];
            EXPECT_NE(view.log[i].find("fechamento recusado"), std::string::npos) << view.log[i];
        }
        EXPECT_EQ(summary.failedRows, 4);
        EXPECT_EQ(summary.jobs.at(0).tally.written, 4);
        EXPECT_EQ(
            testsupport::selectAsText(centralPath, "SELECT CODDOCTO FROM DOCUREC WHERE CODEMPRESA = '01' ORDER BY 1"),
            (Rows{{Cell("D1")}, {Cell("F0")}, {Cell("F5")}, {Cell("F6")}}));
    }
}

// A MERGE the central refuses for itself, while each of its rows then goes
// in through the blocks, is tried three times in a row and then no more;
// the run ends as one commit per row leaves it.
TEST_F(FastMode, AMergeRefusedWhileEveryRowOfItGoesInIsGivenUpAfterThree) {
    testsupport::execute(centralPath, "CREATE EXCEPTION E_MERGE 'sem MERGE'");
    for (const std::string table : {"DOCUREC", "MOVIREC"})
        testsupport::execute(centralPath, "CREATE TRIGGER NO_MERGE_" + table + " FOR " + table +
                                              " BEFORE INSERT OR UPDATE AS DECLARE MERGING INTEGER; BEGIN "
                                              "IN AUTONOMOUS TRANSACTION DO SELECT COUNT(*) FROM MON$STATEMENTS "
                                              "WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION AND MON$STATE = 1 "
                                              "AND MON$SQL_TEXT STARTING WITH 'MERGE' INTO :MERGING; "
                                              "IF (MERGING > 0) THEN EXCEPTION E_MERGE; END");
    central.close();  // an attachment loads the database's triggers when it is made
    central.open();
    const transfer::RunSummary summary = run(central, 10000, 2);
    EXPECT_EQ(summary.failedRows, 0);
    EXPECT_EQ(summary.writtenRows, 13);
    std::vector<int> perJob;
    for (const auto& job : summary.jobs) perJob.push_back(job.tally.centralStatements);
    // Code 01's eight documents in twos: three MERGEs, each followed by the
    // block that writes its rows, then the last two rows in a block alone.
    // Every other job: one MERGE refused and its block.
    EXPECT_EQ(perJob, (std::vector<int>{3 + 3 + 1, 2, 2, 2}));
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 10);
    EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC"), 3);
}

}  // namespace

namespace {

// The central attachment killed from outside mid-copy: one job failure
// instead of a log line for every remaining row; the next press attaches
// afresh and completes what is missing. Row by row, what was committed
// stays; in blocks under one commit, nothing was committed yet.
TEST_F(ConversionRun, LostCentralConnectionEndsTheRunOnceAndARerunCompletes) {
    std::vector<testsupport::Row> rows;
    for (int i = 0; i < 20; ++i) rows.push_back(documentRow("01", "L" + std::to_string(i)));
    testsupport::insertRows(branchPath, "DOCUREC", rows);
    testsupport::EntryList list({{branchPath, "01"}});
    const struct {
        transfer::CommitPolicy policy;
        int leastKept, mostKept;
    } cases[] = {{{1, 0}, 4, 20}, {{10000, 4}, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.policy.rowsPerCommit);
        testsupport::execute(centralPath, "DELETE FROM DOCUREC");
        testsupport::execute(centralPath, "DELETE FROM MOVIREC");
        view = {};
        view.onProcessEvents = [&](int) {
            if (view.rowLabels().size() == 5)
                testsupport::execute(centralPath,
                                     "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
        };
        try {
            transfer::runConversion(connections(), list, view, view, {c.policy});
            FAIL() << "the run went on without its central database";
        } catch (const transfer::ConversionError& error) {
            // The central attachment failed, not the branch file the job read.
            EXPECT_EQ(std::string(error.what())
                          .rfind("Erro ao converter os dados! Motivo: conexão com o banco de dados Centralizador "
                                 "perdida: ",
                                 0),
                      0u)
                << error.what();
            // What the job had done travels with the failure.
            EXPECT_EQ(error.tally.written, testsupport::countRows(centralPath, "DOCUREC"));
            if (c.policy.rowsPerCommit == 1) {
                EXPECT_EQ(error.tally.read, error.tally.written + 1);
            }
        }
        EXPECT_TRUE(view.log.empty()) << view.log.front();
        const long long kept = testsupport::countRows(centralPath, "DOCUREC");
        EXPECT_GE(kept, c.leastKept);
        EXPECT_LE(kept, c.mostKept);

        view = {};
        ASSERT_TRUE(transfer::ConectaBancoCentralizador(central, centralPath, view));
        const transfer::RunSummary summary = transfer::runConversion(connections(), list, view, view, {c.policy});
        EXPECT_TRUE(summary.clean());
        EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC"), 21);
        EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC"), 2);
    }
}

}  // namespace
