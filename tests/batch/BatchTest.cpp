// tavolene-batch as a process: argument errors, exit statuses, the same
// central tables as the window, fast mode, and runs stopped by SIGINT or
// killed and run again.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
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
    // merged into standard output unless `streams` says otherwise.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments,
                                               const std::string& environment = "",
                                               const std::string& streams = "2>&1") {
        std::vector<std::string> shell = {"-c", "exec env " + environment + " \"$0\" \"$@\" " + streams,
                                          TAVOLENE_BATCH};
        shell.insert(shell.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(shell, "/bin/sh");
    }

    static BatchRun finish(ChildProcess& child, BatchRun run = {}) {
        for (std::string line; child.readLine(line);) run.output += line + "\n";
        const int status = child.wait();
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return run;
    }

    static BatchRun batch(const std::vector<std::string>& arguments, const std::string& environment = "",
                          const std::string& streams = "2>&1") {
        return finish(*start(arguments, environment, streams));
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
    const std::string list = dir.file("bad.list"), empty = dir.file("empty.list"), good = dir.file("good.list");
    const std::string big = dir.file("big.list"), linkToList = dir.file("link.json");
    const std::string centralPath = central("central.fb");
    std::ofstream(list) << "# branches\nfilial.fb 01\nfilial.fb\n";
    std::ofstream(empty) << "# nothing yet\n\n";
    std::ofstream(good) << dir.file("filial.fb") << " 01\n";
    std::ofstream(big) << std::string(1024 * 1024 + 1, '#');
    ASSERT_EQ(::symlink(good.c_str(), linkToList.c_str()), 0);
    const long long centralSize = std::filesystem::file_size(centralPath);
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
        {{"--branch", "f.fb=01", "--changed-only", "--check"}, "--check excludes --changed-only"},
        {{"--branch", "f.fb=01", "--prune", "--prune-log", "p.json"}, "--prune needs --changed-only"},
        {{"--branch", "f.fb=01", "--prune", "--check", "--prune-log", "p.json"}, "--prune excludes --check"},
        {{"--branch", "f.fb=01", "--changed-only", "--prune"}, "--prune needs --prune-log FILE.json"},
        {{"--branch", "f.fb=01", "--changed-only", "--prune", "--prune-log", dir.path() + "/./central.fb"},
         "--prune-log \"" + dir.path() + "/./central.fb\" is \"" + dir.file("central.fb") + "\", a file the run uses",
         "central.fb"},
        {{"--branch", "f.fb=01", "--restore", "p.json"}, "--restore takes only --central and the connection options"},
        {{"--branch", dir.path() + "/./central.fb=01"},
         "branch \"" + dir.path() + "/./central.fb\" is the central database",
         "central.fb"},
        {{"--password", "s3cr3t", "--branch", "f.fb=01"}, "there is no --password option"},
        {{"--branch", "f.fb=01", "--password=s3cr3t"}, "there is no --password option"},
        {{"--list", "/dev/zero"}, "cannot read the list file \"/dev/zero\": not a regular file"},
        {{"--list", big}, "cannot read the list file \"" + big + "\": larger than 1024 KiB"},
        {{"--branch", "f.fb=01", "--report", dir.path() + "/./central.fb"},
         "--report \"" + dir.path() + "/./central.fb\" is the central database",
         "central.fb"},
        {{"--list", good, "--report", linkToList}, "--report \"" + linkToList + "\" is the list file"},
        {{"--branch", dir.file("filial.fb") + "=01", "--report", dir.file("filial.fb")},
         "--report \"" + dir.file("filial.fb") + "\" is the branch database"},
        {{"--branch", "f.fb=01", "--report", dir.path()},
         "--report \"" + dir.path() + "\" exists and is not a regular file"},
        {{"--branch", "f.fb=01", "--report", dir.file("no/run.json")},
         "cannot write the report file \"" + dir.file("no/run.json") + "\""},
        {{"--branch", "f.fb=01\x1b[2J"},
         "--branch \"f.fb=01\\x1b[2J\": company code \"01\\x1b[2J\" is not one of 00 to 04"},
    };
    std::ofstream(dir.file("filial.fb")) << "not a database";
    for (const auto& [arguments, line, centralName] : cases) {
        std::vector<std::string> all = {"--central", dir.file(centralName)};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const BatchRun run = batch(all);
        EXPECT_EQ(run.status, 3) << line;
        EXPECT_EQ(run.lines("\n"), 1) << run.output;
        EXPECT_NE(run.output.find("tavolene-batch: " + line), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("s3cr3t"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
    }
    // Nothing refused was written over.
    EXPECT_EQ(std::filesystem::file_size(centralPath), centralSize);
}

TEST_F(Batch, ExitStatusTellsHowTheRunEnded) {
    const std::string good = dir.file("good.fb"), refused = dir.file("refused.fb"), noTables = dir.file("bare.fb");
    makeBranch(good, "01", 1, "G");
    makeBranch(refused, "02", 3, "R");
    testsupport::createDatabase(noTables, "");
    // The job fails on its first row, which it has read.
    const std::string noKey = dir.file("no-key.fb"), bomList = dir.file("bom.list");
    testsupport::createBranchDatabase(noKey);
    testsupport::executeScript(noKey,
                               "ALTER TABLE DOCUREC DROP CONSTRAINT PK_DOCUREC; ALTER TABLE DOCUREC DROP CODDOCTO;");
    testsupport::insertRows(noKey, "DOCUREC", {testsupport::documentRow("01", "x").remove("CODDOCTO")});
    std::ofstream(bomList) << "\xEF\xBB\xBF" << good << " 01\n";
    const std::string gone = dir.file("gone.fb"), odd = dir.file("odd\x1b[2J\t.fb"), oneRefused = dir.file("one.fb");
    makeBranch(oneRefused, "03", 2, "S");
    const std::string target = central("central.fb");
    const struct {
        std::vector<std::string> branches;
        int status;
        std::string line;                    // shown once
        std::vector<std::string> more = {};  // other arguments
    } cases[] = {
        {{good + "=01"}, 0, "Done: every row written."},
        {{good + "=01", refused + "=02"}, 1, "DOCUREC: Documento = R0002 Erro: Operation violates CHECK constraint"},
        {{dir.file("gone.fb") + "=01", good + "=01"}, 1, "Erro ao conectar no banco de dados: " + dir.file("gone.fb")},
        {{good + "=01", noTables + "=01"}, 2, "Erro ao converter os dados! Motivo: " + noTables + " (DOCUREC)"},
        {{good + "=01", noKey + "=01"}, 2, "Ended by the failure of the DOCUREC job of " + noKey},
        {{}, 0, "Done: every row written.", {"--list", bomList}},
        {{good + "=01"}, 0, "Done: every row written or found unchanged.", {"--changed-only"}},
        {{gone + "=01", gone + "=02", good + "=01"}, 1, "Done with errors: 0 rows not written, 1 branch database not"},
        {{gone + "=01", gone + "=02"}, 1, "Done with errors: 0 rows not written, 1 branch database not opened.",
         {"--changed-only"}},
        {{oneRefused + "=03"}, 1, "Done with errors: 1 row not written, 0 branch databases not opened."},
        {{odd + "=01"}, 1, "Erro ao conectar no banco de dados: " + dir.file("odd\\x1b[2J\\t.fb") + " Motivo: "},
    };
    for (const auto& [branches, status, line, more] : cases) {
        std::vector<std::string> arguments = {"--central", target, "--report", dir.file("run.json")};
        for (const std::string& branch : branches) arguments.insert(arguments.end(), {"--branch", branch});
        arguments.insert(arguments.end(), more.begin(), more.end());
        const BatchRun run = batch(arguments);
        EXPECT_EQ(run.status, status) << run.output;
        EXPECT_EQ(run.lines(line), 1) << run.output;
        EXPECT_EQ(run.lines("\nTotal "), 1) << run.output;
        EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
        // The report's totals are the printed Total's, a failed job's rows included.
        // Read, then (with --changed-only) compared and unchanged, then
        // written, failed and the seconds.
        const std::size_t totalAt = run.output.find("\nTotal ") + 7;
        std::istringstream total(run.output.substr(totalAt, run.output.find('\n', totalAt) - totalAt));
        std::vector<std::string> figures(std::istream_iterator<std::string>(total), {});
        const bool changedOnly = std::find(more.begin(), more.end(), "--changed-only") != more.end();
        ASSERT_EQ(figures.size(), changedOnly ? 6u : 4u) << run.output;
        figures.pop_back();
        const auto report = nlohmann::json::parse(std::ifstream(dir.file("run.json")));
        EXPECT_EQ(report["totals"]["read"], std::stol(figures.front())) << line;
        EXPECT_EQ(report["totals"]["written"], std::stol(figures[figures.size() - 2])) << line;
        EXPECT_EQ(report["totals"]["failed"], std::stol(figures.back())) << line;
    }
    const BatchRun refusedCentral = batch({"--central", dir.file("nowhere.fb"), "--branch", good + "=01"});
    EXPECT_EQ(refusedCentral.status, 3);
    // --check tells a branch not opened on standard error too, as a run does.
    const BatchRun checked = batch({"--check", "--central", target, "--branch", gone + "=01"}, "", "2>&1 >/dev/null");
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(checked.lines("Erro ao conectar no banco de dados: " + gone + " Motivo: "), 1) << checked.output;
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

// Entries of different codes at once leave what a run in order leaves; two
// branches of one code still meet in list order, the later one's row
// winning. A central whose key lacks the code is converted in order.
TEST_F(Batch, JobsLeaveTheSameCentralTablesAsARunInOrder) {
    const std::string a = dir.file("a.fb"), b = dir.file("b.fb"), c = dir.file("c.fb"), d = dir.file("d.fb");
    makeBranch(a, "01", 9, "A");
    makeBranch(b, "03", 6, "B");
    makeBranch(c, "01", 4, "C");
    testsupport::insertRows(c, "DOCUREC", {testsupport::documentRow("01", "A0003").set("VALORDOCTO", "777.25")});
    makeBranch(d, "02", 5, "D");
    const std::vector<std::string> entries = {"--branch", a + "=01", "--branch", b + "=03",
                                              "--branch", c + "=01", "--branch", d + "=02"};
    const auto jobsOf = [&](const std::string& report) {
        std::vector<std::string> rows;
        for (const auto& job : nlohmann::json::parse(std::ifstream(report))["jobs"])
            rows.push_back(job["database"].get<std::string>() + job["code"].get<std::string>() +
                           job["table"].get<std::string>() + job["read"].dump() + job["written"].dump() +
                           job["failed"].dump());
        return rows;
    };
    const auto run = [&](const std::string& name, const std::string& jobs, const std::string& rowsPerCommit) {
        std::vector<std::string> arguments = {"--central",      dir.file(name), "--jobs",   jobs,
                                              "--commit-every", rowsPerCommit,  "--report", dir.file(name + ".json")};
        arguments.insert(arguments.end(), entries.begin(), entries.end());
        return batch(arguments);
    };
    central("in-order.fb");
    const BatchRun inOrder = run("in-order.fb", "1", "1");
    ASSERT_EQ(inOrder.status, 1) << inOrder.output;
    EXPECT_EQ(
        testsupport::selectAsText(dir.file("in-order.fb"),
                                  "SELECT VALORDOCTO FROM DOCUREC WHERE CODEMPRESA = '01' AND CODDOCTO = 'A0003'"),
        (testsupport::Rows{{"777.25"}}));
    for (const auto& [jobs, rowsPerCommit] : {std::pair{"3", "1"}, {"4", "3"}}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs + " --commit-every " + rowsPerCommit);
        const std::string name = std::string("jobs-") + jobs + ".fb";
        central(name);
        const BatchRun parallel = run(name, jobs, rowsPerCommit);
        EXPECT_EQ(parallel.status, inOrder.status) << parallel.output;
        EXPECT_EQ(parallel.lines(" Erro: "), inOrder.lines(" Erro: ")) << parallel.output;
        EXPECT_EQ(parallel.lines("one after another"), 0) << parallel.output;
        EXPECT_EQ(jobsOf(dir.file(name + ".json")), jobsOf(dir.file("in-order.fb.json")));
        expectSameTables(dir.file("in-order.fb"), dir.file(name));
    }
    const std::string keyWithoutCode = central("key-without-code.fb");
    testsupport::execute(keyWithoutCode, "ALTER TABLE DOCUREC DROP CONSTRAINT PK_DOCUREC");
    testsupport::execute(keyWithoutCode,
                         "ALTER TABLE DOCUREC ADD CONSTRAINT PK_DOCUREC PRIMARY KEY (TIPODOCTO, CODDOCTO)");
    const BatchRun refused = run("key-without-code.fb", "3", "1");
    EXPECT_EQ(refused.lines("--jobs 3: the entries run one after another: the primary key of the central DOCUREC "
                            "does not hold CODEMPRESA"),
              1)
        << refused.output;
    EXPECT_EQ(jobsOf(dir.file("key-without-code.fb.json")), jobsOf(dir.file("in-order.fb.json")));
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
        // Killed midway, the run left the report before it whole.
        EXPECT_EQ(nlohmann::json::parse(std::ifstream(dir.file("run.json")))["signal"], "SIGINT");
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
    } cases[] = {{0, 1, "1 branch database not opened"},
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

// Output nobody reads any more, and a report that cannot take the place of
// its target, change nothing about the conversion; the exit status tells.
TEST_F(Batch, AClosedOutputPipeOrAnUnwritableReportNeverStopsTheRun) {
    const std::string branch = dir.file("filial.fb"), report = dir.file("run.json");
    makeBranch(branch, "01", 3, "P");
    // Document P0003 takes a second: the reader is gone by then.
    const auto slow = [&](const std::string& path) {
        testsupport::execute(path,
                             "CREATE TRIGGER TG_SLOW FOR DOCUREC BEFORE INSERT OR UPDATE AS "
                             "DECLARE I INTEGER = 0; BEGIN IF (NEW.CODDOCTO = 'P0003') THEN "
                             "WHILE (I < 2000000) DO I = I + 1; END");
        return path;
    };
    const std::string refusing = slow(central("refusing.fb"));
    const auto piped = start({"--central", refusing, "--branch", branch + "=01", "--report", report});
    ASSERT_TRUE(piped->waitFor("DOCUREC: Documento = P0002 Erro:"));
    piped->closeOutput();
    EXPECT_EQ(finish(*piped).status, 1);
    const auto written = nlohmann::json::parse(std::ifstream(report));
    EXPECT_EQ(written["totals"]["read"], 6);

    // The target becomes a folder while the run goes on: the rename fails.
    const std::string plainCentral = dir.file("plain.fb");
    testsupport::createCentralDatabase(plainCentral);
    using Files = std::filesystem::directory_iterator;
    const auto files = std::distance(Files(dir.path()), Files());
    const auto child = start({"--central", slow(plainCentral), "--branch", branch + "=01", "--report", report});
    // Once its temporary file is there, the report's path is taken.
    for (int wait = 0; wait < 100 && std::distance(Files(dir.path()), Files()) == files; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::filesystem::remove(report);
    std::filesystem::create_directory(report);
    const BatchRun run = finish(*child);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.lines("Done: every row written."), 1) << run.output;
    EXPECT_EQ(run.lines("tavolene-batch: the report file \"" + report + "\" was not written (rename): Is a directory"),
              1)
        << run.output;
}

}  // namespace
}  // namespace reliability
