// Misuse of the real window while a run is in progress — closing it, Delete
// in the grid, clicks on the disabled panels, Enter and Tab — and the window
// killed in the middle of a copy. Whatever the user does, every row that
// reached the central database is whole, nothing runs twice, and the next
// run leaves the central database as a clean run would.

#include <sys/wait.h>

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <functional>

#include "ChildProcess.h"
#include "Harness.h"
#include "WindowHarness.h"
#include "ui/Fonts.h"

#ifndef TAVOLENE_WINDOW_DRIVER
#error "TAVOLENE_WINDOW_DRIVER must name the window driver"
#endif

using reliability::Box;
using reliability::Entry;
using uitest::WindowHarness;

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// Calls `onRow` with the key of each row the window starts, between rows,
// as the run lets the event loop work.
class RowWatch : public QObject {
public:
    explicit RowWatch(WindowHarness& form) : form_(form) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_.start();
    }

    QStringList rows;  // as seen, each once
    std::function<void(const QString& row)> onRow;

private:
    void tick() {
        const QString label = form_.lblProgresso()->text();
        if (!label.startsWith(QLatin1String("Integrando ")) || label == last_) return;
        last_ = label;
        rows << label;
        if (onRow) onRow(label);
    }

    WindowHarness& form_;
    QTimer timer_;
    QString last_;
};

class Setting {
public:
    Setting() { testsupport::createCentralDatabase(central()); }

    std::string central() const { return dir.file("central.fb"); }
    std::string branch(const std::string& prefix, const std::string& empresa, int documents) {
        const std::string path = dir.file("filial-" + prefix + ".fb");
        reliability::makeBranch(path, empresa, documents, prefix);
        return path;
    }

    // What clean runs of these lists, one after the other, leave in a
    // fresh central database.
    std::pair<testsupport::Rows, testsupport::Rows> clean(const std::vector<std::vector<Entry>>& runs) {
        const std::string path = dir.file("limpa-" + std::to_string(++cleanRuns) + ".fb");
        testsupport::createCentralDatabase(path);
        reliability::Program program;
        for (const auto& entries : runs)
            if (program.convert(path, entries).boxes != std::vector<Box>{reliability::success()})
                throw std::runtime_error("a clean run failed");
        program.central.close();
        return {reliability::dump(path, "DOCUREC"), reliability::dump(path, "MOVIREC")};
    }

    testsupport::TempDir dir;
    int cleanRuns = 0;
};

// Every row of `actual` is, column for column, a row of `expected`.
bool everyRowWhole(const testsupport::Rows& actual, const testsupport::Rows& expected) {
    for (const auto& row : actual)
        if (std::find(expected.begin(), expected.end(), row) == expected.end()) return false;
    return true;
}

void chooseAndAdd(WindowHarness& form, const std::string& central, const std::vector<Entry>& entries) {
    form.chooseCentral(q(central));
    for (const Entry& entry : entries) form.addBranch(q(entry.banco), std::stoi(entry.empresa));
}

void convert(WindowHarness& form) { WindowHarness::click(form.picture("imgConverter")); }

}  // namespace

class WindowMisuse : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ui::registerTahomaFallback(); }

    void closingTheWindowMidRunLeavesOnlyWholeRowsAndTheNextRunCompletes() {
        Setting setting;
        const std::vector<Entry> entries = {{setting.branch("M", "01", 30), "01"}};
        const auto [cleanDocs, cleanMovs] = setting.clean({entries});
        {
            WindowHarness form;
            QVERIFY(form.showActive());
            chooseAndAdd(form, setting.central(), entries);
            RowWatch watch(form);
            watch.onRow = [&](const QString& row) {
                if (row == QLatin1String("Integrando Documento: M0010")) form.window->close();
            };
            convert(form);
            QVERIFY(!form.window->isVisible());
            QVERIFY2(form.dialogs->boxes.empty(), "a run stopped by closing ends without a box");
            const testsupport::Rows docs = reliability::dump(setting.central(), "DOCUREC");
            QVERIFY2(docs.size() >= 10 && docs.size() <= 11, qPrintable(QString::number(docs.size())));
            QVERIFY(everyRowWhole(docs, cleanDocs));
            QCOMPARE(testsupport::countRows(setting.central(), "MOVIREC"), 0LL);
        }
        // The program started again finishes the job.
        WindowHarness again;
        QVERIFY(again.showActive());
        chooseAndAdd(again, setting.central(), entries);
        convert(again);
        QCOMPARE(again.dialogs->texts("information"), QStringList{"Integração realizada com sucesso!"});
        QVERIFY(reliability::dump(setting.central(), "DOCUREC") == cleanDocs);
        QVERIFY(reliability::dump(setting.central(), "MOVIREC") == cleanMovs);
    }

    void deletingEveryEntryDuringARunFinishesTheCurrentOneAndLosesNothing() {
        Setting setting;
        const Entry a{setting.branch("A", "01", 6), "01"};
        const Entry b{setting.branch("B", "02", 3), "02"};
        const Entry c{setting.branch("C", "03", 3), "03"};
        WindowHarness form;
        QVERIFY(form.showActive());
        chooseAndAdd(form, setting.central(), {a, b, c});
        RowWatch watch(form);
        watch.onRow = [&](const QString& row) {
            if (row != QLatin1String("Integrando Documento: A0002")) return;
            while (form.list().rowCount() > 0) {
                form.clickCell(0);
                form.grid()->setFocus();
                QTest::keyClick(form.grid(), Qt::Key_Delete);
            }
        };
        convert(form);
        QCOMPARE(form.list().rowCount(), 0);
        QCOMPARE(form.dialogs->texts("information"), QStringList{"Integração realizada com sucesso!"});
        // The entry in progress was finished, the removed ones not begun.
        const auto [cleanDocs, cleanMovs] = setting.clean({{a}});
        QVERIFY(reliability::dump(setting.central(), "DOCUREC") == cleanDocs);
        QVERIFY(reliability::dump(setting.central(), "MOVIREC") == cleanMovs);
        // Added again, the other two are converted as usual.
        chooseAndAdd(form, setting.central(), {b, c});
        convert(form);
        QCOMPARE(form.dialogs->texts("information").size(), 2);
        const auto [allDocs, allMovs] = setting.clean({{a}, {b, c}});
        QVERIFY(reliability::dump(setting.central(), "DOCUREC") == allDocs);
        QVERIFY(reliability::dump(setting.central(), "MOVIREC") == allMovs);
    }

    void panelsClicksEnterAndTabDuringARunStartNothing() {
        Setting setting;
        const std::vector<Entry> entries = {{setting.branch("P", "01", 20), "01"}};
        WindowHarness form;
        QVERIFY(form.showActive());
        chooseAndAdd(form, setting.central(), entries);
        const int openFileCalls = form.dialogs->openFileCalls;
        RowWatch watch(form);
        bool misused = false;
        bool panelsWereDisabled = true;
        watch.onRow = [&](const QString& row) {
            if (misused || row != QLatin1String("Integrando Documento: P0005")) return;
            misused = true;
            for (const char* panel : {"pnlAbrirOrigem", "pnlAbrirResulth", "pnlConverter", "pnlSair"}) {
                panelsWereDisabled = panelsWereDisabled && !form.panel(panel)->isEnabled();
                WindowHarness::click(form.panel(panel));
            }
            for (const char* picture : {"imgAbrirBdFilial", "imgAbrirBdCentral", "imgConverter", "imgSair"})
                WindowHarness::click(form.picture(picture));
            for (int i = 0; i < 8; ++i) {
                QWidget* focused = QApplication::focusWidget() ? QApplication::focusWidget() : form.window.get();
                QTest::keyClick(focused, Qt::Key_Tab);
                focused = QApplication::focusWidget() ? QApplication::focusWidget() : form.window.get();
                QTest::keyClick(focused, i % 2 ? Qt::Key_Return : Qt::Key_Enter);
            }
        };
        convert(form);
        QVERIFY(misused);
        QVERIFY(panelsWereDisabled);
        QVERIFY(form.window->isVisible());
        QCOMPARE(form.dialogs->openFileCalls, openFileCalls);
        QCOMPARE(int(form.dialogs->boxes.size()), 1);
        QCOMPARE(form.dialogs->texts("information"), QStringList{"Integração realizada com sucesso!"});
        // Every row once and in order: no second run began. The watch sees
        // a label between rows, so the last row of each job, blanked by the
        // job's end before the next pause, is not among them.
        QStringList expected;
        for (const char* job : {"Documento", "Movimento"})
            for (int i = 1; i < 20; ++i)
                expected << QStringLiteral("Integrando %1: %2").arg(QLatin1String(job), q(reliability::docKey("P", i)));
        QCOMPARE(watch.rows, expected);
        const auto [cleanDocs, cleanMovs] = setting.clean({entries});
        QVERIFY(reliability::dump(setting.central(), "DOCUREC") == cleanDocs);
        QVERIFY(reliability::dump(setting.central(), "MOVIREC") == cleanMovs);
        // After the run the keys work again: Enter on the central panel
        // opens the file dialog.
        form.panel("pnlAbrirResulth")->setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.panel("pnlAbrirResulth")));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(form.dialogs->openFileCalls, openFileCalls + 1);
    }

    // The real window in a child process, killed with SIGKILL while it
    // copies; the window started again over the same branch leaves the
    // central database as one clean run does.
    void windowKilledMidCopyThenRunAgainIsAsOneCleanRun_data() {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("rows");
        QTest::newRow("stopped between two documents") << true << 25;
        QTest::newRow("wherever the movements are") << false << 70;
    }
    void windowKilledMidCopyThenRunAgainIsAsOneCleanRun() {
        QFETCH(bool, paused);
        QFETCH(int, rows);
        Setting setting;
        const std::vector<Entry> entries = {{setting.branch("K", "01", 50), "01"}};
        {
            std::vector<std::string> arguments;
            if (paused) arguments.push_back("--pause-after=" + std::to_string(rows));
            for (const std::string& argument : reliability::driverArguments(setting.central(), entries))
                arguments.push_back(argument);
            reliability::ChildProcess window(arguments, TAVOLENE_WINDOW_DRIVER);
            if (paused) {
                QVERIFY(window.waitFor("PAUSED"));
            } else {
                int started = 0;
                while (started < rows && window.waitFor("ROW ")) ++started;
                QCOMPARE(started, rows);
            }
            window.kill(SIGKILL);
            const int status = window.wait();
            QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, "the window ended before the kill");
            QVERIFY(window.outcome().boxes.empty());
        }
        const long long written =
            testsupport::countRows(setting.central(), "DOCUREC") + testsupport::countRows(setting.central(), "MOVIREC");
        QVERIFY2(written > 0 && written < 100, qPrintable(QString::number(written)));
        const auto [cleanDocs, cleanMovs] = setting.clean({entries});
        QVERIFY(everyRowWhole(reliability::dump(setting.central(), "DOCUREC"), cleanDocs));
        QVERIFY(everyRowWhole(reliability::dump(setting.central(), "MOVIREC"), cleanMovs));

        WindowHarness again;
        QVERIFY(again.showActive());
        chooseAndAdd(again, setting.central(), entries);
        convert(again);
        QCOMPARE(again.dialogs->texts("information"), QStringList{"Integração realizada com sucesso!"});
        QVERIFY(reliability::dump(setting.central(), "DOCUREC") == cleanDocs);
        QVERIFY(reliability::dump(setting.central(), "MOVIREC") == cleanMovs);
    }
};

QTEST_MAIN(WindowMisuse)
#include "WindowMisuseTest.moc"
