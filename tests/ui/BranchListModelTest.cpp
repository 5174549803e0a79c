// The branch list: its fields and indicator, and how a walk over it copes
// with entries removed or the current row moved in the middle of the walk,
// as the grid may do while a run processes events.

#include <QSignalSpy>
#include <QTest>

#include "ui/BranchListModel.h"

using ui::BranchListModel;

namespace {

void fill(BranchListModel& list, const QString& names) {
    for (const QChar name : names) list.append(QString(name), QStringLiteral("01"));
}

QString bancos(const BranchListModel& list) {
    QString names;
    for (int row = 0; row < list.rowCount(); ++row)
        names += list.index(row, BranchListModel::BancoColumn).data().toString();
    return names;
}

}  // namespace

class BranchListModelTest : public QObject {
    Q_OBJECT
private slots:
    void fieldsAndTitles() {
        BranchListModel list;
        list.append(QStringLiteral("/dados/filial1.fb"), QStringLiteral("03"));
        QCOMPARE(list.columnCount(), 2);
        QCOMPARE(list.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Banco"));
        QCOMPARE(list.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Empresa"));
        QCOMPARE(list.index(0, 0).data().toString(), QStringLiteral("/dados/filial1.fb"));
        QCOMPARE(list.index(0, 1).data().toString(), QStringLiteral("03"));
        QVERIFY(!(list.flags(list.index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(!(list.flags(list.index(0, 1)) & Qt::ItemIsEditable));
        QVERIFY(!list.setData(list.index(0, 0), QStringLiteral("x")));
    }

    void indicatorMarksTheCurrentRowOnly() {
        BranchListModel list;
        fill(list, QStringLiteral("ABC"));
        list.setCurrentRow(1);
        QSignalSpy repaint(&list, &QAbstractItemModel::headerDataChanged);
        list.setCurrentRow(2);
        QVERIFY(!repaint.isEmpty());
        for (int row = 0; row < 3; ++row)
            QCOMPARE(list.headerData(row, Qt::Vertical, BranchListModel::CurrentRowRole).toBool(), row == 2);
    }

    void pathsKeptWholeInUnicode_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("80 characters") << QStringLiteral("/") + QString(75, QLatin1Char('a')) + QStringLiteral(".fb");
        QTest::newRow("outside one code page") << QStringLiteral("/dados/Филиал/分店/ŁódźĀ.fb");
        QTest::newRow("trailing blanks") << QStringLiteral("/dados/filial.fb  ");
    }
    void pathsKeptWholeInUnicode() {
        QFETCH(QString, path);
        BranchListModel list;
        list.append(path, QStringLiteral("00"));
        QCOMPARE(list.currentBanco(), path);
        QCOMPARE(QString::fromStdString(list.banco()), path);
        QCOMPARE(list.banco(), path.toStdString());
    }

    void removalChoosesTheNeighbour_data() {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("current");
        QTest::newRow("first: follower") << "ABC" << 0 << "BC"
                                         << "B";
        QTest::newRow("middle: follower") << "ABC" << 1 << "AC"
                                          << "C";
        QTest::newRow("last: the one before") << "ABC" << 2 << "AB"
                                              << "B";
        QTest::newRow("only entry") << "A" << 0 << ""
                                    << "";
    }
    void removalChoosesTheNeighbour() {
        QFETCH(QString, entries);
        QFETCH(int, removed);
        QFETCH(QString, left);
        QFETCH(QString, current);
        BranchListModel list;
        fill(list, entries);
        list.setCurrentRow(removed);
        list.removeCurrent();
        QCOMPARE(bancos(list), left);
        QCOMPARE(list.currentBanco(), current);
        QCOMPARE(list.currentRow(), current.isEmpty() ? -1 : left.indexOf(current));
    }

    void removalOnAnEmptyListDoesNothing() {
        BranchListModel list;
        list.removeCurrent();
        QCOMPARE(list.rowCount(), 0);
        list.first();
        QVERIFY(list.eof());
        QCOMPARE(list.banco(), std::string());
    }

    // A walk as the run does it; after reaching the entry named `at`, the
    // grid acts: "del X" clicks entry X and presses Delete, "click X" only
    // clicks it, "del" deletes whatever is current.
    void walkDuringGridChanges_data() {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("reached");
        QTest::newRow("untouched") << "ABCD"
                                   << "" << QStringList() << "ABCD";
        QTest::newRow("delete the entry being processed") << "ABCD"
                                                          << "B" << QStringList{"del"} << "ABCD";
        QTest::newRow("delete the last while on it") << "ABC"
                                                     << "C" << QStringList{"del"} << "ABC";
        QTest::newRow("delete an entry still to come") << "ABCD"
                                                       << "B" << QStringList{"del C"} << "ABD";
        QTest::newRow("delete the last, still to come") << "ABCD"
                                                        << "A" << QStringList{"del D"} << "ABC";
        QTest::newRow("delete an entry already done") << "ABCD"
                                                      << "C" << QStringList{"del A"} << "ABCD";
        QTest::newRow("delete two still to come") << "ABCDE"
                                                  << "A" << QStringList{"del B", "del D"} << "ACE";
        QTest::newRow("delete everything") << "ABC"
                                           << "A" << QStringList{"del A", "del B", "del C"} << "A";
        QTest::newRow("click back to a done entry") << "ABCD"
                                                    << "C" << QStringList{"click A"} << "ABCD";
        QTest::newRow("click ahead") << "ABCD"
                                     << "A" << QStringList{"click D"} << "ABCD";
        QTest::newRow("click ahead then delete the follower") << "ABCD"
                                                              << "B" << QStringList{"click C", "del"} << "ABD";
    }
    void walkDuringGridChanges() {
        QFETCH(QString, entries);
        QFETCH(QString, at);
        QFETCH(QStringList, actions);
        QFETCH(QString, reached);
        BranchListModel list;
        fill(list, entries);
        QString walked;
        for (list.first(); !list.eof(); list.next()) {
            const QString current = list.currentBanco();
            walked += current;
            if (current != at) continue;
            for (const QString& action : actions) {
                const QStringList words = action.split(QLatin1Char(' '));
                if (words.size() == 2) list.setCurrentRow(bancos(list).indexOf(words[1]));
                if (words[0] == QLatin1String("del")) list.removeCurrent();
            }
        }
        QCOMPARE(walked, reached);
    }

    void secondWalkStartsAfresh() {
        BranchListModel list;
        fill(list, QStringLiteral("ABC"));
        for (list.first(); !list.eof(); list.next()) {
        }
        QString walked;
        for (list.first(); !list.eof(); list.next()) walked += list.currentBanco();
        QCOMPARE(walked, QStringLiteral("ABC"));
    }

    void clearLeavesAnEmptyUsableList() {
        BranchListModel list;
        fill(list, QStringLiteral("AB"));
        list.clear();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.currentRow(), -1);
        list.append(QStringLiteral("C"), QStringLiteral("04"));
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.currentBanco(), QStringLiteral("C"));
    }
};

QTEST_APPLESS_MAIN(BranchListModelTest)
#include "BranchListModelTest.moc"
