#include "Importacion.h"

#include "Abreviaturas.h"
#include "CarpetaZendral.h"
#include "Centro.h"
#include "CodePage.h"
#include "ComprobarCentro.h"
#include "ControlCursos.h"
#include "Copias.h"
#include "DbfTable.h"
#include "Decimal.h"
#include "Error.h"
#include "Informe.h"
#include "MemoriaCursos.h"
#include "Mensajes.h"
#include "Prompter.h"
#include "Tablas.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <utility>

namespace zendral
{
namespace
{

void Poner(dbf::Table& tabla, std::string_view campo, std::string_view valor)
{
    tabla.FieldByName(campo).SetAsString(valor);
}

std::string Leer(dbf::Table& tabla, std::string_view campo) { return tabla.FieldByName(campo).AsString(); }

} // namespace

Importacion::Importacion(EstadoProceso& estado, Prompter& prompter, std::filesystem::path workDir)
    : m_estado(estado)
    , m_prompter(prompter)
    , m_workDir(std::move(workDir))
{
}

const xml::Document& Importacion::Documento() const
{
    if (!m_estado.documento) {
        throw Error("No hay ningún documento XML cargado");
    }
    return *m_estado.documento;
}

void Importacion::Anotar(const std::string& tabla, std::size_t registros)
{
    m_resumen.emplace_back(tabla, registros);
}

void Importacion::EscribirInforme(const std::string& resultado)
{
    if (m_informeEscrito) {
        return;
    }
    m_informeEscrito = true;
    Informe informe{"Importación del centro", m_estado.archivoElegido, resultado, m_resumen, {}, m_avisos};
    if (m_cambios || !m_falloComparacion.empty()) {
        informe.cambios =
            "Cambios respecto a las tablas de antes (copia " + m_estado.copiaAntesDeImportar + "):\n";
        informe.cambios += m_cambios ? m_cambios->Cuentas("  ") + m_cambios->Lista()
                                     : "  no se han podido comparar: " + m_falloComparacion + "\n";
    }
    try {
        m_informe = zendral::EscribirInforme(m_workDir, informe, std::time(nullptr));
        m_prompter.InformeEscrito(m_informe);
    } catch (const Error& e) {
        m_avisos.Agregar({TipoAviso::Informe, "", "", "", TextoRuta(CarpetaZendral(m_workDir) / "informes"),
                          std::string("no se ha podido escribir el informe: ") + e.what()});
    }
}

FinRun Importacion::BExportarClick()
{
    m_ventanaCerrada = false;
    m_resumen.clear();
    ElegirArchivo(m_estado, m_prompter);
    std::error_code ec;
    if (m_estado.archivoElegido.empty() || !std::filesystem::is_regular_file(m_estado.archivoElegido, ec)) {
        m_prompter.Mensaje(msg::kNoExisteArchivo);
        if (m_estado.LanzadoPorHost()) {
            m_estado.codigoResultado = -1;
        }
        return FinRun::SinArchivo;
    }

    // A document that does not parse stops the run here, before any table is touched.
    m_estado.documento.reset();
    return ImportarDocumento(xml::Document::load(m_estado.archivoElegido));
}

FinRun Importacion::ImportarDocumento(xml::Document documento)
{
    m_ventanaCerrada = false;
    m_resumen.clear();
    m_estado.copiaAntesDeImportar.clear();
    ComprobarDocumentoCentro(documento, m_estado.archivoElegido);
    m_estado.documento = std::move(documento);
    m_avisos = ComprobarDocumento(Documento());
    m_informe.clear();
    m_informeEscrito = false;
    m_cambios.reset();
    m_falloComparacion.clear();

    // Before the first table changes: every lock the run needs, a copy of the tables it replaces
    // and the marker of a run in progress, which goes however the run ends (unless the tables
    // could not be put back after an error).
    std::optional<copias::GuardaImportacion> guarda;
    try {
        guarda.emplace(m_workDir, m_estado.archivoElegido);
    } catch (const Error& e) {
        EscribirInforme(std::string("interrumpido por un error: ") + e.what());
        throw;
    }
    m_estado.copiaAntesDeImportar = guarda->copia().nombre;

    CursorOcupado cursor(m_prompter);
    // An error part-way puts back the tables of before: Velorin never gets a set made of two
    // documents. The message says so, and the run's report keeps it.
    const auto deshacer = [&](const std::string& mensaje) {
        const std::string frase = guarda->Deshacer();
        const std::string completo = frase.empty() ? mensaje : mensaje + ". " + frase;
        EscribirInforme("interrumpido por un error: " + completo);
        return completo;
    };
    try {
        if (!CargarTablas()) {
            CompararConCopia(guarda->copia());
            EscribirInforme("interrumpido: salida forzada del diálogo de niveles y cursos");
            return FinRun::SalidaForzada;
        }
    } catch (const Error& e) {
        throw Error(deshacer(e.what()));
    } catch (const std::exception& e) {
        // Not ours to word (out of memory, say): the tables go back all the same.
        deshacer(e.what());
        throw;
    }
    CompararConCopia(guarda->copia());
    cursor.Restaurar();

    m_estado.codigoResultado = 1;
    EscribirInforme("completado");
    m_prompter.MensajeFinal(msg::kProcesoFinalizado, m_avisos);
    return FinRun::Completado;
}

bool Importacion::CargarTablas()
{
    CargarAsignaturas();
    CargarProfesores();
    CargarAulas();
    CargarCursos();
    if (m_ventanaCerrada) {
        return false;
    }
    CargarGrupos();
    CargarLineas();
    CargarDiasHoras();
    return true;
}

void ComprobarDocumentoCentro(const xml::Document& documento, const std::filesystem::path& archivo)
{
    const xml::Node raiz = documento.documentElement();
    const std::string nombre = raiz ? raiz.name() : std::string();
    if (nombre != "CENTRE") {
        throw Error(
            "El archivo " + archivo.string() + " no es un documento de centro de GestIB: " +
            (nombre.empty() ? std::string("no tiene elemento raíz") : "su elemento raíz es " + nombre));
    }
}

void Importacion::CargarAsignaturas()
{
    m_prompter.Etapa("1 de 7: Asignaturas y actividades (ASIGNOMT)");
    dbf::Table tabla("ASIGNOMT", m_workDir, "ASIGNOMT");
    tablas::Definir(tabla, tablas::kAsignomt);
    tabla.CreateTable(dbf::Table::Replace::OnClose);
    abrev::ListaOcupados ocupados(tablas::kAsignomt.Ancho("COD"), abrev::AcortarAsignatura);
    tabla.Open();

    std::size_t registros = 0;
    for (const auto& nodo : Documento().selectNodes(tablas::kMateries.ruta)) {
        const Atributos materia(tablas::kMateries, nodo);
        const std::string largo = abrev::CodigoLargo(materia["CODLARGO"], materia["NOMBRE"]);
        const std::string base = abrev::CodigoBase(largo);
        const std::string candidato = ocupados.Asignar(base, cp1252::Left(base, 3));

        tabla.Append();
        Poner(tabla, "COD", ocupados.Almacenado(candidato));
        Poner(tabla, "CODLARGO", largo);
        Poner(tabla, "NOMBRE", materia["NOMBRE"]);
        Poner(tabla, "CODI", materia["CODI"]);
        Poner(tabla, "CODICURS", materia["CODICURS"]);
        Poner(tabla, "HORAS", "4");
        tabla.FieldByName("ESTAREA").SetAsBoolean(false);
        tabla.Post();
        ++registros;
    }

    // Activities keep their own code, cut by the field, and take no part in the taken list.
    for (const auto& nodo : Documento().selectNodes(tablas::kActivitats.ruta)) {
        const Atributos actividad(tablas::kActivitats, nodo);

        tabla.Append();
        Poner(tabla, "COD", actividad["CODI"]);
        Poner(tabla, "CODLARGO", cp1252::Left(actividad["CODLARGO"], tablas::kAsignomt.Ancho("CODLARGO")));
        Poner(tabla, "NOMBRE", actividad["NOMBRE"]);
        Poner(tabla, "CODI", actividad["CODI"]);
        Poner(tabla, "CODICURS", "");
        Poner(tabla, "HORAS", "4");
        tabla.FieldByName("ESTAREA").SetAsBoolean(true);
        tabla.Post();
        ++registros;
    }
    tabla.Close();
    Anotar("ASIGNOMT", registros);
}

void Importacion::CargarProfesores()
{
    m_prompter.Etapa("2 de 7: Profesores (PROFT)");
    dbf::Table tabla("PROFT", m_workDir, "PROFT");
    tablas::Definir(tabla, tablas::kProft);
    tabla.CreateTable(dbf::Table::Replace::OnClose);
    const std::size_t anchoAbrev = tablas::kProft.Ancho("ABREV");
    const std::size_t anchoNombre = tablas::kProft.Ancho("NOMBRE");
    abrev::ListaOcupados ocupados(anchoAbrev, [](std::string_view c) { return std::string(c); });
    tabla.Open();

    std::size_t registros = 0;
    for (const auto& nodo : Documento().selectNodes(tablas::kPlaces.ruta)) {
        const Atributos placa(tablas::kPlaces, nodo);
        std::string nombre = placa["NOMBRE"];
        if (nombre.size() > anchoNombre) {
            nombre =
                std::string(cp1252::Left(nombre, anchoNombre - 5)) + std::string(cp1252::Right(nombre, 5));
        }
        const std::string abreviatura = ocupados.Asignar(cp1252::Left(placa["ABREV"], anchoAbrev), "P");

        tabla.Append();
        Poner(tabla, "ABREV", abreviatura);
        Poner(tabla, "NOMBRE", nombre);
        Poner(tabla, "DEPART", nombre);
        Poner(tabla, "CODI", placa["CODI"]);
        tabla.Post();
        ++registros;
    }
    tabla.Close();
    Anotar("PROFT", registros);
}

void Importacion::CargarAulas()
{
    m_prompter.Etapa("3 de 7: Aulas (AULAT)");
    dbf::Table tabla("AULAT", m_workDir, "AULAT");
    tablas::Definir(tabla, tablas::kAulat);
    tabla.CreateTable(dbf::Table::Replace::OnClose);
    const std::size_t anchoAbrev = tablas::kAulat.Ancho("ABREV");
    abrev::ListaOcupados ocupados(anchoAbrev, abrev::AcortarDosYDos);
    tabla.Open();

    std::size_t registros = 0;
    for (const auto& nodo : Documento().selectNodes(tablas::kAules.ruta)) {
        const Atributos aula(tablas::kAules, nodo);
        const std::string base(cp1252::Left(aula["NOMBRE"], anchoAbrev));
        const std::string candidato = ocupados.Asignar(base, cp1252::Left(base, 3));

        tabla.Append();
        Poner(tabla, "ABREV", ocupados.Almacenado(candidato));
        Poner(tabla, "NOMBRE", "(" + aula["CODI"] + ") " + aula["NOMBRE"]);
        Poner(tabla, "CODI", aula["CODI"]);
        tabla.Post();
        ++registros;
    }
    tabla.Close();
    Anotar("AULAT", registros);
}

std::vector<CursoDocumento> LeerCursos(const xml::Document& doc)
{
    std::vector<CursoDocumento> cursos;
    for (const auto& nodo : doc.selectNodes(tablas::kCursos.ruta)) {
        const Atributos curs(tablas::kCursos, nodo);
        cursos.push_back({curs["CODI"], curs["DESCRIPCIO"]});
    }
    return cursos;
}

void Importacion::CargarCursos()
{
    m_prompter.Etapa("4 de 7: Niveles y cursos (CURSOST)");
    {
        dbf::Table tabla("CURSOST", m_workDir, "CURSOST");
        tablas::Definir(tabla, tablas::kCursost);
        tabla.CreateTable(dbf::Table::Replace::OnClose);
        tabla.Open();
        const auto cursos = LeerCursos(Documento());
        for (const auto& curso : cursos) {
            tabla.Append();
            Poner(tabla, "CODI", curso.codi);
            Poner(tabla, "DESCRIPCIO", curso.descripcio);
            Poner(tabla, "NIVEL", "");
            Poner(tabla, "CURSO", "");
            tabla.Post();
        }
        tabla.Close();
        Anotar("CURSOST", cursos.size());
    }
    if (m_usarMemoria) {
        memoria::Aplicar(m_workDir, Documento(), m_prompter, m_avisos);
    }

    // A showing that ends with data missing is followed by a new one, which offers the forced
    // exit from the start.
    for (;;) {
        ControlCursos dialogo(m_workDir, m_estado.CursosIncompletos, m_prompter);
        m_prompter.MostrarControlCursos(dialogo);
        if (dialogo.FaltaDato) {
            m_estado.CursosIncompletos = true;
            continue;
        }
        if (dialogo.Salida == msg::kSalida) {
            m_ventanaCerrada = true;
        }
        break;
    }
    // Once the dialog has let CURSOST go; a forced exit remembers nothing.
    if (!m_ventanaCerrada) {
        memoria::Recordar(m_workDir, Documento(), m_avisos);
    }
}

void Importacion::CargarGrupos()
{
    m_prompter.Etapa("5 de 7: Grupos y materias (GRUPOST, MATIB)");
    // CURSOST holds its final answers now; it is read only when the document has a course.
    std::vector<RegistroCurso> cursost;
    if (Documento().selectSingleNode(tablas::kCursos.ruta)) {
        cursost = LeerCursost(m_workDir, true);
    }
    const auto cursos = FilasGrupos(Documento(), cursost);
    // Which groups the answers leave without level or course: the same rows as the table gets.
    m_avisos.Agregar(ComprobarNiveles(cursos));
    EscribirGrupos(cursos);
    EscribirMaterias();
}

void Importacion::EscribirGrupos(const std::vector<CursoGrupos>& cursos)
{
    dbf::Table grupos("GRUPOST", m_workDir, "GRUPOST");
    tablas::Definir(grupos, tablas::kGrupost);
    grupos.CreateTable(dbf::Table::Replace::OnClose);
    grupos.Open();
    std::size_t registros = 0;
    for (const CursoGrupos& curso : cursos) {
        for (const FilaGrupo& fila : curso.grupos) {
            grupos.Append();
            Poner(grupos, "ABREV", fila.abrev);
            Poner(grupos, "NIVEL", curso.nivel);
            Poner(grupos, "CURSO", curso.curso);
            Poner(grupos, "GRUPO", fila.nom);
            Poner(grupos, "CODI", fila.codi);
            Poner(grupos, "CODICURS", curso.codi);
            Poner(grupos, "DESCRIP", fila.descrip);
            grupos.Post();
            ++registros;
        }
    }
    grupos.Close();
    Anotar("GRUPOST", registros);
}

void Importacion::EscribirMaterias()
{
    dbf::Table matib("MATIB", m_workDir, "MATIB");
    tablas::Definir(matib, tablas::kMatib);
    matib.CreateTable(dbf::Table::Replace::OnClose);
    matib.Open();

    dbf::Table wwTableGrupos("wwTableGrupos", m_workDir, "GRUPOST");
    dbf::Table wwTableNomAsg("wwTableNomAsg", m_workDir, "ASIGNOMT");
    wwTableGrupos.Open();
    wwTableNomAsg.Open();
    // The first group of each course code gives the level and course number of its subjects.
    std::unordered_map<std::string, std::pair<std::string, std::string>> nivelPorCurso;
    for (wwTableGrupos.First(); !wwTableGrupos.Eof(); wwTableGrupos.Next()) {
        nivelPorCurso.try_emplace(Leer(wwTableGrupos, "CODICURS"), Leer(wwTableGrupos, "NIVEL"),
                                  Leer(wwTableGrupos, "CURSO"));
    }

    std::size_t registros = 0;
    for (wwTableNomAsg.First(); !wwTableNomAsg.Eof(); wwTableNomAsg.Next()) {
        const auto it = nivelPorCurso.find(Leer(wwTableNomAsg, "CODICURS"));
        if (it == nivelPorCurso.end()) {
            continue;
        }
        matib.Append();
        Poner(matib, "ABREV", Leer(wwTableNomAsg, "COD"));
        Poner(matib, "ABREV8", Leer(wwTableNomAsg, "CODLARGO"));
        Poner(matib, "NOMBRE", Leer(wwTableNomAsg, "NOMBRE"));
        Poner(matib, "NIVEL", it->second.first);
        Poner(matib, "CURSO", it->second.second);
        matib.Post();
        ++registros;
    }
    matib.Close();
    wwTableGrupos.Close();
    wwTableNomAsg.Close();
    Anotar("MATIB", registros);
}

std::optional<double> ConvertirHoras(std::string_view horas)
{
    if (horas.empty()) {
        return std::nullopt;
    }
    // Either separator is taken as the decimal one; the text must be a number as a whole, with
    // blanks allowed around it.
    std::string texto(cp1252::Trim(horas));
    std::replace(texto.begin(), texto.end(), ',', '.');
    if (const auto decimal = dbf::ParseDecimal(texto)) {
        if (const auto valor = dbf::ToDouble(*decimal)) {
            return *valor;
        }
    }
    return 1.0;
}

std::string PatronSesiones(double horas)
{
    // The ceiling: whole part plus one for any fraction above zero.
    const double techo = std::ceil(horas);
    long long n = techo > 1e15 ? 1000000000000000LL : static_cast<long long>(techo);
    std::string patron;
    if (n > 13) {
        patron = std::to_string(n - 13);
        n = 13;
    }
    if (n > 0) {
        patron.append(static_cast<std::size_t>(n), '1');
    }
    return patron;
}

void Importacion::CargarLineas()
{
    m_prompter.Etapa("6 de 7: Líneas de asignaturas (ASIGT)");
    dbf::Table lineas("ASIGT", m_workDir, "ASIGT");
    tablas::Definir(lineas, tablas::kAsigt);
    lineas.CreateTable(dbf::Table::Replace::OnClose);
    lineas.Open();

    dbf::Table wwTableGrupos("wwTableGrupos", m_workDir, "GRUPOST");
    dbf::Table wwTableNomAsg("wwTableNomAsg", m_workDir, "ASIGNOMT");
    wwTableGrupos.Open();
    wwTableNomAsg.Open();

    std::size_t registros = 0;
    if (m_prompter.ConfirmarLineas()) {
        // Subjects by course code, in table order: every group joins all subjects of its course.
        struct Asignatura
        {
            std::string cod;
            std::string horas;
        };
        std::unordered_map<std::string, std::vector<Asignatura>> porCurso;
        for (wwTableNomAsg.First(); !wwTableNomAsg.Eof(); wwTableNomAsg.Next()) {
            porCurso[Leer(wwTableNomAsg, "CODICURS")].push_back(
                {Leer(wwTableNomAsg, "COD"), Leer(wwTableNomAsg, "HORAS")});
        }

        for (wwTableGrupos.First(); !wwTableGrupos.Eof(); wwTableGrupos.Next()) {
            const auto it = porCurso.find(Leer(wwTableGrupos, "CODICURS"));
            if (it == porCurso.end()) {
                continue;
            }
            const std::string abrev = Leer(wwTableGrupos, "ABREV");
            const std::string turno = Leer(wwTableGrupos, "TURNO");
            const std::string nivel = Leer(wwTableGrupos, "NIVEL");
            const std::string curso = Leer(wwTableGrupos, "CURSO");
            const std::string grupo = Leer(wwTableGrupos, "GRUPO");
            for (const auto& asignatura : it->second) {
                lineas.Append();
                Poner(lineas, "CASIG", asignatura.cod);
                Poner(lineas, "CPROF", "");
                Poner(lineas, "CGRUP", abrev);
                Poner(lineas, "CAULA", "");
                Poner(lineas, "TURNO", turno);
                Poner(lineas, "NIVEL", nivel);
                Poner(lineas, "CURSO", curso);
                Poner(lineas, "GRUPO", grupo);
                auto horasCampo = lineas.FieldByName("HORAS");
                if (const auto horas = ConvertirHoras(asignatura.horas)) {
                    horasCampo.SetAsFloat(*horas);
                }
                // The pattern follows the hours as the field holds them.
                Poner(lineas, "SESIONES", PatronSesiones(horasCampo.AsFloat()));
                lineas.Post();
                ++registros;
            }
        }
    }
    lineas.Close();
    wwTableGrupos.Close();
    wwTableNomAsg.Close();
    Anotar("ASIGT", registros);
}

void Importacion::CargarDiasHoras()
{
    m_prompter.Etapa("7 de 7: Días y horas (DIASHORAST)");
    dbf::Table tabla("DIASHORAST", m_workDir, "DIASHORAST");
    tablas::Definir(tabla, tablas::kDiashorast);
    tabla.CreateTable();
    Anotar("DIASHORAST", 0);
}

void Importacion::CompararConCopia(const copias::Copia& copia)
{
    // Told, never fatal: the tables are written by now.
    try {
        m_cambios = comparacion::Comparar(copia.carpeta, m_workDir);
    } catch (const Error& e) {
        m_falloComparacion = e.what();
        return;
    }
    m_avisos.Agregar(m_cambios->AvisosAbreviaturas());
}

} // namespace zendral
