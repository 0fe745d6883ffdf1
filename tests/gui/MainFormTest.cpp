#include "app/MainForm.h"

#include "access/Error.h"
#include "access/Mensajes.h"
#include "app/AyudaChm.h"
#include "app/LineaOrdenes.h"
#include "app/PanelDegradado.h"
#include "help/HtmlHelpEngine.h"
#include "host/VelorinSim.h"
#include "import/Cursos.h"
#include "import/Importacion.h"
#include "tests/gui/Banco.h"
#include "tests/support/ScriptedPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTest>
#include <QWindow>
#include <sstream>

using namespace zendral;
using namespace zendral::test;

namespace
{

const std::string kIni1 = "[Transformadores]\r\nTransformado=1\r\n";
const std::string kIni0 = "[Transformadores]\r\nTransformado=0\r\n";
const std::string kIniMenos1 = "[Transformadores]\r\nTransformado=-1\r\n";

QString Finalizado() { return QStringLiteral("Zendral|Proceso finalizado"); }

// The answers of a complete centre import of kCentro: the file, every course filled in, OK to the
// line-creation question, and the closing message.
void ImportacionCompleta(Banco& b)
{
    b.prompter.respuestas.push_back(ElegirArchivo(b.centro));
    b.prompter.respuestas.push_back(EnDialogo([](TControlCursos& d) {
        Escribir(d, 0, ModeloCursos::kNivel, QStringLiteral("ESO"));
        Escribir(d, 0, ModeloCursos::kCurso, QStringLiteral("1"));
        Escribir(d, 1, ModeloCursos::kNivel, QStringLiteral("BAT"));
        Escribir(d, 1, ModeloCursos::kCurso, QStringLiteral("1"));
        Pulsar(d, "BitBtn1");
    }));
    b.prompter.respuestas.push_back(Pulsar(QMessageBox::Ok));
    b.prompter.respuestas.push_back(Pulsar(QMessageBox::Ok));
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

// Borderless and placed in `ventana`. The offscreen platform has no foreign windows, so there the
// window only records which one it was asked for; the end-to-end test checks the real placing.
bool Incrustada(TMForm& form, quintptr ventana)
{
    if (!(form.windowFlags() & Qt::FramelessWindowHint) || form.VentanaAnfitrion() != ventana) {
        return false;
    }
    if (form.Anfitrion() == nullptr) {
        return QGuiApplication::platformName() == QLatin1String("offscreen");
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
    void sinLosDosArgumentos_data();
    void sinLosDosArgumentos();
    void exportarEnMayusculasDesdeElAnfitrion();
    void exportarSinArchivoDesdeElAnfitrion();
    void otraOrdenDesdeElAnfitrion();
    void ventanaNoHexadecimal();
    void importarDesdeElAnfitrion();
    void dosImportacionesConLaSegundaCancelada();
    void errorEnUnaEtapa();
    void documentoMalFormado();
    void resultadoQueNoSePuedeEscribir();
    void mensajesYPreguntaDeLineas();
};

void MainFormTest::ventanaPrincipal()
{
    Banco b;
    TMForm& f = b.Crear();
    QCOMPARE(f.size(), QSize(632, 266));
    // Fixed size, no minimise or maximise box.
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QVERIFY(!(f.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)));
    QVERIFY(f.windowFlags() & Qt::WindowCloseButtonHint);
    // Centred on the screen.
    const QRect pantalla = f.screen()->availableGeometry();
    QVERIFY(qAbs(f.geometry().center().x() - pantalla.center().x()) <= 1);
    QVERIFY(qAbs(f.geometry().center().y() - pantalla.center().y()) <= 1);

    struct Panel
    {
        const char* nombre;
        QRect lugar;
        QColor inicio, medio, fin;
    };
    const QColor blanco(Qt::white);
    for (const Panel& p :
         {Panel{"PanelExportar", {0, -1, 315, 169}, QColor(0xF9D37D), blanco, QColor(0xFFEEDD)},
          Panel{"PanelImportar", {315, 0, 317, 169}, QColor(0xF9D37D), blanco, QColor(0xFFEEDD)},
          Panel{"PanelInferior", {0, 168, 633, 97}, QColor(0xC2CDFE), QColor(0xCFF2FE), QColor(0xCCD8E6)}}) {
        auto* panel = f.findChild<PanelDegradado*>(QString::fromLatin1(p.nombre));
        QVERIFY2(panel != nullptr, p.nombre);
        QCOMPARE(panel->geometry(), p.lugar);
        QCOMPARE(panel->Inicio(), p.inicio);
        QCOMPARE(panel->Medio(), p.medio);
        QCOMPARE(panel->Fin(), p.fin);
    }
    // The gradient is painted: top, middle and bottom rows of the bottom panel.
    const QImage imagen = f.findChild<QWidget*>(QStringLiteral("PanelInferior"))->grab().toImage();
    QCOMPARE(QColor(imagen.pixel(300, 0)), QColor(0xC2CDFE));
    QCOMPARE(QColor(imagen.pixel(300, imagen.height() - 1)).rgb() & 0xF0F0F0,
             QColor(0xCCD8E6).rgb() & 0xF0F0F0);

    // OK-kind buttons carry a glyph.
    for (const char* nombre : {"BExportar", "BImportar", "BClose"}) {
        auto* boton = f.findChild<QAbstractButton*>(QString::fromLatin1(nombre));
        QVERIFY2(boton != nullptr && !boton->icon().isNull(), nombre);
    }
    auto* exportar = f.findChild<QLabel*>(QStringLiteral("LabelExportar"));
    QVERIFY(exportar->wordWrap());
    auto* pie = f.findChild<QLabel*>(QStringLiteral("LabelPie"));
    QCOMPARE(pie->palette().color(QPalette::WindowText), QColor(Qt::red));
    for (QLabel* l : {exportar, pie}) {
        QVERIFY(l->font().bold());
        QCOMPARE(l->font().families().value(0), QStringLiteral("Arial"));
        // Whatever the font machinery substitutes must look like Arial: Arial itself or Liberation Sans.
        const QString real = QFontInfo(l->font()).family();
        QVERIFY2(real.contains(QStringLiteral("Arial")) || real.contains(QStringLiteral("Liberation Sans")),
                 qPrintable(real));
    }

    auto* dialogo = f.findChild<QFileDialog*>(QStringLiteral("OpenDialogXML"));
    QVERIFY(dialogo != nullptr);
    QCOMPARE(dialogo->windowTitle(), QStringLiteral("Archivo XML"));
    QCOMPARE(dialogo->nameFilters(), QStringList{QStringLiteral("*.xml")});
    QCOMPARE(dialogo->defaultSuffix(), QStringLiteral("xml"));
    QCOMPARE(std::filesystem::path(dialogo->directory().absolutePath().toStdString()), b.work / "saga");
    QCOMPARE(dialogo->labelText(QFileDialog::Accept), QStringLiteral("&Abrir"));
    QCOMPARE(dialogo->labelText(QFileDialog::Reject), QStringLiteral("Cancelar"));
}

void MainFormTest::ayuda()
{
    Banco b;
    TMForm& f = b.Crear();
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    // F1 on a button of the window and on the window itself both ask for context 1.
    auto* exportar = f.findChild<QWidget*>(QStringLiteral("BExportar"));
    exportar->setFocus();
    QTest::keyClick(exportar, Qt::Key_F1);
    QTest::keyClick(&f, Qt::Key_F1);
    QCOMPARE(b.ayuda.peticiones, (QStringList{QStringLiteral("contexto:1"), QStringLiteral("contexto:1")}));
    b.ayuda.peticiones.clear();
    QTest::mouseClick(f.findChild<QWidget*>(QStringLiteral("Button1")), Qt::LeftButton);
    QCOMPARE(b.ayuda.peticiones,
             (QStringList{QStringLiteral("archivo:GestIB.chm"), QStringLiteral("contenido")}));
    // The button's request is no run: nothing modal appeared.
    QVERIFY(b.prompter.vistos.isEmpty());
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
    help::Ayuda sistema(*qApp, std::make_unique<MotorRegistrado>(llamadas));
    AyudaChm ayuda(sistema);
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

void MainFormTest::sinLosDosArgumentos_data()
{
    QTest::addColumn<QStringList>("argumentos");
    QTest::newRow("ninguno") << QStringList{};
    QTest::newRow("uno") << QStringList{QStringLiteral("exportar")};
    QTest::newRow("tres") << QStringList{QStringLiteral("exportar"), QStringLiteral("1F2E"),
                                         QStringLiteral("x")};
}

void MainFormTest::sinLosDosArgumentos()
{
    QFETCH(QStringList, argumentos);
    Banco b;
    TMForm& f = b.Crear(argumentos);
    MostrarVentana(f);
    // Started by hand: no embedding, no run, nothing written on close.
    QVERIFY(b.prompter.vistos.isEmpty());
    QVERIFY(!f.VentanaAnfitrion());
    QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(f.Estado().lanzadoPorHost, 0);
    f.close();
    QCOMPARE(b.Resultado(), std::string("(ninguno)"));
}

void MainFormTest::exportarEnMayusculasDesdeElAnfitrion()
{
    Banco b;
    TMForm& f = b.Crear({QStringLiteral("EXPORTAR"), QStringLiteral("1F2E")});
    QVERIFY(Incrustada(f, 0x1F2E));
    QCOMPARE(f.Estado().lanzadoPorHost, 2);
    ImportacionCompleta(b);
    MostrarVentana(f);
    QVERIFY(b.prompter.respuestas.empty());
    QCOMPARE(b.prompter.vistos.last(), Finalizado());
    QVERIFY(!f.isVisible());
    QCOMPARE(b.Resultado(), kIni1);
    QCOMPARE(b.Columna("GRUPOST", "ABREV"), (QStringList{"ES1A", "ES1B", "BA1A"}));
}

void MainFormTest::exportarSinArchivoDesdeElAnfitrion()
{
    Banco b;
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("00ab")});
    QVERIFY(Incrustada(f, 0xAB));
    b.prompter.respuestas = {CancelarArchivo(), Pulsar()};
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos, (QStringList{"Archivo XML", "Zendral|No existe archivo"}));
    QVERIFY(!f.isVisible());
    QCOMPARE(b.Resultado(), kIniMenos1);
    QVERIFY(!b.Existe("ASIGNOMT.DBF"));
}

void MainFormTest::otraOrdenDesdeElAnfitrion()
{
    Banco b;
    TMForm& f = b.Crear({QStringLiteral("ver"), QStringLiteral("1F2E")});
    MostrarVentana(f);
    QVERIFY(Incrustada(f, 0x1F2E));
    QVERIFY(b.prompter.vistos.isEmpty());
    QVERIFY(f.isVisible());
    f.close();
    QCOMPARE(b.Resultado(), kIni0);
}

void MainFormTest::ventanaNoHexadecimal()
{
    Banco b;
    b.prompter.respuestas = {Pulsar(), CancelarArchivo(), Pulsar()};
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1G")});
    QCOMPARE(b.prompter.vistos, QStringList{QStringLiteral("Zendral|'$1G' no es un valor entero válido")});
    QVERIFY(!f.VentanaAnfitrion());
    QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(f.Estado().lanzadoPorHost, 0);
    // The named run still starts on show, and the window neither closes nor reports.
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos.mid(1), (QStringList{"Archivo XML", "Zendral|No existe archivo"}));
    QVERIFY(f.isVisible());
    QCOMPARE(f.Estado().codigoResultado, 0);
    f.close();
    QCOMPARE(b.Resultado(), std::string("(ninguno)"));
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
    QCOMPARE(b.prompter.vistos, (QStringList{"Archivo XML", Finalizado()}));
    QVERIFY(!f.isVisible());
    QCOMPARE(b.Resultado(), kIni1);
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
    ImportacionCompleta(b);
    f.BExportarClick();
    QVERIFY(b.prompter.respuestas.empty());
    // The second run keeps the file of the first when its dialog is cancelled, and converts it again
    // with other levels.
    std::filesystem::remove(b.work / "GRUPOST.DBF");
    b.prompter.vistos.clear();
    b.prompter.respuestas = {CancelarArchivo(), EnDialogo([](TControlCursos& d) {
                                 Escribir(d, 0, ModeloCursos::kNivel, QStringLiteral("PRI"));
                                 Escribir(d, 0, ModeloCursos::kCurso, QStringLiteral("2"));
                                 Escribir(d, 1, ModeloCursos::kNivel, QStringLiteral("BAT"));
                                 Escribir(d, 1, ModeloCursos::kCurso, QStringLiteral("2"));
                                 Pulsar(d, "BitBtn1");
                             }),
                             Pulsar(QMessageBox::Cancel), Pulsar()};
    f.BExportarClick();
    QCOMPARE(b.prompter.vistos, (QStringList{"Archivo XML", "Asignación de Niveles y Cursos",
                                             QString::fromUtf8(msg::kTituloLineas) + "|" +
                                                 QString::fromUtf8(msg::kPreguntaLineas),
                                             Finalizado()}));
    QCOMPARE(b.Columna("GRUPOST", "ABREV"), (QStringList{"PR2A", "PR2B", "BA2A"}));
    QVERIFY(b.Columna("ASIGT", "CGRUP").isEmpty());
    QVERIFY(f.isVisible());
}

void MainFormTest::errorEnUnaEtapa()
{
    Banco b;
    // The working directory is gone: the first stage cannot create its table.
    const auto centro = b.dir.write("centre.xml", kCentro);
    std::filesystem::remove_all(b.work);
    TMForm& f = b.Crear({QStringLiteral("exportar"), QStringLiteral("1F2E")});
    b.prompter.respuestas = {ElegirArchivo(centro), Pulsar()};
    MostrarVentana(f);
    QCOMPARE(b.prompter.vistos.size(), 2);
    QVERIFY2(b.prompter.vistos[1].startsWith("Zendral|") && b.prompter.vistos[1].contains("ASIGNOMT"),
             qPrintable(b.prompter.vistos[1]));
    // The run ends there: the window stays open even for the host, the cursor is back.
    QVERIFY(f.isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(f.Estado().codigoResultado, 0);
    f.close();
    QCOMPARE(b.Resultado(), kIni0);
}

void MainFormTest::documentoMalFormado()
{
    Banco b;
    const auto roto = b.dir.write("VTEMP/saga/roto.xml", "<CENTRE>\n<CURSOS>\n</CENTRE>\n");
    TMForm& f = b.Crear();
    MostrarVentana(f);
    b.prompter.respuestas = {ElegirArchivo(roto), Pulsar()};
    f.BExportarClick();
    QCOMPARE(b.prompter.vistos.size(), 2);
    QVERIFY2(b.prompter.vistos[1].contains("roto.xml") && b.prompter.vistos[1].contains("3"),
             qPrintable(b.prompter.vistos[1]));
    QVERIFY(!b.Existe("ASIGNOMT.DBF"));
    QVERIFY(f.isVisible());
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
    QMessageBox::Icon icono = QMessageBox::Critical;
    QStringList botones;
    const auto mirar = [&](QDialog& d) {
        auto& caja = static_cast<QMessageBox&>(d);
        icono = caja.icon();
        botones.clear();
        for (QAbstractButton* boton : caja.buttons()) {
            botones << boton->text();
        }
        return 0;
    };

    p.respuestas = {[&](QDialog& d) {
        mirar(d);
        return Pulsar()(d);
    }};
    p.Mensaje("Proceso finalizado");
    QCOMPARE(p.vistos, QStringList{"Zendral|Proceso finalizado"});
    QCOMPARE(icono, QMessageBox::NoIcon);
    QCOMPARE(botones, QStringList{"Aceptar"});

    // Five lines joined by line feed + carriage return, the first four ending in a blank, the last
    // one indented by 28 blanks.
    const QByteArray pregunta =
        "\xC2\xBFQuiere crear autom\xC3\xA1ticamente las L\xC3\xADneas de Asignaturas \n\r"
        "que esta aplicaci\xC3\xB3n estime necesarias para cada Grupo? \n\r"
        "Seguramente se crear\xC3\xA1n m\xC3\xA1s l\xC3\xADneas de las necesarias, \n\r"
        "pero podr\xC3\xA1 eliminar las que considere innecesarias. \n\r" +
        QByteArray(28, ' ') +
        "\xC2\xBF"
        "Crear L\xC3\xADneas?";
    QString texto;
    p.vistos.clear();
    p.respuestas = {[&](QDialog& d) {
                        mirar(d);
                        texto = static_cast<QMessageBox&>(d).text();
                        return Pulsar(QMessageBox::Ok)(d);
                    },
                    Pulsar(QMessageBox::Cancel),
                    [](QDialog& d) {
                        // Escape answers Cancel.
                        QTest::keyClick(&d, Qt::Key_Escape);
                        return static_cast<QMessageBox&>(d).result();
                    }};
    QVERIFY(p.ConfirmarLineas());
    QCOMPARE(texto.toUtf8(), pregunta);
    QCOMPARE(p.vistos.value(0).section('|', 0, 0),
             QStringLiteral("Creación automática de Líneas de Asignaturas"));
    QCOMPARE(icono, QMessageBox::Warning);
    QCOMPARE(botones.size(), 2);
    QVERIFY(botones.contains("Aceptar") && botones.contains("Cancelar"));
    QVERIFY(!p.ConfirmarLineas());
    QVERIFY(!p.ConfirmarLineas());
}

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
