#!/usr/bin/env bash
# The Windows installer under Wine, silently, as an administrator would run it on many machines:
# - with no Velorin known to Windows it installs into C:\Zendral;
# - with Velorin.exe registered (App Paths) it installs into Velorin's folder;
# - the installed programs run there (zendral-cli.exe prints its usage), the Start menu entry and
#   the uninstall entry exist;
# - the uninstaller removes our files and nothing of Velorin's (its program and Velorin.ini stay);
# - the uninstall entry gives the size of our files and the program's icon;
# - installed over an older version, the files that version had and this one no longer ships go;
#   Velorin.ini and the working directory stay.
# Arguments: installer folder-it-was-made-from icon. The caller sets WINEPREFIX (a private one).
set -u
instalador=$1 origen=$2 icono=$3

command -v wine >/dev/null 2>&1 || { echo "Wine no está instalado: se omite la prueba"; exit 77; }
[ -n "${WINEPREFIX:-}" ] || { echo "FALLO: falta WINEPREFIX" >&2; exit 1; }
[ -f "$instalador" ] || { echo "FALLO: no existe $instalador" >&2; exit 1; }
fail() { echo "FALLO: $*" >&2; exit 1; }
export WINEDEBUG=-all

unidad_c=$WINEPREFIX/drive_c
clave_app='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Velorin.exe'
clave_des='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zendral'
viejo=$(mktemp -d)
limpiar() {
    wine reg delete "$clave_app" /f >/dev/null 2>&1
    rm -rf "$unidad_c/Zendral" "$unidad_c/Velorin" "$unidad_c/VTEMP-instalador"
}
trap 'limpiar; rm -rf "$viejo"; wineserver -k 2>/dev/null' EXIT
limpiar

archivos=$(cd "$origen" && find . -type f | sed 's|^\./||' | sort)
[ -n "$archivos" ] || fail "la carpeta de origen está vacía"

# Every file of the package, byte for byte, in the folder.
comprobar_instalado() {
    local carpeta=$1
    while read -r f; do
        cmp -s "$origen/$f" "$carpeta/$f" || fail "falta o difiere $f en $carpeta"
    done <<<"$archivos"
    [ -f "$carpeta/Desinstalar Zendral.exe" ] || fail "falta el desinstalador en $carpeta"
    wine reg query "$clave_des" /v InstallLocation 2>/dev/null | tr -d '\r' | grep -qi "$2" ||
        fail "la entrada de desinstalación no señala $2"
    ls "$unidad_c"/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Zendral/Zendral.lnk >/dev/null 2>&1 ||
        fail "falta la entrada del menú Inicio"
    # The size of our files in KB (with the uninstaller's 100), and the program's icon.
    local kb esperado
    kb=$(wine reg query "$clave_des" /v EstimatedSize 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_DWORD *0x//p')
    esperado=$(($(cd "$origen" && du -sk --apparent-size . | cut -f1) + 100))
    [ -n "$kb" ] && [ $((16#$kb)) -ge $((esperado - 8)) ] && [ $((16#$kb)) -le $((esperado + 8)) ] ||
        fail "EstimatedSize '$kb' en lugar de unos $esperado KB"
    wine reg query "$clave_des" /v DisplayIcon 2>/dev/null | tr -d '\r' | grep -qi 'zendral\.exe,0' ||
        fail "la entrada de desinstalación no muestra el icono de zendral.exe"
}
desinstalar() {
    local carpeta=$1
    wine "$carpeta/Desinstalar Zendral.exe" /S
    # The uninstaller runs a copy of itself from the temporary folder: wait for every process.
    wineserver -w
    while read -r f; do
        [ ! -e "$carpeta/$f" ] || fail "el desinstalador dejó $f"
    done <<<"$archivos"
    [ ! -e "$carpeta/Desinstalar Zendral.exe" ] || fail "el desinstalador no se borró"
    ! wine reg query "$clave_des" >/dev/null 2>&1 || fail "queda la entrada de desinstalación"
    [ ! -e "$unidad_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zendral" ] ||
        fail "queda la carpeta del menú Inicio"
}

# 1. No Velorin: C:\Zendral.
wine "$instalador" /S
wineserver -w
comprobar_instalado "$unidad_c/Zendral" 'C:\\Zendral'
uso=$(wine "$unidad_c/Zendral/zendral-cli.exe" 2>&1)
grep -q 'zendral-cli exportar' <<<"$uso" || fail "zendral-cli.exe instalado no arranca: $uso"
desinstalar "$unidad_c/Zendral"
[ ! -e "$unidad_c/Zendral" ] || fail "queda la carpeta C:\\Zendral vacía"

# 2. Velorin registered: its folder, and nothing of Velorin's goes on uninstalling.
mkdir -p "$unidad_c/Velorin"
printf 'MZ velorin' >"$unidad_c/Velorin/Velorin.exe"
wine reg add "$clave_app" /ve /d 'C:\Velorin\Velorin.exe' /f >/dev/null 2>&1 || fail "reg add"
wine "$instalador" /S
wineserver -w
[ ! -e "$unidad_c/Zendral" ] || fail "instaló en C:\\Zendral aunque Velorin estaba registrado"
comprobar_instalado "$unidad_c/Velorin" 'C:\\Velorin'
printf '[Transformadores]\r\nTransformado=1\r\n' >"$unidad_c/Velorin/Velorin.ini"
desinstalar "$unidad_c/Velorin"
[ -f "$unidad_c/Velorin/Velorin.exe" ] || fail "el desinstalador borró Velorin.exe"
[ -f "$unidad_c/Velorin/Velorin.ini" ] || fail "el desinstalador borró Velorin.ini"

# 3. Over an older version in Velorin's folder. The older package is made here from the same
#    script with other files: one this version no longer ships (in a folder of its own) and an
#    older zendral.exe.
nsi=$(cd "$(dirname "$0")/../../instalador" && pwd)/Zendral.nsi
mkdir -p "$viejo/origen/obsoleto"
cp "$origen/zendral-cli.exe" "$viejo/origen/"
printf 'MZ zendral 0.9' >"$viejo/origen/zendral.exe"
printf 'MZ obsoleto' >"$viejo/origen/obsoleto/antiguo.dll"
{
    echo '!macro ZendralInstalar'
    echo '  CreateDirectory "$INSTDIR\obsoleto"'
    for f in obsoleto/antiguo.dll zendral-cli.exe zendral.exe; do
        echo "  File \"/oname=${f//\//\\}\" \"$viejo/origen/$f\""
    done
    echo '!macroend'
    echo '!macro ZendralBorrar'
    for f in obsoleto/antiguo.dll zendral-cli.exe zendral.exe; do
        echo "  Delete \"\$INSTDIR\\${f//\//\\}\""
    done
    echo '  RMDir "$INSTDIR\obsoleto"'
    echo '!macroend'
} >"$viejo/archivos.nsh"
makensis -V1 -DVERSION=0.9 -DVERSION4=0.9.0.0 -DORIGEN="$viejo/origen" -DARCHIVOS="$viejo/archivos.nsh" \
    -DSALIDA="$viejo/viejo.exe" -DICONO="$icono" -DTAMANO_KB=1 "$nsi" >"$viejo/makensis.log" ||
    fail "makensis del paquete antiguo: $(cat "$viejo/makensis.log")"
wine "$viejo/viejo.exe" /S
wineserver -w
[ -f "$unidad_c/Velorin/obsoleto/antiguo.dll" ] || fail "el paquete antiguo no se instaló"
printf '[Velorin]\r\nRuta=C:\\VTEMP\r\n[Transformadores]\r\nTransformado=-1\r\n' >"$unidad_c/Velorin/Velorin.ini"
# A working directory beside it and one inside the folder, as some schools keep it.
mkdir -p "$unidad_c/VTEMP-instalador/zendral" "$unidad_c/Velorin/VTEMP"
printf 'tabla' >"$unidad_c/VTEMP-instalador/PROFT.DBF"
printf 'memoria' >"$unidad_c/VTEMP-instalador/zendral/cursos.csv"
printf 'tabla' >"$unidad_c/Velorin/VTEMP/PROFT.DBF"
ajenos() {
    (cd "$unidad_c" && find Velorin VTEMP-instalador -type f ! -path 'Velorin/obsoleto/*' ! -name 'zendral*.exe' \
        ! -name 'Desinstalar Zendral.exe' ! -name '*.dll' -exec md5sum {} + | sort)
}
antes=$(ajenos)
wine "$instalador" /S
wineserver -w
comprobar_instalado "$unidad_c/Velorin" 'C:\\Velorin'
[ ! -e "$unidad_c/Velorin/obsoleto" ] || fail "queda lo que la versión nueva ya no instala"
despues=$(ajenos)
while read -r linea; do
    grep -qxF "$linea" <<<"$despues" || fail "la instalación cambió o borró: $linea"
done <<<"$antes"
version=$(wine reg query "$clave_des" /v DisplayVersion 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ { print $3 }')
[ -n "$version" ] && [ "$version" != 0.9 ] || fail "la entrada de desinstalación dice la versión '$version'"
desinstalar "$unidad_c/Velorin"
[ -f "$unidad_c/Velorin/Velorin.ini" ] || fail "el desinstalador borró Velorin.ini"

echo "instalador: instalación y desinstalación silenciosas correctas ($(stat -c %s "$instalador") bytes)"
