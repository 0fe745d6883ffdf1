// zendral-chm-contextos: makes the context map of a help file compiled by chmcmd name its topics
// relative to the help file, as the Windows help compiler does ("ventana.htm").
//
// chmcmd 3.2.2 stores every [ALIAS] topic in /#STRINGS as the absolute path of the source file on
// the build machine ("/home/x/build/ayuda/chm-stage/ventana.htm"): it puts its project directory in
// front of each name of [FILES] when it fills /#IVB, whatever the project file says. The HTML Help
// engine looks those names up inside the help file, where no such topic exists.
//
// /#STRINGS lies in the compressed section, so it cannot be edited where it is. Each context name
// is rewritten in a copy of /#STRINGS at its own offset (the rest of the old name becomes NUL
// bytes), so every offset that /#IVB, /#WINDOWS or /#TOPICS hold stays valid; the copy is appended
// to the uncompressed section and the directory entry of /#STRINGS is pointed at it. Nothing else
// in the file changes.
//
//   zendral-chm-contextos ENTRADA.chm CARPETA-DEL-PROYECTO SALIDA.chm

#include <chm_lib.h>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

class Fallo : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::uint32_t Dword(const Bytes& b, std::size_t at)
{
    if (at + 4 > b.size()) {
        throw Fallo("el archivo está truncado");
    }
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

std::uint64_t Qword(const Bytes& b, std::size_t at)
{
    return std::uint64_t{Dword(b, at)} | std::uint64_t{Dword(b, at + 4)} << 32;
}

void PutQword(Bytes& b, std::size_t at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        b[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void PutWord(Bytes& b, std::size_t at, std::uint32_t value)
{
    b[at] = static_cast<unsigned char>(value);
    b[at + 1] = static_cast<unsigned char>(value >> 8);
}

// The directory's variable-length integers: 7 bits a byte, most significant first, the high bit
// set on every byte but the last.
std::uint64_t ReadEncint(const Bytes& b, std::size_t& at, std::size_t end)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 9; ++i) {
        if (at >= end) {
            throw Fallo("una entrada del directorio está truncada");
        }
        const unsigned char byte = b[at++];
        value = value << 7 | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            return value;
        }
    }
    throw Fallo("una entrada del directorio tiene un número demasiado largo");
}

void WriteEncint(Bytes& out, std::uint64_t value)
{
    unsigned char groups[10];
    int n = 0;
    do {
        groups[n++] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1) {
        out.push_back(static_cast<unsigned char>(groups[--n] | 0x80));
    }
    out.push_back(groups[0]);
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Fallo("no se puede abrir " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The objects of the help file as chmlib reads them.
class Archivo
{
public:
    explicit Archivo(const fs::path& path)
        : m_handle(chm_open(path.c_str()))
    {
        if (m_handle == nullptr) {
            throw Fallo(path.string() + " no es un archivo de ayuda CHM");
        }
    }
    ~Archivo() { chm_close(m_handle); }
    Archivo(const Archivo&) = delete;
    Archivo& operator=(const Archivo&) = delete;

    std::optional<Bytes> Read(const std::string& object) const
    {
        chmUnitInfo ui;
        if (chm_resolve_object(m_handle, object.c_str(), &ui) != CHM_RESOLVE_SUCCESS) {
            return std::nullopt;
        }
        Bytes data(static_cast<std::size_t>(ui.length));
        LONGUINT64 done = 0;
        while (done < ui.length) {
            const LONGINT64 got = chm_retrieve_object(m_handle, &ui, data.data() + done, done,
                                                      static_cast<LONGINT64>(ui.length - done));
            if (got <= 0) {
                throw Fallo("no se puede leer " + object);
            }
            done += static_cast<LONGUINT64>(got);
        }
        return data;
    }

    // Every object name, exactly as the directory stores it.
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        chm_enumerate(m_handle, CHM_ENUMERATE_ALL, &Collect, &names);
        return names;
    }

private:
    static int Collect(chmFile*, chmUnitInfo* ui, void* context)
    {
        static_cast<std::set<std::string>*>(context)->insert(ui->path);
        return CHM_ENUMERATOR_CONTINUE;
    }

    chmFile* m_handle;
};

// The new /#STRINGS, or nothing when every context name is already relative.
std::optional<Bytes> RelativeStrings(const Archivo& chm, const std::string& base)
{
    // Every help file has its project settings; without them the file is damaged, not mendable.
    if (!chm.Read("/#SYSTEM")) {
        throw Fallo("el archivo está incompleto o dañado (no tiene /#SYSTEM)");
    }
    const std::optional<Bytes> ivb = chm.Read("/#IVB");
    if (!ivb) {
        return std::nullopt; // no [MAP]: no context map to mend
    }
    const std::optional<Bytes> strings = chm.Read("/#STRINGS");
    if (!strings) {
        throw Fallo("el archivo tiene mapa de contextos pero no /#STRINGS");
    }
    const std::set<std::string> names = chm.Names();
    Bytes out = *strings;
    bool changed = false;
    std::set<std::uint32_t> done;
    const std::size_t end = 4 + std::min<std::size_t>(Dword(*ivb, 0), ivb->size() - 4);
    for (std::size_t at = 4; at + 8 <= end; at += 8) {
        const std::uint32_t context = Dword(*ivb, at);
        const std::uint32_t offset = Dword(*ivb, at + 4);
        if (offset == 0 || offset >= strings->size()) {
            throw Fallo("el contexto " + std::to_string(context) + " no nombra ningún tema");
        }
        std::size_t nul = offset;
        while (nul < strings->size() && (*strings)[nul] != 0) {
            ++nul;
        }
        const std::string stored(strings->begin() + offset,
                                 strings->begin() + static_cast<std::ptrdiff_t>(nul));
        std::string topic = stored;
        if (!stored.empty() && stored.front() == '/') {
            if (stored.compare(0, base.size(), base) != 0) {
                throw Fallo("el contexto " + std::to_string(context) + " nombra «" + stored +
                            "», fuera de la carpeta del proyecto " + base);
            }
            topic = stored.substr(base.size());
        }
        if (topic.empty() || names.count("/" + topic) == 0) {
            throw Fallo("el contexto " + std::to_string(context) + " nombra «" + stored +
                        "», que no está en el archivo de ayuda");
        }
        if (topic != stored && done.insert(offset).second) {
            std::copy(topic.begin(), topic.end(), out.begin() + offset);
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(offset + topic.size()),
                      out.begin() + static_cast<std::ptrdiff_t>(nul), 0);
            changed = true;
        }
    }
    return changed ? std::optional<Bytes>(out) : std::nullopt;
}

// Where the parts of the file lie, as its ITSF header and its ITSP directory say.
struct Layout
{
    std::uint64_t sizeSection = 0;   // the header section that records the file's size
    std::uint64_t contentOffset = 0; // the start of the content, section 0 first
    std::size_t dir = 0;             // the ITSP directory
    std::uint32_t headerLength = 0;  // the directory's header, before its first chunk
    std::uint32_t chunkSize = 0;
    std::uint32_t density = 0; // quick references every 1 + 2^density entries
    std::uint32_t chunks = 0;
};

Layout ReadLayout(const Bytes& file)
{
    if (file.size() < 0x60 || std::string(file.begin(), file.begin() + 4) != "ITSF") {
        throw Fallo("no tiene la cabecera ITSF");
    }
    Layout l;
    const std::uint32_t version = Dword(file, 4);
    l.sizeSection = Qword(file, 0x38);
    const std::uint64_t dirOffset = Qword(file, 0x48);
    const std::uint64_t dirLength = Qword(file, 0x50);
    l.contentOffset = version >= 3 ? Qword(file, 0x58) : dirOffset + dirLength;
    if (dirOffset + dirLength > file.size() || l.sizeSection + 0x18 > file.size() ||
        l.contentOffset > file.size()) {
        throw Fallo("la cabecera ITSF señala fuera del archivo");
    }
    l.dir = static_cast<std::size_t>(dirOffset);
    if (std::string(file.begin() + static_cast<std::ptrdiff_t>(l.dir),
                    file.begin() + static_cast<std::ptrdiff_t>(l.dir + 4)) != "ITSP") {
        throw Fallo("no tiene el directorio ITSP");
    }
    l.headerLength = Dword(file, l.dir + 8);
    l.chunkSize = Dword(file, l.dir + 0x10);
    l.density = Dword(file, l.dir + 0x14);
    l.chunks = Dword(file, l.dir + 0x2C);
    if (l.chunkSize < 0x20 || l.chunkSize > 0x10000 || l.density > 8 ||
        l.headerLength + std::uint64_t{l.chunks} * l.chunkSize > dirLength) {
        throw Fallo("el directorio ITSP no es coherente");
    }
    return l;
}

// One entry of a listing chunk of the directory: its name, its place, and what the chunk around
// it holds.
struct Entry
{
    std::string name;
    std::size_t start = 0;      // where the entry begins
    std::size_t end = 0;        // just past its last number
    std::size_t chunk = 0;      // where its chunk begins
    std::size_t entriesEnd = 0; // just past the chunk's last entry
    std::uint32_t freeSpace = 0;
    std::size_t quickrefs = 0;
};

// The directory entry of the object `wanted`.
Entry FindEntry(const Bytes& file, const Layout& l, const std::string& wanted)
{
    for (std::uint32_t c = 0; c < l.chunks; ++c) {
        Entry e;
        e.chunk = l.dir + l.headerLength + std::size_t{c} * l.chunkSize;
        if (std::string(file.begin() + static_cast<std::ptrdiff_t>(e.chunk),
                        file.begin() + static_cast<std::ptrdiff_t>(e.chunk + 4)) != "PMGL") {
            continue;
        }
        e.freeSpace = Dword(file, e.chunk + 4);
        if (e.freeSpace > l.chunkSize - 0x14) {
            throw Fallo("un bloque del directorio no es coherente");
        }
        e.entriesEnd = e.chunk + l.chunkSize - e.freeSpace;
        const std::size_t count = file[e.chunk + l.chunkSize - 2] | file[e.chunk + l.chunkSize - 1] << 8;
        e.quickrefs = count / (1 + (std::size_t{1} << l.density));
        for (std::size_t at = e.chunk + 0x14; at < e.entriesEnd;) {
            e.start = at;
            const std::uint64_t nameLength = ReadEncint(file, at, e.entriesEnd);
            if (nameLength > e.entriesEnd - at) {
                throw Fallo("una entrada del directorio está truncada");
            }
            e.name.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                          file.begin() + static_cast<std::ptrdiff_t>(at + nameLength));
            at += static_cast<std::size_t>(nameLength);
            ReadEncint(file, at, e.entriesEnd);
            ReadEncint(file, at, e.entriesEnd);
            ReadEncint(file, at, e.entriesEnd);
            if (e.name == wanted) {
                e.end = at;
                return e;
            }
        }
    }
    throw Fallo("el directorio no tiene " + wanted);
}

// Points the directory entry of /#STRINGS at a copy appended to the uncompressed section.
void Relocate(Bytes& file, const Bytes& strings)
{
    const Layout l = ReadLayout(file);
    const Entry e = FindEntry(file, l, "/#STRINGS");

    Bytes replacement;
    WriteEncint(replacement, e.name.size());
    replacement.insert(replacement.end(), e.name.begin(), e.name.end());
    WriteEncint(replacement, 0); // the uncompressed section
    WriteEncint(replacement, file.size() - l.contentOffset);
    WriteEncint(replacement, strings.size());
    const std::ptrdiff_t grow =
        static_cast<std::ptrdiff_t>(replacement.size()) - static_cast<std::ptrdiff_t>(e.end - e.start);
    const std::size_t quickrefStart = e.chunk + l.chunkSize - 2 * (e.quickrefs + 1);
    if (static_cast<std::ptrdiff_t>(e.entriesEnd) + grow > static_cast<std::ptrdiff_t>(quickrefStart)) {
        throw Fallo("no cabe la entrada nueva de /#STRINGS en el directorio");
    }
    // Later entries move by the difference, and so do the quick references to them.
    Bytes rest(file.begin() + static_cast<std::ptrdiff_t>(e.end),
               file.begin() + static_cast<std::ptrdiff_t>(e.entriesEnd));
    std::copy(replacement.begin(), replacement.end(), file.begin() + static_cast<std::ptrdiff_t>(e.start));
    std::copy(rest.begin(), rest.end(),
              file.begin() + static_cast<std::ptrdiff_t>(e.start + replacement.size()));
    const std::size_t newEnd = e.start + replacement.size() + rest.size();
    std::fill(file.begin() + static_cast<std::ptrdiff_t>(std::min(newEnd, e.entriesEnd)),
              file.begin() + static_cast<std::ptrdiff_t>(std::max(newEnd, e.entriesEnd)), 0);
    const std::size_t after = e.end - (e.chunk + 0x14);
    for (std::size_t q = 1; q <= e.quickrefs; ++q) {
        const std::size_t slot = e.chunk + l.chunkSize - 2 - 2 * q;
        const std::size_t value = file[slot] | file[slot + 1] << 8;
        if (value >= after) {
            PutWord(file, slot, static_cast<std::uint32_t>(static_cast<std::ptrdiff_t>(value) + grow));
        }
    }
    const std::uint32_t newFree = static_cast<std::uint32_t>(static_cast<std::ptrdiff_t>(e.freeSpace) - grow);
    file[e.chunk + 4] = static_cast<unsigned char>(newFree);
    file[e.chunk + 5] = static_cast<unsigned char>(newFree >> 8);
    file[e.chunk + 6] = static_cast<unsigned char>(newFree >> 16);
    file[e.chunk + 7] = static_cast<unsigned char>(newFree >> 24);

    file.insert(file.end(), strings.begin(), strings.end());
    PutQword(file, static_cast<std::size_t>(l.sizeSection) + 8, file.size());
}

void WriteFile(const fs::path& path, const Bytes& data)
{
    const fs::path partial = path.string() + ".parcial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(partial, ignored);
            throw Fallo("no se puede escribir " + path.string());
        }
    }
    fs::rename(partial, path);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "Uso: zendral-chm-contextos ENTRADA.chm CARPETA-DEL-PROYECTO SALIDA.chm\n";
        return 2;
    }
    const fs::path input = argv[1];
    const fs::path output = argv[3];
    bool written = false;
    try {
        // chmcmd writes its project directory made absolute, with a trailing "/".
        std::string base = fs::absolute(argv[2]).lexically_normal().generic_string();
        if (base.empty() || base.back() != '/') {
            base += '/';
        }
        Bytes file = ReadFile(input);
        std::optional<Bytes> strings;
        {
            const Archivo chm(input);
            strings = RelativeStrings(chm, base);
        }
        if (strings) {
            Relocate(file, *strings);
        }
        WriteFile(output, file);
        written = true;
        // The result must read back with every context name relative and present.
        const Archivo check(output);
        if (RelativeStrings(check, base)) {
            throw Fallo("el archivo corregido no se lee como se ha escrito");
        }
    } catch (const std::exception& e) {
        std::cerr << "zendral-chm-contextos: " << input.string() << ": " << e.what() << '\n';
        if (written) {
            std::error_code ignored;
            fs::remove(output, ignored);
        }
        return 1;
    }
    return 0;
}
