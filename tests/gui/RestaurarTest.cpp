// The way back in the desktop program: the context menu's restore dialog (with what the copy
// would change), the question after a failed import, the notice of a run that did not end, the
// check of a document before importing it, and none of it when Velorin started the tool.
#include "Restaurar.h"

#include "Banco.h"
#include "Copias.h"
#include "Corte.h"
#include "Cursos.h"
#include "MainForm.h"
#include "System.h"
#include "VentanaComprobacion.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <cerrno>
#include <map>

using namespace zendral;
using namespace zendral::test;

namespace
{

namespace fs = std::filesystem;

const QString kVolver = QStringLiteral("Zendral|¿Quiere volver a las tablas de antes de esta importación?");

std::map<std::string, std::string> Tablas(const fs::path& dir)
{
    std::map<std::string, std::string> t;
    for (const auto& archivo : copias::Archivos()) {
        if (fs::exists(dir / archivo)) {
            t[archivo] = ReadFile(dir / archivo);
        }
    }
    return t;
}

GuiPrompter::Respuesta Rellenar()
{
    return EnDialogo([](TControlCursos& d) {
        Escribir(d, 0, ModeloCursos::kNivel, QStringLiteral("ESO"));
        Escribir(d, 0, ModeloCursos::kCurso, QStringLiteral("1"));
        Escribir(d, 1, ModeloCursos::kNivel, QStringLiteral("BAT"));
        Escribir(d, 1, ModeloCursos::kCurso, QStringLiteral("1"));
        Pulsar(d, "BitBtn1");
    });
}

// A whole centre import started by hand: file, courses, lines, the end.
void Importar(Banco& b, TMForm& f)
{
    b.prompter.respuestas = {ElegirArchivo(b.centro), Rellenar(), Pulsar(), Pulsar()};
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
}

// The same centre with other names: every table but DIASHORAST changes.
void OtroCentro(Banco& b)
{
    std::string texto = kCentro;
    for (std::size_t at = 0; (at = texto.find("descripcio=\"", at)) != std::string::npos; at += 12) {
        texto.insert(at + 12, "Nou ");
    }
    b.dir.write("VTEMP/saga/centre.xml", texto);
}

} // namespace

class RestaurarTest : public QObject
{
    Q_OBJECT
private slots:
    void restaurarDesdeElMenu();
    void errorOfreceVolver();
    void avisoDeProcesoInterrumpido();
    void anfitrionNoVeNadaNuevo();
    void comprobarUnDocumento();
};

void RestaurarTest::restaurarDesdeElMenu()
{
    Banco b;
    TMForm& f = b.Crear();
    Importar(b, f);
    const auto antes = Tablas(b.work);
    OtroCentro(b);
    Importar(b, f);
    QVERIFY(Tablas(b.work) != antes);

    // The context menu holds the one action; the dialog lists the copy, newest first.
    QCOMPARE(f.contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(f.actions().size(), 2);
    QAction* accion = f.actions().front();
    QCOMPARE(accion->text(), QStringLiteral("Restaurar tablas anteriores…"));
    int copias = 0;
    QString cambios;
    QStringList primera;
    QString cancelar;
    bool legible = false;
    int ancho = 0;
    b.prompter.vistos.clear();
    b.prompter.respuestas = {
        [&](QDialog& d) -> int {
            copias = dynamic_cast<DialogoRestaurar&>(d).Copias();
            cambios = d.findChild<QPlainTextEdit*>(QStringLiteral("CambiosCopia"))->toPlainText();
            auto* tabla = d.findChild<QTableWidget*>(QStringLiteral("ListaCopias"));
            for (int c = 0; c < tabla->columnCount(); ++c) {
                primera << tabla->horizontalHeaderItem(c)->text() + "=" + tabla->item(0, c)->text();
            }
            // At its default size every column shows whole (no horizontal scrolling) where the
            // screen is as wide as a small laptop's, 1366 pixels; the offscreen one is narrower.
            d.show();
            QCoreApplication::processEvents();
            ancho = tabla->horizontalHeader()->length();
            legible = d.screen()->availableGeometry().width() < 1366 ||
                      (tabla->horizontalScrollBar()->maximum() == 0 && ancho <= tabla->viewport()->width());
            d.hide();
            cancelar = d.findChild<QPushButton*>(QStringLiteral("BCancelar"))->text();
            d.findChild<QPushButton*>(QStringLiteral("BRestaurar"))->click();
            return d.result();
        },
        Pulsar()};
    accion->trigger();
    QVERIFY(b.prompter.respuestas.empty());
    // The copies before each import: the second (the first centre's tables) and the first (none).
    QCOMPARE(copias, 2);
    // Date, what it was taken before, the document, then the records of each table.
    QCOMPARE(primera.size(), 3 + 8);
    QVERIFY2(primera[0].startsWith(QStringLiteral("Fecha=")), qPrintable(primera.join(" | ")));
    QCOMPARE(primera[1], QStringLiteral("Copia tomada=antes de importar centre.xml"));
    QCOMPARE(primera[2], QStringLiteral("Documento=centre.xml"));
    QCOMPARE(primera.mid(3, 2), (QStringList{"ASIGNOMT=2", "PROFT=1"}));
    // Under the list, before anything is confirmed: the other centre's names go back.
    QVERIFY2(cambios.startsWith(QStringLiteral("ASIGNOMT: 2 cambiados\nPROFT: 1 cambiado\n")),
             qPrintable(cambios));
    QVERIFY(legible);
    QVERIFY2(ancho < 1300, qPrintable(QString::number(ancho)));
    QCOMPARE(cancelar, QStringLiteral("Cancelar"));
    QCOMPARE(b.prompter.vistos.size(), 2);
    QCOMPARE(b.prompter.vistos[0], QStringLiteral("Restaurar tablas anteriores"));
    QVERIFY2(b.prompter.vistos[1].contains(QStringLiteral("Se han restaurado las tablas")),
             qPrintable(b.prompter.vistos[1]));
    QVERIFY(Tablas(b.work) == antes);

    // A double-click asks first: "No" keeps the dialog open, "Sí" restores that copy. F1 asks for
    // the copies topic.
    OtroCentro(b);
    Importar(b, f);
    const auto otras = Tablas(b.work);
    b.prompter.vistos.clear();
    b.prompter.respuestas = {[&](QDialog& d) -> int {
                                 d.show();
                                 if (!QTest::qWaitForWindowActive(&d)) {
                                     return QDialog::Rejected;
                                 }
                                 QTest::keyClick(&d, Qt::Key_F1);
                                 auto* tabla = d.findChild<QTableWidget*>(QStringLiteral("ListaCopias"));
                                 emit tabla->cellDoubleClicked(2, 1);
                                 if (d.result() == QDialog::Accepted) {
                                     return QDialog::Rejected;
                                 }
                                 emit tabla->cellDoubleClicked(2, 1);
                                 return d.result();
                             },
                             [](QDialog& d) {
                                 // The question asks for the copies topic too.
                                 d.show();
                                 QApplication::setActiveWindow(&d);
                                 if (QTest::qWaitForWindowActive(&d)) {
                                     QTest::keyClick(&d, Qt::Key_F1);
                                 }
                                 d.hide();
                                 return Pulsar(QMessageBox::No)(d);
                             },
                             Pulsar(QMessageBox::Yes), Pulsar()};
    accion->trigger();
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.ayuda.peticiones, (QStringList{"contexto:55", "contexto:55"}));
    QCOMPARE(b.prompter.vistos.size(), 4);
    QVERIFY2(b.prompter.vistos[1].contains(QStringLiteral("¿Quiere restaurar las tablas de la copia del")),
             qPrintable(b.prompter.vistos[1]));
    // The third row: the copy taken before the second import, the first import's tables.
    QVERIFY2(b.prompter.vistos[1].contains(QStringLiteral("(antes de importar centre.xml)?")),
             qPrintable(b.prompter.vistos[1]));
    QVERIFY(Tablas(b.work) != otras);
    QVERIFY(Tablas(b.work) == antes);

    // Cancelar changes nothing.
    const auto ahora = Tablas(b.work);
    b.prompter.respuestas = {[](QDialog& d) -> int {
        d.findChild<QPushButton*>(QStringLiteral("BCancelar"))->click();
        return d.result();
    }};
    accion->trigger();
    QVERIFY(b.prompter.respuestas.empty());
    QVERIFY(Tablas(b.work) == ahora);
    QCOMPARE(copias::Listar(b.work).size(), std::size_t{5});
}

void RestaurarTest::errorOfreceVolver()
{
    Banco b;
    TMForm& f = b.Crear();
    Importar(b, f);
    const auto antes = Tablas(b.work);
    OtroCentro(b);
    // PROFT cannot be put in place: ASIGNOMT was already replaced, and goes back by itself; nothing
    // is asked.
    b.prompter.vistos.clear();
    b.prompter.respuestas = {ElegirArchivo(b.centro), Pulsar()};
    {
        FalloInyectado fallo(EIO, {"rename"}, 1, 1);
        fallo.SoloPara(b.work / "PROFT.DBF");
        f.BExportarClick();
    }
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.vistos.size(), 2);
    QVERIFY2(b.prompter.vistos[1].contains(QStringLiteral("PROFT")), qPrintable(b.prompter.vistos[1]));
    QVERIFY2(b.prompter.vistos[1].contains(QStringLiteral("Se han vuelto a poner las tablas")),
             qPrintable(b.prompter.vistos[1]));
    QVERIFY(Tablas(b.work) == antes);

    // When putting them back fails too, the way back is offered; answered "No", the tables stay
    // as the failed run left them, and the marker points at the restore.
    b.prompter.vistos.clear();
    b.prompter.respuestas = {ElegirArchivo(b.centro), Pulsar(), Pulsar(QMessageBox::No)};
    {
        FalloInyectado fallo(EIO, {"rename"});
        fallo.SoloPara(b.work / "PROFT.DBF");
        f.BExportarClick();
    }
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.vistos.size(), 3);
    QVERIFY2(b.prompter.vistos[1].contains(QStringLiteral("Tampoco se han podido")),
             qPrintable(b.prompter.vistos[1]));
    QCOMPARE(b.prompter.vistos[2], kVolver);
    QVERIFY(copias::AvisoInterrumpido(b.work).has_value());
    copias::Restaurar(b.work, "");
    QVERIFY(Tablas(b.work) == antes);

    // An error before anything changed (a held table) asks nothing.
    b.prompter.vistos.clear();
    const int fd = sys::Open(b.work / "AULAT.DBF", sys::OpenMode::ReadWrite);
    QCOMPARE(sys::Lock(fd, false), 0);
    b.prompter.respuestas = {ElegirArchivo(b.centro), Pulsar()};
    f.BExportarClick();
    sys::Close(fd);
    QCOMPARE(b.prompter.vistos.size(), 2);
    QCOMPARE(b.prompter.vistos[1], QStringLiteral("Zendral|La tabla AULAT está en uso por otro programa"));
}

void RestaurarTest::avisoDeProcesoInterrumpido()
{
    Banco b;
    {
        TMForm& f = b.Crear();
        Importar(b, f);
    }
    const auto antes = Tablas(b.work);
    OtroCentro(b);
    {
        // A run killed half-way: ASIGNOMT replaced, the marker left behind.
        TMForm& f = b.Crear();
        b.prompter.respuestas = {ElegirArchivo(b.centro), Pulsar()};
        FalloInyectado fallo(EIO, {"rename"}, 1, 1);
        fallo.SoloPara(b.work / "PROFT.DBF");
        f.BExportarClick();
    }
    b.dir.write("VTEMP/zendral/proceso-en-curso.txt", "proceso=importación\ninicio=10/12/2026 03:00:00\n");
    QVERIFY(copias::AvisoInterrumpido(b.work).has_value());

    // Started by hand: told once, at the first showing, with the way back.
    b.prompter.vistos.clear();
    TMForm& f = b.Crear();
    b.prompter.respuestas = {Pulsar(QMessageBox::Yes),
                             [](QDialog& d) -> int {
                                 d.findChild<QPushButton*>(QStringLiteral("BRestaurar"))->click();
                                 return d.result();
                             },
                             Pulsar()};
    f.show();
    QTRY_VERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.vistos.size(), 3);
    QVERIFY2(b.prompter.vistos[0].contains(QStringLiteral("no terminó")), qPrintable(b.prompter.vistos[0]));
    QVERIFY2(b.prompter.vistos[0].contains(QStringLiteral("10/12/2026 03:00:00")),
             qPrintable(b.prompter.vistos[0]));
    QVERIFY(Tablas(b.work) == antes);
    QVERIFY(!copias::AvisoInterrumpido(b.work).has_value());
    f.hide();
    f.show();
    QTest::qWait(20);
    QCOMPARE(b.prompter.vistos.size(), 3);
    QCOMPARE(b.prompter.sinRespuesta, 0);
}

void RestaurarTest::anfitrionNoVeNadaNuevo()
{
    Banco b;
    {
        TMForm& f = b.Crear();
        Importar(b, f);
    }
    OtroCentro(b);
    b.dir.write("VTEMP/zendral/proceso-en-curso.txt", "proceso=importación\n");
    b.prompter.vistos.clear();
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    QVERIFY(f.actions().isEmpty());
    QVERIFY(f.contextMenuPolicy() != Qt::ActionsContextMenu);
    // A failed run after the copy: the error box, and nothing more; the window stays open and the
    // result code keeps its value.
    b.prompter.respuestas = {ElegirArchivo(b.centro), Pulsar()};
    {
        FalloInyectado fallo(EIO, {"rename"}, 1, 1);
        fallo.SoloPara(b.work / "PROFT.DBF");
        f.show();
        QTRY_VERIFY(b.prompter.respuestas.empty());
        QTest::qWait(20);
    }
    QCOMPARE(b.prompter.vistos.size(), 2);
    QCOMPARE(b.prompter.vistos[0], QStringLiteral("Archivo XML"));
    QVERIFY(b.prompter.vistos[1].contains(QStringLiteral("PROFT")));
    QCOMPARE(b.prompter.sinRespuesta, 0);
    QVERIFY(f.isVisible());
    f.close();
    QCOMPARE(b.Resultado(), std::string("[Transformadores]\r\nTransformado=0\r\n"));
}

// Started by hand: the document, the level/course dialog filled from the remembered answers, the
// line question, then the window with the warnings and the changes; F1 asks for its topic, and no
// file of the working directory changes.
void RestaurarTest::comprobarUnDocumento()
{
    Banco b;
    TMForm& f = b.Crear();
    Importar(b, f);
    std::string texto = kCentro;
    texto.insert(texto.find("<PLACA codi=\"P1\""), "<PLACA codi=\"P0\" descripcio=\"Nou\" curta=\"MSP\"/>");
    const fs::path otro = b.dir.write("VTEMP/saga/otro.xml", texto);
    std::map<std::string, std::string> antes;
    for (const auto& e : fs::recursive_directory_iterator(b.work)) {
        antes[e.path().string()] = e.is_regular_file() ? ReadFile(e.path()) : "";
    }

    QAction* accion = f.findChild<QAction*>(QStringLiteral("AccionComprobar"));
    QVERIFY(accion != nullptr);
    QCOMPARE(accion->text(), QStringLiteral("Comprobar un documento…"));
    QString mostrado;
    b.prompter.respuestas = {ElegirArchivo(otro), EnDialogo([](TControlCursos& d) { Pulsar(d, "BitBtn1"); }),
                             Pulsar(), [&](QDialog& d) -> int {
                                 mostrado = dynamic_cast<VentanaComprobacion&>(d).Texto();
                                 d.show();
                                 if (QTest::qWaitForWindowActive(&d)) {
                                     QTest::keyClick(&d, Qt::Key_F1);
                                 }
                                 d.findChild<QPushButton*>(QStringLiteral("BCerrar"))->click();
                                 return d.result();
                             }};
    accion->trigger();
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.sinRespuesta, 0);
    QCOMPARE(b.ayuda.peticiones, QStringList{"contexto:15"});
    QVERIFY2(
        mostrado.startsWith(QStringLiteral("Si importa otro.xml: 2 avisos; cambiarían 1 de las 8 tablas.")),
        qPrintable(mostrado));
    QVERIFY2(mostrado.contains(
                 QStringLiteral("\nAbreviaturas cambiadas (1):\n  - PROFT.ABREV, PLACA P1 (Sureda Pons, "
                                "Maria), «MSP»: pasa a ser «P1», y «MSP» es ahora de PLACA P0 (Nou)")),
             qPrintable(mostrado));
    QVERIFY2(mostrado.contains(QStringLiteral("\n  PROFT: 1 abreviatura cambiada, 1 nuevo\n")),
             qPrintable(mostrado));
    std::map<std::string, std::string> despues;
    for (const auto& e : fs::recursive_directory_iterator(b.work)) {
        despues[e.path().string()] = e.is_regular_file() ? ReadFile(e.path()) : "";
    }
    QVERIFY(despues == antes);
}

QTEST_MAIN(RestaurarTest)
#include "RestaurarTest.moc"
