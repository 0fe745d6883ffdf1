#pragma once

#include "Copias.h"

#include <QDialog>
#include <QString>
#include <filesystem>
#include <string>
#include <vector>

class QPlainTextEdit;
class QTableWidget;

namespace zendral
{

class AyudaAplicacion;
class QtPrompter;

// "Restaurar tablas anteriores": the copies of the tables kept before each centre import, newest
// first, one row each with its date, what it was taken before, the document and the records of
// each table; under it, what restoring the selected copy would change in each table;
// "Restaurar" and "Cancelar". A double-click on a copy restores it once the user confirms.
class DialogoRestaurar : public QDialog
{
    Q_OBJECT
public:
    DialogoRestaurar(const std::filesystem::path& directorioTrabajo, QtPrompter& prompter,
                     QWidget* parent = nullptr);

    // The name of the copy picked, or empty.
    std::string Elegida() const;
    int Copias() const { return static_cast<int>(m_copias.size()); }

private:
    void DobleClic(int fila);
    // Shows what restoring the copy of `fila` would change.
    void MostrarCambios(int fila);

    QtPrompter& m_prompter;
    std::filesystem::path m_directorio;
    std::vector<copias::Copia> m_copias;
    QTableWidget* m_tabla;
    QPlainTextEdit* m_cambios;
};

// What a copy was taken before, for people: "antes de importar centre.xml".
QString TomadaAntesDe(const copias::Copia& copia);

// A question in a message box titled "Zendral" with "Sí" and "No"; true for "Sí".
bool PreguntarSiNo(QtPrompter& prompter, const QString& texto);

// Shows the dialog and puts the copy picked back, saying how it went. True when it did.
bool OfrecerRestauracion(QtPrompter& prompter, QWidget* ventana,
                         const std::filesystem::path& directorioTrabajo);

// Puts copy `copia` back, saying how it went. True when it did.
bool RestaurarCopia(QtPrompter& prompter, const std::filesystem::path& directorioTrabajo,
                    const std::string& copia);

} // namespace zendral
