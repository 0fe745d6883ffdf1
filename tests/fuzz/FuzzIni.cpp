// Velorin.ini contents through the result-code writer. Beyond not failing, the writer must
// change only the one key: every other byte of the file stays where it was, and writing the
// same code again changes nothing.
#include "Error.h"
#include "FuzzSupport.h"
#include "IniFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace
{

constexpr std::string_view kSeccion = "Transformadores";
constexpr std::string_view kClave = "Transformado";

[[noreturn]] void Fallo(const char* que)
{
    std::fprintf(stderr, "IniFile: %s\n", que);
    std::abort();
}

// Lines with their line break ("\n" or "\r\n"; none on a last line without one).
std::vector<std::string_view> Lineas(std::string_view s)
{
    std::vector<std::string_view> lineas;
    while (!s.empty()) {
        const std::size_t salto = s.find('\n');
        const std::size_t largo = salto == std::string_view::npos ? s.size() : salto + 1;
        lineas.push_back(s.substr(0, largo));
        s.remove_prefix(largo);
    }
    return lineas;
}

std::string_view Salto(std::string_view linea)
{
    if (linea.size() >= 2 && linea.substr(linea.size() - 2) == "\r\n") {
        return linea.substr(linea.size() - 2);
    }
    if (!linea.empty() && linea.back() == '\n') {
        return linea.substr(linea.size() - 1);
    }
    return {};
}

std::string_view SinSalto(std::string_view linea)
{
    return linea.substr(0, linea.size() - Salto(linea).size());
}

bool EsSalto(std::string_view s) { return s == "\n" || s == "\r\n"; }

// `antes` and `despues` differ only by the key's line: either one line whose value after the
// first '=' became `valor`, or an added "key=value" line (after a header line when the
// section was missing), the line before it gaining the line break it lacked.
void ComprobarCambio(std::string_view antes, std::string_view despues, std::string_view valor)
{
    // A UTF-8 byte order mark stays in front and belongs to no line.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (antes.substr(0, 3) == kBom) {
        if (despues.substr(0, 3) != kBom) {
            Fallo("the byte order mark was lost");
        }
        antes.remove_prefix(3);
        despues.remove_prefix(3);
    }
    const auto a = Lineas(antes);
    const auto d = Lineas(despues);
    std::size_t prefijo = 0;
    while (prefijo < a.size() && prefijo < d.size() && a[prefijo] == d[prefijo]) {
        ++prefijo;
    }
    std::size_t sufijo = 0;
    while (sufijo < a.size() - prefijo && sufijo < d.size() - prefijo &&
           a[a.size() - 1 - sufijo] == d[d.size() - 1 - sufijo]) {
        ++sufijo;
    }
    const std::vector<std::string_view> quitadas(a.begin() + prefijo, a.end() - sufijo);
    std::vector<std::string_view> puestas(d.begin() + prefijo, d.end() - sufijo);
    if (quitadas.empty() && puestas.empty()) {
        return; // the key already held the value
    }
    if (quitadas.size() > 1) {
        Fallo("more than one line changed");
    }
    if (quitadas.size() == 1 && puestas.size() == 1) {
        const std::string_view vieja = quitadas[0];
        const std::size_t igual = SinSalto(vieja).find('=');
        if (igual == std::string_view::npos || puestas[0] != std::string(vieja.substr(0, igual + 1)) +
                                                                 std::string(valor) +
                                                                 std::string(Salto(vieja))) {
            Fallo("the changed line is not the old key line with the new value");
        }
        return;
    }
    std::size_t k = 0;
    if (quitadas.size() == 1) {
        // The line the new one follows had no line break.
        // (A last line ending in a lone CR reads as one with CR LF once the break is added.)
        const std::string_view vieja = quitadas[0];
        if (!Salto(vieja).empty() || puestas.empty() || puestas[0].substr(0, vieja.size()) != vieja ||
            !EsSalto(puestas[0].substr(vieja.size()))) {
            Fallo("a line other than the key line changed");
        }
        k = 1;
    }
    const std::string linea = std::string(kClave) + "=" + std::string(valor);
    if (puestas.size() == k + 2 && SinSalto(puestas[k]) == "[" + std::string(kSeccion) + "]" &&
        EsSalto(Salto(puestas[k]))) {
        ++k;
    }
    if (puestas.size() != k + 1 || SinSalto(puestas[k]) != linea || !EsSalto(Salto(puestas[k]))) {
        Fallo("the added lines are not the key line (and its section header)");
    }
}

std::string Leer(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view antes = zendral::fuzz::AsText(data, size);
    // The three codes the tool writes: 1 done, 0 and -1 for the runs that found no file.
    const long long codigo = static_cast<long long>(size % 3) - 1;
    const std::string valor = std::to_string(codigo);

    const std::string despues = zendral::ini::SetValue(antes, kSeccion, kClave, valor);
    ComprobarCambio(antes, despues, valor);
    if (zendral::ini::SetValue(despues, kSeccion, kClave, valor) != despues) {
        Fallo("writing the same value twice changed the file");
    }

    // The file writer gives the same bytes as the text writer.
    const std::filesystem::path file = zendral::fuzz::ScratchDir() / "Velorin.ini";
    zendral::fuzz::WriteBytes(file, antes);
    try {
        zendral::ini::WriteInteger(file, kSeccion, kClave, codigo);
    } catch (const zendral::Error&) {
        Fallo("a writable file was refused");
    }
    if (Leer(file) != despues) {
        Fallo("the file holds other bytes than the text writer gives");
    }
    return 0;
}
