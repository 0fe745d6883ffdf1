#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>
#include <string>

class QListWidget;

namespace zendral
{

class QtPrompter;

// "Restaurar tablas anteriores": the copies of the tables kept before each centre import, newest
// first, with "Restaurar" and "Cancelar".
class DialogoRestaurar : public QDialog
{
    Q_OBJECT
public:
    DialogoRestaurar(const std::filesystem::path& directorioTrabajo, QWidget* parent = nullptr);

    // The name of the copy picked, or empty.
    std::string Elegida() const;
    int Copias() const;

private:
    QListWidget* m_lista;
};

// A question in a message box titled "Zendral" with "Sí" and "No"; true for "Sí".
bool PreguntarSiNo(QtPrompter& prompter, const QString& texto);

// Shows the dialog and puts the copy picked back, saying how it went. True when it did.
bool OfrecerRestauracion(QtPrompter& prompter, QWidget* ventana,
                         const std::filesystem::path& directorioTrabajo);

// Puts copy `copia` back, saying how it went. True when it did.
bool RestaurarCopia(QtPrompter& prompter, const std::filesystem::path& directorioTrabajo,
                    const std::string& copia);

} // namespace zendral
