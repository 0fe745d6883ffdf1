#!/usr/bin/env bash
# The Windows desktop program under Wine, on a virtual X server, started as Velorin starts it:
# the Windows stand-in host shows a window and starts "zendral.exe <run> <its handle>", and
# tells whether the tool's window became its child (Wine does not draw an adopted window, so
# GetParent and IsChild say it, not the screen). The test answers the tool's windows with the
# keyboard and checks Velorin.ini beside zendral.exe, the tables and the timetable document; then
# F1 in a tool started by hand asks HTML Help for context 1 of GestIB.chm beside the executable,
# which Wine's hhctrl must resolve to the main window's topic.
# Arguments: folder-with-zendral.exe host_velorin_win.exe zendral-cli.exe velorin-sim.exe samples
# The caller sets WINEPREFIX (a private one, inside the build tree).
# ZENDRAL_E2E_CAPTURA=file.png: the screen is saved there when the test fails.
set -u
paquete=$1 host=$2 cli=$3 sim=$4 samples=$5

command -v wine >/dev/null 2>&1 || { echo "Wine no está instalado: se omite la prueba"; exit 77; }
[ -n "${WINEPREFIX:-}" ] || { echo "FALLO: falta WINEPREFIX" >&2; exit 1; }
export WINEDEBUG=${WINEDEBUG:--all}
. "$(dirname "$0")/comun.sh"
al_terminar() {
    wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX/drive_c/VTEMP"
}
preparar

win() { winepath -w "$1" 2>/dev/null; }

# The installed program in a folder of its own, where it writes Velorin.ini.
cp -r "$paquete" "$tmp/bin"
ini=$tmp/bin/Velorin.ini
# Velorin's fixed working folder, C:\VTEMP, as every program finds it when nothing says otherwise.
unset ZENDRAL_DIR
vtemp=$WINEPREFIX/drive_c/VTEMP
rm -rf "$vtemp"
mkdir -p "$vtemp/saga"
cp "$samples/centre.xml" "$vtemp/saga/"
wine "$cli" exportar "$(win "$vtemp/saga/centre.xml")" --cursos "$(win "$samples/cursos.csv")" >/dev/null ||
    fail "importación previa"
# The tables as the command-line program wrote them, for the desktop program's import below.
mkdir "$tmp/cli"
cp "$vtemp"/*.DBF "$vtemp"/*.MDX "$tmp/cli/"
wine "$sim" diashoras >/dev/null && wine "$sim" soluc >/dev/null || fail "velorin-sim"

# Starts the host with the run; returns once the host says the tool's window is its child.
arrancar() {
    rm -f "$ini"
    wine "$host" "$(win "$tmp/bin/zendral.exe")" "$1" >"$tmp/host.out" 2>"$tmp/host.err" &
    programa_pid=$!
    for _ in $(seq 600); do
        grep -q 'incrustada' "$tmp/host.out" 2>/dev/null && break
        kill -0 "$programa_pid" 2>/dev/null || break
        sleep 0.05
    done
    # Wine's console ends lines with CR LF.
    tr -d '\r' <"$tmp/host.out" | grep -qx "incrustada" ||
        fail "la ventana de Zendral no es hija de la del anfitrión ($1): $(cat "$tmp/host.out" "$tmp/host.err")"
}

# importar: the timetable export into the folder of the file typed in the dialog.
arrancar importar
elegir "$(win "$vtemp/saga/centre.xml")" importar
aceptar_aviso "«Proceso finalizado» (importar)"
terminar importar
printf '[Transformadores]\r\nTransformado=1\r\n' | cmp -s - "$ini" || fail "Velorin.ini tras importar: $(cat -A "$ini" 2>&1)"
head -c 26 "$vtemp/saga/SolucioHorari.xml" | grep -q '^<HORARI><SESSIONS><SESSIO ' ||
    fail "SolucioHorari.xml no se escribió"

# exportar with the file dialog cancelled: "No existe archivo", then the tool ends and reports -1.
arrancar exportar
cancelar_archivo "exportar cancelado"
aceptar_aviso "«No existe archivo»"
terminar "exportar cancelado"
printf '[Transformadores]\r\nTransformado=-1\r\n' | cmp -s - "$ini" ||
    fail "Velorin.ini tras cancelar: $(cat -A "$ini" 2>&1)"

# exportar to the end: the level/course dialog shows the answers the command-line import left
# remembered, Aceptar takes them, the line question is answered OK; the tables are those of the
# command-line program, byte for byte, and the host reads 1.
arrancar exportar
elegir "$(win "$vtemp/saga/centre.xml")" "exportar completo"
cursos=$(ventana '^Asignación de Niveles y Cursos$')
[ -n "$cursos" ] || fail "no apareció el diálogo de niveles y cursos"
sleep 0.5
# Aceptar from the keyboard alone: its access key, Alt+A (Return belongs to the grid).
hasta_cerrar "$cursos" "el diálogo de niveles y cursos" teclas "$cursos" key alt+a
lineas=$(ventana '^Creación automática de Líneas de Asignaturas$')
[ -n "$lineas" ] || fail "no apareció la pregunta de las líneas"
sleep 0.3
hasta_cerrar "$lineas" "la pregunta de las líneas" teclas "$lineas" key Return
aceptar_aviso "«Proceso finalizado» (exportar)"
terminar "exportar completo"
printf '[Transformadores]\r\nTransformado=1\r\n' | cmp -s - "$ini" ||
    fail "Velorin.ini tras exportar: $(cat -A "$ini" 2>&1)"
for f in "$tmp/cli"/*; do
    cmp "$f" "$vtemp/$(basename "$f")" || fail "$(basename "$f") difiere del de zendral-cli.exe"
done

# F1 in a tool started by hand: HTML Help is asked for context 1 of GestIB.chm beside the
# executable, and Wine's hhctrl resolves it to the main window's topic.
WINEDEBUG=trace+htmlhelp wine "$tmp/bin/zendral.exe" >"$tmp/ayuda.out" 2>"$tmp/ayuda.err" &
ayuda_pid=$!
principal=$(ventana '^Exportar e importar datos entre Velorin y GestIB$')
[ -n "$principal" ] || fail "no apareció la ventana principal (a mano)"
sleep 0.5
teclas "$principal" key F1
for _ in $(seq 200); do
    grep -qi 'ventana\.htm' "$tmp/ayuda.err" && break
    sleep 0.05
done
kill "$ayuda_pid" 2>/dev/null
wineserver -k 2>/dev/null
grep -q 'GestIB\.chm' "$tmp/ayuda.err" || fail "F1 no abrió GestIB.chm"
grep -qi 'ventana\.htm' "$tmp/ayuda.err" ||
    fail "el contexto 1 no llevó al tema de la ventana principal: $(grep -i 'htmlhelp\|alias\|context' "$tmp/ayuda.err" | head -20)"

echo "zendral.exe incrustado bajo Wine, resultados y ayuda: correcto"
