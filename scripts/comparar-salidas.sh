#!/usr/bin/env bash
# Byte comparison of what two sets of programs write: each case runs the centre import
# (zendral-cli exportar), Velorin's stand-in (velorin-sim diashoras and soluc) and the timetable
# export (zendral-cli importar) once with each set, and compares every table, MATIB.MDX and
# SolucioHorari.xml byte for byte, and what the programs print.
#
#   scripts/comparar-salidas.sh [--trabajo DIR] [--nombres NOMBRE_A NOMBRE_B] PROGRAMAS_A PROGRAMAS_B
#
# PROGRAMAS is a directory that holds zendral-cli and velorin-sim: a build directory (cli/ and
# host/) or a folder with both programs side by side. A Windows build (zendral-cli.exe) runs under
# Wine with its private WINEPREFIX (PROGRAMAS/wine). --trabajo names the directory the runs use
# (emptied first, removed when every case agrees; a new temporary one by default); --nombres
# names the sets in the messages.
#
# Cases: the bundled sample (samples/centre.xml with samples/cursos.csv), once more with Velorin's
# week in half periods, a generated centre of 300 courses and a document declared windows-1252
# full of accents. Prints the files and bytes
# compared per case and exits 1 on any difference.
#
# What the programs print, and the run reports in zendral/informes/, are compared too when neither
# set runs under Wine, with each run's own directory written as DIR and the reports' times left
# out; under Wine the paths are Windows paths and only the files count.
#
# dBase headers and the index header carry the date of their last update, so both runs of a case
# must happen on the same day: a case whose runs straddle midnight is run again, never masked.
set -euo pipefail
uso="Uso: scripts/comparar-salidas.sh [--trabajo DIR] [--nombres NOMBRE_A NOMBRE_B] PROGRAMAS_A PROGRAMAS_B"
root=$(cd "$(dirname "$0")/.." && pwd)
work=
nombres=(A B)
while [ $# -gt 0 ]; do
    case $1 in
    --trabajo)
        [ $# -ge 2 ] || { echo "$uso" >&2; exit 2; }
        work=$2
        shift 2
        ;;
    --nombres)
        [ $# -ge 3 ] || { echo "$uso" >&2; exit 2; }
        nombres=("$2" "$3")
        shift 3
        ;;
    *) break ;;
    esac
done
if [ $# -ne 2 ]; then
    echo "$uso" >&2
    exit 2
fi

# --- The two sets of programs ------------------------------------------------------------------
declare -A ruta
conjuntos=()
prefijos=()
con_wine=0
# localizar LADO DIR: finds zendral-cli and velorin-sim of side LADO (0 or 1) in DIR.
localizar() {
    local lado=$1 dir programa sub encontrado candidato
    dir=$(cd "$2" && pwd) || {
        echo "No existe el directorio de programas $2" >&2
        exit 2
    }
    conjuntos[lado]=$dir
    for programa in zendral-cli velorin-sim; do
        encontrado=
        for sub in cli/ host/ ""; do
            for candidato in "$dir/$sub$programa" "$dir/$sub$programa.exe"; do
                if [ -z "$encontrado" ] && [ -f "$candidato" ]; then
                    encontrado=$candidato
                fi
            done
        done
        [ -n "$encontrado" ] || {
            echo "Falta $programa en $dir" >&2
            exit 2
        }
        ruta[$lado,$programa]=$encontrado
        if [[ $encontrado == *.exe ]]; then
            prefijos[lado]=$dir/wine
            con_wine=1
            [ -d "${prefijos[$lado]}" ] || {
                echo "Falta el WINEPREFIX de la compilación para Windows: ${prefijos[$lado]}" >&2
                exit 2
            }
        fi
    done
}
localizar 0 "$1"
localizar 1 "$2"

# ejecutar LADO PROGRAMA ARGUMENTOS...: runs one program of side LADO.
ejecutar() {
    local lado=$1 programa=$2
    shift 2
    local exe=${ruta[$lado,$programa]}
    if [[ $exe == *.exe ]]; then
        WINEPREFIX=${prefijos[$lado]} WINEDEBUG=-all WINEARCH=win64 wine "$exe" "$@"
    else
        "$exe" "$@"
    fi
}

if [ -z "$work" ]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/comparar-salidas.XXXXXX")
fi
rm -rf "$work"
mkdir -p "$work"

# --- Generated documents ---------------------------------------------------------------------
# A centre of `courses` courses, each with 4 groups and 12 subjects, with teachers, rooms and
# activities; its names carry `accents` so that every stage handles text beyond ASCII. Writes
# DIR/centre.xml in ENCODING and DIR/cursos.csv (UTF-8) with a level and course for each course.
generate() {
    python3 - "$@" <<'PY'
import sys
directory, courses, encoding, accents = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
def esc(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")
parts = [f'<?xml version="1.0" encoding="{encoding}"?>\n<CENTRE codi="07999999" descripcio="{esc("IES " + accents)}">\n']
parts.append("<MATERIES>\n")
for c in range(courses):
    for m in range(12):
        short = ["MAT", "LCL", "LCS", "ANG", "EF", "BG", "GH", "MÚS", "EPV", "REL", "TEC", "FÍS"][m]
        parts.append(f'  <MATERIA codi="{9000000 + c * 100 + m}" curs="C{c}" '
                     f'descripcio="{esc(f"Matèria {m} {accents[m % len(accents):]} ({c})")}" curta="{esc(short)}"/>\n')
parts.append("</MATERIES>\n<ACTIVITATS>\n")
for a, (code, name) in enumerate([("GU", "Guàrdia"), ("RE", "Reunió d’àmbit"), ("TU", "Tutoria · atenció")]):
    parts.append(f'  <ACTIVITAT codi="{code}" descripcio="{esc(name)}" curta="{code}{a}"/>\n')
parts.append("</ACTIVITATS>\n<PLACES>\n")
for p in range(courses * 3):
    surname = ["Sureda", "Fàbregas", "Muñoz", "Œrsted", "Šmid", "Ferrà"][p % 6]
    parts.append(f'  <PLACA codi="{470000 + p}" descripcio="{esc(f"{surname} Pons, Maria Antònia {p}")}" '
                 f'curta="{esc(surname[:2].upper() + str(p % 7))}"/>\n')
parts.append("</PLACES>\n<AULES>\n")
for r in range(courses * 2):
    parts.append(f'  <AULA codi="{100 + r}" descripcio="{esc(f"Aula {r} — planta {r % 3}ª")}"/>\n')
parts.append("</AULES>\n<CURSOS>\n")
csv = ["CODI;DESCRIPCIO;NIVEL;CURSO"]
for c in range(courses):
    name = f"{c % 4 + 1}r d'ESO {accents[:3]} {c}"
    parts.append(f'  <CURS codi="C{c}" descripcio="{esc(name)}">\n')
    for g in range(4):
        parts.append(f'    <GRUP codi="G{c}_{g}" nom="{"ABCD"[g]}"/>\n')
    parts.append("  </CURS>\n")
    csv.append(f"C{c};{name};{['ESO', 'BAT'][c % 2]};{c % 4 + 1}")
parts.append("</CURSOS>\n</CENTRE>\n")
with open(f"{directory}/centre.xml", "w", encoding=encoding, errors="strict", newline="\n") as out:
    out.write("".join(parts))
with open(f"{directory}/cursos.csv", "w", encoding="utf-8", newline="\n") as out:
    out.write("\n".join(csv) + "\n")
PY
}

# --- One run: import, Velorin's stand-in, export ---------------------------------------------
# run LADO CASE_DIR OUT_DIR [VELORIN_SIM_OPTIONS...]
run() {
    local lado=$1 input=$2 out=$3
    shift 3
    mkdir -p "$out/VTEMP" "$out/saga"
    {
        ejecutar "$lado" zendral-cli exportar "$input/centre.xml" --dir "$out/VTEMP" --cursos "$input/cursos.csv" &&
            ejecutar "$lado" velorin-sim diashoras --dir "$out/VTEMP" "$@" &&
            ejecutar "$lado" velorin-sim soluc --dir "$out/VTEMP" "$@" &&
            ejecutar "$lado" zendral-cli importar "$out/saga" --dir "$out/VTEMP"
    } >"$out/salida.txt" 2>&1 || {
        echo "FALLO: la ejecución ${nombres[$lado]} de $(basename "$input") falló:" >&2
        cat "$out/salida.txt" >&2
        return 1
    }
}

# mensajes OUT_DIR: what the programs of one run printed, then each run report, with the run's
# directory written as DIR and the times left out: a report's (its name and its "Fecha:") and
# that of the copy an import compares with ("copia 20261211-000932").
mensajes() {
    local out=$1 informe
    {
        cat "$out/salida.txt"
        # By what they report, since two runs may write theirs in the same second.
        while IFS= read -r informe; do
            echo "== $informe"
            cat "$out/VTEMP/zendral/informes/$informe"
        done < <(cd "$out/VTEMP/zendral/informes" && find . -type f -printf '%f\n' | LC_ALL=C sort -t- -k3)
    } | sed -e "s|$out|DIR|g" -e 's|[0-9]\{8\}-[0-9]\{6\}-\([0-9][0-9]\)-|FECHA-\1-|g' -e 's|^Fecha: .*|Fecha: F|' \
        -e 's|copia [0-9]\{8\}-[0-9]\{6\}|copia FECHA|g'
}

total_files=0
total_bytes=0
differences=0
# compare_case NAME CASE_DIR [VELORIN_SIM_OPTIONS...]
compare_case() {
    local name=$1 input=$2 day_before day_after
    shift 2
    local a=$work/$name-1 b=$work/$name-2
    for _ in 1 2; do
        rm -rf "$a" "$b"
        day_before=$(date +%F)
        run 0 "$input" "$a" "$@"
        run 1 "$input" "$b" "$@"
        day_after=$(date +%F)
        [ "$day_before" = "$day_after" ] && break
        echo "   $name: las dos ejecuciones cruzaron la medianoche; se repiten"
    done
    local files=0 bytes=0 bad=0 file relative mensajes=""
    # What each side wrote, by name: the same set of files on both. Zendral's own folder holds
    # the run reports, which name their time and paths, and copies of the tables compared here.
    local names_a names_b
    names_a=$(cd "$a" && find VTEMP saga -type f ! -path 'VTEMP/zendral/*' | LC_ALL=C sort)
    names_b=$(cd "$b" && find VTEMP saga -type f ! -path 'VTEMP/zendral/*' | LC_ALL=C sort)
    if [ "$names_a" != "$names_b" ]; then
        echo "FALLO: $name: ${nombres[0]} y ${nombres[1]} escriben archivos distintos:" >&2
        diff <(echo "$names_a") <(echo "$names_b") >&2 || true
        bad=1
    fi
    while IFS= read -r relative; do
        file=$a/$relative
        files=$((files + 1))
        bytes=$((bytes + $(stat -c %s "$file")))
        if ! cmp "$file" "$b/$relative" >"$work/cmp.txt" 2>&1; then
            echo "FALLO: $name: $relative difiere: $(cat "$work/cmp.txt")" >&2
            bad=1
        fi
    done <<<"$names_a"
    if ! grep -q 'MATIB.MDX' <<<"$names_a" || ! grep -q 'SolucioHorari.xml' <<<"$names_a"; then
        echo "FALLO: $name: faltan MATIB.MDX o SolucioHorari.xml" >&2
        bad=1
    fi
    if [ $con_wine -eq 0 ]; then
        if diff <(mensajes "$a") <(mensajes "$b") >"$work/diff.txt"; then
            mensajes=", mensajes e informes idénticos"
        else
            echo "FALLO: $name: los programas dicen o informan cosas distintas:" >&2
            cat "$work/diff.txt" >&2
            bad=1
        fi
    fi
    total_files=$((total_files + files))
    total_bytes=$((total_bytes + bytes))
    if [ $bad -eq 0 ]; then
        printf '   %-22s %3d archivos, %9d bytes: idénticos (cabeceras del %s)%s\n' "$name" "$files" "$bytes" \
            "$day_after" "$mensajes"
    else
        differences=$((differences + 1))
    fi
}

echo "== Comparación byte a byte: ${nombres[0]} (${conjuntos[0]}) y ${nombres[1]} (${conjuntos[1]})"
t0=$SECONDS
mkdir -p "$work/entrada-muestra"
cp "$root/samples/centre.xml" "$root/samples/cursos.csv" "$work/entrada-muestra/"
compare_case muestra "$work/entrada-muestra"
compare_case "muestra-medias-horas" "$work/entrada-muestra" --medias

mkdir -p "$work/entrada-grande"
generate "$work/entrada-grande" 300 UTF-8 "àéíòúüçñ"
compare_case "centro-300-cursos" "$work/entrada-grande"

mkdir -p "$work/entrada-1252"
generate "$work/entrada-1252" 12 windows-1252 "ÀÉÍÒÚàèéíïòóúüçñ€“”‘’Œœšž…—ªº¿¡"
grep -q 'encoding="windows-1252"' "$work/entrada-1252/centre.xml"
compare_case "windows-1252" "$work/entrada-1252"

if [ $differences -ne 0 ]; then
    echo "FALLO: $differences caso(s) con diferencias (detalle arriba; archivos en $work)" >&2
    exit 1
fi
echo "   total: $total_files archivos, $total_bytes bytes idénticos, en $((SECONDS - t0)) s"
rm -rf "$work"
