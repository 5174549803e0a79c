// The conversion run driven through the window against real embedded
// databases: the whole road, the boxes that end a run, failures, and what
// the grid and the close button do while a run is in progress.

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <functional>

#include "TestDatabases.h"
#include "WindowHarness.h"
#include "ui/Fonts.h"

using uitest::WindowHarness;

namespace {

const QString kSucesso = QStringLiteral("Integração realizada com sucesso!");

// Watches the window while a run processes events: records every progress
// label that names a row and gives a hook the chance to act between rows.
class RunWatch : public QObject {
public:
    explicit RunWatch(WindowHarness& form) : form_(form) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_.start();
    }

    // Each job as "Documento A" / "Movimento A": the prefix of the label and
    // the first letter of the row's key, which names the branch.
    QStringList jobs() const { return jobs_; }

    std::function<void(const QString& job)> onRow;

private:
    void tick() {
        const QString label = form_.lblProgresso()->text();
        static const QString prefix = QStringLiteral("Integrando ");
        if (!label.startsWith(prefix)) return;
        const QStringList words = label.mid(prefix.size()).split(QLatin1Char(' '));
        const QString job = words.value(0).chopped(1) + QLatin1Char(' ') + words.value(1).left(1);
        if (jobs_.isEmpty() || jobs_.last() != job) jobs_ << job;
        if (onRow) onRow(job);
    }

    WindowHarness& form_;
    QTimer timer_;
    QStringList jobs_;
};

class Databases {
public:
    Databases() { testsupport::createCentralDatabase(central()); }

    std::string central() const { return dir_.file("central.fb"); }
    std::string central2() const { return dir_.file("central2.fb"); }

    // A branch whose rows all have keys starting with `letter`: `count`
    // documents and as many movements of `code`, one document of another code.
    QString branch(char letter, const std::string& code, int count = 3) {
        const std::string path = dir_.file(std::string("filial") + letter + ".fb");
        testsupport::createBranchDatabase(path);
        std::vector<testsupport::Row> documents, movements;
        for (int i = 1; i <= count; ++i) {
            const std::string key = std::string(1, letter) + std::to_string(i);
            documents.push_back(testsupport::documentRow(code, key));
            movements.push_back(testsupport::movementRow(code, key));
        }
        documents.push_back(testsupport::documentRow(code == "03" ? "04" : "03", std::string(1, letter) + "X"));
        testsupport::insertRows(path, "DOCUREC", documents);
        testsupport::insertRows(path, "MOVIREC", movements);
        return QString::fromStdString(path);
    }

    QString missing() const { return QString::fromStdString(dir_.file("nao-existe.fb")); }

    long long documents(const std::string& letter, const std::string& database = {}) const {
        return testsupport::countRows(database.empty() ? central() : database, "DOCUREC",
                                      "CODDOCTO STARTING WITH '" + letter + "'");
    }
    long long movements(const std::string& letter) const {
        return testsupport::countRows(central(), "MOVIREC", "CODDOCTO STARTING WITH '" + letter + "'");
    }

private:
    testsupport::TempDir dir_;
};

QString q(const std::string& text) { return QString::fromStdString(text); }

void convert(WindowHarness& form) { WindowHarness::click(form.picture("imgConverter")); }

// The state every run leaves behind, whatever its end.
void verifyScreenReset(WindowHarness& form) {
    QCOMPARE(form.edtCentralizador()->text(), QString());
    QCOMPARE(form.edtFilial()->text(), QString());
    QCOMPARE(form.list().rowCount(), 0);
    QCOMPARE(form.cbEmpresa()->currentIndex(), -1);
    QVERIFY(!form.cbEmpresa()->isEnabled());
    QCOMPARE(form.lblProgresso()->text(), QString());
    QCOMPARE(form.barra()->text(), QStringLiteral("0%"));
    for (const char* name : {"pnlAbrirOrigem", "pnlAbrirResulth", "pnlConverter", "pnlSair"})
        QVERIFY2(form.panel(name)->isEnabled(), name);
    QVERIFY(!form.window->isRunning());
}

// Another process can open every one of `files`: the window, idle after a
// run however it ended, holds none of them.
void verifyFilesReleased(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        QProcess isql;
        isql.start(QStringLiteral("isql-fb"),
                   {QStringLiteral("-user"), QString::fromLatin1(testsupport::kUser), QStringLiteral("-password"),
                    QString::fromLatin1(testsupport::kPassword), QStringLiteral("-q"), QString::fromStdString(file)});
        isql.write("quit;\n");
        isql.closeWriteChannel();
        QVERIFY(isql.waitForFinished(30000));
        QVERIFY2(isql.exitCode() == 0, qPrintable(QString::fromStdString(file) + QLatin1Char(' ') +
                                                  QString::fromLocal8Bit(isql.readAllStandardError())));
    }
}

}  // namespace

class ConversionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ui::registerTahomaFallback(); }

    void wholeRoad() {
        Databases databases;
        const QString filialA = databases.branch('A', "02");
        const QString filialB = databases.branch('B', "04");
        WindowHarness form;
        QVERIFY(form.showActive());
        form.mLog()->setPlainText(QStringLiteral("de uma execução anterior"));
        form.chooseCentral(q(databases.central()));
        form.addBranch(filialA, 2);
        form.addBranch(filialB, 4);
        QCOMPARE(form.bancos(), (QStringList{filialA, filialB}));

        // The end box may wait all night: meanwhile other programs open the files.
        form.dialogs->onBox = [&](const uitest::Box&) {
            verifyFilesReleased({databases.central(), filialB.toStdString()});
        };
        RunWatch watch(form);
        bool disabledDuringRun = false;
        watch.onRow = [&](const QString&) {
            disabledDuringRun = !form.panel("pnlConverter")->isEnabled() && !form.cbEmpresa()->isEnabled() &&
                                form.grid()->isEnabled() && form.window->isRunning();
        };
        convert(form);

        QCOMPARE(form.dialogs->texts("information"), QStringList{kSucesso});
        QCOMPARE(int(form.dialogs->boxes.size()), 1);
        QVERIFY(disabledDuringRun);
        QCOMPARE(watch.jobs(), (QStringList{"Documento A", "Movimento A", "Documento B", "Movimento B"}));
        QCOMPARE(databases.documents("A"), 3);
        QCOMPARE(databases.movements("A"), 3);
        QCOMPARE(databases.documents("B"), 3);
        QCOMPARE(databases.movements("B"), 3);
        QCOMPARE(testsupport::countRows(databases.central(), "DOCUREC"), 6);  // other codes stay behind
        QCOMPARE(form.mLog()->toPlainText(), QString());
        verifyScreenReset(form);
        verifyFilesReleased({databases.central(), filialB.toStdString()});
    }

    void runRefusedBeforeItStarts_data() {
        QTest::addColumn<bool>("centralChosen");
        QTest::addColumn<bool>("entry");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("no central, empty list")
            << false << false << "error"
            << "Não foi possível conectar ao banco de dados Centralizador\rMotivo: Caminho do banco centralizador não "
               "informado!";
        QTest::newRow("no central, one entry")
            << false << true << "error"
            << "Não foi possível conectar ao banco de dados Centralizador\rMotivo: Caminho do banco centralizador não "
               "informado!";
        QTest::newRow("empty list") << true << false << "warning"
                                    << "É necessário informar pelo menos um banco de dados da filial.";
    }
    void runRefusedBeforeItStarts() {
        QFETCH(bool, centralChosen);
        QFETCH(bool, entry);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        Databases databases;
        WindowHarness form;
        form.mLog()->setPlainText(QStringLiteral("linha antiga"));
        if (centralChosen) form.chooseCentral(q(databases.central()));
        if (entry) form.list().append(q(databases.central()), QStringLiteral("01"));
        form.dialogs->onBox = [&](const uitest::Box&) { verifyFilesReleased({databases.central()}); };
        convert(form);
        QCOMPARE(int(form.dialogs->boxes.size()), 1);
        QCOMPARE(form.dialogs->boxes.front().kind, kind);
        QCOMPARE(form.dialogs->boxes.front().text, text);
        // The log is cleared; nothing else is reset.
        QCOMPARE(form.mLog()->toPlainText(), QString());
        QCOMPARE(form.edtCentralizador()->text(), centralChosen ? q(databases.central()) : QString());
        QCOMPARE(form.list().rowCount(), entry ? 1 : 0);
        QCOMPARE(form.cbEmpresa()->isEnabled(), centralChosen);
        verifyFilesReleased({databases.central()});
    }

    void centralThatCannotBeOpened() {
        Databases databases;
        WindowHarness form;
        form.chooseCentral(databases.missing());
        form.list().append(databases.branch('A', "01"), QStringLiteral("01"));
        convert(form);
        QCOMPARE(int(form.dialogs->boxes.size()), 1);
        QCOMPARE(form.dialogs->boxes.front().kind, QStringLiteral("error"));
        QVERIFY(form.dialogs->boxes.front().text.startsWith(
            QStringLiteral("Não foi possível conectar ao banco de dados Centralizador\rMotivo: ")));
        QCOMPARE(form.list().rowCount(), 1);
        QCOMPARE(databases.documents("A"), 0);
    }

    void failedRowsEndInTheWarning() {
        Databases databases;
        const QString filial = databases.branch('A', "01");
        testsupport::execute(filial.toStdString(), "UPDATE DOCUREC SET VALORDOCTO = 99999 WHERE CODDOCTO = 'A2'");
        testsupport::execute(databases.central(),
                             "ALTER TABLE DOCUREC ADD CONSTRAINT CK_TESTE CHECK (VALORDOCTO < 10000)");
        WindowHarness form;
        form.chooseCentral(q(databases.central()));
        form.addBranch(filial, 1);
        form.dialogs->onBox = [&](const uitest::Box&) {
            verifyFilesReleased({databases.central(), filial.toStdString()});
        };
        convert(form);
        QCOMPARE(form.dialogs->texts("information"), QStringList());
        QCOMPARE(form.dialogs->texts("warning"),
                 QStringList{QStringLiteral("Integração concluída com erros! Registros não integrados: 1. Bancos não "
                                            "conectados: 0. Verifique o Log de Erros.")});
        // One line for the failed row; the server's message may span lines.
        const QString log = form.mLog()->toPlainText();
        QVERIFY2(log.startsWith(QStringLiteral("DOCUREC: Documento = A2 Erro: ")), qPrintable(log));
        QCOMPARE(log.count(QStringLiteral("Documento = ")), 1);
        QVERIFY2(log.contains(QStringLiteral("CK_TESTE")), qPrintable(log));
        QCOMPARE(databases.documents("A"), 2);
        QCOMPARE(databases.movements("A"), 3);
        verifyScreenReset(form);
        verifyFilesReleased({databases.central(), filial.toStdString()});
    }

    void branchThatCannotBeOpened() {
        Databases databases;
        const QString filial = databases.branch('B', "00");
        WindowHarness form;
        form.chooseCentral(q(databases.central()));
        form.addBranch(databases.missing(), 0);
        form.addBranch(filial, 0);
        convert(form);
        const QStringList warnings = form.dialogs->texts("warning");
        QCOMPARE(warnings.size(), 3);
        const QString opening =
            QStringLiteral("Erro ao conectar no banco de dados: ") + databases.missing() + QStringLiteral(" Motivo: ");
        QVERIFY2(warnings[0].startsWith(opening), qPrintable(warnings[0]));
        QVERIFY2(warnings[1].startsWith(opening), qPrintable(warnings[1]));
        // The file counts once, and with no failed row there is no log to see.
        QCOMPARE(warnings[2], QStringLiteral("Integração concluída com erros! Registros não integrados: 0. Bancos não "
                                             "conectados: 1."));
        QCOMPARE(form.dialogs->texts("information"), QStringList());
        QCOMPARE(databases.documents("B"), 3);
        QCOMPARE(databases.movements("B"), 3);
        verifyScreenReset(form);
    }

    void tableJobFailureReachesTheFailureHandler() {
        Databases databases;
        const QString broken = databases.branch('A', "01");
        testsupport::execute(broken.toStdString(), "DROP TABLE MOVIREC");
        const QString later = databases.branch('B', "01");
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(q(databases.central()));
        form.addBranch(broken, 1);
        form.addBranch(later, 1);
        bool resetWhenShown = false;
        form.dialogs->onBox = [&](const uitest::Box& box) {
            if (box.kind == QLatin1String("failure")) {
                resetWhenShown = form.list().rowCount() == 0 && form.panel("pnlConverter")->isEnabled();
                verifyFilesReleased({databases.central(), broken.toStdString()});
            }
        };
        convert(form);

        QCOMPARE(int(form.dialogs->boxes.size()), 1);
        const uitest::Box& failure = form.dialogs->boxes.front();
        QCOMPARE(failure.kind, QStringLiteral("failure"));
        QCOMPARE(failure.title, QStringLiteral("tavolene_conversion_tests"));  // the executable's name
        // The reason names the file and the table that stopped the run.
        QVERIFY2(failure.text.startsWith(QStringLiteral("Erro ao converter os dados! Motivo: ") + broken +
                                         QStringLiteral(" (MOVIREC): ")),
                 qPrintable(failure.text));
        QVERIFY(resetWhenShown);                // the closing steps ran before the box
        QCOMPARE(databases.documents("A"), 3);  // committed before the failure
        QCOMPARE(databases.documents("B"), 0);  // no later job ran
        verifyScreenReset(form);
        QVERIFY(form.window->isVisible());
    }

    void changedCentralPathIsHonoured() {
        Databases databases;
        testsupport::createCentralDatabase(databases.central2());
        const QString filial = databases.branch('A', "03");
        WindowHarness form;
        form.chooseCentral(q(databases.central()));
        form.addBranch(filial, 3);
        convert(form);
        QCOMPARE(databases.documents("A"), 3);

        testsupport::execute(databases.central(), "DELETE FROM DOCUREC");
        form.chooseCentral(q(databases.central2()));
        form.addBranch(filial, 3);
        convert(form);
        QCOMPARE(form.dialogs->texts("information"), (QStringList{kSucesso, kSucesso}));
        QCOMPARE(databases.documents("A", databases.central2()), 3);
        QCOMPARE(databases.documents("A"), 0);
    }

    void closingTheWindowStopsTheRun() {
        Databases databases;
        const QString filialA = databases.branch('A', "01", 20);
        const QString filialB = databases.branch('B', "01");
        WindowHarness form;
        QVERIFY(form.showActive());
        QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
        form.chooseCentral(q(databases.central()));
        form.addBranch(filialA, 1);
        form.addBranch(filialB, 1);
        RunWatch watch(form);
        int closeRequests = 0;
        bool visibleAfterRequest = false;
        watch.onRow = [&](const QString& job) {
            if (job == QLatin1String("Documento A") && closeRequests == 0) {
                ++closeRequests;
                form.window->close();  // as the close button or Alt+F4 does
                visibleAfterRequest = form.window->isVisible();
            }
        };
        // In the event loop, as the program runs: closing the last window ends it.
        QTimer::singleShot(0, form.window.get(), [&] { convert(form); });
        QTimer::singleShot(60000, qApp, [] { QCoreApplication::exit(2); });
        QCOMPARE(QCoreApplication::exec(), 0);

        QCOMPARE(closeRequests, 1);
        QVERIFY(visibleAfterRequest);  // the run went on to the end of its row
        QVERIFY(!form.window->isVisible());
        QCOMPARE(lastWindowClosed.count(), 1);
        QCOMPARE(int(form.dialogs->boxes.size()), 0);
        const long long written = databases.documents("A");
        QVERIFY2(written >= 1 && written < 20, qPrintable(QString::number(written)));
        QCOMPARE(databases.movements("A"), 0);
        QCOMPARE(databases.documents("B"), 0);
        QCOMPARE(watch.jobs(), QStringList{"Documento A"});
        verifyScreenReset(form);
        verifyFilesReleased({databases.central(), filialA.toStdString()});
    }

    void closingWhenIdleClosesAtOnce() {
        WindowHarness form;
        QVERIFY(form.showActive());
        QVERIFY(form.window->close());
        QVERIFY(!form.window->isVisible());
    }

    // While entry `during` is being copied, the user clicks entry `removed`
    // in the grid and presses Delete.
    void deleteKeyDuringARun_data() {
        QTest::addColumn<QString>("during");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QStringList>("jobs");
        QTest::newRow("an entry still to come")
            << "A"
            << "B" << QStringList{"Documento A", "Movimento A", "Documento C", "Movimento C"};
        QTest::newRow("the last entry, still to come")
            << "A"
            << "C" << QStringList{"Documento A", "Movimento A", "Documento B", "Movimento B"};
        QTest::newRow("the entry being processed")
            << "B"
            << "B"
            << QStringList{"Documento A", "Movimento A", "Documento B", "Movimento B", "Documento C", "Movimento C"};
        QTest::newRow("the last entry, being processed")
            << "C"
            << "C"
            << QStringList{"Documento A", "Movimento A", "Documento B", "Movimento B", "Documento C", "Movimento C"};
        QTest::newRow("an entry already done")
            << "B"
            << "A"
            << QStringList{"Documento A", "Movimento A", "Documento B", "Movimento B", "Documento C", "Movimento C"};
    }
    void deleteKeyDuringARun() {
        QFETCH(QString, during);
        QFETCH(QString, removed);
        QFETCH(QStringList, jobs);
        Databases databases;
        QMap<QString, QString> paths;
        for (const char letter : {'A', 'B', 'C'}) paths[QString(QLatin1Char(letter))] = databases.branch(letter, "02");
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(q(databases.central()));
        for (const QString& letter : paths.keys()) form.addBranch(paths[letter], 2);

        RunWatch watch(form);
        bool deleted = false;
        watch.onRow = [&](const QString& job) {
            if (deleted || job != QLatin1String("Documento ") + during) return;
            deleted = true;
            form.clickCell(int(form.bancos().indexOf(paths[removed])));
            form.grid()->setFocus();
            QTest::keyClick(form.grid(), Qt::Key_Delete);
        };
        convert(form);

        QVERIFY(deleted);
        QCOMPARE(watch.jobs(), jobs);
        QCOMPARE(form.dialogs->texts("information"), QStringList{kSucesso});
        for (const QString& letter : paths.keys()) {
            const long long expected = jobs.contains(QLatin1String("Documento ") + letter) ? 3 : 0;
            QCOMPARE(databases.documents(letter.toStdString()), expected);
            QCOMPARE(databases.movements(letter.toStdString()), expected);
        }
        verifyScreenReset(form);
    }

    void clickingBackDuringARunRepeatsNothing() {
        Databases databases;
        const QString filialA = databases.branch('A', "01");
        const QString filialB = databases.branch('B', "01");
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(q(databases.central()));
        form.addBranch(filialA, 1);
        form.addBranch(filialB, 1);
        RunWatch watch(form);
        bool clicked = false;
        watch.onRow = [&](const QString& job) {
            if (job == QLatin1String("Movimento B") && !clicked) {
                clicked = true;
                form.clickCell(0);
            }
        };
        convert(form);
        QCOMPARE(watch.jobs(), (QStringList{"Documento A", "Movimento A", "Documento B", "Movimento B"}));
        QCOMPARE(form.dialogs->texts("information"), QStringList{kSucesso});
    }
};

QTEST_MAIN(ConversionTest)
#include "ConversionTest.moc"
