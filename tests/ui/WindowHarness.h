#pragma once

// A real window answered by FakeDialogs, with its controls found by name.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

#include "FakeDialogs.h"
#include "ui/BranchGrid.h"
#include "ui/BranchListModel.h"
#include "ui/Gauge.h"
#include "ui/Main.h"
#include "ui/PanelButton.h"

namespace uitest {

class WindowHarness {
public:
    WindowHarness() {
        auto fake = std::make_unique<FakeDialogs>();
        dialogs = fake.get();
        window = std::make_unique<ui::TForm1>(std::move(fake));
    }

    // Shows the window and waits until it holds the keyboard focus.
    bool showActive() {
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window.get());
    }

    template <typename T = QWidget>
    T* find(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    ui::PanelButton* panel(const char* name) const { return find<ui::PanelButton>(name); }
    ui::PanelPicture* picture(const char* name) const { return find<ui::PanelPicture>(name); }
    QLineEdit* edtCentralizador() const { return find<QLineEdit>("edtCentralizador"); }
    QLineEdit* edtFilial() const { return find<QLineEdit>("edtFilial"); }
    QComboBox* cbEmpresa() const { return find<QComboBox>("cbEmpresa"); }
    ui::BranchGrid* grid() const { return find<ui::BranchGrid>("DBGrid1"); }
    QPlainTextEdit* mLog() const { return find<QPlainTextEdit>("mLog"); }
    QLabel* lblProgresso() const { return find<QLabel>("lblProgresso"); }
    ui::Gauge* barra() const { return find<ui::Gauge>("barra"); }
    ui::BranchListModel& list() const { return window->branchList(); }

    // A left click in the middle of a control, as the mouse gives it.
    static void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

    void clickCell(int row, int column = 0) const {
        const QRect cell = grid()->visualRect(list().index(row, column));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cell.center());
    }

    // Chooses the central database through its panel.
    void chooseCentral(const QString& path) {
        dialogs->answers << path;
        click(picture("imgAbrirBdCentral"));
    }

    // Selects a company code and adds a branch database through its panel.
    void addBranch(const QString& path, int code) {
        cbEmpresa()->setCurrentIndex(code);
        dialogs->answers << path;
        click(picture("imgAbrirBdFilial"));
    }

    QStringList bancos() const {
        QStringList paths;
        for (int row = 0; row < list().rowCount(); ++row)
            paths << list().index(row, ui::BranchListModel::BancoColumn).data().toString();
        return paths;
    }

    FakeDialogs* dialogs;
    std::unique_ptr<ui::TForm1> window;
};

}  // namespace uitest
