#pragma once

#include "Avisos.h"
#include "Comparacion.h"

#include <QDialog>
#include <QString>
#include <filesystem>

class QTextBrowser;

namespace zendral
{

class AyudaAplicacion;

// "Comprobar un documento": what importing a centre document would do, found without doing it.
// The warnings grouped by kind and the changes to each table of Velorin, the abbreviation changes
// first, each group with its count; "Copiar" puts it all on the clipboard as text.
class VentanaComprobacion : public QDialog
{
    Q_OBJECT
public:
    VentanaComprobacion(const std::filesystem::path& documento, const ListaAvisos& avisos,
                        const comparacion::Comparacion& cambios, AyudaAplicacion& ayuda,
                        QWidget* parent = nullptr);

    // What the window shows, as text: as "Copiar" leaves it on the clipboard.
    QString Texto() const { return m_texto; }

private:
    QString m_texto;
    QTextBrowser* m_lista;
};

} // namespace zendral
