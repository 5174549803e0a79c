// Bad files given as branch or central database: each is refused with the
// client's own reason in the box, nothing committed before is lost, nothing
// is written into the bad file, and the next good conversion works.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ChildProcess.h"
#include "Fixture.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string csvText() {
    std::ostringstream text;
    text << "CODEMPRESA;CODDOCTO;VALORDOCTO\n";
    for (int i = 0; i < 2000; ++i) text << "01;" << 4711 + i << ";100,00\n";
    return text.str();
}

// The reason the engine gives for a file that is no database at all.
std::string notADatabase(const std::string& path) { return "file " + path + " is not a valid database"; }

class BadFiles : public FaultTest {
protected:
    // The list [bad file, a good second branch]: the bad one is warned about
    // once per table job, the good one is copied, the run ends with the
    // warning that counts the file once.
    void expectBranchRefused(const std::string& badPath, const std::string& motivo) {
        const std::string second = dir.file("filial-segunda.fb");
        makeBranch(second, "03", 2, "S");
        const Outcome outcome = program.convert(centralPath, {{badPath, "01"}, {second, "03"}});
        const std::vector<Box> expected = {branchRefused(badPath, motivo), branchRefused(badPath, motivo),
                                           endWithErrors(0, 1)};
        EXPECT_EQ(outcome.boxes, expected) << toString(outcome.boxes);
        EXPECT_FALSE(outcome.failure);
        EXPECT_TRUE(outcome.log.empty());
        EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODEMPRESA = '03'"), 2);
        EXPECT_EQ(testsupport::countRows(centralPath, "MOVIREC", "CODEMPRESA = '03'"), 2);
        expectCommittedRowsKept();
        expectKeepsWorking();
    }

    // The bad file as central database: the error box, no run, and the
    // branch rows are not written anywhere.
    void expectCentralRefused(const std::string& badPath, const std::string& motivo) {
        const Outcome outcome = program.convert(badPath, {{goodBranch, "01"}});
        EXPECT_EQ(outcome.boxes, std::vector<Box>{centralRefused(motivo)}) << toString(outcome.boxes);
        EXPECT_FALSE(outcome.started);
        EXPECT_FALSE(program.central.isAttached());
        expectCommittedRowsKept();
        expectKeepsWorking();
    }
};

TEST_F(BadFiles, MissingBranchFileIsWarnedTwiceAndTheNextEntryIsCopied) {
    const std::string missing = dir.file("nao-existe.fb");
    expectBranchRefused(missing, "I/O error during \"open\" operation for file \"" + missing +
                                     "\"\n-Error while trying to open file\n-No such file or directory");
    EXPECT_FALSE(fs::exists(missing)) << "opening must not create the file";
}

TEST_F(BadFiles, MissingCentralFileIsRefusedAndNotCreated) {
    const std::string missing = dir.file("central-nao-existe.fb");
    expectCentralRefused(missing, "I/O error during \"open\" operation for file \"" + missing +
                                      "\"\n-Error while trying to open file\n-No such file or directory");
    EXPECT_FALSE(fs::exists(missing));
}

// The client library would recurse on these until the process dies.
TEST_F(BadFiles, SymbolicLinkLoopsAsBranchCentralOrFolderAreRefused) {
    const std::string loop = dir.file("laco.fb");
    fs::create_symlink(loop, loop);
    const std::string folder = dir.file("pasta-laco");
    fs::create_symlink(folder, folder);
    const auto motivo = [](const std::string& path) {
        return "I/O error for file \"" + path + "\": Too many levels of symbolic links";
    };
    expectBranchRefused(loop, motivo(loop));
    expectCentralRefused(folder + "/central.fb", motivo(folder + "/central.fb"));
}

TEST_F(BadFiles, EmptyBranchFileIsRefused) {
    const std::string empty = dir.file("vazio.fb");
    writeFile(empty, "");
    expectBranchRefused(
        empty, "I/O error during \"read\" operation for file \"" + empty + "\"\n-File size is less than expected");
    EXPECT_EQ(fs::file_size(empty), 0u);
}

TEST_F(BadFiles, TextFileRenamedFbAsBranchIsRefusedAndLeftUntouched) {
    const std::string text = dir.file("planilha.fb");
    writeFile(text, csvText());
    expectBranchRefused(text, notADatabase(text));
    EXPECT_EQ(fileBytes(text), csvText());
}

TEST_F(BadFiles, TextFileRenamedFbAsCentralIsRefusedAndLeftUntouched) {
    const std::string text = dir.file("planilha-central.fb");
    writeFile(text, csvText());
    expectCentralRefused(text, notADatabase(text));
    EXPECT_EQ(fileBytes(text), csvText());
}

TEST_F(BadFiles, DirectoryAsBranchIsRefused) {
    const std::string folder = dir.file("pasta.fb");
    fs::create_directory(folder);
    expectBranchRefused(folder, "I/O error during \"read\" operation for file \"" + folder +
                                    "\"\n-Error while trying to read from file\n-Is a directory");
}

// Tests run as root, and root reads any file whatever its mode. The
// conversion therefore runs in a process of its own that gave up that right
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) before its first database call;
// a plain user is refused the same way.
TEST_F(BadFiles, UnreadableBranchFileIsRefused) {
    const std::string locked = dir.file("sem-permissao.fb");
    makeBranch(locked, "01", 2, "P");
    fs::permissions(locked, fs::perms::none);
    const std::string second = dir.file("filial-segunda.fb");
    makeBranch(second, "03", 2, "S");
    program.central.close();  // the other process needs the central file
    ChildProcess child(
        driverArguments(centralPath, {{locked, "01"}, {second, "03"}}, {"--without-permission-override"}));
    child.wait();
    const Outcome outcome = child.outcome();
    const std::string motivo = "I/O error during \"open\" operation for file \"" + locked +
                               "\"\n-Error while trying to open file\n-Permission denied";
    const std::vector<Box> expected = {branchRefused(locked, motivo), branchRefused(locked, motivo),
                                       endWithErrors(0, 1)};
    EXPECT_EQ(outcome.boxes, expected) << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty());
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODEMPRESA = '03'"), 2);
    EXPECT_EQ(testsupport::countRows(centralPath, "DOCUREC", "CODDOCTO STARTING WITH 'P'"), 0);
    expectCommittedRowsKept();
    expectKeepsWorking();
}

TEST_F(BadFiles, BranchOfANewerOnDiskFormatIsRefused) {
    const std::string newer = dir.file("ods13.fb");
    makeBranch(newer, "01", 2, "N");
    std::string bytes = fileBytes(newer);
    // Header page: the on-disk structure version follows the 16-byte page
    // header and the page size; Firebird 3 writes 12 with the 0x8000 flag.
    std::uint16_t ods = 0;
    std::memcpy(&ods, bytes.data() + 18, sizeof ods);
    ASSERT_EQ(ods, 0x800C);
    ods = 0x800D;
    std::memcpy(bytes.data() + 18, &ods, sizeof ods);
    writeFile(newer, bytes);
    expectBranchRefused(newer, "unsupported on-disk structure for file " + newer + "; found 13.0, support 12.2");
}

TEST_F(BadFiles, TruncatedCopyOfARealBranchIsRefused) {
    const std::string truncated = dir.file("truncado.fb");
    makeBranch(truncated, "01", 40, "T");
    fs::resize_file(truncated, fs::file_size(truncated) / 2);
    expectBranchRefused(truncated, "I/O error during \"read\" operation for file \"" + truncated +
                                       "\"\n-File size is less than expected");
}

// In a process of its own, so the program is the first to use the client
// library, as when it runs for real.
TEST_F(BadFiles, PathWithBlanksQuotesAndAccentsOpensAndCopies) {
    const std::string folder = dir.file("Matriz e Filiais São João");
    fs::create_directory(folder);
    const std::string branch = folder + "/Filial \"Sé\" d'Ávila Nº 1.fb";
    const std::string central = folder + "/Central 'Ação' \"Única\".fb";
    // Made under plain names and then renamed, so the odd names are met
    // first by the program itself.
    makeBranch(dir.file("b.fb"), "01", 5, "A");
    testsupport::createCentralDatabase(dir.file("c.fb"));
    fs::rename(dir.file("b.fb"), branch);
    fs::rename(dir.file("c.fb"), central);
    ChildProcess child(driverArguments(central, {{branch, "01"}}));
    child.wait();
    const Outcome outcome = child.outcome();
    EXPECT_EQ(outcome.boxes, std::vector<Box>{success()}) << toString(outcome.boxes);
    EXPECT_TRUE(outcome.log.empty());
    const std::vector<std::string> expected = {"A0001", "A0002", "A0003", "A0004", "A0005"};
    // Read back here under plain names, so the check does not depend on the
    // reader handling the odd path.
    fs::rename(central, dir.file("c.fb"));
    EXPECT_EQ(keys(dir.file("c.fb"), "DOCUREC"), expected);
    EXPECT_EQ(keys(dir.file("c.fb"), "MOVIREC"), expected);
    fs::rename(dir.file("c.fb"), central);
    // The same names work again in a second process, and this one goes on.
    ChildProcess again(driverArguments(central, {{branch, "01"}}));
    again.wait();
    EXPECT_EQ(again.outcome().boxes, std::vector<Box>{success()}) << toString(again.outcome().boxes);
    expectKeepsWorking();
}

}  // namespace
}  // namespace reliability
