#pragma once

#include "contexto.h"

#include <QString>

class QWidget;

namespace zendral
{

// The application's help requests, as the windows make them. This default keeps the help file name
// and shows nothing; the program's help::Ayuda (Ayuda.h) answers them through the help viewer.
class AyudaAplicacion
{
public:
    virtual ~AyudaAplicacion() = default;

    // The application's help file, a name beside the executable unless it has a directory.
    virtual void EstablecerArchivo(const QString& archivo) { m_archivo = archivo; }
    QString Archivo() const { return m_archivo; }

    // F1: help for a context number.
    virtual void Contexto(int contexto) { (void)contexto; }
    // The help's table of contents.
    virtual void Contenido() {}

private:
    QString m_archivo;
};

inline constexpr const char* kArchivoAyuda = "GestIB.chm";
// The dynamic property that holds a widget's help context.
inline constexpr const char* kPropiedadContexto = "HelpContext";

// The help context of `widget`: its own when set, else the nearest parent's; 0 for none.
int ContextoDeAyuda(const QWidget* widget);

// Routes F1 in `ventana` (and every widget inside it) to ayuda.Contexto with the help context of
// the widget that has the focus.
void InstalarTeclaAyuda(QWidget& ventana, AyudaAplicacion& ayuda);

} // namespace zendral
