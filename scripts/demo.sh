#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole data path on the bundled sample in a
# fresh working directory (build/demo/VTEMP):
#   centre import -> the Velorin stand-in fills DIASHORAST and solves SOLUC -> timetable export,
# then checks the timetable document with xmllint and shows a summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
demo=build/demo
work=$demo/VTEMP
rm -rf "$demo"
mkdir -p "$work" "$demo/saga"

run() {
    echo "\$ $*"
    "$@"
    echo
}
run build/cli/zendral-cli exportar samples/centre.xml --dir "$work" --cursos samples/cursos.csv
run build/host/velorin-sim diashoras --dir "$work"
run build/host/velorin-sim soluc --dir "$work"
run build/cli/zendral-cli importar "$demo/saga" --dir "$work"

xmllint --noout "$demo/saga/SolucioHorari.xml"
echo "SolucioHorari.xml es XML bien formado; primeras sesiones:"
xmllint --xpath '/HORARI/SESSIONS/SESSIO[position() <= 3]' "$demo/saga/SolucioHorari.xml" | sed 's|/><|/>\n<|g'
echo
