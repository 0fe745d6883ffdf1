#include "QtPrompter.h"

#include "AyudaAplicacion.h"
#include "ControlCursos.h"
#include "Cursos.h"
#include "Mensajes.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <exception>

namespace zendral
{

QtPrompter::QtPrompter(AyudaAplicacion& ayuda)
    : m_ayuda(ayuda)
{
}

QtPrompter::~QtPrompter() { CursorOcupado(false); }

int QtPrompter::Ejecutar(QDialog& dialogo) { return dialogo.exec(); }

int QtPrompter::Modal(QDialog& dialogo)
{
    const bool ocupado = m_ocupado;
    CursorOcupado(false);
    const int resultado = Ejecutar(dialogo);
    CursorOcupado(ocupado);
    return resultado;
}

std::optional<std::filesystem::path> QtPrompter::ElegirArchivo()
{
    if (m_dialogoArchivo == nullptr) {
        return std::nullopt;
    }
    QFileDialog& dialogo = *m_dialogoArchivo;
    if (Modal(dialogo) != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList elegidos = dialogo.selectedFiles();
    if (elegidos.isEmpty() || elegidos.front().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(elegidos.front().toStdU16String());
}

void PrepararMensaje(QMessageBox& caja, const QString& texto)
{
    caja.setWindowTitle(QString::fromUtf8(msg::kTituloAplicacion));
    caja.setTextFormat(Qt::PlainText);
    caja.setText(texto);
    caja.setIcon(QMessageBox::NoIcon);
    caja.setStandardButtons(QMessageBox::Ok);
    caja.button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
    caja.setDefaultButton(QMessageBox::Ok);
    caja.setEscapeButton(QMessageBox::Ok);
}

void QtPrompter::Mensaje(const std::string& texto)
{
    // The level/course dialog shows its notice labels while the message about missing data is open.
    if (m_controlCursos != nullptr) {
        m_controlCursos->ActualizarVisibilidad();
    }
    // Owned by the application, as the platform's own message boxes are: modal for every window.
    QMessageBox caja;
    caja.setObjectName(QStringLiteral("Mensaje"));
    caja.setWindowModality(Qt::ApplicationModal);
    PrepararMensaje(caja, QString::fromUtf8(texto.data(), static_cast<qsizetype>(texto.size())));
    Modal(caja);
}

void QtPrompter::MensajeFinal(const std::string& texto, const ListaAvisos& avisos)
{
    if (avisos.empty()) {
        Mensaje(texto);
        return;
    }
    QMessageBox caja;
    caja.setObjectName(QStringLiteral("Mensaje"));
    caja.setWindowModality(Qt::ApplicationModal);
    PrepararMensaje(caja, QString::fromUtf8(texto.data(), static_cast<qsizetype>(texto.size())));
    const std::string detalles = avisos.Detalles();
    caja.setDetailedText(QString::fromUtf8(detalles.data(), static_cast<qsizetype>(detalles.size())));
    // The box names its details button itself, in English or in the translation's words, also
    // each time it is pressed; our own wording is put back after every press.
    for (QAbstractButton* boton : caja.buttons()) {
        if (caja.buttonRole(boton) != QMessageBox::ActionRole) {
            continue;
        }
        boton->setObjectName(QStringLiteral("Detalles"));
        auto* lista = caja.findChild<QTextEdit*>();
        const auto nombrar = [boton, lista] {
            const bool abiertos = lista != nullptr && lista->isVisibleTo(lista->window());
            boton->setText(abiertos ? QStringLiteral("Ocultar detalles…")
                                    : QStringLiteral("Mostrar detalles…"));
        };
        nombrar();
        // Queued: the box renames the button after the signals of the click have been delivered.
        QObject::connect(boton, &QAbstractButton::clicked, boton, nombrar, Qt::QueuedConnection);
    }
    Modal(caja);
}

void QtPrompter::CursorOcupado(bool ocupado)
{
    if (ocupado == m_ocupado) {
        return;
    }
    m_ocupado = ocupado;
    if (ocupado) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void QtPrompter::MostrarControlCursos(ControlCursos& dialogo)
{
    // Opening CURSOST may fail; the error then ends the run before the dialog appears.
    dialogo.FormShow();
    TControlCursos ventana(dialogo, m_ayuda, m_ventana);
    QPointer<TControlCursos> anterior = m_controlCursos;
    m_controlCursos = &ventana;
    Modal(ventana);
    m_controlCursos = anterior;
    if (const std::exception_ptr fallo = ventana.Fallo()) {
        std::rethrow_exception(fallo);
    }
}

bool QtPrompter::ConfirmarLineas()
{
    // Its own caption, without the application title.
    QMessageBox caja;
    caja.setObjectName(QStringLiteral("PreguntaLineas"));
    caja.setWindowModality(Qt::ApplicationModal);
    caja.setWindowTitle(QString::fromUtf8(msg::kTituloLineas));
    caja.setTextFormat(Qt::PlainText);
    caja.setText(QString::fromUtf8(msg::kPreguntaLineas));
    caja.setIcon(QMessageBox::Warning);
    caja.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    caja.button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
    caja.button(QMessageBox::Cancel)->setText(QStringLiteral("Cancelar"));
    caja.setDefaultButton(QMessageBox::Ok);
    caja.setEscapeButton(QMessageBox::Cancel);
    return Modal(caja) == QMessageBox::Ok;
}

} // namespace zendral
