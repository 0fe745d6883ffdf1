#include "MainForm.h"

#include "Ayuda.h"
#include "Banco.h"
#include "Copias.h"
#include "Cursos.h"
#include "Error.h"
#include "HtmlHelpEngine.h"
#include "Importacion.h"
#include "LineaOrdenes.h"
#include "Mensajes.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "VelorinSim.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QWindow>
#include <sstream>

using namespace zendral;
using namespace zendral::test;

namespace
{

// Velorin.ini holding the result code `codigo`.
std::string Ini(int codigo) { return "[Transformadores]\r\nTransformado=" + std::to_string(codigo) + "\r\n"; }
const QString kArchivo = QStringLiteral("Archivo XML");
const QString kCursos = QStringLiteral("Asignación de Niveles y Cursos");
const QString kFinalizado = QStringLiteral("Zendral|Proceso finalizado");
const QString kLineas = QString::fromUtf8(msg::kTituloLineas) + "|" + QString::fromUtf8(msg::kPreguntaLineas);
// The windows of a complete centre import: the file, the courses, the line-creation question, the end.
const QStringList kImportacion = {kArchivo, kCursos, kLineas, kFinalizado};

// The level/course dialog: each row's level and course number typed in, then OK.
GuiPrompter::Respuesta Rellenar(const QList<QStringList>& filas)
{
    return EnDialogo([filas](TControlCursos& d) {
        for (int fila = 0; fila < filas.size(); ++fila) {
            Escribir(d, fila, ModeloCursos::kNivel, filas[fila][0]);
            Escribir(d, fila, ModeloCursos::kCurso, filas[fila][1]);
        }
        Pulsar(d, "BitBtn1");
    });
}

// Answers each window a run is expected to show: the centre document when the level/course dialog
// follows (otherwise the file dialog is cancelled), every course filled in, OK to every message.
void Responder(Banco& b, const QStringList& ventanas)
{
    for (const QString& ventana : ventanas) {
        if (ventana == kArchivo) {
            b.prompter.respuestas.push_back(ventanas.contains(kCursos) ? ElegirArchivo(b.centro)
                                                                       : CancelarArchivo());
        } else if (ventana == kCursos) {
            b.prompter.respuestas.push_back(Rellenar({{"ESO", "1"}, {"BAT", "1"}}));
        } else {
            b.prompter.respuestas.push_back(Pulsar());
        }
    }
}

// Shows the window and lets the run that the command line names go to its end.
void MostrarVentana(TMForm& form)
{
    form.show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// The tables the timetable export reads: a centre import, then Velorin's days and hours and
// solved timetable from the stand-in.
void PrepararHorario(Banco& b)
{
    EstadoProceso estado;
    test::ScriptedPrompter guion;
    guion.archivo = b.centro;
    guion.dialogos = {test::Mostrar{{{"ESO", "1"}, {"BAT", "1"}}, test::Mostrar::Fin::Aceptar}};
    QCOMPARE(Importacion(estado, guion, b.work).BExportarClick(), FinRun::Completado);
    std::ostringstream out, err;
    QCOMPARE(host::EjecutarVelorinSim({"diashoras", "--dir", b.work.string()}, out, err, b.work), 0);
    QCOMPARE(host::EjecutarVelorinSim({"soluc", "--dir", b.work.string()}, out, err, b.work), 0);
}

bool EsOffscreen() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

// Borderless and placed in `ventana`. The offscreen platform has no foreign windows, so there the
// window only records which one it was asked for; the end-to-end test checks the real placing.
bool Incrustada(TMForm& form, quintptr ventana)
{
    if (!(form.windowFlags() & Qt::FramelessWindowHint) || form.VentanaAnfitrion() != ventana) {
        return false;
    }
    if (form.Anfitrion() == nullptr) {
        return EsOffscreen();
    }
    return form.windowHandle()->parent() == form.Anfitrion() && form.Anfitrion()->winId() == ventana;
}

} // namespace

class MainFormTest : public QObject
{
    Q_OBJECT

private slots:
    void ventanaPrincipal();
    void ayuda();
    void ayudaLlegaAlVisor();
    void manejadorHexadecimal_data();
    void manejadorHexadecimal();
    void lineaDeOrdenes_data();
    void lineaDeOrdenes();
    void anfitrionSinVentana();
    void importarDesdeElAnfitrion();
    void dosImportacionesConLaSegundaCancelada();
    void errorEnElProceso_data();
    void errorEnElProceso();
    void resultadoQueNoSePuedeEscribir();
    void mensajesYPreguntaDeLineas();
    void detallesDelMensajeFinal();
    void nivelesRecordadosEnElDialogo();
    void sinMemoriaSoloAMano();
};

void MainFormTest::ventanaPrincipal()
{
    Banco b;
    TMForm& f = b.Crear();
    // Fixed size, no minimise or maximise box, centred on the screen.
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QVERIFY(!(f.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
    QVERIFY(f.windowFlags() & Qt::WindowCloseButtonHint);
    const QPoint desvio = f.geometry().center() - f.screen()->availableGeometry().center();
    QVERIFY(qAbs(desvio.x()) <= 1);
    QVERIFY(qAbs(desvio.y()) <= 1);

    // The gradient is painted: top and bottom rows of the bottom panel.
    const QImage imagen = f.findChild<QWidget*>(QStringLiteral("PanelInferior"))->grab().toImage();
    QCOMPARE(QColor(imagen.pixel(300, 0)), QColor(0xC2CDFE));
    QCOMPARE(QColor(imagen.pixel(300, imagen.height() - 1)).rgb() & 0xF0F0F0,
             QColor(0xCCD8E6).rgb() & 0xF0F0F0);

    for (const char* nombre : {"LabelExportar", "LabelPie"}) {
        // Whatever the font machinery substitutes must look like Arial: Arial itself or Liberation Sans.
        const QString real = QFontInfo(f.findChild<QLabel*>(QString::fromLatin1(nombre))->font()).family();
        QVERIFY2(real.contains(QStringLiteral("Arial")) || real.contains(QStringLiteral("Liberation Sans")),
                 qPrintable(real));
    }
    // The file dialog opens in the working directory's saga folder.
    auto* dialogo = f.findChild<QFileDialog*>(QStringLiteral("OpenDialogXML"));
    QVERIFY(dialogo != nullptr);
    QCOMPARE(std::filesystem::path(dialogo->directory().absolutePath().toStdString()), b.work / "saga");
}

void MainFormTest::ayuda()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    // F1 on a button of the window asks for context 1, as on the window itself; the help button names
    // the help file and asks for its contents. Neither starts a run.
    auto* exportar = f.findChild<QWidget*>(QStringLiteral("BExportar"));
    exportar->setFocus();
    QTest::keyClick(exportar, Qt::Key_F1);
    QTest::mouseClick(f.findChild<QWidget*>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(b.ayuda.peticiones, (QStringList{"contexto:1", "archivo:GestIB.chm", "contenido"}));
    QVERIFY(b.prompter.vistos.isEmpty());

    // Every window of an import asks for its own topic: the file dialog the import's, the
    // level/course dialog the courses', the line question the lines', the closing box the
    // messages'.
    const auto conF1 = [](GuiPrompter::Respuesta respuesta) -> GuiPrompter::Respuesta {
        return [respuesta](QDialog& d) {
            d.show();
            QApplication::setActiveWindow(&d);
            if (QTest::qWaitForWindowActive(&d)) {
                QWidget* foco = QApplication::focusWidget();
                QTest::keyClick(foco != nullptr && foco->window() == &d ? foco : &d, Qt::Key_F1);
            }
            d.hide();
            return respuesta(d);
        };
    };
    b.ayuda.peticiones.clear();
    b.prompter.respuestas = {conF1(ElegirArchivo(b.centro)), EnDialogo([](TControlCursos& d) {
                                 QApplication::setActiveWindow(&d);
                                 QTest::keyClick(d.findChild<QTableView*>(QStringLiteral("CursosTDBGrid")),
                                                 Qt::Key_F1);
                                 Escribir(d, 0, ModeloCursos::kNivel, QStringLiteral("ESO"));
                                 Escribir(d, 0, ModeloCursos::kCurso, QStringLiteral("1"));
                                 Escribir(d, 1, ModeloCursos::kNivel, QStringLiteral("BAT"));
                                 Escribir(d, 1, ModeloCursos::kCurso, QStringLiteral("1"));
                                 Pulsar(d, "BitBtn1");
                             }),
                             conF1(Pulsar()), conF1(Pulsar())};
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.ayuda.peticiones, (QStringList{"contexto:10", "contexto:20", "contexto:30", "contexto:60"}));
}

// The help engine's calls, kept for the test to look at.
class MotorRegistrado final : public help::HtmlHelpEngine
{
public:
    explicit MotorRegistrado(std::vector<help::HtmlHelpCall>& llamadas)
        : m_llamadas(llamadas)
    {
    }
    void HtmlHelp(const help::HtmlHelpCall& llamada) override { m_llamadas.push_back(llamada); }

private:
    std::vector<help::HtmlHelpCall>& m_llamadas;
};

void MainFormTest::ayudaLlegaAlVisor()
{
    // The program's own wiring: F1 and the help button reach the help engine with GestIB.chm
    // beside the executable.
    std::vector<help::HtmlHelpCall> llamadas;
    help::Ayuda ayuda(*qApp, std::make_unique<MotorRegistrado>(llamadas));
    ayuda.EstablecerArchivo(QString::fromLatin1(kArchivoAyuda));
    Banco b;
    TMForm f({}, b.prompter, ayuda, b.work, b.ini);
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QTest::keyClick(&f, Qt::Key_F1);
    QTest::mouseClick(f.findChild<QWidget*>(QStringLiteral("Button1")), Qt::LeftButton);

    const QString chm = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("GestIB.chm"));
    QCOMPARE(llamadas.size(), size_t(2));
    QCOMPARE(llamadas[0].command, help::kHhHelpContext);
    QCOMPARE(llamadas[0].file.value_or(QString()), chm);
    QCOMPARE(std::get<quintptr>(llamadas[0].data), quintptr(1));
    QCOMPARE(llamadas[1].command, help::kHhDisplayToc);
    QCOMPARE(llamadas[1].file.value_or(QString()), chm);
    QVERIFY(b.prompter.vistos.isEmpty());
}

void MainFormTest::manejadorHexadecimal_data()
{
    QTest::addColumn<QString>("texto");
    QTest::addColumn<qint64>("valor"); // -1: not a number
    QTest::newRow("mayusculas") << "1F2E" << qint64(0x1F2E);
    QTest::newRow("minusculas") << "1f2e" << qint64(0x1F2E);
    QTest::newRow("ceros delante") << "0000000000ab" << qint64(0xAB);
    QTest::newRow("cero") << "0" << qint64(0);
    QTest::newRow("32 bits") << "FFFFFFFF" << qint64(0xFFFFFFFF);
    QTest::newRow("demasiado grande") << "100000000" << qint64(-1);
    QTest::newRow("vacio") << "" << qint64(-1);
    QTest::newRow("prefijo 0x") << "0x1F" << qint64(-1);
    QTest::newRow("dolar") << "$1F" << qint64(-1);
    QTest::newRow("signo") << "-1" << qint64(-1);
    QTest::newRow("blanco delante") << " 1F" << qint64(-1);
    QTest::newRow("blanco detras") << "1F " << qint64(-1);
    QTest::newRow("letra no hexadecimal") << "1G" << qint64(-1);
    QTest::newRow("digito arabe") << QString::fromUtf8("1\xD9\xA3") << qint64(-1);
}

void MainFormTest::manejadorHexadecimal()
{
    QFETCH(QString, texto);
    QFETCH(qint64, valor);
    const auto leido = LeerManejadorHex(texto);
    QCOMPARE(leido.has_value(), valor >= 0);
    if (leido) {
        QCOMPARE(qint64(*leido), valor);
    }
}

void MainFormTest::lineaDeOrdenes_data()
{
    QTest::addColumn<QStringList>("argumentos");
    QTest::addColumn<qlonglong>("ventana");     // the host's window; -1: started by hand
    QTest::addColumn<QStringList>("alCrear");   // the windows shown as the main window is created
    QTest::addColumn<QStringList>("alMostrar"); // and once it is shown
    QTest::addColumn<int>("codigo");            // the result code Velorin.ini gets, from the host only
    const QStringList nada;
    QTest::newRow("ninguno") << QStringList{} << -1ll << nada << nada << 0;
    QTest::newRow("uno") << QStringList{"exportar"} << -1ll << nada << nada << 0;
    QTest::newRow("tres") << QStringList{"exportar", "1F2E", "x"} << -1ll << nada << nada << 0;
    // The handle is no number: that is said at once, and the named run still starts on show.
    QTest::newRow("manejador no hexadecimal")
        << QStringList{"exportar", "1G"} << -1ll << QStringList{"Zendral|'$1G' no es un valor entero válido"}
        << QStringList{kArchivo, "Zendral|No existe archivo"} << 0;
    QTest::newRow("exportar en mayusculas")
        << QStringList{"EXPORTAR", "1F2E"} << 0x1F2Ell << nada << kImportacion << 1;
    QTest::newRow("exportar sin archivo") << QStringList{"exportar", "00ab"} << 0xABll << nada
                                          << QStringList{kArchivo, "Zendral|No existe archivo"} << -1;
    QTest::newRow("otra orden") << QStringList{"ver", "1F2E"} << 0x1F2Ell << nada << nada << 0;
}

void MainFormTest::lineaDeOrdenes()
{
    QFETCH(QStringList, argumentos);
    QFETCH(qlonglong, ventana);
    QFETCH(QStringList, alCrear);
    QFETCH(QStringList, alMostrar);
    QFETCH(int, codigo);
    // Where the platform has real windows (Windows) the host is a real one, whose handle stands
    // for the row's; it outlives the tool, whose window becomes its child.
    QWidget anfitrionReal;
    if (ventana >= 0 && !EsOffscreen()) {
        ventana = qlonglong(anfitrionReal.winId());
        argumentos[1] = QString::number(ventana, 16).toUpper();
    }
    Banco b;
    Responder(b, alCrear + alMostrar);
    TMForm& f = b.Crear(argumentos);
    QCOMPARE(b.prompter.vistos, alCrear);
    const bool anfitrion = ventana >= 0;
    QCOMPARE(f.Estado().lanzadoPorHost, anfitrion ? 2 : 0);
    if (anfitrion) {
        QVERIFY(Incrustada(f, quintptr(ventana)));
    } else {
        QVERIFY(!f.VentanaAnfitrion());
        QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
    }
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos, alCrear + alMostrar);
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.Existe("ASIGNOMT.DBF"), alMostrar.contains(kCursos));
    // A run from the host closes the window at its end; otherwise it stays open until closed.
    QCOMPARE(f.isVisible(), !anfitrion || alMostrar.isEmpty());
    if (f.isVisible()) {
        f.close();
    }
    QCOMPARE(b.Resultado(), anfitrion ? Ini(codigo) : std::string("(ninguno)"));
}

void MainFormTest::anfitrionSinVentana()
{
    // A handle that names no window (the host's closed meanwhile): the tool is a borderless
    // window of its own, seen on the screen, not the child of nothing; the run and its result
    // code go on as the host expects.
    Banco b;
    TMForm& f = b.Crear({QStringLiteral("ver"), QStringLiteral("1F2E")});
    QCOMPARE(f.Estado().lanzadoPorHost, 2);
    QCOMPARE(f.VentanaAnfitrion().value_or(0), quintptr(0x1F2E));
    QVERIFY(f.Anfitrion() == nullptr);
    MostrarVentana(f);
    QVERIFY(f.isVisible());
    QVERIFY(f.windowHandle()->parent() == nullptr);
    f.close();
    QCOMPARE(b.Resultado(), Ini(0));
}

void MainFormTest::importarDesdeElAnfitrion()
{
    Banco b;
    PrepararHorario(b);
    if (QTest::currentTestFailed()) {
        return;
    }
    TMForm& f = b.Crear({QStringLiteral("Importar"), QStringLiteral("1F2E")});
    b.prompter.respuestas = {ElegirArchivo(b.centro), Pulsar()};
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos, (QStringList{kArchivo, kFinalizado}));
    QVERIFY(!f.isVisible());
    QCOMPARE(b.Resultado(), Ini(1));
    const std::string horario = ReadFile(b.work / "saga" / "SolucioHorari.xml");
    QVERIFY(horario.rfind("<HORARI><SESSIONS><SESSIO ", 0) == 0);
    // The busy cursor was off while each window waited for the user, and is off afterwards.
    QVERIFY(!b.prompter.cursorDuranteVentana.contains(true));
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void MainFormTest::dosImportacionesConLaSegundaCancelada()
{
    Banco b;
    TMForm& f = b.Crear();
    MostrarVentana(f);
    // While the level/course dialog is open the window shows the step, with the busy cursor off.
    QString etapa;
    auto* etiqueta = f.findChild<QLabel*>(QStringLiteral("LabelEtapa"));
    b.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([&etapa, etiqueta](TControlCursos& d) {
                                 etapa = etiqueta->isVisibleTo(etiqueta->window()) ? etiqueta->text() : "";
                                 Escribir(d, 0, ModeloCursos::kNivel, QStringLiteral("ESO"));
                                 Escribir(d, 0, ModeloCursos::kCurso, QStringLiteral("1"));
                                 Escribir(d, 1, ModeloCursos::kNivel, QStringLiteral("BAT"));
                                 Escribir(d, 1, ModeloCursos::kCurso, QStringLiteral("1"));
                                 Pulsar(d, "BitBtn1");
                             }),
                             Pulsar(), Pulsar()};
    // Enter on the focused button starts the run, as a click does.
    auto* exportar = f.findChild<QPushButton*>(QStringLiteral("BExportar"));
    exportar->setFocus();
    QTest::keyClick(exportar, Qt::Key_Return);
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.vistos, kImportacion);
    QCOMPARE(etapa, QStringLiteral("En curso: 4 de 7: Niveles y cursos (CURSOST)"));
    QVERIFY(!etiqueta->isVisibleTo(&f));
    QVERIFY(QApplication::overrideCursor() == nullptr);

    // Started by hand, the second run with its dialog cancelled converts nothing: no table, no
    // copy, only "No existe archivo".
    const auto grupos = ReadFile(b.work / "GRUPOST.DBF");
    const auto copiasAntes = copias::Listar(b.work).size();
    b.prompter.vistos.clear();
    // The file dialog opens centred over the window.
    QPoint centro;
    b.prompter.respuestas = {[&centro](QDialog& d) {
                                 centro = QRect(d.pos(), d.size()).center();
                                 return CancelarArchivo()(d);
                             },
                             Pulsar()};
    f.BExportarClick();
    QVERIFY2((centro - f.geometry().center()).manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2").arg(centro.x()).arg(centro.y())));
    QCOMPARE(b.prompter.vistos, (QStringList{kArchivo, "Zendral|No existe archivo"}));
    QCOMPARE(ReadFile(b.work / "GRUPOST.DBF"), grupos);
    QCOMPARE(copias::Listar(b.work).size(), copiasAntes);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(f.isVisible());
}

void MainFormTest::errorEnElProceso_data()
{
    QTest::addColumn<QByteArray>("documento");
    QTest::addColumn<bool>("sinTrabajo");
    QTest::addColumn<QStringList>("enElMensaje");
    // The working directory is gone: the run says so before any stage.
    QTest::newRow("sin directorio de trabajo")
        << QByteArray(kCentro) << true << QStringList{"No existe el directorio de trabajo", "VTEMP"};
    // The document's error is told with its file and line.
    QTest::newRow("documento mal formado")
        << QByteArray("<CENTRE>\n<CURSOS>\n</CENTRE>\n") << false << QStringList{"documento.xml", "línea 3"};
}

void MainFormTest::errorEnElProceso()
{
    QFETCH(QByteArray, documento);
    QFETCH(bool, sinTrabajo);
    QFETCH(QStringList, enElMensaje);
    Banco b;
    const auto archivo = b.dir.write("documento.xml", documento.toStdString());
    if (sinTrabajo) {
        std::filesystem::remove_all(b.work);
    }
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    b.prompter.respuestas = {ElegirArchivo(archivo), Pulsar()};
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos.size(), 2);
    const QString error = b.prompter.vistos[1];
    QVERIFY2(error.startsWith("Zendral|"), qPrintable(error));
    for (const QString& parte : enElMensaje) {
        QVERIFY2(error.contains(parte), qPrintable(error));
    }
    // The run ends there, having converted nothing: the window stays open even for the host, and
    // the cursor is back.
    QVERIFY(!b.Existe("ASIGNOMT.DBF"));
    QVERIFY(f.isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    f.close();
    QCOMPARE(b.Resultado(), Ini(0));
}

void MainFormTest::resultadoQueNoSePuedeEscribir()
{
    Banco b;
    b.ini = b.dir / "no-existe" / "Velorin.ini";
    TMForm& f = b.Crear({QStringLiteral("otra"), QStringLiteral("1F2E")});
    b.prompter.respuestas = {Pulsar()};
    f.close();
    QCOMPARE(b.prompter.vistos.size(), 1);
    QVERIFY2(b.prompter.vistos[0].startsWith("Zendral|") && b.prompter.vistos[0].contains("Velorin.ini"),
             qPrintable(b.prompter.vistos[0]));
    QVERIFY(!f.isVisible());
}

void MainFormTest::mensajesYPreguntaDeLineas()
{
    AyudaRegistrada ayuda;
    GuiPrompter p(ayuda);
    // Notes the box's buttons, then presses `boton`.
    QStringList botones;
    const auto anotar = [&botones](QMessageBox::StandardButton boton) -> GuiPrompter::Respuesta {
        return [&botones, boton](QDialog& d) {
            botones.clear();
            for (QAbstractButton* b : static_cast<QMessageBox&>(d).buttons()) {
                botones << b->text();
            }
            botones.sort();
            return Pulsar(boton)(d);
        };
    };
    p.respuestas = {anotar(QMessageBox::Ok)};
    p.Mensaje("Proceso finalizado");
    QCOMPARE(botones, QStringList{"Aceptar"});

    p.vistos.clear();
    p.respuestas = {anotar(QMessageBox::Ok), Pulsar(QMessageBox::Cancel), [](QDialog& d) {
                        // Escape answers Cancel.
                        QTest::keyClick(&d, Qt::Key_Escape);
                        return static_cast<QMessageBox&>(d).result();
                    }};
    QVERIFY(p.ConfirmarLineas());
    QVERIFY(!p.ConfirmarLineas());
    QVERIFY(!p.ConfirmarLineas());
    QCOMPARE(botones, (QStringList{"Aceptar", "Cancelar"}));
    // Its own title; five lines joined by line feed + carriage return, the first four ending in a
    // blank, the last one indented by 28 blanks.
    const QByteArray pregunta =
        "Creaci\xC3\xB3n autom\xC3\xA1tica de L\xC3\xADneas de Asignaturas|"
        "\xC2\xBFQuiere crear autom\xC3\xA1ticamente las L\xC3\xADneas de Asignaturas \n\r"
        "que esta aplicaci\xC3\xB3n estime necesarias para cada Grupo? \n\r"
        "Seguramente se crear\xC3\xA1n m\xC3\xA1s l\xC3\xADneas de las necesarias, \n\r"
        "pero podr\xC3\xA1 eliminar las que considere innecesarias. \n\r" +
        QByteArray(28, ' ') +
        "\xC2\xBF"
        "Crear L\xC3\xADneas?";
    QCOMPARE(p.vistos.value(0).toUtf8(), pregunta);
}

void MainFormTest::detallesDelMensajeFinal()
{
    AyudaRegistrada ayuda;
    GuiPrompter p(ayuda);
    QStringList botones;
    QString cuenta;
    QMessageBox::Icon icono = QMessageBox::NoIcon;
    const auto mirar = [&](QDialog& d) {
        auto& caja = static_cast<QMessageBox&>(d);
        botones.clear();
        for (QAbstractButton* b : caja.buttons()) {
            botones << b->text();
        }
        botones.sort();
        cuenta = caja.informativeText();
        icono = caja.icon();
        return Pulsar()(d);
    };

    // Without warnings the box is the plain one.
    p.respuestas = {mirar};
    p.MensajeFinal(msg::kProcesoFinalizado, ListaAvisos{});
    QCOMPARE(p.vistos, QStringList{kFinalizado});
    QCOMPARE(botones, QStringList{"Aceptar"});
    QVERIFY(cuenta.isEmpty());
    QCOMPARE(icono, QMessageBox::NoIcon);

    ListaAvisos avisos;
    avisos.Agregar({TipoAviso::Recorte, "CURSOST", "CURS 1", "CODI", "123456789012345678901", "recortado"});
    avisos.Agregar(
        {TipoAviso::Conversion, "PROFT", "PLACA P1", "NOMBRE", "Łukasz", "se guarda como «?ukasz»"});
    avisos.Agregar({TipoAviso::Recorte, "PROFT", "PLACA P2", "CODI", "x", "recortado"});
    TempDir dir;
    p.InformeEscrito(dir.write("informe.txt", "informe"));
    p.vistos.clear();
    // "Mostrar detalles…" opens the warnings window; the box comes back when it closes.
    QSize tamano;
    bool fijo = true;
    QStringList lista;
    bool abrir = false;
    QString copiado;
    p.respuestas = {[&](QDialog& d) {
                        mirar(d);
                        d.findChild<QAbstractButton*>(QStringLiteral("Detalles"))->click();
                        return d.result();
                    },
                    [&](QDialog& d) {
                        d.show();
                        if (QTest::qWaitForWindowActive(&d)) {
                            QTest::keyClick(&d, Qt::Key_F1);
                        }
                        tamano = d.size();
                        fijo = d.minimumSize() == d.maximumSize();
                        lista = d.findChild<QTextEdit*>(QStringLiteral("ListaAvisos"))
                                    ->toPlainText()
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                        abrir = d.findChild<QPushButton*>(QStringLiteral("BAbrirInforme"))->isEnabled();
                        d.findChild<QPushButton*>(QStringLiteral("BCopiar"))->click();
                        copiado = QGuiApplication::clipboard()->text();
                        d.findChild<QPushButton*>(QStringLiteral("BCerrar"))->click();
                        return d.result();
                    },
                    mirar};
    p.MensajeFinal(msg::kProcesoFinalizado, avisos);
    QVERIFY(p.respuestas.empty());
    // Same title and text; the count and the warning icon.
    QCOMPARE(p.vistos, (QStringList{kFinalizado, "Avisos del proceso", kFinalizado}));
    QCOMPARE(botones, (QStringList{"&Mostrar detalles…", "Aceptar"}));
    QCOMPARE(cuenta, QStringLiteral("3 avisos"));
    QCOMPARE(icono, QMessageBox::Warning);
    // Large enough to read, and resizable.
    QVERIFY2(tamano.width() >= 700 && tamano.height() >= 450,
             qPrintable(QStringLiteral("%1x%2").arg(tamano.width()).arg(tamano.height())));
    QVERIFY(!fijo);
    QCOMPARE(lista, (QStringList{"Caracteres que Velorin no puede guardar (1)",
                                 "PROFT.NOMBRE, PLACA P1, «Łukasz»: se guarda como «?ukasz»",
                                 "Códigos recortados (2)",
                                 "CURSOST.CODI, CURS 1, «123456789012345678901»: recortado",
                                 "PROFT.CODI, PLACA P2, «x»: recortado"}));
    QVERIFY(abrir);
    QVERIFY2(copiado.startsWith(QStringLiteral("3 avisos\n\nCaracteres que Velorin no puede guardar (1):\n")),
             qPrintable(copiado));
    QCOMPARE(ayuda.peticiones, QStringList{"contexto:60"});
}

void MainFormTest::nivelesRecordadosEnElDialogo()
{
    Banco b;
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    Responder(b, kImportacion);
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos, kImportacion);

    // The host starts the next import of the same centre: the dialog opens with the answers, and
    // OK alone completes it.
    Banco segunda;
    segunda.work = b.work;
    segunda.centro = b.centro;
    QStringList vistos;
    TMForm& g = segunda.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    segunda.prompter.respuestas = {
        ElegirArchivo(b.centro), EnDialogo([&vistos](TControlCursos& d) {
            auto* grid = d.findChild<QTableView*>(QStringLiteral("CursosTDBGrid"));
            for (int fila = 0; fila < grid->model()->rowCount(); ++fila) {
                vistos << grid->model()->index(fila, ModeloCursos::kNivel).data().toString() + "/" +
                              grid->model()->index(fila, ModeloCursos::kCurso).data().toString();
            }
            Pulsar(d, "BitBtn1");
        }),
        Pulsar(), Pulsar()};
    MostrarVentana(g);
    QCOMPARE(vistos, (QStringList{"ESO/1", "BAT/1"}));
    QCOMPARE(segunda.prompter.vistos, kImportacion);
    QCOMPARE(segunda.Columna("GRUPOST", "ABREV"), (QStringList{"ES1A", "ES1B", "BA1A"}));
}

void MainFormTest::sinMemoriaSoloAMano()
{
    QVERIFY(LineaOrdenes({QStringLiteral("--sin-memoria")}).sinMemoria);
    QVERIFY(
        LineaOrdenes({QStringLiteral("exportar"), QStringLiteral("1F2E"), QStringLiteral("--sin-memoria")})
            .sinMemoria);
    // The host's two arguments are never read as an option.
    const LineaOrdenes host({QStringLiteral("--sin-memoria"), QStringLiteral("1F2E")});
    QVERIFY(host.dosArgumentos);
    QVERIFY(!host.sinMemoria);

    // Started by hand with it, the dialog opens empty although answers are remembered.
    Banco b;
    TMForm& f = b.Crear();
    MostrarVentana(f);
    Responder(b, kImportacion);
    f.BExportarClick();
    Banco segunda;
    segunda.work = b.work;
    TMForm& g = segunda.Crear({QStringLiteral("--sin-memoria")});
    MostrarVentana(g);
    QString nivel = QStringLiteral("sin ver");
    segunda.prompter.respuestas = {ElegirArchivo(b.centro), EnDialogo([&nivel](TControlCursos& d) {
                                       auto* grid = d.findChild<QTableView*>(QStringLiteral("CursosTDBGrid"));
                                       nivel =
                                           grid->model()->index(0, ModeloCursos::kNivel).data().toString();
                                       Pulsar(d, "BitBtn2");
                                   })};
    g.BExportarClick();
    QCOMPARE(nivel, QString());
}

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
