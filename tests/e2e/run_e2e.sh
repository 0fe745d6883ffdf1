#!/usr/bin/env bash
# The desktop program started by a host window, on a virtual X server: the host shows a window and
# starts "zendral <run> <its handle in hexadecimal>". The test checks through X11 that the tool's
# window is a child of the host's, answers the tool's windows with the keyboard as a person would,
# and checks the exit, Velorin.ini beside the executable and the timetable document.
# Arguments: zendral host_velorin zendral-cli velorin-sim samples-directory
set -u
zendral=$1 host=$2 cli=$3 sim=$4 samples=$5

. "$(dirname "$0")/comun.sh"
preparar xprop

# The program in a directory of its own, where it writes Velorin.ini.
mkdir "$tmp/bin"
cp "$zendral" "$tmp/bin/zendral"
ini=$tmp/bin/Velorin.ini
export ZENDRAL_DIR=$tmp/VTEMP
mkdir -p "$ZENDRAL_DIR/saga"
cp "$samples/centre.xml" "$ZENDRAL_DIR/saga/"
"$cli" exportar "$samples/centre.xml" --cursos "$samples/cursos.csv" >/dev/null || fail "importación previa"
"$sim" diashoras >/dev/null && "$sim" soluc >/dev/null || fail "velorin-sim"

# Starts the host with the run; returns once the tool's window is embedded in the host's.
arrancar() {
    rm -f "$ini"
    "$host" "$tmp/bin/zendral" "$1" >"$tmp/host.out" 2>"$tmp/host.err" &
    programa_pid=$!
    # Its first line is the handle of its window; up to 15 s on a busy machine.
    local anfitrion= hasta=$((SECONDS + 15))
    while [ $SECONDS -lt $hasta ]; do
        anfitrion=$(head -1 "$tmp/host.out")
        [ -n "$anfitrion" ] && break
        kill -0 "$programa_pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -n "$anfitrion" ] ||
        fail "el anfitrión no mostró su ventana: $(cat -A "$tmp/host.out" "$tmp/host.err" | head -20)"
    local z
    z=$(ventana '^Exportar e importar datos entre Velorin y GestIB$')
    [ -n "$z" ] || fail "no apareció la ventana de Zendral ($1)"
    local padre=
    for _ in $(seq 100); do
        padre=$(xwininfo -tree -id "$z" | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p')
        [ "$padre" = "$(printf '0x%x' "0x$anfitrion")" ] && break
        sleep 0.05
    done
    [ "$padre" = "$(printf '0x%x' "0x$anfitrion")" ] || fail "la ventana de Zendral no es hija de la del anfitrión ($padre)"
    xwininfo -children -id "0x$anfitrion" | grep -q "^ *$(printf '0x%x' "$z") \"Exportar e importar" ||
        fail "la ventana del anfitrión no tiene a Zendral entre sus hijas"
    # Borderless, with the main window's client size.
    xwininfo -id "$z" | grep -q 'Width: 632' || fail "tamaño de la ventana incrustada"
    # The program's icon at each size drawn, 16 to 256 px (what title and task bars show).
    local iconos
    iconos=$(xprop -len 2000000 -id "$z" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | sort -u | wc -l)
    [ "$iconos" -eq 9 ] || fail "la ventana lleva el icono en $iconos tamaños, no en 9"
}

# importar: the timetable export; the file typed in the dialog names the destination folder.
arrancar importar
elegir "$ZENDRAL_DIR/saga/centre.xml" importar
aceptar_aviso "«Proceso finalizado»"
terminar importar
printf '[Transformadores]\r\nTransformado=1\r\n' | cmp -s - "$ini" || fail "Velorin.ini tras importar: $(cat -A "$ini" 2>&1)"
head -c 26 "$ZENDRAL_DIR/saga/SolucioHorari.xml" | grep -q '^<HORARI><SESSIONS><SESSIO ' ||
    fail "SolucioHorari.xml no se escribió"

# exportar with the file dialog cancelled: "No existe archivo", then the tool ends and reports -1.
arrancar exportar
cancelar_archivo exportar
aceptar_aviso "«No existe archivo»"
terminar exportar
printf '[Transformadores]\r\nTransformado=-1\r\n' | cmp -s - "$ini" || fail "Velorin.ini tras exportar: $(cat -A "$ini" 2>&1)"

echo "zendral incrustado en el anfitrión: correcto"
