#!/usr/bin/env bash
# Byte comparison of the Linux and the Windows programs: each case runs the centre import
# (zendral-cli exportar), Velorin's stand-in (velorin-sim diashoras and soluc) and the timetable
# export (zendral-cli importar) once with the Linux build and once with the Windows build under
# Wine, and compares every table, MATIB.MDX and SolucioHorari.xml byte for byte.
#
#   scripts/windows-comparar.sh BUILD_LINUX BUILD_WINDOWS
#
# Cases: the bundled sample (samples/centre.xml with samples/cursos.csv), a generated large
# centre and a document declared windows-1252 full of accents. Wine runs with the private
# WINEPREFIX of BUILD_WINDOWS (BUILD_WINDOWS/wine). Prints the files and bytes compared per case
# and exits 1 on any difference.
#
# dBase headers and the index header carry the date of their last update, so both runs of a case
# must happen on the same day: a case whose runs straddle midnight is run again, never masked.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "Uso: scripts/windows-comparar.sh BUILD_LINUX BUILD_WINDOWS" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
for program in "$linux/cli/zendral-cli" "$linux/host/velorin-sim" "$windows/cli/zendral-cli.exe" \
    "$windows/host/velorin-sim.exe"; do
    [ -x "$program" ] || [ -f "$program" ] || {
        echo "Falta $program" >&2
        exit 2
    }
done
export WINEPREFIX=$windows/wine WINEDEBUG=-all WINEARCH=win64
[ -d "$WINEPREFIX" ] || {
    echo "Falta el WINEPREFIX de la compilación para Windows: $WINEPREFIX" >&2
    exit 2
}

work=$windows/comparacion
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
# run SYSTEM CASE_DIR OUT_DIR: SYSTEM is linux or windows.
run() {
    local system=$1 input=$2 out=$3 cli sim
    if [ "$system" = linux ]; then
        cli=("$linux/cli/zendral-cli") sim=("$linux/host/velorin-sim")
    else
        cli=(wine "$windows/cli/zendral-cli.exe") sim=(wine "$windows/host/velorin-sim.exe")
    fi
    mkdir -p "$out/VTEMP" "$out/saga"
    {
        "${cli[@]}" exportar "$input/centre.xml" --dir "$out/VTEMP" --cursos "$input/cursos.csv" &&
            "${sim[@]}" diashoras --dir "$out/VTEMP" &&
            "${sim[@]}" soluc --dir "$out/VTEMP" &&
            "${cli[@]}" importar "$out/saga" --dir "$out/VTEMP"
    } >"$out/salida.txt" 2>&1 || {
        echo "FALLO: la ejecución $system de $(basename "$input") falló:" >&2
        cat "$out/salida.txt" >&2
        return 1
    }
}

total_files=0
total_bytes=0
differences=0
compare_case() {
    local name=$1 input=$2 attempt day_before day_after
    for attempt in 1 2; do
        rm -rf "$work/$name-linux" "$work/$name-windows"
        day_before=$(date +%F)
        run linux "$input" "$work/$name-linux"
        run windows "$input" "$work/$name-windows"
        day_after=$(date +%F)
        [ "$day_before" = "$day_after" ] && break
        echo "   $name: las dos ejecuciones cruzaron la medianoche; se repiten"
    done
    local files=0 bytes=0 bad=0 file relative
    # What each side wrote, by name: the same set of files on both. Zendral's own folder holds
    # the run reports, which name their time and paths, and copies of the tables compared here.
    local names_linux names_windows
    names_linux=$(cd "$work/$name-linux" && find VTEMP saga -type f ! -path 'VTEMP/zendral/*' | LC_ALL=C sort)
    names_windows=$(cd "$work/$name-windows" && find VTEMP saga -type f ! -path 'VTEMP/zendral/*' | LC_ALL=C sort)
    if [ "$names_linux" != "$names_windows" ]; then
        echo "FALLO: $name: Linux y Windows escriben archivos distintos:" >&2
        diff <(echo "$names_linux") <(echo "$names_windows") >&2 || true
        bad=1
    fi
    while IFS= read -r relative; do
        file=$work/$name-linux/$relative
        files=$((files + 1))
        bytes=$((bytes + $(stat -c %s "$file")))
        if ! cmp "$file" "$work/$name-windows/$relative" >"$work/cmp.txt" 2>&1; then
            echo "FALLO: $name: $relative difiere: $(cat "$work/cmp.txt")" >&2
            bad=1
        fi
    done <<<"$names_linux"
    if ! grep -q 'MATIB.MDX' <<<"$names_linux" || ! grep -q 'SolucioHorari.xml' <<<"$names_linux"; then
        echo "FALLO: $name: faltan MATIB.MDX o SolucioHorari.xml" >&2
        bad=1
    fi
    total_files=$((total_files + files))
    total_bytes=$((total_bytes + bytes))
    if [ $bad -eq 0 ]; then
        printf '   %-22s %3d archivos, %9d bytes: idénticos (cabeceras del %s)\n' "$name" "$files" "$bytes" "$day_after"
    else
        differences=$((differences + 1))
    fi
}

echo "== Comparación byte a byte: Linux ($linux) y Windows bajo Wine ($windows)"
t0=$SECONDS
mkdir -p "$work/entrada-muestra"
cp "$root/samples/centre.xml" "$root/samples/cursos.csv" "$work/entrada-muestra/"
compare_case muestra "$work/entrada-muestra"

mkdir -p "$work/entrada-grande"
generate "$work/entrada-grande" 300 UTF-8 "àéíòúüçñ"
compare_case "centro-grande" "$work/entrada-grande"

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
