#include "VentanaComprobacion.h"

#include "AyudaAplicacion.h"
#include "QtPrompter.h"
#include "VentanaAvisos.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace zendral
{
namespace
{

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString Parrafo(const QString& html, int margen = 0)
{
    return QStringLiteral("<p style=\"margin-left:%1px; margin-top:0px; margin-bottom:2px\">%2</p>")
        .arg(margen)
        .arg(html);
}

QString Encabezado(const QString& texto)
{
    return QStringLiteral("<p style=\"margin-top:12px; margin-bottom:4px; font-size:large\"><b>%1</b></p>")
        .arg(texto.toHtmlEscaped());
}

} // namespace

VentanaComprobacion::VentanaComprobacion(const std::filesystem::path& documento, const ListaAvisos& avisos,
                                         const comparacion::Comparacion& cambios, AyudaAplicacion& ayuda,
                                         QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("VentanaComprobacion"));
    setWindowTitle(QStringLiteral("Comprobar un documento"));
    setWindowModality(Qt::ApplicationModal);
    setSizeGripEnabled(true);
    setProperty(kPropiedadContexto, IDH_COMPROBAR);

    const QString nombre = QString::fromStdU16String(documento.filename().u16string());
    const std::size_t tablas = cambios.TablasCambiadas();
    QString resumen = QStringLiteral("Si importa %1: %2; ")
                          .arg(nombre, Utf8(avisos.empty() ? "sin avisos" : avisos.Cuenta()));
    resumen += tablas == 0
                   ? QStringLiteral("las tablas quedarían como están.")
                   : QStringLiteral("cambiarían %1 de las %2 tablas.").arg(tablas).arg(cambios.tablas.size());
    resumen += QStringLiteral(" No se ha cambiado nada en el directorio de trabajo.");

    auto* capa = new QVBoxLayout(this);
    auto* etiqueta = new QLabel(resumen, this);
    etiqueta->setObjectName(QStringLiteral("ResumenComprobacion"));
    etiqueta->setTextFormat(Qt::PlainText);
    etiqueta->setWordWrap(true);
    capa->addWidget(etiqueta);

    // The warnings, grouped by kind; then a count per table and each group of changes.
    QString html = Encabezado(avisos.empty() ? QStringLiteral("Avisos: ninguno")
                                             : QStringLiteral("Avisos (%1)").arg(avisos.size()));
    html += HtmlAvisos(avisos);
    html += Encabezado(QStringLiteral("Cambios respecto a las tablas actuales"));
    for (const auto& t : cambios.tablas) {
        html += Parrafo(QStringLiteral("<b>%1</b>: %2").arg(Utf8(t.nombre), Utf8(t.Cuenta()).toHtmlEscaped()),
                        16);
    }
    if (const std::string dias = cambios.DiasHorasPerdidos(); !dias.empty()) {
        html += QStringLiteral("<p style=\"margin-top:8px; color:#B00000\"><b>%1</b></p>")
                    .arg(Utf8(dias).toHtmlEscaped());
    }
    for (const auto& g : cambios.Grupos()) {
        html += QStringLiteral("<p style=\"margin-top:8px; margin-bottom:2px\"><b>%1</b></p>")
                    .arg(Utf8(g.titulo).toHtmlEscaped());
        for (const auto& linea : g.lineas) {
            html += Parrafo(Utf8(linea).toHtmlEscaped(), 16);
        }
    }
    m_lista = new QTextBrowser(this);
    m_lista->setObjectName(QStringLiteral("ListaComprobacion"));
    m_lista->setOpenLinks(false);
    m_lista->setLineWrapMode(QTextEdit::WidgetWidth);
    m_lista->setHtml(html);
    capa->addWidget(m_lista, 1);

    m_texto = resumen + QStringLiteral("\n\n") +
              (avisos.empty() ? QStringLiteral("Sin avisos\n") : Utf8(avisos.Detalles())) +
              QStringLiteral("\nCambios respecto a las tablas actuales:\n") + Utf8(cambios.Cuentas("  ")) +
              (cambios.SinCambios() ? QString() : QStringLiteral("\n") + Utf8(cambios.Lista()));

    auto* botones = new QDialogButtonBox(this);
    QPushButton* copiar = botones->addButton(QStringLiteral("&Copiar"), QDialogButtonBox::ActionRole);
    copiar->setObjectName(QStringLiteral("BCopiar"));
    QPushButton* cerrar = botones->addButton(QStringLiteral("C&errar"), QDialogButtonBox::RejectRole);
    cerrar->setObjectName(QStringLiteral("BCerrar"));
    cerrar->setDefault(true);
    connect(copiar, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_texto); });
    connect(botones, &QDialogButtonBox::rejected, this, &QDialog::reject);
    capa->addWidget(botones);

    InstalarTeclaAyuda(*this, ayuda);

    QSize tamano(820, 560);
    if (const QScreen* pantalla = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        tamano = tamano.boundedTo(pantalla->availableGeometry().size() * 0.95);
    }
    resize(tamano);
    if (parent != nullptr) {
        CentrarSobre(*this, parent->window());
    }
}

} // namespace zendral
