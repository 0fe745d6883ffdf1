#pragma once

#include "Prompter.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the fuzz targets share: one scratch directory per process and a prompter that answers
// every question of a run the way a patient user would.
namespace zendral::fuzz
{

// A directory under the system's temporary directory, made on the first call and removed when
// the process exits normally.
const std::filesystem::path& ScratchDir();

// Writes the bytes to `file`, replacing it. Aborts when the file cannot be written: a fuzz run
// that cannot store its input tests nothing.
void WriteBytes(const std::filesystem::path& file, std::string_view bytes);

std::string_view AsText(const std::uint8_t* data, std::size_t size);

// Picks `archivo` in the file dialog, gives every course level "ESO" and course number "1" and
// accepts the dialog, and answers OK to the line-creation question. A dialog that still reports
// missing data after that is left with the forced exit, so that a run always ends.
class Respuestas : public Prompter
{
public:
    explicit Respuestas(std::filesystem::path archivo);

    std::optional<std::filesystem::path> ElegirArchivo() override;
    void Mensaje(const std::string& texto) override;
    void CursorOcupado(bool ocupado) override;
    void MostrarControlCursos(ControlCursos& dialogo) override;
    bool ConfirmarLineas() override;

private:
    std::filesystem::path m_archivo;
    int m_vecesDialogo = 0;
};

} // namespace zendral::fuzz
