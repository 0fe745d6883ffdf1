// The faults a run must not have, each with its reproducer: a document that is not a centre
// document, a table held by another program, write failures, leftover temporary files that are
// links; and the way back (copias, restaurar) from the command line.
#include "AtomicFile.h"
#include "CarpetaZendral.h"
#include "Cli.h"
#include "Copias.h"
#include "Corte.h"
#include "DbfTable.h"
#include "EjecutarCli.h"
#include "Error.h"
#include "RunLock.h"
#include "System.h"
#include "Tablas.h"
#include "TempDir.h"
#include "Velorin.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#ifndef _WIN32
#include <sys/file.h>
#endif

namespace zendral::cli
{
namespace
{

namespace fs = std::filesystem;

using test::Ejecutar;
using test::kSamples;
using test::Salida;

using Conjunto = std::map<std::string, std::string>;

// Every file of the working directory but our own folder, with its bytes.
Conjunto Archivos(const fs::path& dir)
{
    Conjunto c;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.is_regular_file()) {
            c[e.path().filename().string()] = test::ReadFile(e.path());
        }
    }
    return c;
}

class SalvaguardaTest : public ::testing::Test
{
protected:
    SalvaguardaTest() { fs::create_directory(work); }

    Salida Importar(const fs::path& centro, std::vector<std::string> mas = {})
    {
        std::vector<std::string> args = {"exportar",    centro.string(), "--dir",
                                         work.string(), "--cursos",      (kSamples / "cursos.csv").string()};
        args.insert(args.end(), mas.begin(), mas.end());
        return Ejecutar(args);
    }

    test::TempDir dir;
    fs::path work = dir / "VTEMP";
};

TEST_F(SalvaguardaTest, DocumentThatIsNotACentreTouchesNothing)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    const Conjunto antes = Archivos(work);
    const std::size_t copiasAntes = copias::Listar(work).size();
    const std::pair<std::string, std::string> documentos[] = {
        {"SolucioHorari.xml", "<HORARI><SESSIONS/></HORARI>"},
        {"otro.xml", "<?xml version=\"1.0\"?><CENTROS><CENTRE/></CENTROS>"},
        {"prefijo.xml", "<g:CENTRE xmlns:g=\"urn:gestib\"><g:MATERIES/></g:CENTRE>"},
    };
    for (const auto& [nombre, texto] : documentos) {
        const auto s = Importar(dir.write(nombre, texto));
        EXPECT_EQ(s.codigo, 1) << nombre;
        const std::string raiz = nombre == "SolucioHorari.xml" ? "HORARI"
                                 : nombre == "otro.xml"        ? "CENTROS"
                                                               : "g:CENTRE";
        EXPECT_NE(s.err.find("El archivo " + (dir / nombre).string() +
                             " no es un documento de centro de GestIB: su elemento raíz es " + raiz),
                  std::string::npos)
            << s.err;
        EXPECT_TRUE(s.out.empty());
    }
    EXPECT_EQ(Archivos(work), antes);
    // Nothing was about to change: no copy, no marker.
    EXPECT_EQ(copias::Listar(work).size(), copiasAntes);
    EXPECT_FALSE(copias::AvisoInterrumpido(work));
    // A centre document without sections is still imported, as empty tables.
    const auto s = Importar(dir.write("vacio.xml", "<CENTRE/>"));
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.out.find("  PROFT: 0 registros"), std::string::npos);
}

TEST_F(SalvaguardaTest, HeldTableStopsTheRunBeforeAnythingChanges)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    const Conjunto antes = Archivos(work);
    const std::size_t copiasAntes = copias::Listar(work).size();
    // Another program's lock, taken through an open of its own (a lock of this process through
    // another descriptor conflicts like one of another process).
    for (const char* archivo : {"PROFT.DBF", "MATIB.MDX", "DIASHORAST.DBF"}) {
        const int fd = sys::Open(work / archivo, sys::OpenMode::ReadWrite);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(sys::Lock(fd, false), 0);
        const auto s = Importar(kSamples / "centre.xml", {"--sin-lineas"});
        sys::Close(fd);
        EXPECT_EQ(s.codigo, 1);
        const std::string nombre(archivo);
        const std::string esperado =
            nombre.ends_with(".DBF")
                ? "La tabla " + nombre.substr(0, nombre.size() - 4) + " está en uso por otro programa\n"
                : "El archivo MATIB.MDX está en uso por otro programa\n";
        EXPECT_EQ(s.err, esperado);
        EXPECT_EQ(Archivos(work), antes) << archivo;
        EXPECT_EQ(copias::Listar(work).size(), copiasAntes);
    }

    // The export takes its six tables first too.
    host::LlenarDiasHoras(work, 8, false);
    host::GenerarSoluc(work, {});
    const fs::path saga = dir / "saga";
    fs::create_directory(saga);
    const int fd = sys::Open(work / "DIASHORAST.DBF", sys::OpenMode::ReadWrite);
    ASSERT_EQ(sys::Lock(fd, true), 0);
    auto s = Ejecutar({"importar", saga.string(), "--dir", work.string()});
    sys::Close(fd);
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "La tabla DIASHORAST está en uso por otro programa\n");
    EXPECT_TRUE(fs::is_empty(saga));
    s = Ejecutar({"importar", saga.string(), "--dir", work.string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
}

#ifndef _WIN32
TEST_F(SalvaguardaTest, FlockLocksAreHonoured)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    const Conjunto antes = Archivos(work);
    const int fd = sys::Open(work / "AULAT.DBF", sys::OpenMode::Read);
    ASSERT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
    const auto s = Importar(kSamples / "centre.xml");
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "La tabla AULAT está en uso por otro programa\n");
    EXPECT_EQ(Archivos(work), antes);
    // Our own table opens keep the other program out in turn.
    dbf::Table t("t", work, "AULAT");
    EXPECT_THROW(t.Open(true), Error);
    ::flock(fd, LOCK_UN);
    t.Open(true);
    const int otro = sys::Open(work / "AULAT.DBF", sys::OpenMode::Read);
    EXPECT_NE(::flock(otro, LOCK_SH | LOCK_NB), 0);
    t.Close();
    EXPECT_EQ(::flock(otro, LOCK_SH | LOCK_NB), 0);
    sys::Close(otro);
    sys::Close(fd);
}
#endif

TEST_F(SalvaguardaTest, WriteFailuresEndTheRunInSpanishAndKeepThePreviousFiles)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    const Conjunto antes = Archivos(work);
    const std::pair<int, std::string> fallos[] = {
        {EFBIG, "archivo demasiado grande"},
        {ENOSPC, "no queda espacio en el disco"},
#ifdef EDQUOT
        {EDQUOT, "se ha superado la cuota de disco"},
#endif
    };
    for (const auto& [err, motivo] : fallos) {
        // The table writes of the run: the first batch of PROFT's records.
        Salida s;
        {
            test::FalloInyectado fallo(err, {"pwrite"}, 5, 1);
            s = Importar(kSamples / "centre.xml");
        }
        EXPECT_EQ(s.codigo, 1);
        EXPECT_NE(
            s.err.find(motivo + ". Se han vuelto a poner las tablas que había antes de la importación."),
            std::string::npos)
            << s.err;
        EXPECT_TRUE(test::Temporales(work.string()).empty());
        EXPECT_FALSE(copias::AvisoInterrumpido(work));
        // Tables of two documents never stay: the set of before is back.
        EXPECT_EQ(Archivos(work), antes);
        // Velorin changes a table the run did not replace, in place: the copy keeps its own bytes.
        {
            dbf::Table t("t", work, "DIASHORAST");
            t.Open();
            t.Append();
            t.FieldByName("DIHO").SetAsString("11");
            t.Post();
            t.Close();
        }
        // What was replaced before the failure goes back with restaurar.
        ASSERT_EQ(Ejecutar({"restaurar", "--dir", work.string()}).codigo, 0);
        EXPECT_EQ(Archivos(work), antes);
    }

    // The timetable document: the previous one stays, and nothing beside it.
    host::LlenarDiasHoras(work, 8, false);
    host::GenerarSoluc(work, {});
    const fs::path saga = dir / "saga";
    fs::create_directory(saga);
    ASSERT_EQ(Ejecutar({"importar", saga.string(), "--dir", work.string()}).codigo, 0);
    const std::string documento = test::ReadFile(saga / "SolucioHorari.xml");
    Salida s;
    {
        test::FalloInyectado fallo(EFBIG, {"write"}, 1);
        s = Ejecutar({"importar", saga.string(), "--dir", work.string()});
    }
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "No se puede escribir el archivo " + (saga / "SolucioHorari.xml").string() +
                         ": archivo demasiado grande\n");
    EXPECT_EQ(test::ReadFile(saga / "SolucioHorari.xml"), documento);
    EXPECT_TRUE(test::Temporales(saga.string()).empty());
}

#ifndef _WIN32
TEST_F(SalvaguardaTest, LeftoverTemporaryLinkIsNeverFollowed)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    host::LlenarDiasHoras(work, 8, false);
    host::GenerarSoluc(work, {});
    const fs::path saga = dir / "saga";
    fs::create_directory(saga);
    const auto victima = dir.write("victima.txt", "no tocar");
    fs::create_symlink(victima, saga / "SolucioHorari.xml.tmp");
    const auto s = Ejecutar({"importar", saga.string(), "--dir", work.string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(test::ReadFile(victima), "no tocar");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(saga / "SolucioHorari.xml")));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(saga / "SolucioHorari.xml.tmp")));

    // Beside the tables too: a link where a temporary name could fall is left as it is.
    fs::create_symlink(victima, work / "PROFT.DBF.tmp");
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    EXPECT_EQ(test::ReadFile(victima), "no tocar");
}
#endif

TEST_F(SalvaguardaTest, CopiesListAndRestoreRoundTrip)
{
    auto s = Ejecutar({"copias", "--dir", work.string()});
    EXPECT_EQ(s.codigo, 0);
    EXPECT_EQ(s.out, "No hay ninguna copia de las tablas.\n");
    EXPECT_EQ(Ejecutar({"restaurar", "--dir", work.string()}).codigo, 1);

    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    const Conjunto primera = Archivos(work);
    ASSERT_EQ(Importar(kSamples / "centre.xml", {"--sin-lineas"}).codigo, 0);
    const Conjunto segunda = Archivos(work);
    ASSERT_NE(primera, segunda);

    s = Ejecutar({"copias", "--dir", work.string()});
    ASSERT_EQ(s.codigo, 0);
    EXPECT_NE(s.out.find("importación  centre.xml"), std::string::npos) << s.out;
    EXPECT_NE(
        s.out.find(
            "ASIGNOMT 47, PROFT 25, AULAT 16, CURSOST 6, GRUPOST 15, MATIB 43, ASIGT 120, DIASHORAST 0"),
        std::string::npos)
        << s.out;

    // Restoring puts the first set back and keeps the second as a copy of its own, which a
    // second restore (by name) brings back: a restore can be undone.
    s = Ejecutar({"restaurar", "--dir", work.string()});
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(Archivos(work), primera);
    // The copies: before restoring (the second set), before the second import (the first set)
    // and before the first import (no tables at all).
    const auto lista = copias::Listar(work);
    ASSERT_EQ(lista.size(), 3u);
    EXPECT_EQ(lista[2].ausentes.size(), copias::Tablas().size());
    EXPECT_NE(lista[0].motivo.find("antes de restaurar"), std::string::npos);
    s = Ejecutar({"restaurar", lista[0].nombre, "--dir", work.string()});
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(Archivos(work), segunda);
    s = Ejecutar({"restaurar", "19990101-000000", "--dir", work.string()});
    EXPECT_EQ(s.codigo, 1);
    EXPECT_NE(s.err.find("No existe la copia 19990101-000000"), std::string::npos) << s.err;

    // The copies are files of their own: changing a table in place leaves them as they were.
    {
        dbf::Table t("t", work, "DIASHORAST");
        t.Open();
        t.Append();
        t.FieldByName("DIHO").SetAsString("11");
        t.Post();
        t.Close();
    }
    s = Ejecutar({"restaurar", lista[1].nombre, "--dir", work.string()});
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(Archivos(work), primera);

    // A set that is byte for byte the newest copy is not kept again; different ones are, and of
    // those the newest ten are kept (the older ones are of today, which the ten already have).
    const std::size_t antes = copias::Listar(work).size();
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    EXPECT_EQ(copias::Listar(work).size(), antes + 1);
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(Importar(kSamples / "centre.xml", {i % 2 ? "--sin-lineas" : "--estricto"}).codigo,
                  i % 2 ? 0 : 3);
    }
    EXPECT_EQ(copias::Listar(work).size(), copias::kCopiasGuardadas);
}

// A restore checks the whole copy first: a copy with a file missing, cut short, replaced by a
// link or by another table's index is refused, naming the file, and nothing changes; a live table
// goes only where the copy records that it did not exist; a copy without its description is
// listed as damaged.
TEST_F(SalvaguardaTest, DamagedCopiesAreRefusedBeforeAnythingChanges)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    ASSERT_EQ(Importar(kSamples / "centre.xml", {"--sin-lineas"}).codigo, 0);
    Conjunto vivas = Archivos(work);
    const copias::Copia copia = copias::Listar(work).at(0);
    const fs::path guardada = copia.carpeta;
    const auto intentar = [&](const std::string& esperado) {
        const auto s = Ejecutar({"restaurar", copia.nombre, "--dir", work.string()});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_NE(s.err.find(esperado), std::string::npos) << s.err;
        EXPECT_EQ(Archivos(work), vivas);
    };
    const std::string proft = test::ReadFile(guardada / "PROFT.DBF");
    fs::remove(guardada / "PROFT.DBF");
    intentar("La copia " + copia.nombre + " no se puede restaurar: PROFT.DBF falta en la copia");
    dir.write(fs::relative(guardada / "PROFT.DBF", dir.path()).string(), proft.substr(0, proft.size() - 100));
    intentar("PROFT.DBF no es una tabla legible");
    dir.write(fs::relative(guardada / "PROFT.DBF", dir.path()).string(), "");
    intentar("PROFT.DBF no es una tabla legible");
    fs::remove(guardada / "PROFT.DBF");
#ifndef _WIN32
    fs::create_symlink(work / "PROFT.DBF", guardada / "PROFT.DBF");
    intentar("PROFT.DBF no es un archivo normal");
    fs::remove(guardada / "PROFT.DBF");
#endif
    dir.write(fs::relative(guardada / "PROFT.DBF", dir.path()).string(), proft);
    const std::string mdx = test::ReadFile(guardada / "MATIB.MDX");
    fs::remove(guardada / "MATIB.MDX");
    intentar("falta el índice MATIB.MDX que anuncia la tabla MATIB");
    std::string ajeno = mdx;
    ajeno.replace(4, 5, "PROFT");
    dir.write(fs::relative(guardada / "MATIB.MDX", dir.path()).string(), ajeno);
    intentar("MATIB.MDX no es el índice de la tabla MATIB");
    dir.write(fs::relative(guardada / "MATIB.MDX", dir.path()).string(), mdx);

    // A table the copy does not mention stays; one it records as absent goes.
    std::string desc = test::ReadFile(guardada / "copia.txt");
    const auto linea = desc.find("tabla=AULAT ");
    desc.erase(linea, desc.find('\n', linea) + 1 - linea);
    dir.write(fs::relative(guardada / "copia.txt", dir.path()).string(), desc + "ausente=DIASHORAST\n");
    fs::remove(guardada / "AULAT.DBF");
    const std::string aulat = test::ReadFile(work / "AULAT.DBF");
    const auto s = Ejecutar({"restaurar", copia.nombre, "--dir", work.string()});
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(test::ReadFile(work / "AULAT.DBF"), aulat);
    EXPECT_FALSE(fs::exists(work / "DIASHORAST.DBF"));
    EXPECT_EQ(test::ReadFile(work / "PROFT.DBF"), proft);

    vivas = Archivos(work);
    fs::remove(guardada / "copia.txt");
    const auto lista = Ejecutar({"copias", "--dir", work.string()});
    EXPECT_NE(lista.out.find(copia.nombre + "  (dañada: falta su descripción copia.txt)"), std::string::npos)
        << lista.out;
    intentar("La copia " + copia.nombre + " no se puede restaurar: falta su descripción copia.txt");
}

// Runs take turns on a directory: while another holds the run's lock, an import stops before it
// changes anything and says why; the live run's marker and temporary files are not a leftover to
// anybody, and no command says that run did not end. Once it is gone they are removed.
TEST_F(SalvaguardaTest, AnotherLiveRunIsWaitedForAndItsFilesAreLeftAlone)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    const Conjunto vivas = Archivos(work);
    {
        // Another run: its lock (a lock of this process through another open conflicts like one
        // of another process), its marker and a temporary file it is writing.
        const int fd = sys::Open(ArchivoRun(work), sys::OpenMode::ReadWrite);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(sys::Lock(fd, true), 0);
        copias::Marca marca(work, "importación", "otro.xml", "");
        NewFile suyo(work / "PROFT.DBF");
        const auto s = Importar(kSamples / "centre.xml", {"--sin-lineas"});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_NE(s.err.find(kOtherRun + work.string() + ": espere a que termine"), std::string::npos)
            << s.err;
        EXPECT_EQ(s.err.find("no terminó"), std::string::npos) << s.err;
        EXPECT_FALSE(copias::AvisoInterrumpido(work));
        copias::LimpiarRestos(work);
        EXPECT_TRUE(fs::exists(suyo.temporary()));
        EXPECT_EQ(Ejecutar({"restaurar", "--dir", work.string()}).codigo, 1);
        sys::Close(fd);
        marca.Conservar();
        // Gone without a word (killed): its files are leftovers now.
        sys::Close(suyo.Detach());
        const fs::path temporal = suyo.temporary();
        EXPECT_TRUE(copias::AvisoInterrumpido(work));
        ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
        EXPECT_FALSE(fs::exists(temporal));
    }
    EXPECT_EQ(Archivos(work), vivas);
}

// A killed export leaves its half-written document beside the destination; the next export
// removes it.
TEST_F(SalvaguardaTest, NextRunsRemoveWhatKilledOnesLeft)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    host::LlenarDiasHoras(work, 8, false);
    host::GenerarSoluc(work, {});
    const fs::path saga = dir / "saga";
    fs::create_directory(saga);
    const fs::path documento = dir.write("saga/SolucioHorari.xml.0badcafe.tmp", "<HORARI><SESSIONS>");
    const fs::path informe = dir.write("VTEMP/zendral/informes/informe.txt.12345678.tmp", "Importación");
    const fs::path tabla = dir.write("VTEMP/MATIB.MDX.9abcdef0.tmp", "");
    // A file another export is writing right now is no leftover.
    NewFile vivo(saga / "SolucioHorari.xml");
    ASSERT_EQ(Ejecutar({"importar", saga.string(), "--dir", work.string()}).codigo, 0);
    EXPECT_FALSE(fs::exists(documento));
    EXPECT_TRUE(fs::exists(vivo.temporary()));
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    EXPECT_FALSE(fs::exists(informe));
    EXPECT_FALSE(fs::exists(tabla));
}

TEST_F(SalvaguardaTest, InterruptedRunIsToldOnEveryCommand)
{
    ASSERT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    dir.write("VTEMP/zendral/proceso-en-curso.txt", "proceso=importación\ninicio=10/12/2026 03:00:00\n");
    for (const std::vector<std::string>& orden :
         {std::vector<std::string>{"copias", "--dir", work.string()},
          std::vector<std::string>{"importar", (dir / "no.xml").string(), "--dir", work.string()}}) {
        const auto s = Ejecutar(orden);
        EXPECT_NE(s.err.find("¡Atención! Una importación de las tablas de Velorin empezada el 10/12/2026 "
                             "03:00:00 no terminó"),
                  std::string::npos)
            << s.err;
    }
    // A restore that ends removes it.
    EXPECT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    EXPECT_FALSE(copias::AvisoInterrumpido(work));
}

} // namespace
} // namespace zendral::cli
