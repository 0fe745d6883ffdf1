#include "Restaurar.h"

#include "AyudaAplicacion.h"
#include "Comparacion.h"
#include "Copias.h"
#include "Error.h"
#include "Mensajes.h"
#include "QtPrompter.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace zendral
{
namespace
{

QString Texto(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

QString TomadaAntesDe(const copias::Copia& copia)
{
    const QString documento = copia.documento.empty()
                                  ? QString()
                                  : Texto(std::filesystem::path(copia.documento).filename().string());
    if (copia.motivo == "importación") {
        return documento.isEmpty() ? QStringLiteral("antes de importar")
                                   : QStringLiteral("antes de importar ") + documento;
    }
    const QString motivo = Texto(copia.motivo);
    return motivo.startsWith(QStringLiteral("antes de")) ? motivo : QStringLiteral("antes de ") + motivo;
}

namespace
{

// The copies, one row each with its date, what it was taken before, the document and the records
// of each table: one column per table, in the order the copies list them.
QTableWidget* ListaCopias(const std::vector<copias::Copia>& lista, QWidget* padre)
{
    QStringList tablas;
    for (const auto& copia : lista) {
        for (const auto& [tabla, registros] : copia.registros) {
            if (!tablas.contains(Texto(tabla))) {
                tablas << Texto(tabla);
            }
        }
    }
    auto* vista =
        new QTableWidget(static_cast<int>(lista.size()), 3 + static_cast<int>(tablas.size()), padre);
    vista->setObjectName(QStringLiteral("ListaCopias"));
    vista->setHorizontalHeaderLabels(
        QStringList{QStringLiteral("Fecha"), QStringLiteral("Copia tomada"), QStringLiteral("Documento")} +
        tablas);
    vista->verticalHeader()->hide();
    vista->setEditTriggers(QAbstractItemView::NoEditTriggers);
    vista->setSelectionBehavior(QAbstractItemView::SelectRows);
    vista->setSelectionMode(QAbstractItemView::SingleSelection);
    vista->setWordWrap(false);
    vista->setAlternatingRowColors(true);
    vista->setTabKeyNavigation(false);
    for (int fila = 0; fila < static_cast<int>(lista.size()); ++fila) {
        const copias::Copia& copia = lista[static_cast<std::size_t>(fila)];
        const auto celda = [&](int columna, const QString& texto, Qt::Alignment alineacion = Qt::AlignLeft) {
            auto* item = new QTableWidgetItem(texto);
            item->setTextAlignment(alineacion | Qt::AlignVCenter);
            vista->setItem(fila, columna, item);
            return item;
        };
        celda(0, Texto(copia.fecha))->setToolTip(Texto(copia.nombre));
        celda(1, TomadaAntesDe(copia));
        celda(2, copia.documento.empty() ? QStringLiteral("—")
                                         : Texto(std::filesystem::path(copia.documento).filename().string()))
            ->setToolTip(Texto(copia.documento));
        for (int t = 0; t < tablas.size(); ++t) {
            QString registros = QStringLiteral("—");
            for (const auto& [tabla, n] : copia.registros) {
                if (Texto(tabla) == tablas[t]) {
                    registros = QString::number(n);
                }
            }
            celda(3 + t, registros, Qt::AlignRight);
        }
    }
    return vista;
}

// Every column readable without scrolling, and 6 to 12 rows high, within the screen of `parent`.
void AjustarTamano(QTableWidget& vista, const QWidget* parent)
{
    int ancho = 2 * vista.frameWidth();
    for (int c = 0; c < vista.columnCount(); ++c) {
        ancho += vista.columnWidth(c);
    }
    if (vista.verticalScrollBar() != nullptr) {
        ancho += vista.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    }
    const int alto =
        vista.horizontalHeader()->sizeHint().height() +
        vista.verticalHeader()->defaultSectionSize() * std::max(6, std::min(12, vista.rowCount())) +
        2 * vista.frameWidth();
    vista.setMinimumSize(std::max(520, ancho), alto);
    if (const QScreen* pantalla = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        vista.setMinimumWidth(std::min(vista.minimumWidth(), pantalla->availableGeometry().width() - 60));
    }
}

} // namespace

DialogoRestaurar::DialogoRestaurar(const std::filesystem::path& directorioTrabajo, QtPrompter& prompter,
                                   QWidget* parent)
    : QDialog(parent)
    , m_prompter(prompter)
    , m_directorio(directorioTrabajo)
    , m_copias(copias::Listar(directorioTrabajo))
{
    setObjectName(QStringLiteral("DialogoRestaurar"));
    setWindowTitle(QStringLiteral("Restaurar tablas anteriores"));
    setWindowModality(Qt::ApplicationModal);
    setSizeGripEnabled(true);
    setProperty(kPropiedadContexto, IDH_COPIAS);
    auto* capa = new QVBoxLayout(this);
    auto* explicacion = new QLabel(
        QStringLiteral("Antes de cada importación se guarda una copia de las tablas de Velorin.\n"
                       "Elija la copia que quiere volver a poner (doble clic o «Restaurar»). Las tablas "
                       "actuales se guardan antes como otra copia."),
        this);
    explicacion->setWordWrap(true);
    capa->addWidget(explicacion);

    m_tabla = ListaCopias(m_copias, this);
    m_tabla->resizeColumnsToContents();
    m_tabla->horizontalHeader()->setStretchLastSection(false);
    if (m_copias.empty()) {
        m_tabla->hide();
        auto* ninguna = new QLabel(QStringLiteral("No hay ninguna copia de las tablas."), this);
        ninguna->setObjectName(QStringLiteral("SinCopias"));
        capa->addWidget(ninguna);
    } else {
        m_tabla->selectRow(0);
    }
    capa->addWidget(m_tabla, 1);
    connect(m_tabla, &QTableWidget::cellDoubleClicked, this, [this](int fila, int) { DobleClic(fila); });

    // What the selected copy would change, read before anything is confirmed.
    auto* rotulo =
        new QLabel(QStringLiteral("Lo que cambiaría en las tablas al restaurar la copia elegida:"), this);
    capa->addWidget(rotulo);
    m_cambios = new QPlainTextEdit(this);
    m_cambios->setObjectName(QStringLiteral("CambiosCopia"));
    m_cambios->setReadOnly(true);
    m_cambios->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_cambios->setMinimumHeight(m_tabla->verticalHeader()->defaultSectionSize() * 8);
    capa->addWidget(m_cambios, 1);
    rotulo->setVisible(Copias() > 0);
    m_cambios->setVisible(Copias() > 0);
    connect(m_tabla, &QTableWidget::currentCellChanged, this, [this](int fila) { MostrarCambios(fila); });
    MostrarCambios(m_tabla->currentRow());

    auto* botones = new QDialogButtonBox(this);
    QPushButton* restaurar = botones->addButton(QStringLiteral("&Restaurar"), QDialogButtonBox::AcceptRole);
    restaurar->setObjectName(QStringLiteral("BRestaurar"));
    restaurar->setEnabled(Copias() > 0);
    QPushButton* cancelar = botones->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    cancelar->setObjectName(QStringLiteral("BCancelar"));
    connect(botones, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(botones, &QDialogButtonBox::rejected, this, &QDialog::reject);
    capa->addWidget(botones);
    InstalarTeclaAyuda(*this, prompter.Ayuda());

    AjustarTamano(*m_tabla, parent);
}

std::string DialogoRestaurar::Elegida() const
{
    const int fila = m_tabla->currentRow();
    if (fila < 0 || fila >= Copias()) {
        return {};
    }
    return m_copias[static_cast<std::size_t>(fila)].nombre;
}

void DialogoRestaurar::MostrarCambios(int fila)
{
    if (fila < 0 || fila >= Copias()) {
        m_cambios->clear();
        return;
    }
    const copias::Copia& copia = m_copias[static_cast<std::size_t>(fila)];
    std::string texto;
    try {
        // A copy that the restore would refuse says why here already.
        copias::Comprobar(copia);
        const auto cambios = comparacion::CompararRestauracion(m_directorio, copia);
        texto = cambios.SinCambios() ? std::string("Ninguno: las tablas actuales son las de esta copia.")
                                     : cambios.Cuentas("") + "\n" + cambios.Lista();
    } catch (const Error& e) {
        texto = e.what();
    }
    m_cambios->setPlainText(Texto(texto));
}

void DialogoRestaurar::DobleClic(int fila)
{
    if (fila < 0 || fila >= Copias()) {
        return;
    }
    m_tabla->selectRow(fila);
    const copias::Copia& copia = m_copias[static_cast<std::size_t>(fila)];
    if (PreguntarSiNo(m_prompter, QStringLiteral("¿Quiere restaurar las tablas de la copia del %1 (%2)?\n\n"
                                                 "Las tablas actuales se guardan antes como otra copia.")
                                      .arg(Texto(copia.fecha), TomadaAntesDe(copia)))) {
        accept();
    }
}

bool PreguntarSiNo(QtPrompter& prompter, const QString& texto)
{
    QMessageBox caja;
    caja.setObjectName(QStringLiteral("PreguntaRestaurar"));
    caja.setWindowModality(Qt::ApplicationModal);
    caja.setWindowTitle(QString::fromUtf8(msg::kTituloAplicacion));
    caja.setTextFormat(Qt::PlainText);
    caja.setText(texto);
    caja.setIcon(QMessageBox::Question);
    caja.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    caja.button(QMessageBox::Yes)->setText(QStringLiteral("Sí"));
    caja.button(QMessageBox::No)->setText(QStringLiteral("No"));
    caja.setDefaultButton(QMessageBox::No);
    caja.setEscapeButton(QMessageBox::No);
    // Every question of this kind is about the copies of the tables.
    caja.setProperty(kPropiedadContexto, IDH_COPIAS);
    InstalarTeclaAyuda(caja, prompter.Ayuda());
    return prompter.Mostrar(caja) == QMessageBox::Yes;
}

bool RestaurarCopia(QtPrompter& prompter, const std::filesystem::path& directorioTrabajo,
                    const std::string& copia)
{
    try {
        const auto puesta = copias::Restaurar(directorioTrabajo, copia);
        prompter.Mensaje("Se han restaurado las tablas de la copia " + puesta.nombre + " (" + puesta.fecha +
                         "). Las tablas que había se han guardado antes como otra copia.");
        return true;
    } catch (const Error& e) {
        prompter.Mensaje(e.what());
        return false;
    }
}

bool OfrecerRestauracion(QtPrompter& prompter, QWidget* ventana,
                         const std::filesystem::path& directorioTrabajo)
{
    DialogoRestaurar dialogo(directorioTrabajo, prompter, ventana);
    if (prompter.Mostrar(dialogo) != QDialog::Accepted || dialogo.Elegida().empty()) {
        return false;
    }
    return RestaurarCopia(prompter, directorioTrabajo, dialogo.Elegida());
}

} // namespace zendral
