// The demo a new user starts with: the generator creates the databases, and
// the window, offscreen, converts every branch and company code in them.

#include <QProcess>
#include <QTest>

#include "../ui/WindowHarness.h"
#include "TestDatabases.h"

namespace {

struct Branch {
    const char* file;
    std::vector<std::pair<std::string, int>> codes;  // code text, drop-down index
};

const std::vector<Branch> kBranches = {
    {"filial-centro.fb", {{"01", 1}, {"02", 2}}},
    {"filial-norte.fb", {{"01", 1}, {"03", 3}}},
    {"filial-sul.fb", {{"04", 4}, {"00", 0}}},
};

}  // namespace

class DemoConversionTest : public QObject {
    Q_OBJECT

private slots:
    void generatorCreatesDatabasesOnceAndTheWindowConvertsThemAll();
};

void DemoConversionTest::generatorCreatesDatabasesOnceAndTheWindowConvertsThemAll() {
    testsupport::TempDir dir;
    const QString demo = QString::fromStdString(dir.file("demo"));
    const QString generator = QStringLiteral(TAVOLENE_SOURCE_DIR "/scripts/make-demo");

    QProcess first;
    first.start(QStringLiteral("bash"), {generator, demo});
    QVERIFY(first.waitForFinished(120000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(first.readAllStandardOutput().contains("Demo databases created"));

    const std::string central = dir.file("demo/central.fb");
    QCOMPARE(testsupport::countRows(central, "DOCUREC"), 0LL);

    // A second call leaves what is there: a user's own conversions survive.
    testsupport::execute(central, "UPDATE OR INSERT INTO DOCUREC (CODEMPRESA, TIPODOCTO, CODDOCTO) VALUES ('09', 'DP', 'MARCA')");
    QProcess again;
    again.start(QStringLiteral("bash"), {generator, demo});
    QVERIFY(again.waitForFinished(60000));
    QCOMPARE(again.exitCode(), 0);
    QVERIFY(again.readAllStandardOutput().contains("already"));
    QCOMPARE(testsupport::countRows(central, "DOCUREC", "CODDOCTO = 'MARCA'"), 1LL);
    testsupport::execute(central, "DELETE FROM DOCUREC");

    long long expectedDocuments = 0;
    long long expectedMovements = 0;
    uitest::WindowHarness form;
    form.chooseCentral(QString::fromStdString(central));
    for (const Branch& branch : kBranches) {
        const std::string path = dir.file("demo/" + std::string(branch.file));
        for (const auto& [code, index] : branch.codes) {
            const std::string where = "CODEMPRESA = '" + code + "'";
            const long long documents = testsupport::countRows(path, "DOCUREC", where);
            QVERIFY2(documents > 0, branch.file);
            expectedDocuments += documents;
            expectedMovements += testsupport::countRows(path, "MOVIREC", where);
        }
    }
    // The list holds each file once, so the second code of a branch goes in
    // a second run.
    for (std::size_t pass = 0; pass < 2; ++pass) {
        form.chooseCentral(QString::fromStdString(central));
        for (const Branch& branch : kBranches)
            form.addBranch(QString::fromStdString(dir.file("demo/" + std::string(branch.file))),
                           branch.codes[pass].second);
        QCOMPARE(form.list().rowCount(), 3);
        uitest::WindowHarness::click(form.picture("imgConverter"));
        QCOMPARE(form.dialogs->texts("information").value(static_cast<int>(pass)),
                 QStringLiteral("Integração realizada com sucesso!"));
        QVERIFY(form.mLog()->toPlainText().isEmpty());
    }
    QCOMPARE(form.dialogs->texts("warning"), QStringList());
    QCOMPARE(testsupport::countRows(central, "DOCUREC"), expectedDocuments);
    QCOMPARE(testsupport::countRows(central, "MOVIREC"), expectedMovements);
}

QTEST_MAIN(DemoConversionTest)
#include "DemoConversionTest.moc"
