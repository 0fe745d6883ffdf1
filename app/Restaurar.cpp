#include "Restaurar.h"

#include "Copias.h"
#include "Error.h"
#include "Mensajes.h"
#include "QtPrompter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace zendral
{
namespace
{

QString Texto(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

DialogoRestaurar::DialogoRestaurar(const std::filesystem::path& directorioTrabajo, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DialogoRestaurar"));
    setWindowTitle(QStringLiteral("Restaurar tablas anteriores"));
    setWindowModality(Qt::ApplicationModal);
    auto* capa = new QVBoxLayout(this);
    auto* explicacion =
        new QLabel(QStringLiteral("Antes de cada importación se guarda una copia de las tablas de Velorin.\n"
                                  "Elija la copia que quiere volver a poner. Las tablas actuales se guardan "
                                  "antes como otra copia."),
                   this);
    explicacion->setWordWrap(true);
    capa->addWidget(explicacion);

    m_lista = new QListWidget(this);
    m_lista->setObjectName(QStringLiteral("ListaCopias"));
    for (const auto& copia : copias::Listar(directorioTrabajo)) {
        auto* fila = new QListWidgetItem(Texto(copias::Describir(copia)), m_lista);
        fila->setData(Qt::UserRole, Texto(copia.nombre));
    }
    if (m_lista->count() == 0) {
        new QListWidgetItem(QStringLiteral("No hay ninguna copia de las tablas."), m_lista);
        m_lista->item(0)->setFlags(Qt::NoItemFlags);
    } else {
        m_lista->setCurrentRow(0);
    }
    m_lista->setMinimumSize(520, 200);
    capa->addWidget(m_lista);

    auto* botones = new QDialogButtonBox(this);
    QPushButton* restaurar = botones->addButton(QStringLiteral("Restaurar"), QDialogButtonBox::AcceptRole);
    restaurar->setObjectName(QStringLiteral("BRestaurar"));
    restaurar->setEnabled(Copias() > 0);
    QPushButton* cancelar = botones->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    cancelar->setObjectName(QStringLiteral("BCancelar"));
    connect(botones, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(botones, &QDialogButtonBox::rejected, this, &QDialog::reject);
    capa->addWidget(botones);
}

std::string DialogoRestaurar::Elegida() const
{
    const QListWidgetItem* fila = m_lista->currentItem();
    return fila != nullptr ? fila->data(Qt::UserRole).toString().toStdString() : std::string();
}

int DialogoRestaurar::Copias() const
{
    int n = 0;
    for (int i = 0; i < m_lista->count(); ++i) {
        n += m_lista->item(i)->data(Qt::UserRole).isValid() ? 1 : 0;
    }
    return n;
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
    DialogoRestaurar dialogo(directorioTrabajo, ventana);
    if (prompter.Mostrar(dialogo) != QDialog::Accepted || dialogo.Elegida().empty()) {
        return false;
    }
    return RestaurarCopia(prompter, directorioTrabajo, dialogo.Elegida());
}

} // namespace zendral
