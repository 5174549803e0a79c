// The window as a person meets it: layout, focus and keys, the panel
// buttons' colours and commands, and the editing of the branch list.
// Nothing here opens a database.

#include <QEnterEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "WindowHarness.h"
#include "ui/Fonts.h"
#include "ui/KeyLayout.h"

using uitest::WindowHarness;

namespace {

const QColor kRest(182, 66, 69);
const QColor kHighlight(128, 0, 0);
const QString kSemFilial = QStringLiteral("É necessário informar a filial antes de escolher o banco de dados!");
const QString kRepetido = QStringLiteral("Esse banco já está na lista!");

const char* const kPanels[] = {"pnlAbrirOrigem", "pnlAbrirResulth", "pnlConverter", "pnlSair"};

void pressKey(int key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
}

QString focusName() {
    const QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

void sendMouseEnter(QWidget* widget) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(widget, &enter);
}

void sendMouseLeave(QWidget* widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ui::registerTahomaFallback(); }

    void controlsAtTheirPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Label5") << "Label5" << QRect(24, 131, 117, 13);
        QTest::newRow("Label6") << "Label6" << QRect(24, 88, 168, 13);
        QTest::newRow("barra") << "barra" << QRect(27, 492, 452, 19);
        QTest::newRow("Label1") << "Label1" << QRect(27, 319, 69, 13);
        QTest::newRow("Label3") << "Label3" << QRect(423, 130, 49, 13);
        QTest::newRow("pnlAbrirOrigem") << "pnlAbrirOrigem" << QRect(539, 136, 35, 35);
        QTest::newRow("imgAbrirBdFilial") << "imgAbrirBdFilial" << QRect(0, 0, 33, 33);
        QTest::newRow("Panel2") << "Panel2" << QRect(0, 0, 841, 77);
        QTest::newRow("Image1") << "Image1" << QRect(0, 0, 199, 78);
        QTest::newRow("Label2") << "Label2" << QRect(205, 27, 274, 33);
        QTest::newRow("Image3") << "Image3" << QRect(485, -19, 132, 132);
        QTest::newRow("edtCentralizador") << "edtCentralizador" << QRect(24, 104, 504, 21);
        QTest::newRow("pnlAbrirResulth") << "pnlAbrirResulth" << QRect(539, 95, 35, 35);
        QTest::newRow("imgAbrirBdCentral") << "imgAbrirBdCentral" << QRect(0, 0, 33, 33);
        QTest::newRow("pnlConverter") << "pnlConverter" << QRect(485, 475, 43, 43);
        QTest::newRow("imgConverter") << "imgConverter" << QRect(1, 0, 41, 41);
        QTest::newRow("pnlSair") << "pnlSair" << QRect(533, 475, 43, 43);
        QTest::newRow("imgSair") << "imgSair" << QRect(1, 1, 41, 41);
        QTest::newRow("edtFilial") << "edtFilial" << QRect(24, 146, 393, 21);
        QTest::newRow("DBGrid1") << "DBGrid1" << QRect(27, 176, 550, 139);
        QTest::newRow("mLog") << "mLog" << QRect(27, 334, 550, 133);
        QTest::newRow("cbEmpresa") << "cbEmpresa" << QRect(423, 145, 104, 21);
    }
    void controlsAtTheirPlaces() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        WindowHarness form;
        const QWidget* control = form.find(qPrintable(name));
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->geometry(), geometry);
    }

    void windowFrameAndStart() {
        WindowHarness form;
        QCOMPARE(form.window->windowTitle(), QStringLiteral("Tavolene"));
        QCOMPARE(form.window->minimumSize(), QSize(602, 540));
        QCOMPARE(form.window->maximumSize(), QSize(602, 540));
        const Qt::WindowFlags flags = form.window->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
        QVERIFY(!form.window->windowIcon().isNull());
        QCOMPARE(form.window->font().pixelSize(), 11);

        // The gauge shows 0% and the label is blank although the layout holds others.
        QCOMPARE(form.barra()->text(), QStringLiteral("0%"));
        QCOMPARE(form.barra()->minimum(), 0);
        QCOMPARE(form.barra()->maximum(), 100);
        QCOMPARE(form.lblProgresso()->text(), QString());
        QCOMPARE(form.edtCentralizador()->text(), QString());
        QCOMPARE(form.edtFilial()->text(), QString());
        QVERIFY(form.edtCentralizador()->isReadOnly());
        QVERIFY(form.edtFilial()->isReadOnly());
        QVERIFY(!form.mLog()->isReadOnly());
        QCOMPARE(form.mLog()->toPlainText(), QString());
        QVERIFY(!form.cbEmpresa()->isEnabled());
        QCOMPARE(form.cbEmpresa()->currentIndex(), -1);
        QCOMPARE(form.cbEmpresa()->count(), 5);
        for (int code = 0; code < 5; ++code)
            QCOMPARE(form.cbEmpresa()->itemText(code), QStringLiteral("0%1").arg(code));
        QVERIFY(!form.cbEmpresa()->isEditable());
        QCOMPARE(form.list().rowCount(), 0);
        for (const char* name : kPanels) QVERIFY(form.panel(name)->isEnabled());
    }

    void textsColoursAndFonts() {
        WindowHarness form;
        QCOMPARE(form.find<QLabel>("Label5")->text(), QStringLiteral("Banco de Dados Filial"));
        QCOMPARE(form.find<QLabel>("Label6")->text(), QStringLiteral("Banco de Dados Centralizador"));
        QCOMPARE(form.find<QLabel>("Label1")->text(), QStringLiteral("Log de Erros"));
        QCOMPARE(form.find<QLabel>("Label3")->text(), QStringLiteral("Empresa"));
        for (const char* name : {"Label5", "Label6", "Label1", "Label3", "lblProgresso"})
            QVERIFY2(form.find<QLabel>(name)->font().bold(), name);

        const QLabel* title = form.find<QLabel>("Label2");
        QCOMPARE(title->text(), QStringLiteral("Tavolene"));
        QCOMPARE(title->font().pixelSize(), 17);
        QVERIFY(title->font().bold());
        QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(title->alignment(), Qt::AlignHCenter | Qt::AlignTop);

        QCOMPARE(form.find("Panel2")->palette().color(QPalette::Window), kRest);
        QVERIFY(form.find("Panel2")->focusPolicy() == Qt::NoFocus);
        for (const char* name : {"edtCentralizador", "edtFilial"})
            QCOMPARE(form.find(name)->palette().color(QPalette::Base), QColor(221, 221, 221));
        QCOMPARE(form.cbEmpresa()->palette().color(QPalette::Button), QColor(221, 221, 221));
        QCOMPARE(form.barra()->palette().color(QPalette::Highlight), kRest);

        QCOMPARE(form.picture("imgAbrirBdFilial")->toolTip(), QStringLiteral("Abrir"));
        QCOMPARE(form.picture("imgAbrirBdCentral")->toolTip(), QStringLiteral("Abrir"));
        QCOMPARE(form.picture("imgConverter")->toolTip(), QStringLiteral("Converter"));
        QCOMPARE(form.picture("imgSair")->toolTip(), QStringLiteral("Sair"));
        QCOMPARE(form.grid()->toolTip(), QString());
        for (const char* name : {"imgAbrirBdFilial", "imgAbrirBdCentral", "imgConverter", "imgSair"})
            QCOMPARE(form.picture(name)->pixmap().size(), QSize(256, 256));
        QCOMPARE(form.find<ui::Picture>("Image1")->pixmap().size(), QSize(210, 83));
        QCOMPARE(form.find<ui::Picture>("Image3")->pixmap().size(), QSize(256, 256));

        QCOMPARE(form.list().headerData(0, Qt::Horizontal).toString(), QStringLiteral("Banco"));
        QCOMPARE(form.list().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Empresa"));
        QVERIFY(!form.grid()->horizontalHeader()->isHidden());
        QVERIFY(!form.grid()->verticalHeader()->isHidden());
        // Both columns in sight.
        const int columns = form.grid()->columnWidth(0) + form.grid()->columnWidth(1);
        QVERIFY(columns <= form.grid()->width() - form.grid()->verticalHeader()->width());
        QCOMPARE(form.grid()->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(form.grid()->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    void startsWithTheFocusOnTheAddPanel() {
        WindowHarness form;
        QVERIFY(form.showActive());
        QCOMPARE(focusName(), QStringLiteral("pnlAbrirOrigem"));
        QCOMPARE(form.panel("pnlAbrirOrigem")->color(), kHighlight);
        for (const char* name : {"pnlAbrirResulth", "pnlConverter", "pnlSair"})
            QCOMPARE(form.panel(name)->color(), kRest);
    }

    void tabOrder_data() {
        QTest::addColumn<bool>("companyEnabled");
        QTest::addColumn<QStringList>("forward");
        // From the log round to the grid, which keeps Tab while empty too.
        const QStringList base{"pnlAbrirOrigem", "edtCentralizador", "pnlAbrirResulth", "pnlConverter",
                               "pnlSair",        "edtFilial",        "DBGrid1",         "DBGrid1"};
        QTest::newRow("drop-down disabled") << false << base;
        QTest::newRow("drop-down enabled") << true << (QStringList{"cbEmpresa"} + base);
    }
    void tabOrder() {
        QFETCH(bool, companyEnabled);
        QFETCH(QStringList, forward);
        WindowHarness form;
        form.cbEmpresa()->setEnabled(companyEnabled);
        QVERIFY(form.showActive());
        form.mLog()->setFocus();
        QStringList visited;
        for (int i = 0; i < forward.size(); ++i) {
            pressKey(Qt::Key_Tab);
            visited << focusName();
        }
        QCOMPARE(visited, forward);

        form.edtFilial()->setFocus();
        QStringList backward;
        for (int i = 0; i < forward.size(); ++i) {
            pressKey(Qt::Key_Tab, Qt::ShiftModifier);
            backward << focusName();
        }
        QStringList expected = forward.mid(0, forward.size() - 3);
        std::reverse(expected.begin(), expected.end());
        expected << QStringLiteral("mLog") << QStringLiteral("DBGrid1") << QStringLiteral("DBGrid1");
        QCOMPARE(backward, expected);
    }

    void focusColourFollowsTheFocus() {
        WindowHarness form;
        QVERIFY(form.showActive());
        pressKey(Qt::Key_Tab);  // edtCentralizador
        QCOMPARE(form.panel("pnlAbrirOrigem")->color(), kRest);
        pressKey(Qt::Key_Tab);  // pnlAbrirResulth
        QCOMPARE(form.panel("pnlAbrirResulth")->color(), kHighlight);
        pressKey(Qt::Key_Tab);  // pnlConverter
        QCOMPARE(form.panel("pnlAbrirResulth")->color(), kRest);
        QCOMPARE(form.panel("pnlConverter")->color(), kHighlight);
    }

    // While a real box is open over the window the focused panel keeps its
    // colour; it is at rest afterwards only if the focus moved meanwhile.
    void focusColourOutlastsTheWindowsBoxes() {
        WindowHarness form;
        QVERIFY(form.showActive());
        QList<QColor> colours;  // while each box is open, after it
        form.dialogs->onBox = [&](const uitest::Box&) {
            QMessageBox box(form.window.get());
            QTimer::singleShot(0, &box, [&] {
                if (QTest::qWaitFor([&] { return QApplication::activeWindow() == &box; }))
                    colours << form.panel("pnlAbrirOrigem")->color();
                if (colours.size() > 1) form.mLog()->setFocus();
                box.accept();
            });
            box.exec();
            QVERIFY(form.showActive());  // as the desktop does when the box closes
            colours << form.panel("pnlAbrirOrigem")->color();
        };
        pressKey(Qt::Key_Return);  // no company code: an information box
        pressKey(Qt::Key_Return);
        QCOMPARE(colours, (QList<QColor>{kHighlight, kHighlight, kHighlight, kRest}));
    }

    // A click on the focused panel's picture opens a real box; the pointer
    // stays on the picture, or moves to the log while the box is up.
    void hoverColourOutlastsABoxOpenedByAClick() {
        for (const bool pointerLeaves : {false, true}) {
            WindowHarness form;
            QVERIFY(form.showActive());
            QTest::mouseMove(form.picture("imgAbrirBdFilial"));
            QList<QColor> colours;  // while the box is up, after it
            form.dialogs->onBox = [&](const uitest::Box&) {
                QMessageBox box(form.window.get());
                QTimer::singleShot(0, &box, [&] {
                    colours << form.panel("pnlAbrirOrigem")->color();
                    if (pointerLeaves) QCursor::setPos(form.mLog()->mapToGlobal(QPoint(5, 5)));
                    box.accept();
                });
                box.exec();
                QVERIFY(form.showActive());  // as the desktop does when the box closes
            };
            WindowHarness::click(form.picture("imgAbrirBdFilial"));  // no company code: a box
            colours << form.panel("pnlAbrirOrigem")->color();
            QCOMPARE(colours, (QList<QColor>{kHighlight, pointerLeaves ? kRest : kHighlight}));
        }
    }

    void gridKeepsTabWhenItHasEntries() {
        WindowHarness form;
        form.list().append(QStringLiteral("/a.fb"), QStringLiteral("00"));
        form.list().append(QStringLiteral("/b.fb"), QStringLiteral("00"));
        QVERIFY(form.showActive());
        form.grid()->setFocus();
        pressKey(Qt::Key_Tab);
        QCOMPARE(focusName(), QStringLiteral("DBGrid1"));
    }

    // A title or indicator section lights up while the mouse is over it.
    void gridHeadersLightUpUnderTheMouse() {
        WindowHarness form;
        form.list().append(QStringLiteral("/a.fb"), QStringLiteral("01"));
        QVERIFY(form.showActive());
        for (QHeaderView* header : {form.grid()->horizontalHeader(), form.grid()->verticalHeader()}) {
            const auto corner = [header] { return header->viewport()->grab().toImage().pixel(2, 2); };
            const QRgb resting = corner();
            QTest::mouseMove(header->viewport(), QPoint(2, 2));
            QTRY_VERIFY(corner() != resting);
            QTest::mouseMove(form.grid()->viewport(), QPoint(5, 5));
            QTRY_COMPARE(corner(), resting);
        }
    }

    void enterRunsTheFocusedPanelsCommand_data() {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        for (const int modifiers : {int(Qt::NoModifier), int(Qt::ShiftModifier), int(Qt::ControlModifier)})
            for (const char* name : kPanels)
                QTest::addRow("%s modifiers %x", name, modifiers) << name << int(Qt::Key_Return) << modifiers;
        QTest::newRow("keypad Enter on converter") << "pnlConverter" << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    }
    void enterRunsTheFocusedPanelsCommand() {
        QFETCH(QString, panel);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        WindowHarness form;
        QVERIFY(form.showActive());
        form.panel(qPrintable(panel))->setFocus();
        QCOMPARE(focusName(), panel);
        pressKey(key, Qt::KeyboardModifiers(modifiers));

        if (panel == QLatin1String("pnlAbrirOrigem")) {
            QCOMPARE(form.dialogs->texts("information"), QStringList{kSemFilial});
        } else if (panel == QLatin1String("pnlAbrirResulth")) {
            QCOMPARE(form.dialogs->openFileCalls, 1);
        } else if (panel == QLatin1String("pnlConverter")) {
            QCOMPARE(form.dialogs->texts("error"),
                     QStringList{QStringLiteral("Não foi possível conectar ao banco de dados Centralizador\r"
                                                "Motivo: Caminho do banco centralizador não informado!")});
        } else {
            QVERIFY(!form.window->isVisible());
            return;
        }
        QCOMPARE(int(form.dialogs->boxes.size()) + form.dialogs->openFileCalls, 1);
        QVERIFY(form.window->isVisible());
    }

    void enterElsewhereRunsNothing_data() {
        QTest::addColumn<QString>("control");
        for (const char* name : {"edtCentralizador", "edtFilial", "DBGrid1", "mLog", "cbEmpresa"})
            QTest::newRow(name) << name;
    }
    void enterElsewhereRunsNothing() {
        QFETCH(QString, control);
        WindowHarness form;
        form.cbEmpresa()->setEnabled(true);
        form.list().append(QStringLiteral("/a.fb"), QStringLiteral("01"));
        QVERIFY(form.showActive());
        form.find(qPrintable(control))->setFocus();
        QCOMPARE(focusName(), control);
        pressKey(Qt::Key_Return);
        QCOMPARE(int(form.dialogs->boxes.size()), 0);
        QCOMPARE(form.dialogs->openFileCalls, 0);
        QVERIFY(form.window->isVisible());
        QCOMPARE(form.list().rowCount(), 1);
    }

    void hoverColours_data() {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("panel");
        QTest::newRow("add") << "imgAbrirBdFilial"
                             << "pnlAbrirOrigem";
        QTest::newRow("central") << "imgAbrirBdCentral"
                                 << "pnlAbrirResulth";
        QTest::newRow("convert") << "imgConverter"
                                 << "pnlConverter";
        QTest::newRow("exit") << "imgSair"
                              << "pnlSair";
    }
    void hoverColours() {
        QFETCH(QString, picture);
        QFETCH(QString, panel);
        WindowHarness form;
        QVERIFY(form.showActive());
        form.mLog()->setFocus();
        sendMouseEnter(form.picture(qPrintable(picture)));
        QCOMPARE(form.panel(qPrintable(panel))->color(), kHighlight);
        QCOMPARE(focusName(), QStringLiteral("mLog"));
        sendMouseLeave(form.picture(qPrintable(picture)));
        QCOMPARE(form.panel(qPrintable(panel))->color(), kRest);

        // Leaving the picture resets the colour even of the panel holding the focus.
        form.panel(qPrintable(panel))->setFocus();
        QCOMPARE(form.panel(qPrintable(panel))->color(), kHighlight);
        sendMouseEnter(form.picture(qPrintable(picture)));
        sendMouseLeave(form.picture(qPrintable(picture)));
        QCOMPARE(form.panel(qPrintable(panel))->color(), kRest);
        QCOMPARE(focusName(), panel);
    }

    void panelMarginTakesClicksButNoHover() {
        WindowHarness form;
        QVERIFY(form.showActive());
        ui::PanelButton* central = form.panel("pnlAbrirResulth");
        sendMouseEnter(central);
        QCOMPARE(central->color(), kRest);
        QTest::mouseClick(central, Qt::LeftButton, {}, QPoint(34, 34));  // outside the 33 x 33 picture
        QCOMPARE(form.dialogs->openFileCalls, 1);
        QTest::mouseClick(central, Qt::RightButton, {}, QPoint(34, 34));
        QCOMPARE(form.dialogs->openFileCalls, 1);
    }

    void exitClosesAtOnce() {
        WindowHarness form;
        QVERIFY(form.showActive());
        form.list().append(QStringLiteral("/a.fb"), QStringLiteral("01"));
        WindowHarness::click(form.picture("imgSair"));
        QVERIFY(!form.window->isVisible());
        QCOMPARE(int(form.dialogs->boxes.size()), 0);
    }

    void disabledPanelsTakeNoClickAndNoFocus() {
        WindowHarness form;
        QVERIFY(form.showActive());
        QVERIFY(form.panel("pnlAbrirOrigem")->hasFocus());
        form.window->HabilitaBotoes(false);
        for (const char* name : kPanels) {
            QVERIFY(!form.panel(name)->isEnabled());
            QVERIFY(!form.panel(name)->hasFocus());
        }
        // The focus leaves the panel for no other control.
        QCOMPARE(QApplication::focusWidget(), form.window.get());
        QVERIFY(!form.edtCentralizador()->hasFocus());
        QVERIFY(!form.cbEmpresa()->isEnabled());
        WindowHarness::click(form.picture("imgAbrirBdCentral"));
        WindowHarness::click(form.panel("pnlSair"));
        QCOMPARE(form.dialogs->openFileCalls, 0);
        QVERIFY(form.window->isVisible());
        // The grid stays usable: a click loads an entry, Delete removes one.
        form.list().append(QStringLiteral("/a.fb"), QStringLiteral("02"));
        form.list().append(QStringLiteral("/b.fb"), QStringLiteral("04"));
        form.clickCell(0);
        QCOMPARE(form.edtFilial()->text(), QStringLiteral("/a.fb"));
        QCOMPARE(form.cbEmpresa()->currentIndex(), 2);
        form.grid()->setFocus();
        pressKey(Qt::Key_Delete);
        QCOMPARE(form.bancos(), QStringList{"/b.fb"});

        form.window->HabilitaBotoes(true);
        for (const char* name : kPanels) QVERIFY(form.panel(name)->isEnabled());
        QVERIFY(form.cbEmpresa()->isEnabled());
    }

    void limpaTelaResetsAllButTheLog() {
        WindowHarness form;
        form.chooseCentral(QStringLiteral("/c.fb"));
        form.addBranch(QStringLiteral("/a.fb"), 3);
        form.mLog()->setPlainText(QStringLiteral("linha"));
        form.window->setProgressText("Integrando Documento: 1");
        form.window->setGaugeMaximum(4);
        form.window->stepGauge();
        QCOMPARE(form.barra()->text(), QStringLiteral("25%"));
        form.window->limpaTela();
        QCOMPARE(form.edtCentralizador()->text(), QString());
        QCOMPARE(form.edtFilial()->text(), QString());
        QCOMPARE(form.list().rowCount(), 0);
        QCOMPARE(form.lblProgresso()->text(), QString());
        QCOMPARE(form.cbEmpresa()->currentIndex(), -1);
        QVERIFY(!form.cbEmpresa()->isEnabled());
        QCOMPARE(form.barra()->text(), QStringLiteral("0%"));
        QCOMPARE(form.mLog()->toPlainText(), QStringLiteral("linha"));
    }

    // The progress label is as wide as its text, and the screen shows a new
    // text at once (no event processed) with nothing left of a longer one:
    // whatever part of the label a change repaints, the screen holds what a
    // whole new painting of the label draws.
    void progressLabelFollowsItsText() {
        WindowHarness form;
        QVERIFY(form.showActive());
        const auto shown = [&] {
            return form.window->screen()
                ->grabWindow(form.window->winId(), 27, 473, 200, 13)
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        const QImage blank = shown();
        QLabel autoSized;
        autoSized.setFont(form.lblProgresso()->font());
        for (const char* text :
             {"Integrando Documento: 7", "Integrando Documento: 8", "Integrando Documento: 1WW",
              "Integrando Documento: jj", "Integrando Documento: 1WWW", "Integrando Movimento: 123456",
              "Integrando Movimento: 654321", "Processando...", ""}) {
            form.window->setProgressText(text);
            autoSized.setText(QString::fromUtf8(text));
            const int width = *text ? autoSized.sizeHint().width() : 0;
            QCOMPARE(form.lblProgresso()->geometry(), QRect(27, 473, width, 13));
            const QImage now = shown();
            QCOMPARE(now.copy(width, 0, 200 - width, 13), blank.copy(width, 0, 200 - width, 13));
            QCOMPARE(now == blank, !*text);
            if (*text)
                QVERIFY2(now.copy(0, 0, width, 13) ==
                             form.lblProgresso()->grab().toImage().convertToFormat(QImage::Format_RGB32),
                         text);
        }
    }

    // A key put together from its characters' glyphs is the one the text
    // engine lays out, glyph for glyph and pixel for pixel, in the label's
    // font and in fonts that kern and join letters; a key the engine would
    // shape differently is left to it.
    void keysLaidOutAsTheTextEngineLaysThemOut() {
        WindowHarness form;
        QFont serif(QStringLiteral("DejaVu Serif"));
        serif.setPixelSize(15);
        serif.setItalic(true);
        QFont sans(QStringLiteral("DejaVu Sans"));
        sans.setPixelSize(12);
        const auto drawn = [](const ui::LaidOutLine& line) {
            QImage image(qCeil(line.size.width()) + 8, qCeil(line.size.height()) + 4, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            for (const QGlyphRun& run : line.runs) painter.drawGlyphRun(QPointF(4, 2), run);
            return image;
        };
        for (const QFont& font : {form.lblProgresso()->font(), serif, sans}) {
            ui::KeyLayout keys(font);
            QVERIFY2(keys.composes(QStringLiteral("4711")), qPrintable(font.family()));
            for (const char* key : {"4711", "0123456789", "00042-7", "1WW", "AVATAR", "To", "jj", "ffi", "fl", "Wa.",
                                    "x/y_Z9", "T\xc3\xa9", "\xc3\x85ngstr\xc3\xb6m", "7"}) {
                const QString text = QString::fromUtf8(key);
                const ui::LaidOutLine engine = ui::layOutLine(text, font);
                for (int pass = 0; pass < 2; ++pass) {  // the second from what the first learnt
                    const ui::LaidOutLine line = keys.layOut(text);
                    const QByteArray where = (font.family() + QStringLiteral(": ") + text).toUtf8();
                    QCOMPARE(line.size, engine.size);
                    QCOMPARE(line.glyphs.size(), engine.glyphs.size());
                    for (std::size_t i = 0; i < line.glyphs.size(); ++i) {
                        QVERIFY2(line.glyphs[i].index == engine.glyphs[i].index, where.constData());
                        QVERIFY2(line.glyphs[i].position == engine.glyphs[i].position, where.constData());
                        QVERIFY2(line.glyphs[i].inkLeft == engine.glyphs[i].inkLeft, where.constData());
                    }
                    QVERIFY2(drawn(line) == drawn(engine), where.constData());
                }
            }
        }
    }

    void gaugeNeverPassesItsMaximum() {
        WindowHarness form;
        form.window->setGaugeMaximum(2);
        for (int i = 0; i < 5; ++i) form.window->stepGauge();
        QCOMPARE(form.barra()->value(), 2);
        QCOMPARE(form.barra()->text(), QStringLiteral("100%"));
        form.window->setGaugeMaximum(0);  // an empty table
        QCOMPARE(form.barra()->text(), QStringLiteral("0%"));
        form.window->resetGauge();
        QCOMPARE(form.barra()->text(), QStringLiteral("0%"));
    }

    // Each step of the bar is on the screen at once, without a turn of the event loop.
    void gaugeShowsEachStepAtOnce() {
        WindowHarness form;
        QVERIFY(form.showActive());
        form.window->setGaugeMaximum(4);
        QCoreApplication::processEvents();
        const auto shown = [&](int x) {
            return form.window->screen()
                ->grabWindow(form.window->winId(), 27 + x, 494, 1, 1)
                .toImage()
                .pixelColor(0, 0);
        };
        for (int step = 1; step <= 4; ++step) {
            form.window->stepGauge();
            const int edge = 1 + 450 * step / 4;  // right of the bar, inside the border
            QCOMPARE(shown(edge - 1), kRest.rgb());
            QCOMPARE(shown(edge), step < 4 ? qRgb(255, 255, 255) : form.barra()->palette().color(QPalette::Mid).rgb());
        }
        // Steps of less than a pixel, of many, and the percentage changing
        // with the bar's end under it or away from it, or going back to 0%:
        // whatever part a change repaints, the screen holds what a whole new
        // painting draws.
        const auto showsWholePainting = [&] {
            const auto pixels = [](const QPixmap& picture) {
                return picture.toImage().convertToFormat(QImage::Format_RGB32);
            };
            return pixels(form.window->screen()->grabWindow(form.window->winId(), 27, 492, 452, 19)) ==
                   pixels(form.barra()->grab());
        };
        // From 10% back to 0% the bar's end stays far from the percentage.
        for (const auto& [maximum, steps] : {std::pair(7, 7), std::pair(900, 900), std::pair(10, 1)}) {
            form.window->setGaugeMaximum(maximum);
            for (int step = 1; step <= steps; ++step) {
                form.window->stepGauge();
                if (!showsWholePainting())
                    QFAIL(qPrintable(
                        QStringLiteral("step %1 of %2: %3").arg(step).arg(maximum).arg(form.barra()->text())));
            }
            form.window->resetGauge();
            QVERIFY(showsWholePainting());
        }
    }

    // The central database choice.
    void chooseCentralOrCancel() {
        WindowHarness form;
        form.chooseCentral(QStringLiteral("/dados/central.fb"));
        QCOMPARE(form.edtCentralizador()->text(), QStringLiteral("/dados/central.fb"));
        QVERIFY(form.cbEmpresa()->isEnabled());
        form.cbEmpresa()->setCurrentIndex(2);

        form.chooseCentral(QString());  // cancelled
        QCOMPARE(form.edtCentralizador()->text(), QString());
        QVERIFY(!form.cbEmpresa()->isEnabled());
        QCOMPARE(form.cbEmpresa()->currentIndex(), 2);
        // A disabled drop-down that still holds a code lets the add go on.
        form.dialogs->answers << QStringLiteral("/dados/f.fb");
        WindowHarness::click(form.picture("imgAbrirBdFilial"));
        QCOMPARE(form.bancos(), QStringList{"/dados/f.fb"});
        QCOMPARE(form.list().currentEmpresa(), QStringLiteral("02"));
        QCOMPARE(int(form.dialogs->boxes.size()), 0);
    }

    void addNeedsACompanyCode() {
        WindowHarness form;
        form.chooseCentral(QStringLiteral("/dados/central.fb"));
        WindowHarness::click(form.picture("imgAbrirBdFilial"));
        QCOMPARE(form.dialogs->texts("information"), QStringList{kSemFilial});
        QCOMPARE(form.dialogs->boxes.front().title, QStringLiteral("Information"));
        QCOMPARE(form.dialogs->openFileCalls, 1);  // only the central choice
        QCOMPARE(form.list().rowCount(), 0);
    }

    void cancelledAddEmptiesThePathOnly() {
        WindowHarness form;
        form.chooseCentral(QStringLiteral("/c.fb"));
        form.addBranch(QStringLiteral("/a.fb"), 1);
        form.addBranch(QString(), 1);
        QCOMPARE(form.edtFilial()->text(), QString());
        QCOMPARE(form.bancos(), QStringList{"/a.fb"});
        QCOMPARE(int(form.dialogs->boxes.size()), 0);
        QCOMPARE(form.cbEmpresa()->currentIndex(), 1);
    }

    // Adds branch databases in turn and checks the list and the boxes.
    void addingBranches_data() {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("empresas");
        QTest::addColumn<int>("repeats");
        QTest::addColumn<int>("current");
        const QString longPath = QStringLiteral("/dados/") + QString(70, QLatin1Char('x')) + QStringLiteral(".fb");
        const QString foreign = QStringLiteral("/dados/Филиал 分店 Łódź.fb");
        QTest::newRow("two of 02 then one of 04")
            << QStringList{"/a.fb", "/b.fb", "/c.fb"} << QList<int>{2, 2, 4} << QStringList{"/a.fb", "/b.fb", "/c.fb"}
            << QStringList{"02", "02", "04"} << 0 << 2;
        QTest::newRow("repeat with another code") << QStringList{"/a.fb", "/b.fb", "/a.fb"} << QList<int>{2, 2, 4}
                                                  << QStringList{"/a.fb", "/b.fb"} << QStringList{"02", "02"} << 1 << 0;
        QTest::newRow("other letter case is no repeat")
            << QStringList{"/dados/Filial.fb", "/dados/filial.fb"} << QList<int>{0, 1}
            << QStringList{"/dados/Filial.fb", "/dados/filial.fb"} << QStringList{"00", "01"} << 0 << 1;
        QTest::newRow("80 characters kept and repeated") << QStringList{longPath, longPath} << QList<int>{3, 3}
                                                         << QStringList{longPath} << QStringList{"03"} << 1 << 0;
        QTest::newRow("outside one code page kept and repeated")
            << QStringList{foreign, "/b.fb", foreign} << QList<int>{1, 1, 1} << QStringList{foreign, "/b.fb"}
            << QStringList{"01", "01"} << 1 << 0;
    }
    void addingBranches() {
        QFETCH(QStringList, paths);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, empresas);
        QFETCH(int, repeats);
        QFETCH(int, current);
        WindowHarness form;
        form.chooseCentral(QStringLiteral("/c.fb"));
        for (int i = 0; i < paths.size(); ++i) form.addBranch(paths[i], codes[i]);
        QCOMPARE(form.bancos(), listed);
        QStringList listedCodes;
        for (int row = 0; row < form.list().rowCount(); ++row)
            listedCodes << form.list().index(row, 1).data().toString();
        QCOMPARE(listedCodes, empresas);
        QCOMPARE(form.dialogs->texts("information").count(kRepetido), repeats);
        QCOMPARE(int(form.dialogs->boxes.size()), repeats);
        QCOMPARE(form.list().currentRow(), current);
        QCOMPARE(form.grid()->currentIndex().row(), current);
        QVERIFY(form.grid()->selectionModel()->isRowSelected(current, QModelIndex()));
        // The path field keeps the last choice and the code stays selected.
        QCOMPARE(form.edtFilial()->text(), paths.last());
        QCOMPARE(form.cbEmpresa()->currentIndex(), codes.last());
    }

    void cellClickLoadsTheEntryBack_data() {
        QTest::addColumn<int>("code");
        for (int code = 0; code < 5; ++code) QTest::addRow("code 0%d", code) << code;
    }
    void cellClickLoadsTheEntryBack() {
        QFETCH(int, code);
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(QStringLiteral("/c.fb"));
        form.addBranch(QStringLiteral("/primeira.fb"), (code + 1) % 5);
        form.addBranch(QStringLiteral("/segunda.fb"), code);
        form.addBranch(QStringLiteral("/terceira.fb"), (code + 2) % 5);
        form.chooseCentral(QString());  // disables the drop-down
        QVERIFY(!form.cbEmpresa()->isEnabled());
        form.clickCell(1, 1);
        QCOMPARE(form.list().currentRow(), 1);
        QCOMPARE(form.cbEmpresa()->currentIndex(), code);
        QCOMPARE(form.edtFilial()->text(), QStringLiteral("/segunda.fb"));
        QVERIFY(!form.cbEmpresa()->isEnabled());
    }

    void onlyAClickLoadsAnEntry() {
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(QStringLiteral("/c.fb"));
        form.addBranch(QStringLiteral("/a.fb"), 1);
        form.addBranch(QStringLiteral("/b.fb"), 2);
        form.clickCell(1);
        form.grid()->setFocus();
        pressKey(Qt::Key_Up);
        QCOMPARE(form.list().currentRow(), 0);
        QCOMPARE(form.edtFilial()->text(), QStringLiteral("/b.fb"));
        QCOMPARE(form.cbEmpresa()->currentIndex(), 2);
        // A right click loads nothing either.
        const QRect first = form.grid()->visualRect(form.list().index(0, 0));
        QTest::mouseClick(form.grid()->viewport(), Qt::RightButton, {}, first.center());
        QCOMPARE(form.edtFilial()->text(), QStringLiteral("/b.fb"));
    }

    void clickInAnEmptyGridChangesNothing() {
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(QStringLiteral("/c.fb"));
        form.addBranch(QString(), 3);
        form.edtFilial()->setText(QStringLiteral("/antes.fb"));
        QTest::mouseClick(form.grid()->viewport(), Qt::LeftButton, {}, QPoint(40, 20));
        QCOMPARE(form.edtFilial()->text(), QStringLiteral("/antes.fb"));
        QCOMPARE(form.cbEmpresa()->currentIndex(), 3);
        QCOMPARE(form.list().rowCount(), 0);
    }

    void deleteKey_data() {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<int>("current");
        QTest::newRow("first of three") << 3 << 0 << int(Qt::NoModifier) << QStringList{"/1.fb", "/2.fb"} << 0;
        QTest::newRow("last of three") << 3 << 2 << int(Qt::NoModifier) << QStringList{"/0.fb", "/1.fb"} << 1;
        QTest::newRow("with Shift") << 2 << 1 << int(Qt::ShiftModifier) << QStringList{"/0.fb"} << 0;
        QTest::newRow("Ctrl+Delete removes one entry")
            << 3 << 1 << int(Qt::ControlModifier) << QStringList{"/0.fb", "/2.fb"} << 1;
        QTest::newRow("empty list") << 0 << -1 << int(Qt::NoModifier) << QStringList() << -1;
    }
    void deleteKey() {
        QFETCH(int, entries);
        QFETCH(int, selected);
        QFETCH(int, modifiers);
        QFETCH(QStringList, left);
        QFETCH(int, current);
        WindowHarness form;
        QVERIFY(form.showActive());
        form.chooseCentral(QStringLiteral("/c.fb"));
        for (int i = 0; i < entries; ++i) form.addBranch(QStringLiteral("/%1.fb").arg(i), 4);
        if (selected >= 0)
            form.clickCell(selected);
        else
            form.edtFilial()->setText(QStringLiteral("/x.fb"));
        form.grid()->setFocus();
        pressKey(Qt::Key_Delete, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(form.bancos(), left);
        QCOMPARE(form.list().currentRow(), current);
        QCOMPARE(form.edtFilial()->text(), QString());
        QCOMPARE(form.cbEmpresa()->currentIndex(), -1);
        QCOMPARE(int(form.dialogs->boxes.size()), 0);
        if (current >= 0) QVERIFY(form.grid()->selectionModel()->isRowSelected(current, QModelIndex()));
    }

    void otherKeysInTheGridRemoveNothing() {
        WindowHarness form;
        QVERIFY(form.showActive());
        form.list().append(QStringLiteral("/a.fb"), QStringLiteral("01"));
        form.grid()->setFocus();
        for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Insert, Qt::Key_Space, Qt::Key_A, Qt::Key_F2})
            QTest::keyClick(form.grid(), key);
        QCOMPARE(form.bancos(), QStringList{"/a.fb"});
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
