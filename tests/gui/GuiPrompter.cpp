#include "GuiPrompter.h"

#include "Cursos.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

namespace zendral::test
{

int GuiPrompter::Ejecutar(QDialog& dialogo)
{
    if (auto* caja = qobject_cast<QMessageBox*>(&dialogo)) {
        vistos << caja->windowTitle() + QLatin1Char('|') + caja->text();
    } else {
        vistos << dialogo.windowTitle();
    }
    cursorDuranteVentana << (QApplication::overrideCursor() != nullptr);
    if (respuestas.empty()) {
        ++sinRespuesta;
        return QDialog::Rejected;
    }
    const Respuesta respuesta = std::move(respuestas.front());
    respuestas.pop_front();
    return respuesta(dialogo);
}

void AyudaRegistrada::EstablecerArchivo(const QString& archivo)
{
    AyudaAplicacion::EstablecerArchivo(archivo);
    peticiones << QStringLiteral("archivo:") + archivo;
}

void AyudaRegistrada::Contexto(int contexto) { peticiones << QStringLiteral("contexto:%1").arg(contexto); }

void AyudaRegistrada::Contenido() { peticiones << QStringLiteral("contenido"); }

GuiPrompter::Respuesta ElegirArchivo(const std::filesystem::path& archivo)
{
    return [archivo](QDialog& d) {
        auto* dialogo = qobject_cast<QFileDialog*>(&d);
        if (dialogo == nullptr) {
            return int(QDialog::Rejected);
        }
        dialogo->selectFile(QString::fromStdString(archivo.string()));
        return int(QDialog::Accepted);
    };
}

GuiPrompter::Respuesta CancelarArchivo()
{
    return [](QDialog&) { return int(QDialog::Rejected); };
}

GuiPrompter::Respuesta Pulsar(QMessageBox::StandardButton boton)
{
    return [boton](QDialog& d) {
        auto* caja = qobject_cast<QMessageBox*>(&d);
        if (caja == nullptr || caja->button(boton) == nullptr) {
            return int(QMessageBox::NoButton);
        }
        caja->button(boton)->click();
        return caja->result();
    };
}

GuiPrompter::Respuesta EnDialogo(std::function<void(TControlCursos&)> acciones)
{
    return [acciones](QDialog& d) {
        auto* dialogo = qobject_cast<TControlCursos*>(&d);
        if (dialogo == nullptr) {
            return int(QDialog::Rejected);
        }
        dialogo->show();
        if (!QTest::qWaitForWindowActive(dialogo)) {
            qWarning("el diálogo de niveles y cursos no llegó a activarse");
        }
        acciones(*dialogo);
        if (dialogo->isVisible()) {
            qWarning("el diálogo de niveles y cursos sigue abierto");
            dialogo->close();
        }
        return dialogo->result();
    };
}

QLineEdit* EditorAbierto(QTableView* grid)
{
    for (auto* e : grid->viewport()->findChildren<QLineEdit*>()) {
        if (e->isVisible()) {
            return e;
        }
    }
    return nullptr;
}

void Escribir(TControlCursos& dialogo, int fila, int columna, const QString& texto)
{
    auto* grid = dialogo.findChild<QTableView*>(QStringLiteral("CursosTDBGrid"));
    const QModelIndex celda = grid->model()->index(fila, columna);
    grid->setFocus();
    // Enter in the cell before may have opened this one's editor already.
    QLineEdit* editor = grid->currentIndex() == celda ? EditorAbierto(grid) : nullptr;
    if (editor == nullptr) {
        grid->setCurrentIndex(celda);
        grid->edit(celda);
        editor = EditorAbierto(grid);
    }
    if (editor == nullptr) {
        qWarning("la celda %d,%d no abrió editor", fila, columna);
        return;
    }
    editor->selectAll();
    QTest::keyClicks(editor, texto);
    QTest::keyClick(editor, Qt::Key_Return);
}

void Pulsar(QWidget& ventana, const char* nombre)
{
    auto* boton = ventana.findChild<QAbstractButton*>(QString::fromLatin1(nombre));
    if (boton == nullptr) {
        qWarning("no hay botón %s", nombre);
        return;
    }
    // A click by mouse takes the focus first, as a person's click does.
    if (boton->focusPolicy() & Qt::ClickFocus) {
        boton->setFocus(Qt::MouseFocusReason);
    }
    QTest::mouseClick(boton, Qt::LeftButton);
}

} // namespace zendral::test
