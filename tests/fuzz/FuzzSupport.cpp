#include "FuzzSupport.h"

#include "ControlCursos.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

namespace zendral::fuzz
{
namespace
{

namespace fs = std::filesystem;

struct Scratch
{
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "zendral-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

} // namespace

const std::filesystem::path& ScratchDir()
{
    static const Scratch scratch;
    return scratch.path;
}

void WriteBytes(const std::filesystem::path& file, std::string_view bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        std::abort();
    }
}

std::string_view AsText(const std::uint8_t* data, std::size_t size)
{
    return size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
}

Respuestas::Respuestas(std::filesystem::path archivo)
    : m_archivo(std::move(archivo))
{
}

std::optional<std::filesystem::path> Respuestas::ElegirArchivo() { return m_archivo; }

void Respuestas::Mensaje(const std::string&) {}

void Respuestas::CursorOcupado(bool) {}

void Respuestas::MostrarControlCursos(ControlCursos& dialogo)
{
    dialogo.FormShow();
    if (++m_vecesDialogo > 2) {
        dialogo.BitBtn2Click();
        return;
    }
    dialogo.Rellenar(std::vector<NivelCurso>(dialogo.Tabla().RecordCount(), NivelCurso{"ESO", "1"}));
    dialogo.BitBtn1Click();
}

bool Respuestas::ConfirmarLineas() { return true; }

} // namespace zendral::fuzz
