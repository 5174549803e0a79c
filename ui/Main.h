#pragma once

#include <QWidget>
#include <memory>

#include "db/Connection.h"
#include "transfer/ConversionRun.h"
#include "transfer/ProgressView.h"
#include "ui/Dialogs.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace ui {

class BranchGrid;
class BranchListModel;
class Gauge;
class KeyPreview;
class PanelButton;
class PanelPicture;
class Picture;
class ProgressLabel;

// The colours of the layout.
inline const QColor kVermelho{182, 66, 69};      // header band, panels at rest, gauge bar
inline const QColor kVermelhoEscuro{128, 0, 0};  // a panel with the focus or the mouse
inline const QColor kCinzaClaro{221, 221, 221};  // path fields and company drop-down

// The program's one window. It owns the branch list, the two connections
// and every control, runs the commands of its four panel buttons and shows
// the conversion's progress.
class TForm1 : public QWidget, public transfer::ProgressView {
    Q_OBJECT
public:
    // `dialogs` answers every modal dialog; without one the real Qt dialogs
    // are shown.
    explicit TForm1(std::unique_ptr<Dialogs> dialogs = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    Dialogs& dialogs() { return *dialogs_; }
    BranchListModel& branchList() { return *cdsBancos; }
    // True between the panels being disabled and re-enabled by a run.
    bool isRunning() const { return running_; }

    void FormCreate();
    void FormKeyDown(int Key);
    void imgAbrirBdCentralClick();
    void imgAbrirBdFilialClick();
    void imgConverterClick();
    void imgSairClick();
    void DBGrid1CellClick();
    void DBGrid1KeyDown(int Key);
    void pnlAbrirOrigemEnter(PanelButton* Sender);
    void pnlAbrirOrigemExit(PanelButton* Sender);
    void imgAbrirBdFilialMouseEnter(PanelPicture* Sender);
    void imgAbrirBdFilialMouseLeave(PanelPicture* Sender);
    void HabilitaBotoes(bool bln);
    void limpaTela();

    // transfer::ProgressView
    void setProgressText(const std::string& text) override;
    void setGaugeMaximum(int maximum) override;
    void stepGauge() override;
    void resetGauge() override;
    void processEvents() override;
    void appendLog(const std::string& line) override;
    bool stopRequested() const override { return closeRequested_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createWindow();
    void createHeader();
    void createLabelsAndProgress();
    void createPanels();
    void createPathFields();
    void createGrid();
    void createLog();
    PanelButton* createPanel(const char* panelName, const QRect& panelGeometry, const char* pictureName,
                             const QRect& pictureGeometry, const QString& picture, const QString& tooltip);
    void bindPanel(PanelButton* panel, void (TForm1::*command)());
    void setTabOrderChain();

    // Runs a handler; a failure that leaves it goes to the failure handler
    // and never into Qt's event dispatch.
    template <typename Handler>
    void dispatch(Handler&& handler);
    void showFailure(const QString& message);
    void showRunEnd(const transfer::RunSummary& summary);
    void finishRun();
    // Detaches both connections, so other programs can open their files.
    void releaseFiles() noexcept;

    std::unique_ptr<Dialogs> dialogs_;
    db::Connection conexaoCentralizador;
    db::Connection conexaoFilial;
    BranchListModel* cdsBancos = nullptr;
    KeyPreview* keyPreview_ = nullptr;

    QWidget* Panel2 = nullptr;
    Picture* Image1 = nullptr;
    QLabel* Label2 = nullptr;
    Picture* Image3 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    ProgressLabel* lblProgresso = nullptr;
    Gauge* barra = nullptr;
    QLineEdit* edtCentralizador = nullptr;
    QLineEdit* edtFilial = nullptr;
    QComboBox* cbEmpresa = nullptr;
    PanelButton* pnlAbrirOrigem = nullptr;
    PanelButton* pnlAbrirResulth = nullptr;
    PanelButton* pnlConverter = nullptr;
    PanelButton* pnlSair = nullptr;
    BranchGrid* DBGrid1 = nullptr;
    QPlainTextEdit* mLog = nullptr;

    int gaugeMaximum_ = 100;
    bool running_ = false;
    bool closeRequested_ = false;  // the window was asked to close during a run
    bool centred_ = false;
};

}  // namespace ui
