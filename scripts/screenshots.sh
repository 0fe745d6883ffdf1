#!/usr/bin/env bash
# Builds the desktop program and saves screenshots of its windows, taken on a virtual X server
# (Xvfb), into a folder (default <build>/screenshots):
#   main.png           the main window
#   cursos-1.png       the level/course dialog, first showing, part filled in
#   cursos-aviso.png   the screen while "¡Atención! Falta algún Dato" is open over the dialog
#   cursos-2.png       the dialog shown again, with the forced exit offered
#   lineas.png         the line-creation question
#   fin.png            "Proceso finalizado"
#   avisos.png         the warnings window "Avisos del proceso" (when the run left warnings)
#   restaurar.png      the restore dialog "Restaurar tablas anteriores", after a second import
# It runs a centre import of samples/centre.xml in a temporary working directory, typing into the
# windows as a person would. ZENDRAL_BUILD names another build directory than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZENDRAL_BUILD:-build}
out=$(realpath -m "${1:-$build/screenshots}")
scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target zendral zendral-cli

. tests/e2e/comun.sh
preparar import
export ZENDRAL_DIR=$tmp/VTEMP
mkdir -p "$ZENDRAL_DIR/saga" "$out"
cp samples/centre.xml "$ZENDRAL_DIR/saga/"

# The window whose title matches; the script ends when it does not appear.
mostrada() {
    local id
    id=$(ventana "$1")
    [ -n "$id" ] || fail "no apareció la ventana «$1»"
    echo "$id"
}
foto() {
    sleep 0.3
    import -window "$1" "$out/$2"
    echo "$out/$2"
}
# Types a level and a course number into the grid row under the cursor (which starts on CODI)
# and moves on to the next row.
fila() {
    xdotool key Right Right
    xdotool type "$1"
    xdotool key Return
    [ -n "$2" ] && xdotool type "$2"
    xdotool key Return
}

# Whether the import will leave warnings, asked before it starts: while its closing box is open the
# run still holds the tables. The whole output is read first: grep -q would stop reading at the
# first warning, and under pipefail the writer's broken pipe would make the answer "no".
comprobado=$("$build/cli/zendral-cli" comprobar "$ZENDRAL_DIR/saga/centre.xml" --dir "$ZENDRAL_DIR" 2>&1 || true)
con_avisos=0
grep -q '^Aviso:' <<<"$comprobado" && con_avisos=1

"$build/app/zendral" &
programa_pid=$!
principal=$(mostrada '^Exportar e importar datos entre Velorin y GestIB$')
foto "$principal" main.png

# The import's "Aceptar" has the focus when the window opens: Enter, then the sample in the file
# dialog.
teclas "$principal" key Return
dialogo=$(mostrada '^Archivo XML$')
# Keys typed before the dialog has settled may be lost.
sleep 0.5
teclas "$dialogo" type "centre.xml"
xdotool key Return

cursos=$(mostrada '^Asignación de Niveles y Cursos$')
xdotool windowfocus --sync "$cursos"
fila ESO 1
fila ESO 2
xdotool key Right Right
xdotool type ESO
foto "$cursos" cursos-1.png
teclas "$cursos" key alt+a
aviso=$(mostrada '^Zendral$')
foto root cursos-aviso.png
teclas "$aviso" key Return

sleep 0.5
cursos=$(mostrada '^Asignación de Niveles y Cursos$')
foto "$cursos" cursos-2.png
xdotool windowfocus --sync "$cursos"
xdotool key Down Down Right Right Right
xdotool type 3
xdotool key Return
fila ESO 4
fila BAT 1
fila BAT 2
teclas "$cursos" key alt+a

lineas=$(mostrada '^Creación automática de Líneas de Asignaturas$')
foto "$lineas" lineas.png
teclas "$lineas" key Return
fin=$(mostrada '^Zendral$')
foto "$fin" fin.png
# With warnings the box has "Mostrar detalles…" (Alt+M), which opens their window; "Cerrar"
# (Alt+E) brings the box back.
if [ $con_avisos -eq 1 ]; then
    teclas "$fin" key alt+m
    avisos=$(mostrada '^Avisos del proceso$')
    foto "$avisos" avisos.png
    teclas "$avisos" key alt+e
    sleep 0.5
    fin=$(mostrada '^Zendral$')
fi
teclas "$fin" key Return

# A second import from the command line keeps a copy of the tables the first one wrote; the
# context menu of the main window opens the restore dialog on it.
sleep 0.5
"$build/cli/zendral-cli" exportar "$ZENDRAL_DIR/saga/centre.xml" --dir "$ZENDRAL_DIR" \
    --cursos samples/cursos.csv >/dev/null
teclas "$principal" key Menu
sleep 0.5
xdotool key Down Return
restaurar=$(mostrada '^Restaurar tablas anteriores$')
foto "$restaurar" restaurar.png
teclas "$restaurar" key Escape
sleep 0.3
teclas "$principal" key alt+s
wait "$programa_pid" || true
programa_pid=
echo "Capturas en $out"
