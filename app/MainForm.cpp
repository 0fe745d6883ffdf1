#include "MainForm.h"

#include "AyudaAplicacion.h"
#include "ComprobarCentro.h"
#include "Copias.h"
#include "Ensayo.h"
#include "Error.h"
#include "Exportacion.h"
#include "Importacion.h"
#include "IniFile.h"
#include "Mensajes.h"
#include "PanelDegradado.h"
#include "QtPrompter.h"
#include "Restaurar.h"
#include "VentanaComprobacion.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <utility>

namespace zendral
{
namespace
{

const QColor kBlanco(0xFF, 0xFF, 0xFF);

// Arial, bold; where Arial is missing, its metric-compatible substitute.
QFont Arial(int pixeles)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setPixelSize(pixeles);
    f.setBold(true);
    return f;
}

PanelDegradado* Panel(QWidget* padre, const char* nombre, QColor inicio, QColor medio, QColor fin,
                      QRect lugar)
{
    auto* panel = new PanelDegradado(inicio, medio, fin, padre);
    panel->setObjectName(QString::fromLatin1(nombre));
    panel->setGeometry(lugar);
    panel->setProperty(kPropiedadContexto, IDH_VENTANA_PRINCIPAL);
    return panel;
}

QLabel* Titulo(QWidget* padre, const char* nombre, const QString& texto)
{
    auto* l = new QLabel(padre);
    l->setObjectName(QString::fromLatin1(nombre));
    l->setTextFormat(Qt::PlainText);
    l->setText(texto);
    l->setFont(Arial(16));
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setGeometry(16, 28, padre->width() - 32, 48);
    return l;
}

QPushButton* Boton(QWidget* padre, const char* nombre, const QString& texto, QStyle::StandardPixmap glifo,
                   QRect lugar)
{
    auto* b = new QPushButton(padre);
    b->setObjectName(QString::fromLatin1(nombre));
    b->setText(texto);
    if (glifo != QStyle::SP_CustomBase) {
        b->setIcon(padre->style()->standardIcon(glifo));
    }
    b->setGeometry(lugar);
    b->setProperty(kPropiedadContexto, IDH_VENTANA_PRINCIPAL);
    // Enter presses the focused button, as Space does.
    b->setAutoDefault(true);
    return b;
}

QString Texto(const std::filesystem::path& p) { return QString::fromStdU16String(p.u16string()); }

// The file dialog both runs pick their XML file in, opening in `carpeta`.
QFileDialog* DialogoArchivo(QWidget* padre, const std::filesystem::path& carpeta)
{
    auto* dialogo = new QFileDialog(padre, QStringLiteral("Archivo XML"));
    dialogo->setObjectName(QStringLiteral("OpenDialogXML"));
    // A name that does not exist may be typed: the run then says "No existe archivo".
    dialogo->setFileMode(QFileDialog::AnyFile);
    dialogo->setAcceptMode(QFileDialog::AcceptOpen);
    dialogo->setNameFilter(QStringLiteral("*.xml"));
    dialogo->setDefaultSuffix(QStringLiteral("xml"));
    dialogo->setDirectory(Texto(carpeta));
#ifndef _WIN32
    // Qt's own dialog, whose texts the Spanish translation and the labels below cover.
    dialogo->setOption(QFileDialog::DontUseNativeDialog);
#endif
    dialogo->setLabelText(QFileDialog::LookIn, QStringLiteral("Buscar en:"));
    dialogo->setLabelText(QFileDialog::FileName, QStringLiteral("Nombre:"));
    dialogo->setLabelText(QFileDialog::FileType, QStringLiteral("Tipo:"));
    dialogo->setLabelText(QFileDialog::Accept, QStringLiteral("&Abrir"));
    dialogo->setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    return dialogo;
}

} // namespace

TMForm::TMForm(const QStringList& argumentos, QtPrompter& prompter, AyudaAplicacion& ayuda,
               std::filesystem::path directorioTrabajo, std::filesystem::path archivoResultado,
               QWidget* parent)
    : QWidget(parent)
    , m_prompter(prompter)
    , m_ayuda(ayuda)
    , m_directorioTrabajo(std::move(directorioTrabajo))
    , m_archivoResultado(std::move(archivoResultado))
    , m_lineaOrdenes(argumentos)
{
    setObjectName(QStringLiteral("MForm"));
    setWindowTitle(QStringLiteral("Exportar e importar datos entre Velorin y GestIB"));
    // A fixed dialog frame: title and close box, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(632, 266);
    setProperty(kPropiedadContexto, IDH_VENTANA_PRINCIPAL);

    const QColor amarillo(0xF9, 0xD3, 0x7D);
    const QColor crema(0xFF, 0xEE, 0xDD);
    auto* izquierdo = Panel(this, "PanelExportar", amarillo, kBlanco, crema, {0, -1, 315, 169});
    auto* derecho = Panel(this, "PanelImportar", amarillo, kBlanco, crema, {315, 0, 317, 169});
    auto* inferior = Panel(this, "PanelInferior", QColor(0xC2, 0xCD, 0xFE), QColor(0xCF, 0xF2, 0xFE),
                           QColor(0xCC, 0xD8, 0xE6), {0, 168, 633, 97});

    Titulo(izquierdo, "LabelExportar", QStringLiteral("Transformar datos desde GestIB hacia Velorin "));
    auto* bExportar = Boton(izquierdo, "BExportar", QStringLiteral("Aceptar"), QStyle::SP_DialogOkButton,
                            {110, 108, 95, 27});
    Titulo(derecho, "LabelImportar", QStringLiteral("Transformar datos desde Velorin hacia GestIB"));
    auto* bImportar =
        Boton(derecho, "BImportar", QStringLiteral("Aceptar"), QStyle::SP_DialogOkButton, {111, 108, 95, 27});

    auto* bClose =
        Boton(inferior, "BClose", QStringLiteral("&Salir"), QStyle::SP_DialogCloseButton, {40, 35, 95, 27});
    auto* button1 =
        Boton(inferior, "Button1", QStringLiteral("F1 AYUDA"), QStyle::SP_CustomBase, {160, 35, 95, 27});
    auto* pie = new QLabel(inferior);
    pie->setObjectName(QStringLiteral("LabelPie"));
    pie->setTextFormat(Qt::PlainText);
    pie->setText(QStringLiteral("ZendralGestIB para RX57 V-1.1"));
    pie->setFont(Arial(14));
    QPalette rojo = pie->palette();
    rojo.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0x00));
    pie->setPalette(rojo);
    pie->adjustSize();
    pie->move(inferior->width() - pie->width() - 40, 40);
    // The step of a run in progress, started by hand (FormCreate leaves it out for the host).
    auto* etapa = new QLabel(inferior);
    etapa->setObjectName(QStringLiteral("LabelEtapa"));
    etapa->setTextFormat(Qt::PlainText);
    etapa->setGeometry(40, 68, inferior->width() - 80, 22);
    etapa->hide();

    connect(bExportar, &QPushButton::clicked, this, &TMForm::BExportarClick);
    connect(bImportar, &QPushButton::clicked, this, &TMForm::BImportarClick);
    connect(bClose, &QPushButton::clicked, this, &QWidget::close);
    connect(button1, &QPushButton::clicked, this, &TMForm::Button1Click);

    // Both runs pick their file here; it keeps its folder from one run to the next.
    m_openDialogXML = DialogoArchivo(this, m_directorioTrabajo / "saga");

    m_prompter.SetVentana(this);
    m_prompter.SetDialogoArchivo(m_openDialogXML);
    InstalarTeclaAyuda(*this, m_ayuda);
    InstalarTeclaAyuda(*m_openDialogXML, m_ayuda);

    if (const QScreen* pantalla = screen()) {
        const QRect r = pantalla->availableGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    FormCreate();
    if (!m_estado.LanzadoPorHost()) {
        m_prompter.SetEtiquetaEtapa(etapa);
    }

    // The way back to earlier tables, for a person only: Velorin's flow stays as it is.
    if (!m_estado.LanzadoPorHost()) {
        auto* restaurar = new QAction(QStringLiteral("Restaurar tablas anteriores…"), this);
        restaurar->setObjectName(QStringLiteral("AccionRestaurar"));
        connect(restaurar, &QAction::triggered, this, &TMForm::RestaurarTablas);
        addAction(restaurar);
        auto* comprobar = new QAction(QStringLiteral("Comprobar un documento…"), this);
        comprobar->setObjectName(QStringLiteral("AccionComprobar"));
        connect(comprobar, &QAction::triggered, this, &TMForm::ComprobarUnDocumento);
        addAction(comprobar);
        setContextMenuPolicy(Qt::ActionsContextMenu);
        m_avisoInterrumpido = copias::AvisoInterrumpido(m_directorioTrabajo);
    }
}

TMForm::~TMForm()
{
    if (m_anfitrion != nullptr) {
        // Our native window is a child of the host's: it goes first.
        destroy();
        delete m_anfitrion;
    }
}

void TMForm::FormCreate()
{
    m_estado.codigoResultado = 0;
    if (!m_lineaOrdenes.dosArgumentos) {
        return;
    }
    if (!m_lineaOrdenes.ventana) {
        m_prompter.Mensaje(m_lineaOrdenes.error.toStdString());
        return;
    }
    Incrustar(*m_lineaOrdenes.ventana);
    m_estado.lanzadoPorHost = 2;
}

void TMForm::Incrustar(quintptr ventana)
{
    m_ventanaAnfitrion = ventana;
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // Handle 0 names no window: the tool stays a borderless window of its own.
    if (ventana == 0) {
        return;
    }
    // Null where the platform has no foreign windows: the tool then stays a borderless window of
    // its own.
    m_anfitrion = QWindow::fromWinId(static_cast<WId>(ventana));
    if (m_anfitrion == nullptr) {
        return;
    }
    // A handle that names no window (the host's already closed, say) gives no native window to
    // adopt ours: a child of nothing would never be seen, so the tool stays a window of its own.
    if (m_anfitrion->handle() == nullptr) {
        delete m_anfitrion;
        m_anfitrion = nullptr;
        return;
    }
    winId();
    windowHandle()->setParent(m_anfitrion);
    move(0, 0);
}

void TMForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        // Once the window is on screen and the event loop runs, so a run may close it.
        QTimer::singleShot(0, this, &TMForm::FormShow);
    }
}

void TMForm::FormShow()
{
    if (m_avisoInterrumpido) {
        AvisarInterrumpido();
    }
    if (m_lineaOrdenes.dosArgumentos && m_lineaOrdenes.orden == QLatin1String("importar")) {
        BImportarClick();
    }
    if (m_lineaOrdenes.dosArgumentos && m_lineaOrdenes.orden == QLatin1String("exportar")) {
        BExportarClick();
    }
}

template <typename Run> bool TMForm::Ejecutar(Run run)
{
    FinRun fin = FinRun::Completado;
    try {
        fin = run();
    } catch (const Error& e) {
        m_prompter.FinDeRun();
        m_prompter.Mensaje(e.what());
        return false;
    } catch (const std::exception& e) {
        m_prompter.FinDeRun();
        m_prompter.Mensaje(ExceptionMessage(e));
        return false;
    }
    m_prompter.FinDeRun();
    if (CierraVentana(fin, m_estado)) {
        close();
    }
    return true;
}

void TMForm::BExportarClick()
{
    m_estado.copiaAntesDeImportar.clear();
    m_openDialogXML->setProperty(kPropiedadContexto, IDH_IMPORTACION);
    const auto ofrecerVuelta = [this] {
        return !m_estado.LanzadoPorHost() && !m_estado.copiaAntesDeImportar.empty() &&
               PreguntarSiNo(m_prompter,
                             QStringLiteral("¿Quiere volver a las tablas de antes de esta importación?")) &&
               RestaurarCopia(m_prompter, m_directorioTrabajo, m_estado.copiaAntesDeImportar);
    };
    const bool bien = Ejecutar([&] {
        Importacion importacion(m_estado, m_prompter, m_directorioTrabajo);
        importacion.UsarMemoria(!m_lineaOrdenes.sinMemoria);
        const FinRun fin = importacion.BExportarClick();
        // The forced exit leaves the tables of stages 1 to 4 new and the rest as they were; by
        // hand, the way back is offered before the window closes.
        if (fin == FinRun::SalidaForzada) {
            ofrecerVuelta();
        }
        return fin;
    });
    // An error puts the tables of before back by itself; only when that failed too (the marker
    // of the run stays) is the way back offered again.
    if (!bien && copias::AvisoInterrumpido(m_directorioTrabajo)) {
        ofrecerVuelta();
    }
}

void TMForm::RestaurarTablas() { OfrecerRestauracion(m_prompter, this, m_directorioTrabajo); }

void TMForm::ComprobarUnDocumento()
{
    m_openDialogXML->setProperty(kPropiedadContexto, IDH_COMPROBAR);
    const auto archivo = m_prompter.ElegirArchivo();
    std::error_code ec;
    if (!archivo || !std::filesystem::is_regular_file(*archivo, ec)) {
        m_prompter.FinDeRun();
        if (archivo) {
            m_prompter.Mensaje(msg::kNoExisteArchivo);
        }
        return;
    }
    try {
        auto documento = xml::Document::load(*archivo);
        ComprobarDocumentoCentro(documento, *archivo);
        ListaAvisos avisos = ComprobarDocumento(documento);
        const Ensayo ensayo =
            Ensayar(m_directorioTrabajo, std::move(documento), m_prompter, !m_lineaOrdenes.sinMemoria);
        m_prompter.FinDeRun();
        if (ensayo.interrumpido) {
            m_prompter.Mensaje(
                "Comprobación interrumpida: no se ha cambiado nada en el directorio de trabajo.");
            return;
        }
        avisos.Agregar(ensayo.avisos);
        VentanaComprobacion ventana(*archivo, avisos, ensayo.cambios, m_ayuda, this);
        m_prompter.Mostrar(ventana);
    } catch (const Error& e) {
        m_prompter.FinDeRun();
        m_prompter.Mensaje(e.what());
    } catch (const std::exception& e) {
        m_prompter.FinDeRun();
        m_prompter.Mensaje(ExceptionMessage(e));
    }
}

void TMForm::AvisarInterrumpido()
{
    const auto aviso = copias::AvisoInterrumpido(m_directorioTrabajo);
    if (aviso && PreguntarSiNo(m_prompter,
                               QString::fromUtf8(aviso->c_str()) +
                                   QStringLiteral("\n\n¿Quiere elegir ahora una copia para restaurarla?"))) {
        RestaurarTablas();
    }
}

void TMForm::BImportarClick()
{
    m_openDialogXML->setProperty(kPropiedadContexto, IDH_EXPORTACION);
    Ejecutar([this] { return Exportacion(m_estado, m_prompter, m_directorioTrabajo).BImportarClick(); });
}

void TMForm::Button1Click()
{
    m_ayuda.EstablecerArchivo(QString::fromLatin1(kArchivoAyuda));
    m_ayuda.Contenido();
}

void TMForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
    emit Cerrada();
}

void TMForm::FormClose()
{
    if (!m_estado.LanzadoPorHost()) {
        return;
    }
    try {
        ini::WriteInteger(m_archivoResultado, "Transformadores", "Transformado", m_estado.codigoResultado);
    } catch (const std::exception& e) {
        m_prompter.Mensaje(e.what());
    }
}

} // namespace zendral
