#include "ControlCursos.h"

#include "Banco.h"
#include "Corte.h"
#include "Cursos.h"
#include "DbfTable.h"
#include "Error.h"
#include "Importacion.h"
#include "ScriptedPrompter.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <cerrno>
#include <deque>

using namespace zendral;
using namespace zendral::test;

namespace
{

const QString kTitulo = QStringLiteral("Asignación de Niveles y Cursos");
const QString kFalta = QStringLiteral("Zendral|¡Atención! Falta algún Dato");
const QString kFinalizado = QStringLiteral("Zendral|Proceso finalizado");

QWidget* Hijo(QWidget& d, const char* nombre) { return d.findChild<QWidget*>(QString::fromLatin1(nombre)); }
QTableView* Grid(QWidget& d) { return d.findChild<QTableView*>(QStringLiteral("CursosTDBGrid")); }
QString Celda(QWidget& d, int fila, int columna)
{
    return Grid(d)->model()->index(fila, columna).data().toString();
}

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

// Which of the notice that data is missing (Label2, Label3) and the forced exit (BitBtn2, Label8)
// are shown. Shown as soon as the dialog is: a label may be hidden itself after the dialog closed.
QStringList Avisos(QWidget& d)
{
    QStringList vistos;
    for (const char* nombre : {"Label2", "Label3", "BitBtn2", "Label8"}) {
        if (!Hijo(d, nombre)->isHidden()) {
            vistos << QString::fromLatin1(nombre);
        }
    }
    return vistos;
}

// The main window, shown as the user starts it.
TMForm& Ventana(Banco& b)
{
    TMForm& f = b.Crear();
    f.show();
    return f;
}

// A centre import from the main window: `respuestas` up to the last level/course dialog, then OK to
// the line-creation question and to the closing message. True when every answer was used and the
// run came to that closing message.
bool Importar(Banco& b, std::deque<GuiPrompter::Respuesta> respuestas)
{
    respuestas.push_back(Pulsar(QMessageBox::Ok));
    respuestas.push_back(Pulsar());
    b.prompter.respuestas = std::move(respuestas);
    b.form->BExportarClick();
    return b.prompter.respuestas.empty() && b.prompter.vistos.last() == kFinalizado;
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
    void rejilla();
    void navegador();
    void tablaVacia();
    void tablaQueNoSeAbre();
    void errorAlGuardar();
    void soloConElTeclado();
};

void ControlCursosTest::dialogoAlAbrir()
{
    Banco b;
    TMForm& f = Ventana(b);
    const auto enDialogo = [&](TControlCursos& d) {
        QCOMPARE(d.windowTitle(), kTitulo);
        QCOMPARE(d.parentWidget(), &f);
        // Fixed size, and no minimise or maximise box.
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QVERIFY(!(d.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
        // The notice and the forced exit wait until data is found missing.
        QCOMPARE(Avisos(d), QStringList());

        QTableView* grid = Grid(d);
        QVERIFY(grid->hasFocus());
        QAbstractItemModel* m = grid->model();
        QStringList titulos;
        for (int c = 0; c < m->columnCount(); ++c) {
            titulos << m->headerData(c, Qt::Horizontal).toString();
            // Only NIVEL and CURSO can be edited.
            QCOMPARE(bool(m->flags(m->index(0, c)) & Qt::ItemIsEditable), c >= 2);
        }
        QCOMPARE(titulos, (QStringList{"CÓD.GESTIB", "DESCRIPCIÓN", "NIVEL", "CURSO"}));
        QCOMPARE(m->rowCount(), 2);
        QCOMPARE(Celda(d, 1, 0), QStringLiteral("C2"));
        QCOMPARE(Celda(d, 1, 1), QStringLiteral("1r de Batxillerat"));
        // A column is at least as wide as its characters.
        const int cero = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        QVERIFY(grid->columnWidth(1) >= 40 * cero);
        QVERIFY(grid->columnWidth(0) >= 10 * cero);

        // F1 asks for the topic of this dialog; Escape does not close it.
        QTest::keyClick(grid, Qt::Key_F1);
        QCOMPARE(b.ayuda.peticiones, QStringList{"contexto:20"});
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(d.isVisible());
        d.close();
    };
    QVERIFY(Importar(b, {ElegirArchivo(b.centro), EnDialogo(enDialogo)}));
}

void ControlCursosTest::aceptarConUnaFilaSinCurso()
{
    Banco b;
    TMForm& f = Ventana(b);
    TControlCursos* primero = nullptr;
    QStringList duranteAviso;
    const auto sinUnCurso = [&](TControlCursos& d) {
        primero = &d;
        Escribir(d, 0, 2, "ESO");
        Escribir(d, 0, 3, "1");
        Escribir(d, 1, 2, "BAT");
        Pulsar(d, "BitBtn1");
        // The forced exit appears once the notice is dismissed, just before the dialog closes.
        QCOMPARE(Avisos(d), (QStringList{"Label2", "Label3", "BitBtn2"}));
        QCOMPARE(d.result(), int(QDialog::Accepted));
    };
    const auto aviso = [&](QDialog& caja) {
        duranteAviso = Avisos(*primero);
        return Pulsar()(caja);
    };
    const auto completar = [&](TControlCursos& d) {
        // A new dialog: the forced exit is offered, the notice is hidden, and what was saved shows.
        QCOMPARE(Avisos(d), (QStringList{"BitBtn2", "Label8"}));
        QCOMPARE(Celda(d, 0, 2) + Celda(d, 0, 3) + Celda(d, 1, 2) + Celda(d, 1, 3),
                 QStringLiteral("ESO1BAT"));
        Escribir(d, 1, 3, "1");
        Pulsar(d, "BitBtn1");
    };
    QVERIFY(Importar(b, {ElegirArchivo(b.centro), EnDialogo(sinUnCurso), aviso, EnDialogo(completar)}));
    QCOMPARE(duranteAviso, (QStringList{"Label2", "Label3"}));
    QCOMPARE(b.prompter.vistos.mid(1, 3), (QStringList{kTitulo, kFalta, kTitulo}));
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
    // Without its remembered answers, so that this run's dialog starts empty.
    QVERIFY(std::filesystem::remove(b.work / "zendral" / "cursos.csv"));
    const auto tablas = [&b] {
        QStringList contenido;
        for (const char* tabla : {"GRUPOST.DBF", "MATIB.DBF", "ASIGT.DBF", "DIASHORAST.DBF"}) {
            contenido << QString::fromStdString(ReadFile(b.work / tabla));
        }
        return contenido;
    };
    const QStringList antes = tablas();

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
    QVERIFY(tablas() == antes);
    // What was typed, pending row included, stays in CURSOST.
    QCOMPARE(b.Columna("CURSOST", "NIVEL"), (QStringList{"PRI", "BAT"}));
}

void ControlCursosTest::cierreConDatosQueFaltan()
{
    Banco b;
    TMForm& f = Ventana(b);
    const auto sinBat = [](TControlCursos& d) {
        Escribir(d, 0, 2, "ESO");
        Escribir(d, 0, 3, "1");
        Pulsar(d, "BitBtn1");
    };
    const auto cerrar = [](TControlCursos& d) { d.close(); };
    QVERIFY(Importar(b, {ElegirArchivo(b.centro), EnDialogo(sinBat), Pulsar(), EnDialogo(cerrar)}));
    // One notice only: closing by the frame checks nothing, and the import goes on.
    QCOMPARE(b.prompter.vistos.count(kFalta), 1);
    QCOMPARE(b.Columna("GRUPOST", "ABREV"), (QStringList{"ES1A", "ES1B", "A"}));
    QVERIFY(f.isVisible());

    // A second import in the same process offers the forced exit from the start, without the notice.
    QStringList avisos;
    QVERIFY(Importar(b, {ElegirArchivo(b.centro), EnDialogo([&](TControlCursos& d) {
                             avisos = Avisos(d);
                             d.close();
                         })}));
    QCOMPARE(avisos, (QStringList{"BitBtn2", "Label8"}));
}

void ControlCursosTest::rejilla()
{
    Banco b;
    TMForm& f = Ventana(b);
    const auto enDialogo = [&](TControlCursos& d) {
        QTableView* grid = Grid(d);
        const auto celda = [grid] {
            return qMakePair(grid->currentIndex().row(), grid->currentIndex().column());
        };
        // Enter moves on as Tab does, from NIVEL to CURSO and on to the next row.
        Escribir(d, 0, 2, "ESOXYZ");
        QCOMPARE(celda(), qMakePair(0, 3));
        Escribir(d, 0, 3, "12345");
        QCOMPARE(celda(), qMakePair(1, 0));
        // The row left was saved; the cell editor held the field's width.
        QCOMPARE(b.Columna("CURSOST", "NIVEL") + b.Columna("CURSOST", "CURSO"),
                 (QStringList{"ESOXY", "", "123", ""}));
        QCOMPARE(Celda(d, 0, 2) + Celda(d, 0, 3), QStringLiteral("ESOXY123"));
        // Enter on a read-only cell moves without editing.
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(celda(), qMakePair(1, 1));
        QTest::keyClick(grid, Qt::Key_Tab);
        QCOMPARE(celda(), qMakePair(1, 2));
        // Read-only columns take no data.
        QVERIFY(!grid->model()->setData(grid->model()->index(1, 0), "X"));
        QCOMPARE(Celda(d, 1, 0), QStringLiteral("C2"));
        // A leading blank is kept as typed; a change not yet saved is saved on leaving the grid.
        Escribir(d, 1, 3, "2");
        Escribir(d, 1, 2, " ES");
        QCOMPARE(b.Columna("CURSOST", "NIVEL").value(1), QString());
        Hijo(d, "BitBtn1")->setFocus(Qt::TabFocusReason);
        QCOMPARE(b.Columna("CURSOST", "NIVEL").value(1), QStringLiteral(" ES"));
        grid->setFocus();
        Pulsar(d, "BitBtn1");
    };
    QVERIFY(Importar(b, {ElegirArchivo(b.centro), EnDialogo(enDialogo)}));
    QCOMPARE(b.Columna("CURSOST", "CURSO"), (QStringList{"123", "2"}));
    QCOMPARE(b.Columna("GRUPOST", "NIVEL"), (QStringList{"ESOXY", "ESOXY", " ES"}));
    QVERIFY(!f.Estado().CursosIncompletos);
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
    Ventana(b);
    const auto enDialogo = [&](TControlCursos& d) {
        QTableView* grid = Grid(d);
        const auto fila = [grid] { return grid->currentIndex().row(); };
        // The grid has the focus: the first record is being edited.
        QCOMPARE(fila(), 0);
        QCOMPARE(Habilitados(d), (QStringList{"Next", "NextPage", "Last", "Post", "Cancel", "Refresh"}));
        Pulsar(d, "wwDBNavigator1Post");
        QCOMPARE(Habilitados(d), (QStringList{"Next", "NextPage", "Last", "Edit", "Refresh"}));
        // Each move, and the row it lands on.
        const std::pair<const char*, int> pasos[] = {{"Next", 1},      {"First", 0},     {"NextPage", 10},
                                                     {"NextPage", 11}, {"PriorPage", 1}, {"Prior", 0},
                                                     {"Last", 11}};
        for (const auto& [boton, destino] : pasos) {
            Pulsar(d, qPrintable(QStringLiteral("wwDBNavigator1") + QLatin1String(boton)));
            QVERIFY2(fila() == destino, boton);
        }
        QCOMPARE(Habilitados(d), (QStringList{"First", "PriorPage", "Prior", "Edit", "Refresh"}));

        // Cancel drops a change not yet saved (the navigator never takes the focus, which would save it
        // first); Post saves one.
        Escribir(d, 1, 2, "MAL");
        Pulsar(d, "wwDBNavigator1Cancel");
        QCOMPARE(Celda(d, 1, 2), QString());
        QVERIFY(!Habilitados(d).contains("Cancel"));
        Pulsar(d, "wwDBNavigator1Edit");
        QVERIFY(Habilitados(d).contains("Post"));
        Escribir(d, 1, 2, "BIEN");
        Pulsar(d, "wwDBNavigator1Post");
        QCOMPARE(b.Columna("CURSOST", "NIVEL").value(1), QStringLiteral("BIEN"));
        // Typing in a cell edits its record at once; Cancel drops the text typed.
        const QModelIndex cuarta = grid->model()->index(4, 2);
        grid->setCurrentIndex(cuarta);
        Pulsar(d, "wwDBNavigator1Post");
        QVERIFY(!Habilitados(d).contains("Post"));
        grid->edit(cuarta);
        QLineEdit* editor = EditorAbierto(grid);
        QVERIFY(editor != nullptr);
        QTest::keyClicks(editor, "X");
        QVERIFY(Habilitados(d).contains("Post"));
        QVERIFY(!Habilitados(d).contains("Edit"));
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
    };
    QVERIFY(Importar(b, {ElegirArchivo(centro), EnDialogo(enDialogo)}));
}

void ControlCursosTest::tablaVacia()
{
    Banco b;
    const auto centro = b.dir.write("vacio.xml", "<CENTRE><CURSOS/></CENTRE>");
    Ventana(b);
    const auto enDialogo = [&](TControlCursos& d) {
        // Entering the empty grid starts a new blank record; cancelling drops it.
        QCOMPARE(Grid(d)->model()->rowCount(), 1);
        QCOMPARE(Habilitados(d), (QStringList{"Post", "Cancel", "Refresh"}));
        Pulsar(d, "wwDBNavigator1Cancel");
        QCOMPARE(Grid(d)->model()->rowCount(), 0);
        QCOMPARE(Habilitados(d), QStringList{"Refresh"});
        d.close();
    };
    QVERIFY(Importar(b, {ElegirArchivo(centro), EnDialogo(enDialogo)}));
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
    std::unique_ptr<test::FalloInyectado> lleno;
    bool cerrado = false;
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([&](TControlCursos& d) {
                                 // The disk is full: the row left cannot be saved.
                                 lleno = std::make_unique<test::FalloInyectado>(
                                     ENOSPC, std::vector<std::string>{"pwrite"});
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
    lleno.reset();
    f.close();
    QCOMPARE(b.Resultado(), std::string("[Transformadores]\r\nTransformado=0\r\n"));
}

void ControlCursosTest::soloConElTeclado()
{
    Banco b;
    Ventana(b);
    // Keys go where the focus is, as a person's do.
    const auto teclas = [](const QString& texto) {
        for (const QChar c : texto) {
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
        }
    };
    const auto tecla = [](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), k, m);
    };
    QStringList foco;
    const auto anotar = [&foco] {
        QWidget* w = QApplication::focusWidget();
        foco << (w == nullptr                ? QStringLiteral("(nada)")
                 : w->objectName().isEmpty() ? "grid"
                                             : w->objectName());
    };
    const auto enDialogo = [&](TControlCursos& d) {
        const QList<QStringList> filas = {{"ESO", "1"}, {"BAT", "2"}};
        for (const QStringList& fila : filas) {
            // From the code to the level, typed, then Tab to the course, typed, then Tab on.
            tecla(Qt::Key_Tab);
            tecla(Qt::Key_Tab);
            teclas(fila[0]);
            tecla(Qt::Key_Tab);
            teclas(fila[1]);
            tecla(Qt::Key_Tab);
        }
        // After the last cell the focus leaves the grid for "Aceptar"; Shift+Tab goes back and
        // Tab out again; Tab once more reaches the navigator.
        anotar();
        tecla(Qt::Key_Backtab, Qt::ShiftModifier);
        anotar();
        tecla(Qt::Key_Tab);
        anotar();
        tecla(Qt::Key_Tab);
        anotar();
        tecla(Qt::Key_Backtab, Qt::ShiftModifier);
        anotar();
        QCOMPARE(Hijo(d, "BitBtn1")->property("text").toString(), QStringLiteral("&Aceptar"));
        QCOMPARE(Hijo(d, "BitBtn2")->property("text").toString().left(7), QStringLiteral("&Forzar"));
        // Enter on the focused button presses it.
        tecla(Qt::Key_Return);
    };
    QVERIFY(Importar(b, {ElegirArchivo(b.centro), EnDialogo(enDialogo)}));
    QCOMPARE(foco, (QStringList{"BitBtn1", "CursosTDBGrid", "BitBtn1", "wwDBNavigator1First", "BitBtn1"}));
    QCOMPARE(b.Columna("CURSOST", "NIVEL"), (QStringList{"ESO", "BAT"}));
    QCOMPARE(b.Columna("CURSOST", "CURSO"), (QStringList{"1", "2"}));
    QCOMPARE(b.Columna("GRUPOST", "ABREV"), (QStringList{"ES1A", "ES1B", "BA2A"}));
}

QTEST_MAIN(ControlCursosTest)
#include "ControlCursosTest.moc"
