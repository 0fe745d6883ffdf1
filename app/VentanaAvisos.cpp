#include "VentanaAvisos.h"

#include "AyudaAplicacion.h"
#include "Mensajes.h"
#include "QtPrompter.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <utility>

namespace zendral
{
namespace
{

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

QString HtmlAvisos(const ListaAvisos& avisos)
{
    std::map<TipoAviso, std::vector<const Aviso*>> grupos;
    for (const Aviso& a : avisos) {
        grupos[a.tipo].push_back(&a);
    }
    QString html;
    for (const auto& [tipo, lista] : grupos) {
        const QString nombre = Utf8(NombreTipo(tipo));
        html += QStringLiteral("<p style=\"margin-top:8px; margin-bottom:2px\"><b>%1 (%2)</b></p>")
                    .arg(nombre.toHtmlEscaped())
                    .arg(lista.size());
        for (const Aviso* a : lista) {
            // The heading already names the kind.
            const std::string linea = a->Linea();
            html += QStringLiteral("<p style=\"margin-left:16px; margin-top:0px; margin-bottom:2px\">%1</p>")
                        .arg(Utf8(linea.substr(std::string(NombreTipo(tipo)).size() + 2)).toHtmlEscaped());
        }
    }
    return html;
}

VentanaAvisos::VentanaAvisos(const ListaAvisos& avisos, std::filesystem::path informe, AyudaAplicacion& ayuda,
                             QWidget* parent)
    : QDialog(parent)
    , m_informe(std::move(informe))
    , m_texto(Utf8(avisos.Detalles()))
{
    setObjectName(QStringLiteral("VentanaAvisos"));
    setWindowTitle(QStringLiteral("Avisos del proceso"));
    setWindowModality(Qt::ApplicationModal);
    setSizeGripEnabled(true);
    setProperty(kPropiedadContexto, IDH_ERRORES);

    auto* capa = new QVBoxLayout(this);
    auto* cuenta = new QLabel(
        Utf8(avisos.Cuenta()) +
            QStringLiteral(": las tablas se han escrito, pero estos datos se han perdido o cambiado."),
        this);
    cuenta->setObjectName(QStringLiteral("CuentaAvisos"));
    cuenta->setWordWrap(true);
    capa->addWidget(cuenta);

    // A read-only text that wraps long warnings: each kind in bold with its count, its warnings
    // below it in the order they were found.
    m_lista = new QTextBrowser(this);
    m_lista->setObjectName(QStringLiteral("ListaAvisos"));
    m_lista->setOpenLinks(false);
    m_lista->setLineWrapMode(QTextEdit::WidgetWidth);
    m_lista->setHtml(HtmlAvisos(avisos));
    capa->addWidget(m_lista, 1);

    auto* botones = new QDialogButtonBox(this);
    QPushButton* copiar = botones->addButton(QStringLiteral("&Copiar"), QDialogButtonBox::ActionRole);
    copiar->setObjectName(QStringLiteral("BCopiar"));
    QPushButton* abrir =
        botones->addButton(QStringLiteral("&Abrir el informe"), QDialogButtonBox::ActionRole);
    abrir->setObjectName(QStringLiteral("BAbrirInforme"));
    std::error_code ec;
    abrir->setEnabled(!m_informe.empty() && std::filesystem::is_regular_file(m_informe, ec));
    if (!m_informe.empty()) {
        abrir->setToolTip(QString::fromStdU16String(m_informe.u16string()));
    }
    QPushButton* cerrar = botones->addButton(QStringLiteral("C&errar"), QDialogButtonBox::RejectRole);
    cerrar->setObjectName(QStringLiteral("BCerrar"));
    cerrar->setDefault(true);
    connect(copiar, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_texto); });
    connect(abrir, &QPushButton::clicked, this, &VentanaAvisos::AbrirInforme);
    connect(botones, &QDialogButtonBox::rejected, this, &QDialog::reject);
    capa->addWidget(botones);

    InstalarTeclaAyuda(*this, ayuda);

    // Large enough to read some twenty warnings at once; never larger than the screen.
    QSize tamano(760, 480);
    if (const QScreen* pantalla = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        const QRect libre = pantalla->availableGeometry();
        tamano = tamano.boundedTo(libre.size() * 0.95);
    }
    resize(tamano);
    if (parent != nullptr) {
        CentrarSobre(*this, parent->window());
    }
}

void VentanaAvisos::AbrirInforme()
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdU16String(m_informe.u16string())))) {
        QMessageBox caja(this);
        caja.setObjectName(QStringLiteral("Mensaje"));
        PrepararMensaje(caja, QStringLiteral("No se puede abrir el informe ") +
                                  QString::fromStdU16String(m_informe.u16string()) +
                                  QStringLiteral(": el sistema no tiene ningún programa para mostrarlo."));
        caja.exec();
    }
}

} // namespace zendral
