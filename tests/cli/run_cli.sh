#!/usr/bin/env bash
# Runs the real zendral-cli on the bundled sample and checks exit codes, output and the tables
# as another DBF reader sees them. With ZENDRAL_EJECUTOR set (wine), it runs the Windows
# program through it; that program ends its lines with CR LF.
set -u
cli=$1 samples=$2 python=$3
run() { ${ZENDRAL_EJECUTOR:-} "$cli" "$@"; }
first_line() { head -1 "$1" | tr -d '\r'; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FALLO: $*" >&2; exit 1; }

run >/dev/null 2>"$work/err"; [ $? -eq 2 ] || fail "sin argumentos debe salir con 2"
grep -q '^Uso:' "$work/err" || fail "falta el uso"

mkdir "$work/vtemp"
run exportar "$samples/centre.xml" --dir "$work/vtemp" >"$work/out" 2>"$work/err"
[ $? -eq 1 ] || fail "sin cursos debe salir con 1"
first_line "$work/err" | grep -qx '¡Atención! Falta algún Dato' || fail "falta el aviso de datos"
[ -z "$(ls -A "$work/vtemp")" ] || fail "sin cursos no se debe tocar ninguna tabla"

run exportar "$samples/centre.xml" --dir "$work/vtemp" --cursos "$samples/cursos.csv" >"$work/out" 2>"$work/err"
[ $? -eq 0 ] || fail "la importación del ejemplo falló: $(cat "$work/err")"
first_line "$work/out" | grep -qx 'Proceso finalizado' || fail "falta Proceso finalizado"

"$python" - "$work/vtemp" "$work/out" <<'PY' || exit 1
import sys, re
from dbfread import DBF
work, out = sys.argv[1], open(sys.argv[2], encoding="utf-8").read()
counts = dict(re.findall(r"^  (\w+): (\d+) registros?$", out, re.M))
for table in ["ASIGNOMT", "PROFT", "AULAT", "CURSOST", "GRUPOST", "MATIB", "ASIGT", "DIASHORAST"]:
    records = list(DBF(f"{work}/{table}.DBF", encoding="cp1252"))
    if str(len(records)) != counts.get(table):
        sys.exit(f"FALLO: {table} tiene {len(records)} registros y el resumen dice {counts.get(table)}")
codes = [r["COD"] for r in DBF(f"{work}/ASIGNOMT.DBF", encoding="cp1252") if not r["ESTAREA"]]
if len({c.upper() for c in codes}) != len(codes):
    sys.exit("FALLO: códigos de asignatura repetidos: %s" % codes)
PY
# A folder and files whose names the ANSI code page of Windows cannot hold (€ next to à): the
# same tables, byte for byte.
dades="$work/Dàdes €"
mkdir -p "$dades/VTEMP"
cp "$samples/centre.xml" "$dades/centre €.xml"
cp "$samples/cursos.csv" "$dades/cursos à.csv"
run exportar "$dades/centre €.xml" --dir "$dades/VTEMP" --cursos "$dades/cursos à.csv" >"$work/out" 2>"$work/err"
[ $? -eq 0 ] || fail "la importación en «Dàdes €» falló: $(cat "$work/err")"
[ "$(ls "$work/vtemp")" = "$(ls "$dades/VTEMP")" ] || fail "«Dàdes €» tiene otras tablas: $(ls "$dades/VTEMP")"
for table in "$work"/vtemp/*; do
    cmp -s "$table" "$dades/VTEMP/${table##*/}" || fail "${table##*/} difiere en «Dàdes €»"
done
echo "zendral-cli: correcto"
