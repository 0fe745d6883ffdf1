# What the end-to-end scripts share, sourced by them: a virtual X server of their own and the
# keyboard of a person answering the tool's windows. `preparar` sets up a script's surroundings;
# the script keeps the process it starts (the stand-in host, or the tool itself) in $programa_pid.
# ZENDRAL_E2E_CAPTURA=file.png: the screen is saved there when the test fails.

fail() {
    echo "FALLO: $*" >&2
    # What the program under test wrote, when the script keeps it ($salida_programa).
    if [ -s "${salida_programa:-}" ]; then
        echo "Salida del programa:" >&2
        sed 's/^/  /' "$salida_programa" >&2
    fi
    [ -n "${ZENDRAL_E2E_CAPTURA:-}" ] && [ -n "${DISPLAY:-}" ] && import -window root "$ZENDRAL_E2E_CAPTURA" 2>/dev/null
    exit 1
}

# Starts Xvfb on a display of its own and points DISPLAY at it, once a client can connect. The
# number is drawn at random from a wide range rather than taken as the lowest free one: a test
# that ends kills its Xvfb while the next one starts, and a server still going away removes its
# socket by name, which would cut off a new server that had just taken the same number.
iniciar_xvfb() {
    local n
    for _ in $(seq 20); do
        n=$((200 + RANDOM % 3000))
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        : >"$tmp/display"
        # -noreset: by default the server resets when its last client leaves (here, the check
        # below), and a program connecting during that reset is turned away ("could not connect
        # to display" from a server that answers again a moment later).
        Xvfb ":$n" -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [ -s "$tmp/display" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        if [ -s "$tmp/display" ] && DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
            export DISPLAY=":$n"
            return 0
        fi
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    done
    fail "Xvfb no arrancó: $(cat "$tmp/xvfb.log")"
}

# Everything a script needs before it starts the program: the tools (xdotool, xwininfo and those
# named), $tmp (a folder of its own, removed at the end), a virtual X server (DISPLAY) and
# XDG_RUNTIME_DIR inside $tmp. At the end the program still running in $programa_pid is killed,
# then al_terminar runs when the script defines it, then the X server ends. Without Xvfb the test
# is skipped (77).
preparar() {
    command -v Xvfb >/dev/null 2>&1 || {
        echo "Xvfb no está instalado: se omite la prueba"
        exit 77
    }
    local tool
    for tool in xdotool xwininfo "$@"; do
        command -v "$tool" >/dev/null 2>&1 || fail "falta $tool (scripts/setup.sh lo instala)"
    done
    tmp=$(mktemp -d)
    xvfb_pid= programa_pid=
    trap limpiar EXIT
    iniciar_xvfb
    export XDG_RUNTIME_DIR=$tmp/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}

limpiar() {
    [ -n "${programa_pid:-}" ] && kill "$programa_pid" 2>/dev/null
    declare -F al_terminar >/dev/null && al_terminar
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}

# The id of the only visible window whose title matches, waiting up to 30 s for it. Each search is
# tried again: one that meets a window just being destroyed ends with an X error and no answer.
ventana() {
    local id
    for _ in $(seq 150); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.2
    done
}

# Whether window $1 is still shown.
visible() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }

# Gives window $1 the keyboard and runs xdotool with the rest; nothing when it closed meanwhile.
teclas() {
    if ! xdotool windowactivate --sync "$1" 2>/dev/null && ! xdotool windowfocus --sync "$1"; then
        visible "$1" || return 0
        fail "no se puede dar el foco a $1"
    fi
    shift
    xdotool "$@"
}

# Repeats `accion ARGS…` on window $1 until that window goes away: a key pressed before a window
# takes input is lost, and pressed twice it could answer the next window, so each try waits for
# the window to close before the next. $2 names the window for the failure.
hasta_cerrar() {
    local id=$1 que=$2
    shift 2
    for _ in 1 2 3 4 5; do
        visible "$id" || return 0
        "$@"
        for _ in $(seq 50); do
            visible "$id" || return 0
            sleep 0.1
        done
    done
    fail "$que sigue abierto"
}

# The file dialog's window, once it is shown and has settled; $1 names the step for a failure.
dialogo_archivo() {
    local id
    id=$(ventana '^Archivo XML$')
    [ -n "$id" ] || fail "no apareció el diálogo de archivo ($1)"
    sleep 0.5
    echo "$id"
}

# Types file name $1 into the file dialog and accepts it; $2 names the step for a failure.
elegir() {
    local dialogo
    dialogo=$(dialogo_archivo "$2") || exit 1
    # The name field has the focus; whatever an earlier try left there is replaced. (xdotool's
    # "type" takes every word after it as text, so it ends its own command.)
    nombre() {
        teclas "$dialogo" key End shift+Home BackSpace
        xdotool type --delay 20 "$1"
        xdotool key Return
    }
    hasta_cerrar "$dialogo" "el diálogo de archivo ($2)" nombre "$1"
}

# Cancels the file dialog; $1 names the step for a failure.
cancelar_archivo() {
    local dialogo
    dialogo=$(dialogo_archivo "$1") || exit 1
    hasta_cerrar "$dialogo" "el diálogo de archivo ($1)" teclas "$dialogo" key Escape
}

# Accepts the tool's message box; $1 names it for a failure.
aceptar_aviso() {
    local aviso
    aviso=$(ventana '^Zendral$')
    [ -n "$aviso" ] || fail "no apareció $1"
    sleep 0.3
    hasta_cerrar "$aviso" "$1" teclas "$aviso" key Return
}

# Waits up to 30 s for the program started as $programa_pid (the host, and so the tool) to end;
# fails unless it ends with 0. $1 names the run in the message, $2 the file with what the program
# wrote (default $tmp/host.err).
terminar() {
    for _ in $(seq 300); do
        kill -0 "$programa_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$programa_pid" 2>/dev/null && fail "Zendral no terminó ($1)"
    wait "$programa_pid"
    local codigo=$?
    programa_pid=
    [ $codigo -eq 0 ] || fail "Zendral terminó con $codigo ($1): $(cat "${2:-$tmp/host.err}")"
}
