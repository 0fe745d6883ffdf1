#pragma once

#include "Ayuda.h"
#include "AyudaAplicacion.h"

namespace zendral
{

// The application's help requests answered by the help viewer: F1 opens the topic of the
// context, the help button opens the table of contents of the compiled help file.
class AyudaChm final : public AyudaAplicacion
{
public:
    explicit AyudaChm(help::Ayuda& ayuda)
        : m_ayuda(ayuda)
    {
    }

    void EstablecerArchivo(const QString& archivo) override
    {
        AyudaAplicacion::EstablecerArchivo(archivo);
        m_ayuda.SetHelpFile(archivo);
    }
    void Contexto(int contexto) override { m_ayuda.ContextHelp(contexto); }
    void Contenido() override { m_ayuda.ShowTableOfContents(); }

private:
    help::Ayuda& m_ayuda;
};

} // namespace zendral
