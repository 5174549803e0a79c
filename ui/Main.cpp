#include "ui/Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <algorithm>
#include <exception>

#include "transfer/Connections.h"
#include "transfer/TableJob.h"
#include "ui/BranchGrid.h"
#include "ui/BranchListModel.h"
#include "ui/FailureText.h"
#include "ui/Gauge.h"
#include "ui/KeyPreview.h"
#include "ui/PanelButton.h"
#include "ui/ProgressLabel.h"

// The pictures are compiled into this static library; their registration
// must be asked for, or the linker drops it.
static void loadPictures() { Q_INIT_RESOURCE(pictures); }

namespace ui {

namespace {

const char* const kSemFilial = "É necessário informar a filial antes de escolher o banco de dados!";
const char* const kBancoRepetido = "Esse banco já está na lista!";
const char* const kListaVazia = "É necessário informar pelo menos um banco de dados da filial.";
constexpr int kDeleteKey = Qt::Key_Delete;

QFont windowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    return font;
}

QFont boldFont() {
    QFont font = windowFont();
    font.setBold(true);
    return font;
}

void setBackground(QWidget* widget, const QColor& colour) {
    QPalette colours = widget->palette();
    colours.setColor(QPalette::Base, colour);
    colours.setColor(QPalette::Button, colour);
    widget->setPalette(colours);
}

QLabel* createLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(boldFont());
    return label;
}

}  // namespace

TForm1::TForm1(std::unique_ptr<Dialogs> dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtDialogs>(this)),
      cdsBancos(new BranchListModel(this)) {
    cdsBancos->setObjectName(QStringLiteral("cdsBancos"));
    loadPictures();
    createWindow();
    createHeader();
    createLabelsAndProgress();
    createPanels();
    createPathFields();
    createGrid();
    createLog();
    setTabOrderChain();
    keyPreview_ = new KeyPreview(this);
    connect(keyPreview_, &KeyPreview::keyDown, this, [this](int key) { dispatch([&] { FormKeyDown(key); }); });
    // The first control in tab order holds the focus when the window shows.
    pnlAbrirOrigem->setFocus();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::createWindow() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tavolene"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/icone.png")));
    setFixedSize(602, 540);
    setFont(windowFont());
}

void TForm1::createHeader() {
    // Wider than the window and cut at its right edge.
    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 0, 841, 77);
    Panel2->setAutoFillBackground(true);
    QPalette colours = Panel2->palette();
    colours.setColor(QPalette::Window, kVermelho);
    Panel2->setPalette(colours);

    Image1 = new Picture(Panel2);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 199, 78);
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/logo.png")));

    Label2 = new QLabel(QStringLiteral("Tavolene"), Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(205, 27, 274, 33);
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont titleFont = windowFont();
    titleFont.setPixelSize(17);
    titleFont.setBold(true);
    Label2->setFont(titleFont);
    QPalette titleColours = Label2->palette();
    titleColours.setColor(QPalette::WindowText, Qt::white);
    Label2->setPalette(titleColours);

    Image3 = new Picture(Panel2);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setGeometry(485, -19, 132, 132);
    Image3->setPixmap(QPixmap(QStringLiteral(":/pictures/banco.png")));
}

void TForm1::createLabelsAndProgress() {
    Label5 = createLabel(this, "Label5", QStringLiteral("Banco de Dados Filial"), QRect(24, 131, 117, 13));
    Label6 = createLabel(this, "Label6", QStringLiteral("Banco de Dados Centralizador"), QRect(24, 88, 168, 13));

    barra = new Gauge(this);
    barra->setObjectName(QStringLiteral("barra"));
    barra->setGeometry(27, 492, 452, 19);
    barra->setRange(0, gaugeMaximum_);
    barra->setValue(50);
    QPalette gaugeColours = barra->palette();
    gaugeColours.setColor(QPalette::Highlight, kVermelho);
    gaugeColours.setColor(QPalette::Base, Qt::white);
    gaugeColours.setColor(QPalette::Window, Qt::white);
    barra->setPalette(gaugeColours);

    Label1 = createLabel(this, "Label1", QStringLiteral("Log de Erros"), QRect(27, 319, 69, 13));
    Label3 = createLabel(this, "Label3", QStringLiteral("Empresa"), QRect(423, 130, 49, 13));
    // Its width follows its text; it changes on every row of a run.
    lblProgresso = new ProgressLabel(this);
    lblProgresso->setObjectName(QStringLiteral("lblProgresso"));
    lblProgresso->setGeometry(27, 473, 66, 13);
    lblProgresso->setFont(boldFont());
    lblProgresso->setText(QStringLiteral("Progresso..."));
}

PanelButton* TForm1::createPanel(const char* panelName, const QRect& panelGeometry, const char* pictureName,
                                 const QRect& pictureGeometry, const QString& picture, const QString& tooltip) {
    auto* panel = new PanelButton(this);
    panel->setObjectName(QString::fromLatin1(panelName));
    panel->setGeometry(panelGeometry);
    panel->setColor(kVermelho);
    PanelPicture* image = panel->picture();
    image->setObjectName(QString::fromLatin1(pictureName));
    image->setGeometry(pictureGeometry);
    image->setPixmap(QPixmap(picture));
    image->setToolTip(tooltip);
    connect(panel, &PanelButton::focusEntered, this, [this, panel] { dispatch([&] { pnlAbrirOrigemEnter(panel); }); });
    connect(panel, &PanelButton::focusExited, this, [this, panel] { dispatch([&] { pnlAbrirOrigemExit(panel); }); });
    connect(image, &PanelPicture::mouseEntered, this,
            [this, image] { dispatch([&] { imgAbrirBdFilialMouseEnter(image); }); });
    connect(image, &PanelPicture::mouseLeft, this,
            [this, image] { dispatch([&] { imgAbrirBdFilialMouseLeave(image); }); });
    return panel;
}

void TForm1::bindPanel(PanelButton* panel, void (TForm1::*command)()) {
    connect(panel, &PanelButton::clicked, this, [this, command] { dispatch([&] { (this->*command)(); }); });
}

void TForm1::createPanels() {
    const QString abrir = QStringLiteral(":/pictures/abrir.png");
    pnlAbrirOrigem = createPanel("pnlAbrirOrigem", QRect(539, 136, 35, 35), "imgAbrirBdFilial", QRect(0, 0, 33, 33),
                                 abrir, QStringLiteral("Abrir"));
    bindPanel(pnlAbrirOrigem, &TForm1::imgAbrirBdFilialClick);
    pnlAbrirResulth = createPanel("pnlAbrirResulth", QRect(539, 95, 35, 35), "imgAbrirBdCentral", QRect(0, 0, 33, 33),
                                  abrir, QStringLiteral("Abrir"));
    bindPanel(pnlAbrirResulth, &TForm1::imgAbrirBdCentralClick);
    pnlConverter = createPanel("pnlConverter", QRect(485, 475, 43, 43), "imgConverter", QRect(1, 0, 41, 41),
                               QStringLiteral(":/pictures/converter.png"), QStringLiteral("Converter"));
    bindPanel(pnlConverter, &TForm1::imgConverterClick);
    pnlSair = createPanel("pnlSair", QRect(533, 475, 43, 43), "imgSair", QRect(1, 1, 41, 41),
                          QStringLiteral(":/pictures/sair.png"), QStringLiteral("Sair"));
    bindPanel(pnlSair, &TForm1::imgSairClick);
}

void TForm1::createPathFields() {
    edtCentralizador = new QLineEdit(this);
    edtCentralizador->setObjectName(QStringLiteral("edtCentralizador"));
    edtCentralizador->setGeometry(24, 104, 504, 21);
    edtCentralizador->setReadOnly(true);
    setBackground(edtCentralizador, kCinzaClaro);

    edtFilial = new QLineEdit(this);
    edtFilial->setObjectName(QStringLiteral("edtFilial"));
    edtFilial->setGeometry(24, 146, 393, 21);
    edtFilial->setReadOnly(true);
    setBackground(edtFilial, kCinzaClaro);

    cbEmpresa = new QComboBox(this);
    cbEmpresa->setObjectName(QStringLiteral("cbEmpresa"));
    cbEmpresa->setGeometry(423, 145, 104, 21);
    cbEmpresa->addItems(
        {QStringLiteral("00"), QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03"), QStringLiteral("04")});
    cbEmpresa->setCurrentIndex(-1);
    cbEmpresa->setEnabled(false);
    setBackground(cbEmpresa, kCinzaClaro);
}

void TForm1::createGrid() {
    DBGrid1 = new BranchGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(27, 176, 550, 139);
    DBGrid1->setBranchList(cdsBancos);
    connect(DBGrid1, &BranchGrid::cellClicked, this, [this] { dispatch([&] { DBGrid1CellClick(); }); });
    connect(DBGrid1, &BranchGrid::keyDown, this, [this](int key) { dispatch([&] { DBGrid1KeyDown(key); }); });
}

void TForm1::createLog() {
    mLog = new QPlainTextEdit(this);
    mLog->setObjectName(QStringLiteral("mLog"));
    mLog->setGeometry(27, 334, 550, 133);
    mLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mLog->setTabChangesFocus(true);
}

void TForm1::setTabOrderChain() {
    const QWidget* chain[] = {
        pnlAbrirOrigem, edtCentralizador, pnlAbrirResulth, pnlConverter, pnlSair, edtFilial, DBGrid1, mLog, cbEmpresa};
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i)
        setTabOrder(const_cast<QWidget*>(chain[i]), const_cast<QWidget*>(chain[i + 1]));
}

template <typename Handler>
void TForm1::dispatch(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        showFailure(QString::fromUtf8(failure.what()));
    } catch (...) {
        showFailure(QString());
    }
    // A close asked for during a run was put off until the run ended.
    if (closeRequested_ && !running_) {
        closeRequested_ = false;
        close();
    }
}

void TForm1::showFailure(const QString& message) {
    dialogs_->failure(applicationTitle(QCoreApplication::applicationFilePath()), failureText(message));
}

void TForm1::FormCreate() {
    barra->setValue(0);
    lblProgresso->setText(QString());
}

void TForm1::FormKeyDown(int Key) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    for (PanelButton* panel : {pnlAbrirOrigem, pnlAbrirResulth, pnlConverter, pnlSair})
        if (panel->hasFocus()) {
            panel->click();
            return;
        }
}

void TForm1::imgAbrirBdCentralClick() {
    edtCentralizador->setText(dialogs_->openFile());
    cbEmpresa->setEnabled(!edtCentralizador->text().isEmpty());
}

void TForm1::imgAbrirBdFilialClick() {
    if (cbEmpresa->currentIndex() == -1) {
        dialogs_->information(kSemFilial);
        return;
    }
    edtFilial->setText(dialogs_->openFile());
    const QString chosen = edtFilial->text();
    if (chosen.isEmpty()) return;
    // The matching entry is left current, so the grid highlights it.
    for (cdsBancos->first(); !cdsBancos->eof(); cdsBancos->next())
        if (cdsBancos->currentBanco() == chosen) {
            dialogs_->information(kBancoRepetido);
            return;
        }
    cdsBancos->append(chosen, cbEmpresa->currentText());
}

void TForm1::DBGrid1CellClick() {
    const QString banco = cdsBancos->currentBanco();
    if (banco.isEmpty()) return;
    // The codes "00" to "04" sit at the index their second character names.
    const QString empresa = cdsBancos->currentEmpresa();
    bool isNumber = false;
    const int index = empresa.mid(1, 2).toInt(&isNumber);
    if (isNumber) cbEmpresa->setCurrentIndex(index);
    edtFilial->setText(banco);
}

void TForm1::DBGrid1KeyDown(int Key) {
    if (Key != kDeleteKey) return;
    cdsBancos->removeCurrent();
    edtFilial->clear();
    cbEmpresa->setCurrentIndex(-1);
}

void TForm1::imgConverterClick() {
    mLog->clear();
    // The embedded engine locks a file for the process that has it open: the
    // window lets go of both before any box waits for the user (the end box
    // may wait all night), and an idle window holds none, however the run ends.
    struct ReleaseFiles {
        TForm1& window;
        ~ReleaseFiles() { window.releaseFiles(); }
    } releaseOnLeaving{*this};
    if (!transfer::ConectaBancoCentralizador(conexaoCentralizador, edtCentralizador->text().toStdString(), *dialogs_))
        return;
    if (cdsBancos->count() == 0) {
        releaseFiles();
        dialogs_->warning(kListaVazia);
        return;
    }
    HabilitaBotoes(false);
    running_ = true;
    transfer::RunSummary summary;
    try {
        summary = transfer::runConversion({conexaoCentralizador, conexaoFilial}, *cdsBancos, *this, *dialogs_);
    } catch (...) {
        releaseFiles();
        finishRun();
        throw;  // to the failure box
    }
    releaseFiles();
    showRunEnd(summary);
    finishRun();
}

void TForm1::releaseFiles() noexcept {
    conexaoFilial.drop();
    conexaoCentralizador.drop();
}

void TForm1::showRunEnd(const transfer::RunSummary& summary) {
    // A run cut short by closing the window ends without a box.
    if (summary.stopped || closeRequested_) return;
    if (summary.clean())
        dialogs_->information(transfer::kSucesso);
    else
        dialogs_->warning(transfer::runEndMessage(summary));
}

void TForm1::finishRun() {
    running_ = false;
    HabilitaBotoes(true);
    limpaTela();
}

void TForm1::imgSairClick() { close(); }

void TForm1::pnlAbrirOrigemEnter(PanelButton* Sender) { Sender->setColor(kVermelhoEscuro); }

void TForm1::pnlAbrirOrigemExit(PanelButton* Sender) { Sender->setColor(kVermelho); }

void TForm1::imgAbrirBdFilialMouseEnter(PanelPicture* Sender) {
    pnlAbrirOrigemEnter(static_cast<PanelButton*>(Sender->parentWidget()));
}

void TForm1::imgAbrirBdFilialMouseLeave(PanelPicture* Sender) {
    pnlAbrirOrigemExit(static_cast<PanelButton*>(Sender->parentWidget()));
}

void TForm1::HabilitaBotoes(bool bln) {
    const std::initializer_list<QWidget*> commands{pnlAbrirOrigem, pnlAbrirResulth, pnlConverter, pnlSair, cbEmpresa};
    // A disabled command gives up the focus to nobody: Qt would hand it to
    // the next control in tab order (the central path, its text selected).
    if (!bln && std::find(commands.begin(), commands.end(), focusWidget()) != commands.end())
        setFocus(Qt::OtherFocusReason);
    for (QWidget* control : commands) control->setEnabled(bln);
}

void TForm1::limpaTela() {
    edtCentralizador->clear();
    edtFilial->clear();
    cdsBancos->clear();
    lblProgresso->setText(QString());
    cbEmpresa->setCurrentIndex(-1);
    cbEmpresa->setEnabled(false);
    barra->setValue(0);
}

void TForm1::setProgressText(const std::string& text) {
    // Repaints at once when the text changes; rows of one document repeat it.
    lblProgresso->setText(QString::fromStdString(text));
}

void TForm1::setGaugeMaximum(int maximum) {
    // With nothing to count the gauge keeps a range of one and shows 0%.
    gaugeMaximum_ = std::max(maximum, 0);
    const int position = std::clamp(barra->value(), 0, gaugeMaximum_);
    barra->setRange(0, std::max(gaugeMaximum_, 1));
    barra->setValue(position);
}

void TForm1::stepGauge() {
    if (barra->value() < gaugeMaximum_) {
        barra->setValue(barra->value() + 1);  // repaints at once when the bar or its percentage changes
    }
}

void TForm1::resetGauge() { barra->setValue(0); }

void TForm1::processEvents() { QCoreApplication::processEvents(); }

void TForm1::appendLog(const std::string& line) { mLog->appendPlainText(QString::fromStdString(line)); }

void TForm1::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The run stops after the row it is writing; the window closes then.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
    activateWindow();
}

}  // namespace ui
