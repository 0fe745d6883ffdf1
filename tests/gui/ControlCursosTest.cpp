#include "import/ControlCursos.h"

#include "access/DbfTable.h"
#include "access/Error.h"
#include "import/Cursos.h"
#include "import/Importacion.h"
#include "tests/gui/Banco.h"
#include "tests/support/ScriptedPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace zendral;
using namespace zendral::test;

namespace
{

const QString kTitulo = QStringLiteral("Asignación de Niveles y Cursos");
const QString kFalta = QStringLiteral("Zendral|¡Atención! Falta algún Dato");

QWidget* Hijo(QWidget& d, const char* nombre) { return d.findChild<QWidget*>(QString::fromLatin1(nombre)); }
// Shown as soon as the dialog is: it may be hidden itself after it closed.
bool Visible(QWidget& d, const char* nombre) { return !Hijo(d, nombre)->isHidden(); }
QTableView* Grid(QWidget& d) { return d.findChild<QTableView*>(QStringLiteral("CursosTDBGrid")); }
QString Celda(QWidget& d, int fila, int columna)
{
    return Grid(d)->model()->index(fila, columna).data().toString();
}
bool Habilitado(QWidget& d, const char* boton) { return Hijo(d, boton)->isEnabled(); }

// The enabled navigator buttons, by the end of their names (First, Prior, ... Refresh).
QStringList Habilitados(QWidget& d)
{
    QStringList nombres;
    for (auto* b : Hijo(d, "wwDBNavigator1")->findChildren<QToolButton*>()) {
        if (b->isEnabled()) {
            nombres << b->objectName().mid(QStringLiteral("wwDBNavigator1").size());
        }
    }
    return nombres;
}

// The rest of a complete import after the level/course dialog: OK to the lines, then the end.
void Terminar(Banco& b)
{
    b.prompter.respuestas.push_back(Pulsar(QMessageBox::Ok));
    b.prompter.respuestas.push_back(Pulsar());
}

} // namespace

class ControlCursosTest : public QObject
{
    Q_OBJECT

private slots:
    void dialogoAlAbrir();
    void aceptarConUnaFilaSinCurso();
    void salidaForzada();
    void cierreConDatosQueFaltan();
    void segundaImportacionDelMismoProceso();
    void rejilla();
    void navegador();
    void tablaVacia();
    void tablaQueNoSeAbre();
    void errorAlGuardar();
};

void ControlCursosTest::dialogoAlAbrir()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    b.prompter.respuestas = {
        ElegirArchivo(b.centro), EnDialogo([&](TControlCursos& d) {
            QCOMPARE(d.windowTitle(), kTitulo);
            QCOMPARE(d.size(), QSize(672, 499));
            QCOMPARE(d.minimumSize(), d.maximumSize());
            QCOMPARE(d.pos(), QPoint(283, 200));
            QCOMPARE(d.parentWidget(), &f);
            QVERIFY(!(d.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));

            // Place, size (empty: sized by its text) and visibility at the first showing.
            struct Control
            {
                const char* nombre;
                QRect lugar;
                bool visible;
            };
            const QList<Control> controles = {
                {"Draw3D1", {1, 1, 669, 496}, true},          {"CursosTDBGrid", {7, 56, 448, 433}, true},
                {"wwDBNavigator1", {105, 29, 275, 24}, true}, {"Label1", {86, 5, 0, 0}, true},
                {"Label2", {473, 76, 180, 65}, false},        {"Label3", {468, 57, 190, 13}, false},
                {"BitBtn1", {528, 379, 75, 25}, true},        {"Label4", {471, 165, 0, 0}, true},
                {"Label5", {472, 181, 185, 52}, true},        {"Label6", {472, 234, 140, 39}, true},
                {"Label7", {472, 275, 175, 65}, true},        {"BitBtn2", {461, 414, 205, 24}, false},
                {"Label8", {464, 440, 198, 39}, false},
            };
            for (const Control& c : controles) {
                QWidget* w = Hijo(d, c.nombre);
                QVERIFY2(w != nullptr, c.nombre);
                QCOMPARE(w->pos(), c.lugar.topLeft());
                if (!c.lugar.size().isEmpty()) {
                    QCOMPARE(w->size(), c.lugar.size());
                }
                QCOMPARE(!w->isHidden(), c.visible);
                if (qobject_cast<QLabel*>(w) != nullptr) {
                    QVERIFY(w->font().bold());
                }
            }
            auto* label1 = static_cast<QLabel*>(Hijo(d, "Label1"));
            QCOMPARE(label1->font().pixelSize(), 16);
            QVERIFY(label1->font().underline());
            QCOMPARE(label1->palette().color(QPalette::WindowText), QColor(Qt::yellow));
            QCOMPARE(Hijo(d, "Label4")->font().pixelSize(), 13);
            QCOMPARE(Hijo(d, "Label8")->palette().color(QPalette::Window), QColor(Qt::yellow));
            QCOMPARE(Hijo(d, "BitBtn2")->palette().color(QPalette::ButtonText), QColor(Qt::red));

            QTableView* grid = Grid(d);
            QVERIFY(grid->hasFocus());
            QVERIFY(grid->alternatingRowColors());
            QCOMPARE(grid->palette().color(QPalette::Base), QColor(0xF0FBFF));
            QCOMPARE(grid->palette().color(QPalette::AlternateBase), QColor(0xCFD9FE));
            QVERIFY(grid->verticalHeader()->isHidden());
            QCOMPARE(grid->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QAbstractItemModel* m = grid->model();
            QStringList titulos;
            for (int c = 0; c < m->columnCount(); ++c) {
                titulos << m->headerData(c, Qt::Horizontal).toString();
            }
            QCOMPARE(titulos, (QStringList{"CÓD.GESTIB", "DESCRIPCIÓN", "NIVEL", "CURSO"}));
            QCOMPARE(m->rowCount(), 2);
            QCOMPARE(Celda(d, 1, 0), QStringLiteral("C2"));
            QCOMPARE(Celda(d, 1, 1), QStringLiteral("1r de Batxillerat"));
            for (int c = 0; c < 4; ++c) {
                QCOMPARE(bool(m->flags(m->index(0, c)) & Qt::ItemIsEditable), c >= 2);
            }
            // A column is at least as wide as its characters.
            const int cero = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
            QVERIFY(grid->columnWidth(1) >= 40 * cero);
            QVERIFY(grid->columnWidth(0) >= 10 * cero);

            // Ten navigator buttons, in order, each with its hint: none inserts or deletes.
            QStringList nombres;
            for (auto* boton : Hijo(d, "wwDBNavigator1")->findChildren<QToolButton*>()) {
                nombres << boton->objectName();
                QVERIFY(!boton->property("hint").toString().isEmpty());
                QVERIFY(!boton->toolTip().isEmpty());
                QCOMPARE(boton->focusPolicy(), Qt::NoFocus);
            }
            QCOMPARE(nombres,
                     (QStringList{"wwDBNavigator1First", "wwDBNavigator1PriorPage", "wwDBNavigator1Prior",
                                  "wwDBNavigator1Next", "wwDBNavigator1NextPage", "wwDBNavigator1Last",
                                  "wwDBNavigator1Edit", "wwDBNavigator1Post", "wwDBNavigator1Cancel",
                                  "wwDBNavigator1Refresh"}));

            // F1 asks for context 1; Escape does not close the dialog.
            QTest::keyClick(grid, Qt::Key_F1);
            QCOMPARE(b.ayuda.peticiones, QStringList{"contexto:1"});
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(d.isVisible());

            Escribir(d, 0, 2, "ESO");
            Escribir(d, 0, 3, "1");
            Escribir(d, 1, 2, "BAT");
            Escribir(d, 1, 3, "2");
            Pulsar(d, "BitBtn1");
        })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.vistos.last(), QStringLiteral("Zendral|Proceso finalizado"));
    QCOMPARE(b.Columna("CURSOST", "NIVEL"), (QStringList{"ESO", "BAT"}));
    QCOMPARE(b.Columna("CURSOST", "CURSO"), (QStringList{"1", "2"}));
    QVERIFY(!f.Estado().CursosIncompletos);
}

void ControlCursosTest::aceptarConUnaFilaSinCurso()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    TControlCursos* primero = nullptr;
    bool incidenciasDuranteAviso = false, salidaDuranteAviso = true;
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([&](TControlCursos& d) {
                                 primero = &d;
                                 Escribir(d, 0, 2, "ESO");
                                 Escribir(d, 0, 3, "1");
                                 Escribir(d, 1, 2, "BAT");
                                 Pulsar(d, "BitBtn1");
                                 // The forced exit appears once the notice is dismissed, just before the
                                 // dialog closes.
                                 QVERIFY(Visible(d, "BitBtn2"));
                                 QVERIFY(!Visible(d, "Label8"));
                                 QCOMPARE(d.result(), int(QDialog::Accepted));
                             }),
                             [&](QDialog& aviso) {
                                 incidenciasDuranteAviso =
                                     Visible(*primero, "Label3") && Visible(*primero, "Label2");
                                 salidaDuranteAviso = Visible(*primero, "BitBtn2");
                                 return Pulsar()(aviso);
                             },
                             EnDialogo([&](TControlCursos& d) {
                                 // A new dialog: the forced exit is offered, the notice is hidden, and what
                                 // was saved shows.
                                 QVERIFY(Visible(d, "BitBtn2"));
                                 QVERIFY(Visible(d, "Label8"));
                                 QVERIFY(!Visible(d, "Label2"));
                                 QVERIFY(!Visible(d, "Label3"));
                                 QCOMPARE(Celda(d, 0, 2) + Celda(d, 0, 3) + Celda(d, 1, 2) + Celda(d, 1, 3),
                                          QStringLiteral("ESO1BAT"));
                                 Escribir(d, 1, 3, "1");
                                 Pulsar(d, "BitBtn1");
                             })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    QVERIFY(incidenciasDuranteAviso);
    QVERIFY(!salidaDuranteAviso);
    QCOMPARE(b.prompter.vistos.mid(1, 3), (QStringList{kTitulo, kFalta, kTitulo}));
    QCOMPARE(b.prompter.vistos.last(), QStringLiteral("Zendral|Proceso finalizado"));
    QVERIFY(f.Estado().CursosIncompletos);
    QCOMPARE(b.Columna("GRUPOST", "ABREV"), (QStringList{"ES1A", "ES1B", "BA1A"}));
}

void ControlCursosTest::salidaForzada()
{
    Banco b;
    // A complete earlier import leaves the tables the later stages write.
    {
        EstadoProceso estado;
        test::ScriptedPrompter guion;
        guion.archivo = b.centro;
        guion.dialogos = {test::Mostrar{{{"ESO", "1"}, {"BAT", "1"}}, test::Mostrar::Fin::Aceptar}};
        QCOMPARE(Importacion(estado, guion, b.work).BExportarClick(), FinRun::Completado);
    }
    QStringList antes;
    for (const char* tabla : {"GRUPOST.DBF", "MATIB.DBF", "ASIGT.DBF", "DIASHORAST.DBF"}) {
        antes << QString::fromStdString(ReadFile(b.work / tabla));
    }

    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([](TControlCursos& d) {
                                 Escribir(d, 0, 2, "PRI");
                                 Pulsar(d, "BitBtn1");
                             }),
                             Pulsar(), EnDialogo([](TControlCursos& d) {
                                 Escribir(d, 1, 2, "BAT");
                                 Pulsar(d, "BitBtn2");
                                 QCOMPARE(d.result(), int(QDialog::Rejected));
                             })};
    f.show();
    QTRY_VERIFY(b.prompter.respuestas.empty());
    QVERIFY(!f.isVisible());
    QCOMPARE(b.prompter.vistos, (QStringList{"Archivo XML", kTitulo, kFalta, kTitulo}));
    // The window closed with the result code it held; the later stages did not run.
    QCOMPARE(b.Resultado(), std::string("[Transformadores]\r\nTransformado=0\r\n"));
    QStringList despues;
    for (const char* tabla : {"GRUPOST.DBF", "MATIB.DBF", "ASIGT.DBF", "DIASHORAST.DBF"}) {
        despues << QString::fromStdString(ReadFile(b.work / tabla));
    }
    QVERIFY(antes == despues);
    // What was typed, pending row included, stays in CURSOST.
    QCOMPARE(b.Columna("CURSOST", "NIVEL"), (QStringList{"PRI", "BAT"}));
}

void ControlCursosTest::cierreConDatosQueFaltan()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([](TControlCursos& d) {
                                 Escribir(d, 0, 2, "ESO");
                                 Escribir(d, 0, 3, "1");
                                 Pulsar(d, "BitBtn1");
                             }),
                             Pulsar(), EnDialogo([](TControlCursos& d) { d.close(); })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    // One notice only: closing by the frame checks nothing, and the import goes on.
    QCOMPARE(b.prompter.vistos.count(kFalta), 1);
    QCOMPARE(b.prompter.vistos.last(), QStringLiteral("Zendral|Proceso finalizado"));
    QCOMPARE(b.Columna("GRUPOST", "ABREV"), (QStringList{"ES1A", "ES1B", "A"}));
    QVERIFY(f.isVisible());
}

void ControlCursosTest::segundaImportacionDelMismoProceso()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    b.prompter.respuestas = {ElegirArchivo(b.centro),
                             EnDialogo([](TControlCursos& d) { Pulsar(d, "BitBtn1"); }), Pulsar(),
                             EnDialogo([](TControlCursos& d) { d.close(); })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());

    bool salida = false, aviso = false;
    b.prompter.respuestas = {CancelarArchivo(), EnDialogo([&](TControlCursos& d) {
                                 salida = Visible(d, "BitBtn2") && Visible(d, "Label8");
                                 aviso = Visible(d, "Label2") || Visible(d, "Label3");
                                 d.close();
                             })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    QVERIFY(salida);
    QVERIFY(!aviso);
}

void ControlCursosTest::rejilla()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    QStringList guardado;
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([&](TControlCursos& d) {
                                 QTableView* grid = Grid(d);
                                 const auto celda = [grid] {
                                     return qMakePair(grid->currentIndex().row(),
                                                      grid->currentIndex().column());
                                 };
                                 // Enter moves on as Tab does, from NIVEL to CURSO and on to the next row.
                                 Escribir(d, 0, 2, "ESOXYZ");
                                 QCOMPARE(celda(), qMakePair(0, 3));
                                 QCOMPARE(Celda(d, 0, 2), QStringLiteral("ESOXY"));
                                 Escribir(d, 0, 3, "12345");
                                 QCOMPARE(celda(), qMakePair(1, 0));
                                 // The row left was saved; the cell editor held the field's width.
                                 guardado = b.Columna("CURSOST", "NIVEL") + b.Columna("CURSOST", "CURSO");
                                 QCOMPARE(guardado, (QStringList{"ESOXY", "", "123", ""}));
                                 QCOMPARE(Celda(d, 0, 3), QStringLiteral("123"));
                                 // Enter on a read-only cell moves without editing.
                                 QTest::keyClick(grid, Qt::Key_Return);
                                 QCOMPARE(celda(), qMakePair(1, 1));
                                 QTest::keyClick(grid, Qt::Key_Tab);
                                 QCOMPARE(celda(), qMakePair(1, 2));
                                 // Read-only columns open no editor.
                                 grid->setCurrentIndex(grid->model()->index(1, 0));
                                 QVERIFY(!grid->model()->setData(grid->model()->index(1, 0), "X"));
                                 QCOMPARE(Celda(d, 1, 0), QStringLiteral("C2"));
                                 // A leading blank is kept as typed; a change not yet saved is saved on
                                 // leaving the grid.
                                 Escribir(d, 1, 3, "2");
                                 QCOMPARE(b.Columna("CURSOST", "CURSO").value(1), QStringLiteral("2"));
                                 Escribir(d, 1, 2, " ES");
                                 QCOMPARE(celda(), qMakePair(1, 3));
                                 QCOMPARE(b.Columna("CURSOST", "NIVEL").value(1), QString());
                                 Hijo(d, "BitBtn1")->setFocus(Qt::TabFocusReason);
                                 QCOMPARE(b.Columna("CURSOST", "NIVEL").value(1), QStringLiteral(" ES"));
                                 grid->setFocus();
                                 Pulsar(d, "BitBtn1");
                             })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.Columna("CURSOST", "CURSO"), (QStringList{"123", "2"}));
    QCOMPARE(b.Columna("GRUPOST", "NIVEL"), (QStringList{"ESOXY", "ESOXY", " ES"}));
}

void ControlCursosTest::navegador()
{
    Banco b;
    // Twelve courses, so that the page buttons stop at either end.
    std::string cursos;
    for (int i = 1; i <= 12; ++i) {
        cursos += "<CURS codi=\"K" + std::to_string(i) + "\" descripcio=\"Curs " + std::to_string(i) + "\"/>";
    }
    const auto centro = b.dir.write("doce.xml", "<CENTRE><CURSOS>" + cursos + "</CURSOS></CENTRE>");
    TMForm& f = b.Crear();
    f.show();
    b.prompter.respuestas = {
        ElegirArchivo(centro), EnDialogo([&](TControlCursos& d) {
            QTableView* grid = Grid(d);
            const auto fila = [grid] { return grid->currentIndex().row(); };
            // The grid has the focus: the first record is being edited.
            QCOMPARE(fila(), 0);
            QCOMPARE(Habilitados(d), (QStringList{"Next", "NextPage", "Last", "Post", "Cancel", "Refresh"}));
            Pulsar(d, "wwDBNavigator1Post");
            QCOMPARE(Habilitados(d), (QStringList{"Next", "NextPage", "Last", "Edit", "Refresh"}));
            Pulsar(d, "wwDBNavigator1NextPage");
            QCOMPARE(fila(), 10);
            Pulsar(d, "wwDBNavigator1NextPage");
            QCOMPARE(fila(), 11);
            QCOMPARE(Habilitados(d), (QStringList{"First", "PriorPage", "Prior", "Edit", "Refresh"}));
            Pulsar(d, "wwDBNavigator1PriorPage");
            QCOMPARE(fila(), 1);
            Pulsar(d, "wwDBNavigator1Prior");
            QCOMPARE(fila(), 0);
            Pulsar(d, "wwDBNavigator1Last");
            QCOMPARE(fila(), 11);
            Pulsar(d, "wwDBNavigator1First");
            QCOMPARE(fila(), 0);
            Pulsar(d, "wwDBNavigator1Next");
            QCOMPARE(fila(), 1);

            // Cancel drops a change not yet saved; Post saves one.
            Escribir(d, 1, 2, "MAL");
            QVERIFY(Habilitado(d, "wwDBNavigator1Cancel"));
            Pulsar(d, "wwDBNavigator1Cancel");
            QCOMPARE(Celda(d, 1, 2), QString());
            QVERIFY(!Habilitado(d, "wwDBNavigator1Cancel"));
            Pulsar(d, "wwDBNavigator1Edit");
            QVERIFY(Habilitado(d, "wwDBNavigator1Post"));
            Escribir(d, 1, 2, "BIEN");
            Pulsar(d, "wwDBNavigator1Post");
            QCOMPARE(b.Columna("CURSOST", "NIVEL").value(1), QStringLiteral("BIEN"));
            // Typing in a cell edits its record at once; Cancel drops the text typed.
            const QModelIndex cuarta = grid->model()->index(4, 2);
            grid->setCurrentIndex(cuarta);
            Pulsar(d, "wwDBNavigator1Post");
            QVERIFY(!Habilitado(d, "wwDBNavigator1Post"));
            grid->edit(cuarta);
            QLineEdit* editor = EditorAbierto(grid);
            QVERIFY(editor != nullptr);
            QTest::keyClicks(editor, "X");
            QVERIFY(Habilitado(d, "wwDBNavigator1Post"));
            QVERIFY(!Habilitado(d, "wwDBNavigator1Edit"));
            Pulsar(d, "wwDBNavigator1Cancel");
            QCOMPARE(Celda(d, 4, 2), QString());
            QCOMPARE(b.Columna("CURSOST", "NIVEL").value(4), QString());
            // Moving to another record saves the one left.
            Escribir(d, 2, 2, "OTRO");
            Pulsar(d, "wwDBNavigator1Next");
            QCOMPARE(fila(), 3);
            QCOMPARE(b.Columna("CURSOST", "NIVEL").value(2), QStringLiteral("OTRO"));
            // Refresh reads the table again and stays on the record.
            Pulsar(d, "wwDBNavigator1Refresh");
            QCOMPARE(fila(), 3);
            QCOMPARE(Celda(d, 2, 2), QStringLiteral("OTRO"));
            QCOMPARE(grid->model()->rowCount(), 12);
            d.close();
        })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
}

void ControlCursosTest::tablaVacia()
{
    Banco b;
    const auto centro = b.dir.write("vacio.xml", "<CENTRE><CURSOS/></CENTRE>");
    TMForm& f = b.Crear();
    f.show();
    b.prompter.respuestas = {ElegirArchivo(centro), EnDialogo([&](TControlCursos& d) {
                                 // Entering the empty grid starts a new blank record; cancelling drops it.
                                 QCOMPARE(Grid(d)->model()->rowCount(), 1);
                                 QCOMPARE(Habilitados(d), (QStringList{"Post", "Cancel", "Refresh"}));
                                 Pulsar(d, "wwDBNavigator1Cancel");
                                 QCOMPARE(Grid(d)->model()->rowCount(), 0);
                                 QCOMPARE(Habilitados(d), QStringList{"Refresh"});
                                 d.close();
                             })};
    Terminar(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    QVERIFY(b.Columna("CURSOST", "CODI").isEmpty());
}

void ControlCursosTest::tablaQueNoSeAbre()
{
    Banco b;
    // No CURSOST: the error ends the run before any dialog appears.
    ControlCursos control(b.work, false, b.prompter);
    QVERIFY_THROWS_EXCEPTION(Error, b.prompter.MostrarControlCursos(control));
    QVERIFY(b.prompter.vistos.isEmpty());
}

void ControlCursosTest::errorAlGuardar()
{
    Banco b;
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    std::unique_ptr<dbf::Table> otro;
    bool cerrado = false;
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([&](TControlCursos& d) {
                                 // Somebody else reads CURSOST: the row left cannot be saved.
                                 otro = std::make_unique<dbf::Table>("otro", b.work, "CURSOST");
                                 otro->Open(false);
                                 Escribir(d, 0, 2, "ESO");
                                 Escribir(d, 0, 3, "1");
                                 cerrado = !d.isVisible() && d.result() == QDialog::Rejected;
                             }),
                             Pulsar()};
    f.show();
    QTRY_VERIFY(b.prompter.respuestas.empty());
    // The dialog ends, and so does the run, with the error in a message box; the window stays open.
    QVERIFY(cerrado);
    QCOMPARE(b.prompter.vistos.size(), 3);
    QVERIFY2(b.prompter.vistos[2].startsWith("Zendral|") && b.prompter.vistos[2].contains("CURSOST"),
             qPrintable(b.prompter.vistos[2]));
    QVERIFY(f.isVisible());
    QVERIFY(!b.Existe("GRUPOST.DBF"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    otro.reset();
    f.close();
    QCOMPARE(b.Resultado(), std::string("[Transformadores]\r\nTransformado=0\r\n"));
}

QTEST_MAIN(ControlCursosTest)
#include "ControlCursosTest.moc"
