#!/usr/bin/env bash
# Installs what is missing, builds, and runs the centre import of the bundled sample into a
# fresh working directory (build/demo/VTEMP), then shows what was written.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
work=build/demo/VTEMP
rm -rf "$work"
mkdir -p "$work"
echo "$ zendral-cli exportar samples/centre.xml --dir $work --cursos samples/cursos.csv"
build/cli/zendral-cli exportar samples/centre.xml --dir "$work" --cursos samples/cursos.csv
echo
echo "Tablas escritas en $work:"
ls -l "$work"
