#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds everything with warnings as errors and
# runs every test; then builds and runs the whole suite once more under AddressSanitizer and
# UndefinedBehaviorSanitizer; then cross-builds the Windows programs and runs their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
scripts/setup.sh
scripts/check-format.sh

echo "== Compilación normal (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENDRAL_WERROR=ON -DZENDRAL_BUILD_BENCH=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2 --timeout 300

echo "== Compilación con sanitizers (build-san/)"
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENDRAL_WERROR=ON -DZENDRAL_SANITIZE=ON \
    -DZENDRAL_BUILD_BENCH=OFF >/dev/null
cmake --build build-san
# Leaks inside the system's graphics and font libraries are theirs, not ours.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-san --output-on-failure -j2 --timeout 600

echo "== Programas para Windows (mingw-w64), probados bajo Wine"
# The command-line programs and their tests always; the desktop program, its tests and the
# installer too when this machine already has Qt for mingw (building it takes about an hour, so
# that is left to a developer's scripts/windows.sh or scripts/windows-qt.sh).
if qt=$(scripts/windows-qt.sh --comprobar); then
    echo "Qt para mingw en $qt: también el programa de escritorio"
    scripts/windows.sh
else
    echo "Esta máquina no tiene Qt para mingw (scripts/windows-qt.sh lo compila): solo la línea de órdenes"
    scripts/windows.sh --solo-cli
fi

echo "== Todo correcto en $((SECONDS - start)) s"
