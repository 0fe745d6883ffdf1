#!/usr/bin/env bash
# Runs the real zendral-cli on the bundled sample and checks exit codes, output and the tables
# as another DBF reader sees them. With ZENDRAL_EJECUTOR set (wine), it runs the Windows
# program through it; that program ends its lines with CR LF.
set -u
cli=$1 samples=$2 python=$3 sim=${4:-}
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
tablas() { (cd "$1" && ls -- *.DBF *.MDX); }
[ "$(tablas "$work/vtemp")" = "$(tablas "$dades/VTEMP")" ] || fail "«Dàdes €» tiene otras tablas: $(ls "$dades/VTEMP")"
for table in "$work"/vtemp/*.DBF "$work"/vtemp/*.MDX; do
    cmp -s "$table" "$dades/VTEMP/${table##*/}" || fail "${table##*/} difiere en «Dàdes €»"
done

# Another program's locks, of either family, stop the run before anything changes. Linux
# programs only: the Linux lock families and the file-size limit are the Linux build's.
if [ -z "${ZENDRAL_EJECUTOR:-}" ]; then
if command -v flock >/dev/null; then
    sum_before=$(cat "$work"/vtemp/*.DBF | md5sum)
    flock -s "$work/vtemp/PROFT.DBF" "$cli" exportar "$samples/centre.xml" --dir "$work/vtemp" \
        --cursos "$samples/cursos.csv" >"$work/out" 2>"$work/err"
    [ $? -eq 1 ] || fail "con PROFT bloqueada (flock) debe salir con 1"
    grep -q 'La tabla PROFT está en uso por otro programa' "$work/err" || fail "flock: $(cat "$work/err")"
    [ "$(cat "$work"/vtemp/*.DBF | md5sum)" = "$sum_before" ] || fail "flock: se tocaron tablas"
fi
"$python" - "$work/vtemp/AULAT.DBF" "$cli" "$samples" "$work/vtemp" <<'PY' || exit 1
import fcntl, subprocess, sys
table, cli, samples, vtemp = sys.argv[1:]
with open(table, "rb") as f:
    fcntl.lockf(f, fcntl.LOCK_SH)  # a classic POSIX record lock
    r = subprocess.run([cli, "exportar", samples + "/centre.xml", "--dir", vtemp, "--cursos",
                        samples + "/cursos.csv"], capture_output=True, text=True)
if r.returncode != 1 or "La tabla AULAT está en uso por otro programa" not in r.stderr:
    sys.exit("FALLO: con AULAT bloqueada (lockf): %d %s" % (r.returncode, r.stderr))
PY

# A file-size limit (ulimit -f) does not kill the process: the write fails with a Spanish message,
# the previous document stays and nothing is left beside it.
if [ -n "$sim" ]; then
    "$sim" diashoras --dir "$work/vtemp" >/dev/null && "$sim" soluc --dir "$work/vtemp" >/dev/null \
        || fail "velorin-sim falló"
    mkdir "$work/saga"
    echo "<HORARI/>" >"$work/saga/SolucioHorari.xml"
    (ulimit -f 8; exec "$cli" importar "$work/saga" --dir "$work/vtemp") >"$work/out" 2>"$work/err"
    code=$?
    [ $code -eq 1 ] || fail "con ulimit -f debe salir con 1, no con $code"
    grep -q 'SolucioHorari.xml: archivo demasiado grande' "$work/err" || fail "ulimit: $(cat "$work/err")"
    [ "$(cat "$work/saga/SolucioHorari.xml")" = "<HORARI/>" ] || fail "ulimit: se perdió el documento anterior"
    [ "$(ls "$work/saga")" = "SolucioHorari.xml" ] || fail "ulimit: quedan temporales: $(ls "$work/saga")"
    # The tables too: a rebuild past the limit keeps every previous table.
    sum_before=$(cat "$work"/vtemp/*.DBF | md5sum)
    (ulimit -f 4; exec "$cli" exportar "$samples/centre.xml" --dir "$work/vtemp" --cursos "$samples/cursos.csv") \
        >"$work/out" 2>"$work/err"
    [ $? -eq 1 ] || fail "exportar con ulimit -f debe salir con 1"
    grep -q 'archivo demasiado grande' "$work/err" || fail "exportar con ulimit: $(cat "$work/err")"
    [ "$(cat "$work"/vtemp/*.DBF | md5sum)" = "$sum_before" ] || fail "ulimit: las tablas cambiaron"
    ls "$work/vtemp" | grep -q '\.tmp$' && fail "ulimit: quedan temporales en las tablas"
fi
fi
echo "zendral-cli: correcto"
