#include "Corte.h"

#include "CodePage.h"
#include "System.h"

#include <algorithm>
#include <filesystem>

namespace zendral::test
{
namespace
{

struct Estado
{
    int err = 0;
    std::vector<std::string> llamadas;
    long desde = 1;
    long veces = -1;
    std::filesystem::path archivo;
    long vistas = 0;
    long fallidas = 0;
};

Estado g_estado;

// The same name in any letter case, in the same folder however spelt.
bool EsElArchivo(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    return cp1252::EqualsNoCase(a.filename().string(), b.filename().string()) &&
           std::filesystem::weakly_canonical(a.parent_path(), ec) ==
               std::filesystem::weakly_canonical(b.parent_path(), ec);
}

int Cortar(const char* llamada, const std::filesystem::path& archivo)
{
    Estado& e = g_estado;
    const bool nombrada =
        e.llamadas.empty() || std::find(e.llamadas.begin(), e.llamadas.end(), llamada) != e.llamadas.end();
    if (!nombrada || (!e.archivo.empty() && !EsElArchivo(archivo, e.archivo))) {
        return 0;
    }
    ++e.vistas;
    if (e.vistas < e.desde || (e.veces >= 0 && e.fallidas >= e.veces)) {
        return 0;
    }
    ++e.fallidas;
    return e.err;
}

} // namespace

FalloInyectado::FalloInyectado(int err, std::vector<std::string> llamadas, long desde, long veces)
{
    g_estado = Estado{err, std::move(llamadas), desde, veces, {}, 0, 0};
    sys::SetFaultHook(&Cortar);
}

FalloInyectado::~FalloInyectado() { sys::SetFaultHook(nullptr); }

void FalloInyectado::SoloPara(const std::filesystem::path& archivo) { g_estado.archivo = archivo; }

long FalloInyectado::Vistas() const { return g_estado.vistas; }

long FalloInyectado::Fallidas() const { return g_estado.fallidas; }

std::vector<std::string> Temporales(const std::string& dir)
{
    std::vector<std::string> encontrados;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) {
            encontrados.push_back(n);
        }
    }
    return encontrados;
}

} // namespace zendral::test
