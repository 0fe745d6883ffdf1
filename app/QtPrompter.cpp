#include "QtPrompter.h"

#include "AyudaAplicacion.h"
#include "ControlCursos.h"
#include "Cursos.h"
#include "Mensajes.h"
#include "VentanaAvisos.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
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
    m_informe.clear();
    CentrarSobre(dialogo, m_ventana);
    if (Modal(dialogo) != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList elegidos = dialogo.selectedFiles();
    if (elegidos.isEmpty() || elegidos.front().isEmpty()) {
        return std::nullopt;
    }
    // Reading a large document takes a while: the busy cursor and the window, painted again over
    // the closed dialog, say so from now on.
    CursorOcupado(true);
    const QString nombre = QFileInfo(elegidos.front()).fileName();
    MostrarEtapa(QStringLiteral("Leyendo %1…").arg(nombre));
    return std::filesystem::path(elegidos.front().toStdU16String());
}

void QtPrompter::SetEtiquetaEtapa(QLabel* etiqueta) { m_etiquetaEtapa = etiqueta; }

void QtPrompter::Etapa(const std::string& etapa)
{
    MostrarEtapa(QStringLiteral("En curso: ") +
                 QString::fromUtf8(etapa.data(), static_cast<qsizetype>(etapa.size())));
}

void QtPrompter::MostrarEtapa(const QString& texto)
{
    if (m_etiquetaEtapa != nullptr) {
        m_etiquetaEtapa->setText(texto);
        m_etiquetaEtapa->show();
    }
    // Painted now, not when the run gives the event loop back: over what a closed dialog left.
    if (m_ventana != nullptr) {
        m_ventana->repaint();
    }
}

void QtPrompter::FinDeRun()
{
    if (m_etiquetaEtapa != nullptr) {
        m_etiquetaEtapa->clear();
        m_etiquetaEtapa->hide();
    }
    CursorOcupado(false);
}

void CentrarSobre(QWidget& dialogo, const QWidget* ventana)
{
    if (ventana == nullptr || !ventana->isVisible()) {
        return;
    }
    // The window's place on the screen, also when it sits inside the host's window, whose own
    // place Qt does not take into account for a dialog's parent.
    const QRect sobre(ventana->mapToGlobal(QPoint(0, 0)), ventana->size());
    QSize tamano = dialogo.size();
    if (!dialogo.testAttribute(Qt::WA_Resized)) {
        tamano = tamano.expandedTo(dialogo.sizeHint());
    }
    QRect lugar(QPoint(0, 0), tamano);
    lugar.moveCenter(sobre.center());
    if (const QScreen* pantalla = ventana->screen()) {
        const QRect libre = pantalla->availableGeometry();
        lugar.moveLeft(std::max(libre.left(), std::min(lugar.left(), libre.right() - lugar.width() + 1)));
        lugar.moveTop(std::max(libre.top(), std::min(lugar.top(), libre.bottom() - lugar.height() + 1)));
    }
    dialogo.move(lugar.topLeft());
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
    InstalarTeclaAyuda(caja, m_ayuda);
    caja.setProperty(kPropiedadContexto, IDH_ERRORES);
    Modal(caja);
}

void QtPrompter::MensajeFinal(const std::string& texto, const ListaAvisos& avisos)
{
    if (avisos.empty()) {
        Mensaje(texto);
        return;
    }
    const std::filesystem::path informe = m_informe;
    // The box comes back after the warnings window closes, until it is answered.
    for (;;) {
        QMessageBox caja;
        caja.setObjectName(QStringLiteral("Mensaje"));
        caja.setWindowModality(Qt::ApplicationModal);
        PrepararMensaje(caja, QString::fromUtf8(texto.data(), static_cast<qsizetype>(texto.size())));
        caja.setIcon(QMessageBox::Warning);
        const std::string cuenta = avisos.Cuenta();
        caja.setInformativeText(QString::fromUtf8(cuenta.data(), static_cast<qsizetype>(cuenta.size())));
        QPushButton* detalles = caja.addButton(QStringLiteral("&Mostrar detalles…"), QMessageBox::ActionRole);
        detalles->setObjectName(QStringLiteral("Detalles"));
        caja.setDefaultButton(QMessageBox::Ok);
        InstalarTeclaAyuda(caja, m_ayuda);
        caja.setProperty(kPropiedadContexto, IDH_ERRORES);
        Modal(caja);
        if (caja.clickedButton() != detalles) {
            return;
        }
        VentanaAvisos ventana(avisos, informe, m_ayuda, m_ventana);
        Modal(ventana);
    }
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
    InstalarTeclaAyuda(caja, m_ayuda);
    caja.setProperty(kPropiedadContexto, IDH_LINEAS);
    return Modal(caja) == QMessageBox::Ok;
}

} // namespace zendral
