// tavolene-batch --check and --verify as a process, on real databases: one
// central database per case, filled by a real run, then changed the way an
// accountant would find it changed.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "TestDatabases.h"
#include "db/ScaledNumber.h"

namespace {

using testsupport::documentRow;
using testsupport::movementRow;

struct Outcome {
    int status = -1;
    std::string output;  // standard output and error
    int count(const std::string& part) const {
        int found = 0;
        for (auto at = output.find(part); at != std::string::npos; at = output.find(part, at + 1)) ++found;
        return found;
    }
};

Outcome batch(const std::vector<std::string>& arguments) {
    std::string command = TAVOLENE_BATCH;
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    Outcome outcome;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, got);
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

// The first branch of the case tables: three documents of code 01, the
// third NULL wherever a run writes '', 0 or 1899-12-30, and its two
// movements, one with NULLs of its own.
void makeFirstBranch(const std::string& path) {
    testsupport::createBranchDatabase(path);
    testsupport::insertRows(path, "DOCUREC",
                            {documentRow("01", "D1"), documentRow("01", "D2"),
                             documentRow("01", "D3")
                                 .set("OBSERVACAO", std::nullopt)
                                 .set("VALORDESC", std::nullopt)
                                 .set("DT_VENCIMENTO", std::nullopt)
                                 .setBlob("ANOTACOES", std::nullopt)});
    testsupport::insertRows(
        path, "MOVIREC",
        {movementRow("01", "D3", "1"),
         movementRow("01", "D3", "2").set("ORDEMLIQRECEBER", std::nullopt).set("USUARIO", std::nullopt)});
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(Check, FindsWhatDiffersBetweenTheCentralRowsAndTheirBranches) {
    const std::string key = "CODEMPRESA=01 TIPODOCTO=DP CODDOCTO=";
    const std::string documentTotals = "VALORDOCTO branch 4441.50 central ";
    const struct {
        const char* name;
        bool secondBranch;  // {b} also gives code 01, with its own D2
        // 'A' the branch before the run; after it, 'a' the branch, 'c' the central
        std::vector<std::pair<char, std::string>> changes;
        int status;
        std::vector<std::string> lines;      // each shown once
        std::vector<std::string> columns{};  // of the first difference in the report, when given
        int centralDialect = 1;
        std::vector<std::pair<std::string, std::string>> centralSchemaEdits{};  // from, to
        bool tabDocument = false;  // the branch also holds document D2 followed by a tab
    } cases[] = {
        {"in sync, NULLs arrived as empty text, 0 and 1899-12-30",
         false,
         {},
         0,
         {"DOCUREC 01 {a}: in sync, 3 rows; " + documentTotals + "4441.50 difference 0.00",
          "MOVIREC 01 {a}: in sync, 2 rows; VALORMOV branch 1480.50 central 1480.50 difference 0.00",
          "In sync: 2 of 2 tables"}},
        {"a row missing",
         false,
         {{'c', "DELETE FROM DOCUREC WHERE CODDOCTO = 'D1'"}},
         1,
         {"DOCUREC 01 missing " + key + "D1 from {a}",
          "DOCUREC 01 {a}: NOT in sync, branch 3 rows, central 2; 1 missing, 0 different, 0 only in central, 0 "
          "collisions; " +
              documentTotals + "2961.00 difference -1480.50",
          "MOVIREC 01 {a}: in sync"}},
        {"a text byte, a date and an amount changed",
         false,
         {{'c',
           "UPDATE DOCUREC SET OBSERVACAO = 'Venda a prazo, 31 dias', DT_VENCIMENTO = DT_VENCIMENTO + 1, "
           "VALORDOCTO = 1480.51 WHERE CODDOCTO = 'D2'"}},
         1,
         {"DOCUREC 01 different " + key + "D2: DT_VENCIMENTO, VALORDOCTO, OBSERVACAO\n",
          "0 missing, 1 different, 0 only in central, 0 collisions; " + documentTotals + "4441.51 difference 0.01"},
         {"DT_VENCIMENTO", "VALORDOCTO", "OBSERVACAO"}},
        {"a document number holding a tab, which the engine orders below its blank-padded neighbour",
         false,
         {{'c', "DELETE FROM DOCUREC WHERE CODDOCTO = 'D2' || ASCII_CHAR(9)"}},
         1,
         {"DOCUREC 01 missing " + key + "D2\t from {a}",
          "branch 4 rows, central 3; 1 missing, 0 different, 0 only in central, 0 collisions; VALORDOCTO branch "
          "4451.50 central 4441.50 difference -10.00"},
         {},
         1,
         {},
         true},
        {"the same under a collation that folds case, ordered by its bytes",
         false,
         {},
         0,
         {"DOCUREC 01 {a}: in sync, 4 rows; VALORDOCTO branch 4451.50 central 4451.50 difference 0.00"},
         {},
         1,
         {{"CODDOCTO            VARCHAR(20) NOT NULL",
           "CODDOCTO VARCHAR(20) CHARACTER SET WIN1252 NOT NULL COLLATE WIN_PTBR"}},
         true},
        {"fractions of a cent in a dialect 1 central count in the totals as SUM adds them",
         false,
         {{'c', "UPDATE DOCUREC SET VALORDOCTO = VALORDOCTO + 0.004"}},
         1,
         {"DOCUREC 01 different " + key + "D1: VALORDOCTO\n",
          "0 missing, 3 different, 0 only in central, 0 collisions; " + documentTotals + "4441.51 difference 0.01"}},
        {"amounts a dialect 3 central rounds up from just below the half",
         false,
         {{'A', "UPDATE DOCUREC SET VALORDOCTO = 1.005, VALORPAGO = 0.285 WHERE CODDOCTO = 'D1'"}},
         0,
         {"DOCUREC 01 {a}: in sync, 3 rows; VALORDOCTO branch 2962.01 central 2962.01 difference 0.00; VALORPAGO "
          "branch 0.29 central 0.29 difference 0.00"},
         {},
         3,
         {{"DATAHORA            DATE", "DATAHORA            TIMESTAMP"}}},
        {"a central NULL where a run wrote '', 0 and 1899-12-30, and a time of day where it wrote a date",
         false,
         {{'c', "UPDATE DOCUREC SET OBSERVACAO = NULL, VALORDESC = NULL, DT_VENCIMENTO = NULL WHERE CODDOCTO = 'D3'"},
          {'c', "UPDATE MOVIREC SET USUARIO = NULL WHERE NUMORD = '2'"},
          {'c', "UPDATE MOVIREC SET DT_MOVIMENTO = DT_MOVIMENTO + 0.25 WHERE NUMORD = '1'"}},
         1,
         {"DOCUREC 01 different " + key + "D3: DT_VENCIMENTO, VALORDESC, OBSERVACAO\n",
          "0 missing, 1 different, 0 only in central, 0 collisions; " + documentTotals + "4441.50 difference 0.00",
          "MOVIREC 01 different CODEMPRESA=01 TIPODOCTO=DP CODDOCTO=D3 NUMORD=2: USUARIO\n",
          "MOVIREC 01 different CODEMPRESA=01 TIPODOCTO=DP CODDOCTO=D3 NUMORD=1: DT_MOVIMENTO\n"},
         {"DT_VENCIMENTO", "VALORDESC", "OBSERVACAO"}},
        {"a row deleted in the branch",
         false,
         {{'a', "DELETE FROM DOCUREC WHERE CODDOCTO = 'D1'"}},
         1,
         {"DOCUREC 01 only-in-central " + key + "D1\n", "central 3; 0 missing, 0 different, 1 only in central"}},
        {"notes past the bytes that come with the row, one equal, one a byte apart at its end",
         false,
         {{'A', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 2000, 'nota ') WHERE CODDOCTO IN ('D1', 'D2')"},
          {'c', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 1999, 'nota ') || '#' WHERE CODDOCTO = 'D2'"}},
         1,
         {"DOCUREC 01 different " + key + "D2: ANOTACOES\n", "central 3; 0 missing, 1 different, 0 only in central"},
         {"ANOTACOES"}},
        {"notes of exactly the bytes that come with the row, one equal, one a byte apart at its end",
         false,
         {{'A', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 1024, 'nota ') WHERE CODDOCTO IN ('D1', 'D2')"},
          {'c', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 1023, 'nota ') || '#' WHERE CODDOCTO = 'D2'"}},
         1,
         {"DOCUREC 01 different " + key + "D2: ANOTACOES\n", "central 3; 0 missing, 1 different, 0 only in central"},
         {"ANOTACOES"}},
        {"a central UTF8 note of 1500 bytes in 375 characters",
         false,
         {{'A', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 1500, '\xf0\x9f\x93\x9d') WHERE CODDOCTO = 'D1'"}},
         0,
         {"DOCUREC 01 {a}: in sync, 3 rows; " + documentTotals + "4441.50 difference 0.00"},
         {},
         1,
         {{"ANOTACOES           BLOB SUB_TYPE 1 SEGMENT SIZE 80", "ANOTACOES BLOB SUB_TYPE 1 CHARACTER SET UTF8"}}},
        {"two branches of one code",
         true,
         {},
         1,
         {"DOCUREC 01 collision " + key + "D2 in {a}, {b}; a run leaves the row of {b}",
          "DOCUREC 01 the union of {a} (3 rows) and {b} (1 row): NOT in sync, branch 3 rows, central 3; 0 missing, "
          "0 different, 0 only in central, 1 collisions",
          "MOVIREC 01 the union of {a} (2 rows) and {b} (0 rows): in sync"}},
    };
    for (const auto& [name, secondBranch, changes, status, lines, columns, centralDialect, centralSchemaEdits,
                      tabDocument] : cases) {
        SCOPED_TRACE(name);
        testsupport::TempDir dir;
        const std::string a = dir.file("a.fb"), b = dir.file("b.fb"), central = dir.file("central.fb");
        std::string centralSchema = testsupport::schemaText("central.sql");
        for (const auto& [from, to] : centralSchemaEdits) centralSchema = replaced(centralSchema, from, to);
        testsupport::createDatabase(central, centralSchema, "NONE", centralDialect);
        makeFirstBranch(a);
        if (tabDocument) testsupport::insertRow(a, "DOCUREC", documentRow("01", "D2\t").set("VALORDOCTO", "10"));
        std::vector<std::string> arguments = {"--central", central, "--branch", a + "=01"};
        if (secondBranch) {
            testsupport::createBranchDatabase(b);
            testsupport::insertRow(b, "DOCUREC", documentRow("01", "D2").set("VALORDOCTO", "99"));
            arguments.insert(arguments.end(), {"--branch", b + "=01"});
        }
        arguments.insert(arguments.end(), {"--report", dir.file("report.json")});
        for (const auto& [where, sql] : changes) {
            if (where == 'A') testsupport::execute(a, sql);
        }
        const bool changedAfterTheRun =
            std::any_of(changes.begin(), changes.end(), [](const auto& change) { return change.first != 'A'; });
        Outcome outcome;
        if (!changedAfterTheRun) {
            arguments.push_back("--verify");
            outcome = batch(arguments);
            EXPECT_EQ(outcome.count("Done: every row written."), 1) << outcome.output;
        } else {
            const Outcome run = batch(arguments);
            ASSERT_EQ(run.status, 0) << run.output;
            for (const auto& [where, sql] : changes) {
                if (where != 'A') testsupport::execute(where == 'a' ? a : central, sql);
            }
            arguments.push_back("--check");
            outcome = batch(arguments);
        }
        EXPECT_EQ(outcome.status, status) << outcome.output;
        for (const std::string& line : lines)
            EXPECT_EQ(outcome.count(replaced(replaced(line, "{a}", a), "{b}", b)), 1) << line << "\n" << outcome.output;
        const auto report = nlohmann::json::parse(std::ifstream(dir.file("report.json")));
        EXPECT_EQ(report["exitStatus"], status);
        EXPECT_EQ(report["check"]["inSync"], status == 0);
        if (!columns.empty()) {
            // A check that ended early has no differences to index into.
            const nlohmann::json::json_pointer first("/check/results/0/differences/0/columns");
            EXPECT_EQ(report.contains(first) ? report.at(first) : nlohmann::json(), nlohmann::json(columns));
        }
    }
}

// The amount a run leaves in an exact column is the server's conversion of
// the double it is sent, and the check expects exactly that: every
// thousandth from 0.000 to 99.999 through a real NUMERIC(15,2) (a scaled
// BIGINT in dialect 3) and a NUMERIC(9,4) (a scaled INTEGER).
TEST(Check, ExpectsEveryAmountAsAnExactCentralColumnStoresIt) {
    testsupport::TempDir dir;
    const std::string path = dir.file("amounts.fb");
    testsupport::createDatabase(
        path, "CREATE TABLE AMOUNTS (N INTEGER, SENT DOUBLE PRECISION, CENTS NUMERIC(15,2), TENTHS NUMERIC(9,4))",
        "NONE", 3);
    testsupport::execute(path,
                         "EXECUTE BLOCK AS DECLARE I INTEGER = 0; DECLARE D DOUBLE PRECISION; BEGIN "
                         "WHILE (I < 100000) DO BEGIN D = I / 1000.0; "
                         "INSERT INTO AMOUNTS VALUES (:I, :D, :D, :D); I = I + 1; END END");
    const testsupport::Rows rows =
        testsupport::selectAsText(path, "SELECT SENT, CENTS, TENTHS FROM AMOUNTS ORDER BY N");
    ASSERT_EQ(rows.size(), 100000u);
    // Where the double lies a hair below the half, the server still rounds up.
    EXPECT_EQ(rows[1005][1], "1.01");
    EXPECT_EQ(rows[285][1], "0.29");
    for (const int decimals : {2, 4}) {
        int wrong = 0;
        for (const auto& row : rows) {
            const auto& kept = *row[decimals / 2];  // CENTS, TENTHS
            const auto stored = std::llround(std::stod(kept) * std::pow(10, decimals));
            if (db::scaledUnitsOfDouble(std::stod(*row[0]), decimals) != stored && ++wrong <= 5)
                ADD_FAILURE() << *row[0] << " is kept as " << kept;
        }
        EXPECT_EQ(wrong, 0) << "decimals " << decimals;
    }
}

// A failure that ends the check is told in one line, after the verdicts of
// the tables done before it and no finding of the table it ends.
TEST(Check, AFailureEndsTheCheckWithNoFalseFindingBeforeIt) {
    const struct {
        const char* name;
        std::pair<std::string, std::string> centralEdit, branchEdit;  // of the schemas: from, to
        std::string failure;                                          // after "check ended: "
    } cases[] = {
        {"a central table without primary key",
         {",\n    CONSTRAINT PK_DOCUREC PRIMARY KEY (CODEMPRESA, TIPODOCTO, CODDOCTO)", ""},
         {},
         "DOCUREC: the central table has no primary key, so its rows cannot be matched with the branch rows"},
        // The branch orders 9 before 10 as numbers, the central key is text.
        {"branch rows that do not come in the order of the central key",
         {},
         {"NUMORD              VARCHAR(6) NOT NULL", "NUMORD INTEGER NOT NULL"},
         "MOVIREC: {a}: the rows do not come in the order of the key (CODEMPRESA=01 TIPODOCTO=DP CODDOCTO=D3 "
         "NUMORD=10 came after a greater key)"},
    };
    for (const auto& [name, centralEdit, branchEdit, failure] : cases) {
        SCOPED_TRACE(name);
        testsupport::TempDir dir;
        const std::string branch = dir.file("a.fb"), central = dir.file("central.fb");
        const auto schema = [](const std::string& file, const std::pair<std::string, std::string>& edit) {
            const std::string text = testsupport::schemaText(file);
            return edit.first.empty() ? text : replaced(text, edit.first, edit.second);
        };
        testsupport::createDatabase(branch, schema("branch.sql", branchEdit));
        testsupport::createDatabase(central, schema("central.sql", centralEdit));
        testsupport::insertRows(branch, "MOVIREC", {movementRow("01", "D3", "9"), movementRow("01", "D3", "10")});
        const std::vector<std::string> arguments = {"--central", central, "--branch", branch + "=01"};
        if (centralEdit.first.empty()) {
            ASSERT_EQ(batch(arguments).status, 0);
        }
        std::vector<std::string> checking = arguments;
        checking.push_back("--check");
        const Outcome outcome = batch(checking);
        EXPECT_EQ(outcome.status, 2);
        const std::string told = "tavolene-batch: check ended: " + replaced(failure, "{a}", branch) + "\n";
        ASSERT_TRUE(outcome.output.ends_with(told)) << outcome.output;
        std::istringstream before(outcome.output.substr(0, outcome.output.size() - told.size()));
        for (std::string line; std::getline(before, line);)
            EXPECT_NE(line.find(": in sync, "), std::string::npos) << line;
    }
}

}  // namespace

// --changed-only on a central that drifted from its branches, or whose
// branches changed since the last run: it writes the rows that differ and
// leaves the central tables exactly as a full run leaves a copy of the same
// central, in each commit mode.
TEST(Check, ChangedOnlyLeavesTheCentralTablesAsAFullRunDoes) {
    const struct {
        const char* name;
        bool secondBranch;  // {b} also gives code 01, with its own D2
        // after the first run: 'a' and 'b' the branches, 'c' the central
        std::vector<std::pair<char, std::string>> changes;
        int status;
        // per entry and table: read/compared/unchanged/written/failed
        std::vector<std::string> tallies;
        std::string logLine{};  // shown once when given
    } cases[] = {
        {"nothing changed", false, {}, 0, {"a DOCUREC 3/3/3/0/0", "a MOVIREC 2/2/2/0/0"}},
        {"drift planted in the central: a text, a NULL for '', a deleted row, an amount, a movement's NULL",
         false,
         {{'c', "UPDATE DOCUREC SET OBSERVACAO = 'Venda a prazo, 31 dias' WHERE CODDOCTO = 'D1'"},
          {'c', "UPDATE DOCUREC SET OBSERVACAO = NULL WHERE CODDOCTO = 'D3'"},
          {'c', "DELETE FROM DOCUREC WHERE CODDOCTO = 'D2'"},
          {'c', "UPDATE MOVIREC SET VALORMOV = VALORMOV + 0.01, USUARIO = NULL WHERE NUMORD = '2'"}},
         0,
         {"a DOCUREC 3/3/0/3/0", "a MOVIREC 2/2/1/1/0"}},
        {"branches changed since the last run, a row deleted there stays",
         false,
         {{'a', "UPDATE DOCUREC SET VALORPAGO = 10.25 WHERE CODDOCTO = 'D2'"},
          {'a', "DELETE FROM DOCUREC WHERE CODDOCTO = 'D1'"},
          {'a', "UPDATE MOVIREC SET NUMORD = '3' WHERE NUMORD = '2'"}},
         0,
         {"a DOCUREC 2/2/1/1/0", "a MOVIREC 2/2/1/1/0"}},
        {"two branches of one code, the later one winning its shared key",
         true,
         {{'a', "UPDATE DOCUREC SET VALORDOCTO = 5 WHERE CODDOCTO IN ('D1', 'D2')"},
          {'b', "UPDATE DOCUREC SET VALORDOCTO = 98 WHERE CODDOCTO = 'D2'"}},
         0,
         {"a DOCUREC 3/2/1/1/0", "b DOCUREC 1/1/0/1/0", "a MOVIREC 2/2/2/0/0", "b MOVIREC 0/0/0/0/0"}},
        {"a row the central refuses fails, never unchanged",
         false,
         {{'c', "ALTER TABLE DOCUREC ADD CONSTRAINT NOT_5000 CHECK (VALORDOCTO <> 5000)"},
          {'a', "UPDATE DOCUREC SET VALORDOCTO = 5000 WHERE CODDOCTO = 'D2'"}},
         1,
         {"a DOCUREC 3/3/2/0/1", "a MOVIREC 2/2/2/0/0"},
         "DOCUREC: Documento = D2 Erro: "},
        {"notes past the bytes that come with the row, one equal, one a byte apart at its end",
         false,
         {{'a', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 2000, 'nota ') WHERE CODDOCTO IN ('D1', 'D2')"},
          {'c', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 2000, 'nota ') WHERE CODDOCTO = 'D1'"},
          {'c', "UPDATE DOCUREC SET ANOTACOES = LPAD('', 1999, 'nota ') || '#' WHERE CODDOCTO = 'D2'"}},
         0,
         {"a DOCUREC 3/3/2/1/0", "a MOVIREC 2/2/2/0/0"}},
        {"a central trigger that changes the code's movements when a document is written: they are read after it",
         false,
         {{'c', "UPDATE DOCUREC SET VALORDOCTO = 1 WHERE CODDOCTO = 'D1'"},
          {'c',
           "CREATE TRIGGER TOUCH_MOVEMENTS FOR DOCUREC AFTER INSERT OR UPDATE AS BEGIN "
           "UPDATE MOVIREC SET USUARIO = 'tocado' WHERE CODEMPRESA = NEW.CODEMPRESA; END"}},
         0,
         {"a DOCUREC 3/3/2/1/0", "a MOVIREC 2/2/0/2/0"}},
        {"a branch without its movements table: the movement job fails after the documents, as in a full run",
         false,
         {{'c', "UPDATE DOCUREC SET VALORDOCTO = 1 WHERE CODDOCTO = 'D1'"}, {'a', "DROP TABLE MOVIREC"}},
         2,
         {"a DOCUREC 3/3/2/1/0"},
         "Erro ao converter os dados! Motivo: "},
    };
    const auto dump = [](const std::string& central) {
        return std::make_pair(
            testsupport::selectAsText(central, "SELECT * FROM DOCUREC ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO"),
            testsupport::selectAsText(central,
                                      "SELECT * FROM MOVIREC ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO, NUMORD"));
    };
    for (const auto& [name, secondBranch, changes, status, tallies, logLine] : cases) {
        for (const std::string commitEvery : {"1", "10"}) {
            SCOPED_TRACE(std::string(name) + ", --commit-every " + commitEvery);
            testsupport::TempDir dir;
            const std::string a = dir.file("a.fb"), b = dir.file("b.fb"), central = dir.file("central.fb"),
                              fullRun = dir.file("full.fb");
            testsupport::createCentralDatabase(central);
            makeFirstBranch(a);
            std::vector<std::string> arguments = {"--commit-every", commitEvery, "--branch", a + "=01"};
            if (secondBranch) {
                testsupport::createBranchDatabase(b);
                testsupport::insertRow(b, "DOCUREC", documentRow("01", "D2").set("VALORDOCTO", "99"));
                arguments.insert(arguments.end(), {"--branch", b + "=01"});
            }
            const auto run = [&](const std::string& into, std::vector<std::string> extra) {
                extra.insert(extra.begin(), {"--central", into});
                extra.insert(extra.end(), arguments.begin(), arguments.end());
                return batch(extra);
            };
            const Outcome first = run(central, {});
            ASSERT_EQ(first.status, 0) << first.output;
            for (const auto& [where, sql] : changes)
                testsupport::execute(where == 'a' ? a : where == 'b' ? b : central, sql);
            {
                std::ifstream from(central, std::ios::binary);
                std::ofstream(fullRun, std::ios::binary) << from.rdbuf();
            }
            const Outcome full = run(fullRun, {});
            EXPECT_EQ(full.status, status) << full.output;

            const Outcome changed = run(central, {"--changed-only", "--verify", "--report", dir.file("report.json")});
            // The check after the run finds the rows deleted in a branch
            // and the refused row, as after a full run.
            const Outcome fullCheck = run(fullRun, {"--check"});
            EXPECT_EQ(changed.status, fullCheck.status) << changed.output;
            EXPECT_EQ(dump(central), dump(fullRun));
            if (!logLine.empty()) {
                EXPECT_EQ(changed.count(logLine), 1) << changed.output;
            }

            const auto report = nlohmann::json::parse(std::ifstream(dir.file("report.json")));
            std::vector<std::string> told;
            for (const auto& job : report["jobs"]) {
                const std::string entry = job["database"] == a ? "a" : "b";
                told.push_back(entry + " " + job["table"].get<std::string>() + " " + job["read"].dump() + "/" +
                               job["compared"].dump() + "/" + job["unchanged"].dump() + "/" + job["written"].dump() +
                               "/" + job["failed"].dump());
            }
            std::sort(told.begin(), told.end(), [](const std::string& x, const std::string& y) {
                return x.substr(2, 7) != y.substr(2, 7) ? x.substr(2, 7) < y.substr(2, 7) : x < y;
            });
            EXPECT_EQ(told, tallies);
        }
    }
}

// --changed-only --prune on a central filled by a full run, after the
// branches changed: it deletes only what a whole read of every entry shows
// gone, within its guard, and --restore puts back exactly what it deleted.
// The document gone has a key of bytes that are no UTF-8.
TEST(Check, PruneDeletesOnlyRowsAWholeReadShowsGoneAndRestoresThem) {
    const struct {
        const char* name;
        std::vector<std::string> branchChanges;
        std::vector<std::string> options;  // besides --changed-only --prune --prune-log
        bool orderedMovements;             // false: the branch's movements come out of the key's order
        bool missingSecondEntry;           // a second entry of code 01 that cannot be opened
        int status;
        std::string told;               // a line of the run's output; {log} the log's path
        int deleted;                    // rows in the log and gone from the central tables
        bool logFolderMissing = false;  // the log names a file in a folder that is not there
        // {a} also gives code 02, whose central movements a trigger changes
        // when a document of code 01 is deleted
        bool touchedLaterCode = false;
    } cases[] = {
        {"a document cancelled and deleted in the branch, with its movements",
         {"DELETE FROM MOVIREC WHERE CODDOCTO = 'D\xe7'", "DELETE FROM DOCUREC WHERE CODDOCTO = 'D\xe7'"},
         {"--prune-limit", "3"},
         true,
         false,
         0,
         "--prune: code 01: 3 rows deleted (1 DOCUREC, 2 MOVIREC), logged in ",
         3},
        {"a document deleted while a branch still holds its movement: both go",
         {"DELETE FROM MOVIREC WHERE NUMORD = '2'", "DELETE FROM DOCUREC WHERE CODDOCTO = 'D\xe7'"},
         {"--prune-limit", "5"},
         true,
         false,
         0,
         "--prune: code 01: 3 rows deleted (1 DOCUREC, 2 MOVIREC), logged in ",
         3},
        {"a movement read after a job failure: nothing is deleted",
         {"DELETE FROM DOCUREC WHERE CODDOCTO = 'D\xe7'"},
         {"--prune-limit", "5"},
         false,
         false,
         2,
         "--prune: code 01: nothing deleted: a table job failed",
         0},
        {"an entry of the code not opened: nothing is deleted",
         {"DELETE FROM DOCUREC WHERE CODDOCTO = 'D1'"},
         {"--prune-limit", "5"},
         true,
         true,
         1,
         "--prune: code 01: nothing deleted: an entry of the code could not be opened",
         0},
        {"more than 5 % of the code's central rows",
         {"DELETE FROM DOCUREC WHERE CODDOCTO = 'D1'"},
         {},
         true,
         false,
         1,
         "--prune: code 01: nothing deleted: at least 1 row of 5 central rows would go, more than 5 %; --prune-limit N "
         "allows up to N",
         0},
        {"more than --prune-limit",
         {"DELETE FROM MOVIREC WHERE CODDOCTO = 'D\xe7'", "DELETE FROM DOCUREC WHERE CODDOCTO = 'D\xe7'"},
         {"--prune-limit", "2"},
         true,
         false,
         1,
         "--prune: code 01: nothing deleted: at least 3 rows of 5 central rows would go, more than --prune-limit 2",
         0},
        {"a log that cannot be written",
         {"DELETE FROM MOVIREC WHERE CODDOCTO = 'D\xe7'", "DELETE FROM DOCUREC WHERE CODDOCTO = 'D\xe7'"},
         {"--prune-limit", "3"},
         true,
         false,
         1,
         "--prune: code 01: nothing deleted: cannot write the --prune-log file \"{log}\" in ",
         0,
         true},
        {"a later code changed by the deletes is read after them",
         {"DELETE FROM MOVIREC WHERE CODDOCTO = 'D\xe7'", "DELETE FROM DOCUREC WHERE CODDOCTO = 'D\xe7'"},
         {"--prune-limit", "3"},
         true,
         false,
         0,
         "--prune: code 01: 3 rows deleted (1 DOCUREC, 2 MOVIREC), logged in ",
         3,
         false,
         true},
    };
    const auto dump = [](const std::string& central) {
        return std::make_pair(
            testsupport::selectAsText(central, "SELECT * FROM DOCUREC ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO"),
            testsupport::selectAsText(central,
                                      "SELECT * FROM MOVIREC ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO, NUMORD"));
    };
    for (const auto& [name, branchChanges, options, orderedMovements, missingSecondEntry, status, told, deleted,
                      logFolderMissing, touchedLaterCode] : cases) {
        SCOPED_TRACE(name);
        testsupport::TempDir dir;
        const std::string a = dir.file("a.fb"), central = dir.file("central.fb"),
                          log = dir.file(logFolderMissing ? "gone/pruned.json" : "pruned.json");
        testsupport::createCentralDatabase(central);
        const std::string branchSchema = testsupport::schemaText("branch.sql");
        testsupport::createDatabase(
            a, orderedMovements
                   ? branchSchema
                   : replaced(branchSchema, "NUMORD              VARCHAR(6) NOT NULL", "NUMORD INTEGER NOT NULL"));
        testsupport::insertRows(a, "DOCUREC",
                                {documentRow("01", "D1"), documentRow("01", "D2"),
                                 documentRow("01", "D\xe7")
                                     .set("OBSERVACAO", "Cancelada: \xe7\xe3o")
                                     .setBlob("ANOTACOES", std::string("\x00\xff\x01", 3))});
        testsupport::insertRows(a, "MOVIREC",
                                {movementRow("01", "D\xe7", orderedMovements ? "1" : "9"),
                                 movementRow("01", "D\xe7", orderedMovements ? "2" : "10").set("VALORMOV", "0.1")});
        std::vector<std::string> entries = {"--branch", a + "=01"};
        if (touchedLaterCode) {
            testsupport::insertRow(a, "DOCUREC", documentRow("02", "E1"));
            testsupport::insertRow(a, "MOVIREC", movementRow("02", "E1", "1"));
            entries.insert(entries.end(), {"--branch", a + "=02"});
        }
        std::vector<std::string> firstRun = {"--central", central};
        firstRun.insert(firstRun.end(), entries.begin(), entries.end());
        ASSERT_EQ(batch(firstRun).status, 0);
        if (touchedLaterCode)
            testsupport::execute(central,
                                 "CREATE TRIGGER TOUCH_02 FOR DOCUREC AFTER DELETE AS BEGIN "
                                 "UPDATE MOVIREC SET USUARIO = 'tocado' WHERE CODEMPRESA = '02'; END");
        if (missingSecondEntry) entries.insert(entries.end(), {"--branch", dir.file("gone.fb") + "=01"});
        for (const std::string& sql : branchChanges) testsupport::execute(a, sql);
        const auto before = dump(central);
        const long long documentsBefore = testsupport::countRows(central, "DOCUREC"),
                        movementsBefore = testsupport::countRows(central, "MOVIREC");

        std::vector<std::string> pruning = {"--central", central, "--changed-only", "--prune", "--prune-log", log};
        pruning.insert(pruning.end(), options.begin(), options.end());
        pruning.insert(pruning.end(), entries.begin(), entries.end());
        const Outcome pruned = batch(pruning);
        EXPECT_EQ(pruned.status, status) << pruned.output;
        EXPECT_EQ(pruned.count(replaced(told, "{log}", log)), 1) << pruned.output;
        EXPECT_EQ(testsupport::countRows(central, "DOCUREC") + testsupport::countRows(central, "MOVIREC"),
                  documentsBefore + movementsBefore - deleted);
        if (deleted == 0) {
            EXPECT_EQ(dump(central), before);
            EXPECT_FALSE(std::ifstream(log).good());
            continue;
        }
        // No movement is left without its document.
        EXPECT_EQ(testsupport::countRows(central, "MOVIREC",
                                         "NOT EXISTS (SELECT 1 FROM DOCUREC D WHERE "
                                         "D.CODEMPRESA = MOVIREC.CODEMPRESA AND D.TIPODOCTO = "
                                         "MOVIREC.TIPODOCTO AND D.CODDOCTO = MOVIREC.CODDOCTO)"),
                  0);
        const auto logged = nlohmann::json::parse(std::ifstream(log));
        EXPECT_EQ(logged["rows"].size(), static_cast<std::size_t>(deleted));
        const Outcome restored = batch({"--central", central, "--restore", log});
        EXPECT_EQ(restored.status, 0) << restored.output;
        EXPECT_EQ(dump(central), before);
        // A second prune would replace the log of the first: it deletes nothing.
        const Outcome again = batch(pruning);
        EXPECT_EQ(again.status, 1) << again.output;
        EXPECT_EQ(again.count("--prune: code 01: nothing deleted: --prune-log \"" + log +
                              "\" is there from an earlier run; give a new file"),
                  1)
            << again.output;
        EXPECT_EQ(dump(central), before);
        EXPECT_EQ(nlohmann::json::parse(std::ifstream(log)), logged);
    }
}
