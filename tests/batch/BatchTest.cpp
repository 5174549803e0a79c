// tavolene-batch as a process: argument errors, exit statuses, the same
// central tables as the window, fast mode, and runs stopped by SIGINT or
// killed and run again.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <tuple>

#include "ChildProcess.h"

namespace reliability {
namespace {

struct BatchRun {
    int status = -1;     // exit status, or 128 + the signal that ended it
    std::string output;  // standard output and error
    int lines(const std::string& part) const {
        int count = 0;
        for (auto at = output.find(part); at != std::string::npos; at = output.find(part, at + 1)) ++count;
        return count;
    }
};

class Batch : public ::testing::Test {
protected:
    // The program with `environment` (NAME=VALUE words), standard error
    // merged into standard output.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments,
                                               const std::string& environment = "") {
        std::vector<std::string> shell = {"-c", "exec env " + environment + " \"$0\" \"$@\" 2>&1", TAVOLENE_BATCH};
        shell.insert(shell.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(shell, "/bin/sh");
    }

    static BatchRun finish(ChildProcess& child, BatchRun run = {}) {
        for (std::string line; child.readLine(line);) run.output += line + "\n";
        const int status = child.wait();
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return run;
    }

    static BatchRun batch(const std::vector<std::string>& arguments, const std::string& environment = "") {
        return finish(*start(arguments, environment));
    }

    std::string central(const std::string& name) {
        const std::string path = dir.file(name);
        testsupport::createCentralDatabase(path);
        // Refuses the second document and the third movement of every branch.
        testsupport::execute(path, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_PROJ CHECK (CODPROJ <> 2)");
        testsupport::execute(path, "ALTER TABLE MOVIREC ADD CONSTRAINT CK_MOV CHECK (VALORMOV <> 3.5)");
        return path;
    }

    static void expectSameTables(const std::string& expected, const std::string& actual) {
        for (const char* table : {"DOCUREC", "MOVIREC"})
            EXPECT_TRUE(dump(expected, table) == dump(actual, table)) << table << " differs:\n"
                                                                      << toString(dump(actual, table));
    }

    testsupport::TempDir dir;
};

TEST_F(Batch, BadArgumentsGiveOneLineAndStatus3WithoutOpeningAnyDatabase) {
    const std::string list = dir.file("bad.list"), empty = dir.file("empty.list");
    central("central.fb");
    std::ofstream(list) << "# branches\nfilial.fb 01\nfilial.fb\n";
    std::ofstream(empty) << "# nothing yet\n\n";
    // A central database that does not exist: opening it would print the
    // central refusal instead of the expected line.
    const struct {
        std::vector<std::string> arguments;
        std::string line;
        std::string central = "nowhere.fb";
    } cases[] = {
        {{"--bogus"}, "The following argument was not expected: --bogus"},
        {{"--branch", "f.fb=05"}, "--branch \"f.fb=05\": company code \"05\" is not one of 00 to 04"},
        {{"--branch", "host:/f.fb"}, "--branch \"host:/f.fb\": no company code (DB=CODE)"},
        {{"--list", dir.file("missing.list")}, "cannot read the list file"},
        {{"--list", list}, list + ":3: \"filial.fb\" has no company code (DB CODE)"},
        {{"--list", empty}, "no branch database to convert"},
        {{"--branch", "f.fb=01", "--commit-every", "0"}, "--commit-every: needs a whole number of rows, 1 or more"},
        {{"--branch", dir.path() + "/./central.fb=01"},
         "branch \"" + dir.path() + "/./central.fb\" is the central database",
         "central.fb"},
    };
    for (const auto& [arguments, line, centralName] : cases) {
        std::vector<std::string> all = {"--central", dir.file(centralName)};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const BatchRun run = batch(all);
        EXPECT_EQ(run.status, 3) << line;
        EXPECT_EQ(run.lines("\n"), 1) << run.output;
        EXPECT_NE(run.output.find("tavolene-batch: " + line), std::string::npos) << run.output;
    }
}

TEST_F(Batch, ExitStatusTellsHowTheRunEnded) {
    const std::string good = dir.file("good.fb"), refused = dir.file("refused.fb"), noTables = dir.file("bare.fb");
    makeBranch(good, "01", 1, "G");
    makeBranch(refused, "02", 3, "R");
    testsupport::createDatabase(noTables, "");
    const std::string target = central("central.fb");
    const struct {
        std::vector<std::string> branches;
        int status;
        std::string line;  // shown once
    } cases[] = {
        {{good + "=01"}, 0, "Done: every row written."},
        {{good + "=01", refused + "=02"}, 1, "DOCUREC: Documento = R0002 Erro: Operation violates CHECK constraint"},
        {{dir.file("gone.fb") + "=01", good + "=01"}, 1, "Erro ao conectar no banco de dados: " + dir.file("gone.fb")},
        {{good + "=01", noTables + "=01"}, 2, "Erro ao converter os dados! Motivo: " + noTables + " (DOCUREC)"},
    };
    for (const auto& [branches, status, line] : cases) {
        std::vector<std::string> arguments = {"--central", target};
        for (const std::string& branch : branches) arguments.insert(arguments.end(), {"--branch", branch});
        const BatchRun run = batch(arguments);
        EXPECT_EQ(run.status, status) << run.output;
        EXPECT_EQ(run.lines(line), 1) << run.output;
        EXPECT_EQ(run.lines("\nTotal "), 1) << run.output;
    }
    const BatchRun refusedCentral = batch({"--central", dir.file("nowhere.fb"), "--branch", good + "=01"});
    EXPECT_EQ(refusedCentral.status, 3);
    EXPECT_EQ(refusedCentral.output.rfind("Não foi possível conectar ao banco de dados Centralizador Motivo: ", 0), 0u)
        << refusedCentral.output;
}

TEST_F(Batch, WindowPerRowAndFastRunsLeaveTheSameCentralTables) {
    const std::string first = dir.file("a.fb"), second = dir.file("b.fb");
    makeBranch(first, "01", 12, "A");
    makeBranch(second, "03", 5, "B");
    testsupport::insertRows(second, "DOCUREC", {testsupport::documentRow("03", "A0001").set("CODCLIENTE", "")});
    const std::vector<std::string> entries = {"--branch", first + "=01", "--branch", second + "=03"};
    auto with = [&](const std::string& path, std::vector<std::string> options) {
        options.insert(options.end(), {"--central", path});
        options.insert(options.end(), entries.begin(), entries.end());
        return options;
    };
    const std::string perRowCentral = central("per-row.fb"), fastCentral = central("fast.fb");
    const BatchRun perRow = batch(with(perRowCentral, {}));
    const BatchRun fast = batch(with(fastCentral, {"--commit-every", "3"}));
    EXPECT_EQ(perRow.status, 1);
    EXPECT_EQ(perRow.lines(" Erro: "), 4) << perRow.output;
    EXPECT_EQ(fast.output.substr(0, fast.output.find("Branch")), perRow.output.substr(0, perRow.output.find("Branch")));
    expectSameTables(perRowCentral, fastCentral);
#ifdef TAVOLENE_WINDOW_DRIVER
    const std::string windowCentral = central("window.fb");
    ChildProcess window({windowCentral, "01", first, "03", second}, TAVOLENE_WINDOW_DRIVER);
    window.wait();
    ASSERT_EQ(window.outcome().boxes.size(), 1u);
    expectSameTables(windowCentral, perRowCentral);
#else
    GTEST_SKIP() << "the window is not part of this build";
#endif
}

TEST_F(Batch, StoppedBySigintOrKilledKeepsWholeRowsAndARerunConverges) {
    const std::string branch = dir.file("big.fb");
    testsupport::createBranchDatabase(branch);
    std::vector<testsupport::Row> rows;
    for (int i = 1; i <= 160; ++i)
        rows.push_back(testsupport::documentRow("01", docKey("M", i)).set("CODPROJ", std::to_string(i)));
    testsupport::insertRows(branch, "DOCUREC", rows);
    // Document 149 is refused too; its log line tells that document 150,
    // which the central database takes seconds to write, is in hand.
    auto slowCentral = [&](const std::string& name) {
        const std::string path = central(name);
        testsupport::execute(path, "ALTER TABLE DOCUREC ADD CONSTRAINT CK_149 CHECK (CODPROJ <> 149)");
        testsupport::execute(path,
                             "CREATE TRIGGER TG_SLOW FOR DOCUREC BEFORE INSERT OR UPDATE AS "
                             "DECLARE I INTEGER = 0; BEGIN IF (NEW.CODPROJ = 150) THEN "
                             "WHILE (I < 6000000) DO I = I + 1; END");
        return path;
    };
    auto into = [&](const std::string& path, const std::string& rowsPerCommit) {
        return std::vector<std::string>{"--central",      path,         "--branch",
                                        branch + "=01",   "--report",   dir.file("run.json"),
                                        "--commit-every", rowsPerCommit};
    };
    const std::string clean = slowCentral("clean.fb");
    ASSERT_EQ(batch(into(clean, "1")).status, 1);
    std::set<testsupport::Rows::value_type> cleanRows;
    for (const auto& row : dump(clean, "DOCUREC")) cleanRows.insert(row);

    // Stopped during document 150: per row it is written, then the run ends;
    // 100 rows per commit, killed, only the first commit's rows are there.
    for (const auto& [signal, rowsPerCommit, documents] : {std::tuple{SIGINT, "1", 148}, {SIGKILL, "100", 100}}) {
        SCOPED_TRACE(signal);
        const std::string target = slowCentral("target-" + std::to_string(signal) + ".fb");
        const auto child = start(into(target, rowsPerCommit));
        ASSERT_TRUE(child->waitFor("DOCUREC: Documento = M0149 Erro:"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        child->kill(signal);
        const BatchRun run = finish(*child);
        ASSERT_EQ(run.status, 128 + signal) << run.output;
        EXPECT_EQ(testsupport::countRows(target, "DOCUREC"), documents);
        for (const auto& row : dump(target, "DOCUREC")) EXPECT_TRUE(cleanRows.count(row)) << toString({row});
        if (signal == SIGINT) {
            EXPECT_EQ(run.lines("Stopped by SIGINT after the row in hand."), 1) << run.output;
            const auto report = nlohmann::json::parse(std::ifstream(dir.file("run.json")));
            EXPECT_EQ(report["totals"]["written"], documents);
            EXPECT_EQ(report["jobs"][0]["failures"][1]["key"], "M0149");
            EXPECT_EQ(report["signal"], "SIGINT");
            continue;
        }
        EXPECT_EQ(batch(into(target, "100")).status, 1);
        expectSameTables(clean, target);
    }
}

// A silent branch server costs one bounded wait and one warning, and other
// programs of the machine open their files meanwhile; SIGTERM or SIGINT
// during its attach ends the run at once with the summary and the report.
TEST_F(Batch, SilentBranchServerIsWaitedForOnceAndAStopDuringItsAttachEndsTheRun) {
    const testsupport::SilentServer silent;
    const std::string target = central("central.fb");
    const std::string unrelated = dir.file("unrelated.fb");
    testsupport::createBranchDatabase(unrelated);
    const struct {
        int signal;  // 0: none, the connect timeout runs out
        int status;
        const char* summary;
    } cases[] = {{0, 1, "1 branch databases not opened"},
                 {SIGTERM, 143, "Stopped by SIGTERM"},
                 {SIGINT, 130, "Stopped by SIGINT"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        const auto began = std::chrono::steady_clock::now();
        const auto child = start({"--central", target, "--branch", silent.database() + "=01", "--connect-timeout", "3",
                                  "--report", dir.file("run.json")},
                                 "timeout -s KILL 30");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (c.signal != 0) {
            child->kill(c.signal);
        } else {  // the machine's other programs open their files meanwhile, at once
            EXPECT_EQ(std::system(("echo 'SELECT 1 FROM RDB$DATABASE;' | timeout 5 isql-fb -q -user SYSDBA '" +
                                   unrelated + "' >/dev/null 2>&1")
                                      .c_str()),
                      0);
        }
        const BatchRun run = finish(*child);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(c.signal ? 4 : 8)) << run.output;
        EXPECT_EQ(run.lines("Erro ao conectar no banco de dados: " + silent.database()), 1) << run.output;
        EXPECT_EQ(run.lines(c.summary), 1) << run.output;
        EXPECT_EQ(nlohmann::json::parse(std::ifstream(dir.file("run.json")))["jobs"].size(), 1u);
    }
}

}  // namespace
}  // namespace reliability
