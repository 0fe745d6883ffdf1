#!/usr/bin/env bash
# Makes the Windows package: the folder that a Windows user installs, its installer
# (Zendral-<version>-instalador.exe, NSIS) and a zip of the same files.
#
#   instalador/paquete.sh VERSION SALIDA zendral.exe zendral-cli.exe GestIB.chm QT_PREFIX zendral.ico
#
# QT_PREFIX is Qt for mingw as scripts/windows-qt.sh leaves it; its zendral-dlls.txt lists the
# DLLs and plugins the desktop program needs beside it (plugins keep their subfolder, where Qt
# looks for them next to the executable). Qt's Spanish translation goes into translations/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 7 ] || {
    echo "Uso: instalador/paquete.sh VERSION SALIDA zendral.exe zendral-cli.exe GestIB.chm QT_PREFIX zendral.ico" >&2
    exit 2
}
version=$1 salida=$(realpath -m "$2") zendral=$3 cli=$4 chm=$5 qt=$6 icono=$(realpath "$7")
# Windows writes a version as four numbers.
version4=$(echo "$version.0.0.0" | cut -d. -f1-4)

rm -rf "$salida"
carpeta=$salida/Zendral-$version
mkdir -p "$carpeta"
cp "$zendral" "$cli" "$chm" "$carpeta/"
# Our programs without their debugging information: a user has no use for it.
for exe in "$carpeta"/*.exe; do
    x86_64-w64-mingw32-strip --strip-debug "$exe"
done
while read -r f; do
    [ -n "$f" ] || continue
    case "$f" in
    plugins/*) destino=$carpeta/${f#plugins/} ;;
    *) destino=$carpeta/$(basename "$f") ;;
    esac
    mkdir -p "$(dirname "$destino")"
    cp "$qt/$f" "$destino"
done <"$qt/zendral-dlls.txt"
traduccion=/usr/share/qt6/translations/qtbase_es.qm
[ -f "$traduccion" ] || {
    echo "Falta $traduccion (paquete qt6-translations-l10n)" >&2
    exit 1
}
mkdir -p "$carpeta/translations"
cp "$traduccion" "$carpeta/translations/"

# One line per file for the installer, and the same files (then their folders, deepest first)
# for the uninstaller.
archivos=$salida/archivos.nsh
{
    echo '!macro ZendralInstalar'
    (cd "$carpeta" && find . -type d ! -name . | sort) | while read -r d; do
        d=${d#./}
        echo "  CreateDirectory \"\$INSTDIR\\${d//\//\\}\""
    done
    (cd "$carpeta" && find . -type f | sort) | while read -r f; do
        f=${f#./}
        echo "  File \"/oname=${f//\//\\}\" \"$carpeta/$f\""
    done
    echo '!macroend'
    echo '!macro ZendralBorrar'
    (cd "$carpeta" && find . -type f | sort) | while read -r f; do
        f=${f#./}
        echo "  Delete \"\$INSTDIR\\${f//\//\\}\""
    done
    (cd "$carpeta" && find . -type d ! -name . | sort -r) | while read -r d; do
        d=${d#./}
        echo "  RMDir \"\$INSTDIR\\${d//\//\\}\""
    done
    echo '!macroend'
} >"$archivos"

instalador=$salida/Zendral-$version-instalador.exe
# What the uninstall entry says the files take (the uninstaller, about 100 KB, included).
tamano_kb=$(($(du -sk --apparent-size "$carpeta" | cut -f1) + 100))
makensis -V2 -DVERSION="$version" -DVERSION4="$version4" -DORIGEN="$carpeta" -DARCHIVOS="$archivos" \
    -DSALIDA="$instalador" -DICONO="$icono" -DTAMANO_KB="$tamano_kb" "$here/Zendral.nsi" >"$salida/makensis.log" || {
    cat "$salida/makensis.log" >&2
    exit 1
}
zip=$salida/Zendral-$version.zip
(cd "$salida" && cmake -E tar cf "$(basename "$zip")" --format=zip "Zendral-$version")
echo "$instalador ($(stat -c %s "$instalador") bytes)"
echo "$zip ($(stat -c %s "$zip") bytes)"
