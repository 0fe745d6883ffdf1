#!/usr/bin/env bash
# The desktop program started by hand on a virtual X server and driven with the keyboard alone, as
# a person without a mouse would: Enter on "Aceptar", the file typed in the file dialog, every
# level and course typed in the grid with Tab, Tab out of the grid to "Aceptar", Enter on the
# line question and the closing message. Then a second run whose file dialog is cancelled must
# say "No existe archivo" and leave the tables and the copies as they were.
# Arguments: zendral samples-directory
set -u
zendral=$1 samples=$2

. "$(dirname "$0")/comun.sh"
preparar

export ZENDRAL_DIR=$tmp/VTEMP
mkdir -p "$ZENDRAL_DIR/saga"
cp "$samples/centre.xml" "$ZENDRAL_DIR/saga/"

salida_programa=$tmp/zendral.out
"$zendral" >"$salida_programa" 2>&1 &
programa_pid=$!
principal=$(ventana '^Exportar e importar datos entre Velorin y GestIB$')
[ -n "$principal" ] || fail "no apareció la ventana principal"
sleep 0.5

# "Aceptar" of the import has the focus when the window opens: Enter presses it.
teclas "$principal" key Return
elegir "$ZENDRAL_DIR/saga/centre.xml" "importación"

cursos=$(ventana '^Asignación de Niveles y Cursos$')
[ -n "$cursos" ] || fail "no apareció el diálogo de niveles y cursos"
sleep 0.5
teclas "$cursos" key --delay 50 Tab Tab
while IFS=';' read -r codi _ nivel curso; do
    [ "$codi" = CODI ] && continue
    # Level, Tab, course, Tab: the last Tab leaves the grid for "Aceptar".
    xdotool type --delay 30 "$nivel"
    xdotool key --delay 50 Tab
    xdotool type --delay 30 "$curso"
    xdotool key --delay 50 Tab Tab Tab
done <"$samples/cursos.csv"
# The loop's last two Tabs went past "Aceptar": Shift+Tab twice comes back to it.
xdotool key --delay 50 shift+Tab shift+Tab
hasta_cerrar "$cursos" "el diálogo de niveles y cursos" teclas "$cursos" key Return

lineas=$(ventana '^Creación automática de Líneas de Asignaturas$')
[ -n "$lineas" ] || fail "no apareció la pregunta de las líneas"
sleep 0.3
hasta_cerrar "$lineas" "la pregunta de las líneas" teclas "$lineas" key Return
aceptar_aviso "«Proceso finalizado»"

[ -f "$ZENDRAL_DIR/CURSOST.DBF" ] || fail "no se escribió CURSOST"
# Every course got its level and course number, in the order typed.
niveles=$(tail -c +2 "$ZENDRAL_DIR/CURSOST.DBF" | tr -d '\0' | grep -ao 'ESO  [1-4]\|BAT  [12]' | tr '\n' ' ')
[ "$niveles" = "ESO  1 ESO  2 ESO  3 ESO  4 BAT  1 BAT  2 " ] || fail "CURSOST tras el teclado: «$niveles»"

# A second run cancelled in its file dialog: nothing is converted again.
antes=$(cat "$ZENDRAL_DIR"/*.DBF | md5sum)
copias=$(ls "$ZENDRAL_DIR/zendral/copias" 2>/dev/null | wc -l)
sleep 0.5
teclas "$principal" key Return
cancelar_archivo "segunda importación"
aviso=$(ventana '^Zendral$')
[ -n "$aviso" ] || fail "no apareció «No existe archivo»"
[ -z "$(xdotool search --onlyvisible --name '^Asignación de Niveles y Cursos$' 2>/dev/null)" ] ||
    fail "la importación cancelada abrió el diálogo de niveles y cursos"
aceptar_aviso "«No existe archivo»"
[ "$(cat "$ZENDRAL_DIR"/*.DBF | md5sum)" = "$antes" ] || fail "la importación cancelada cambió las tablas"
[ "$(ls "$ZENDRAL_DIR/zendral/copias" 2>/dev/null | wc -l)" = "$copias" ] ||
    fail "la importación cancelada guardó otra copia"

# Alt+S: "Salir".
teclas "$principal" key alt+s
terminar "Alt+S" "$tmp/zendral.out"
echo "importación solo con el teclado: correcta"
