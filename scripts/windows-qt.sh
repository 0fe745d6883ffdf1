#!/usr/bin/env bash
# Cross-builds Qt (qt6-base, the version the Linux build links) for x86_64-w64-mingw32 once per
# machine, into a cache outside the repository, and prints the installed prefix on its last line.
# A complete cache for this version and these options is reused at once.
#
#   scripts/windows-qt.sh            builds or reuses the cache; prints the prefix
#   scripts/windows-qt.sh --comprobar prints the prefix when the cache is complete, else exits 1
#   ZENDRAL_CACHE=/dir ...           cache root (default /var/cache/zendral)
#
# Only Core, Gui, Widgets, the Windows platform plugin (qwindows) and the Windows style
# (qwindowsvistastyle) are built, as shared libraries with the GCC runtime in DLLs; the host
# tools (moc, rcc, uic) are Debian's own in /usr, same version. The desktop build links it with
# CMAKE_PREFIX_PATH=<prefix> and ships the DLLs listed by the prefix's zendral-dlls.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

qt_version=6.4.2
cache=${ZENDRAL_CACHE:-/var/cache/zendral}
patches=("$here/qt-$qt_version-sin-direct2d.patch")

# The recipe: every option that changes what is built. Its hash names the cache, so a change
# here (or in the patches: bump the revision) builds a new one beside the old.
recipe_revision=1
options=(
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF
    -DFEATURE_androiddeployqt=OFF
    -DINPUT_opengl=no
    -DFEATURE_direct2d=OFF
    -DFEATURE_vulkan=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_testlib=ON
    -DFEATURE_tabletevent=OFF
    -DFEATURE_freetype=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_gif=OFF
    -DFEATURE_zstd=OFF
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_doubleconversion=OFF
)
key=$(printf '%s\n' "$qt_version" "$recipe_revision" x86_64-w64-mingw32-g++-posix "${options[@]}" |
    sha256sum | cut -c1-10)
name=qt-$qt_version-mingw-$key
prefix=$cache/$name
stamp=$prefix/zendral-completo
work=$cache/$name-work
log=$cache/$name.log
toolchain=$prefix/lib/cmake/zendral-mingw-w64-x86_64.cmake

if [ -f "$stamp" ]; then
    echo "$prefix"
    exit 0
fi
# --comprobar: only tell whether the cache is there (exit 1 when it is not), build nothing.
if [ "${1:-}" = "--comprobar" ]; then
    exit 1
fi

# --- Packages -------------------------------------------------------------------------------
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools dpkg-dev
    cmake ninja-build perl
    qt6-base-dev qt6-base-dev-tools
)
"$(dirname "$0")/setup.sh" "${packages[@]}"
"$(dirname "$0")/fuentes-apt.sh"
host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
case "$host_version" in
"$qt_version"+* | "$qt_version"-*) ;;
*)
    echo "Las herramientas de Qt del sistema son $host_version, no $qt_version" >&2
    exit 1
    ;;
esac
if [ ! -w "$cache" ] && ! mkdir -p "$cache" 2>/dev/null; then
    "${as_root[@]}" mkdir -p "$cache"
    "${as_root[@]}" chown "$(id -u):$(id -g)" "$cache"
fi
mkdir -p "$work"

# --- Source: Debian's qt6-base, with our corrections ----------------------------------------
src=$work/src
if [ ! -f "$work/fuente-lista" ]; then
    rm -rf "$src"
    (
        cd "$work"
        if ! ls qt6-base_"$qt_version"*.dsc >/dev/null 2>&1; then
            apt-get source --download-only qt6-base >>"$log" 2>&1 || {
                echo "apt-get source qt6-base ha fallado (¿faltan las líneas deb-src? scripts/fuentes-apt.sh las añade)" >&2
                exit 1
            }
        fi
        dsc=$(ls qt6-base_"$qt_version"*.dsc | head -n1)
        dpkg-source -x "$dsc" src >>"$log" 2>&1
    )
    for p in "${patches[@]}"; do
        patch -d "$src" -p1 --forward <"$p" >>"$log"
    done
    touch "$work/fuente-lista"
fi

# --- Configure, build (one job, lowest priority: the machine is shared), install ------------
rm -rf "$prefix"
# --- Toolchain: mingw-w64 with the posix thread model, kept in the prefix because Qt's own
# lib/cmake/Qt6/qt.toolchain.cmake loads it for programs built against this Qt.
mkdir -p "$prefix/lib/cmake"
cat >"$toolchain" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

echo "Compilando Qt $qt_version para mingw en $prefix (registro: $log)"
start=$SECONDS
build=$work/build
if ! {
    cmake -S "$src" -B "$build" "${options[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" &&
        nice -n 19 cmake --build "$build" --parallel "${ZENDRAL_QT_JOBS:-2}" &&
        cmake --install "$build"
} >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "La compilación de Qt ha fallado; el registro completo está en $log" >&2
    exit 1
fi

# The GCC runtime DLLs the Qt DLLs depend on, copied beside them so that the prefix is complete.
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
for dll in libstdc++-6.dll libgcc_s_seh-1.dll; do
    cp "$gcc_dir/$dll" "$prefix/bin/"
done
cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$prefix/bin/"
# What must ship beside the executable, relative to the prefix.
cat >"$prefix/zendral-dlls.txt" <<'EOF'
bin/Qt6Core.dll
bin/Qt6Gui.dll
bin/Qt6Widgets.dll
bin/libstdc++-6.dll
bin/libgcc_s_seh-1.dll
bin/libwinpthread-1.dll
plugins/platforms/qwindows.dll
plugins/styles/qwindowsvistastyle.dll
EOF
while read -r f; do
    [ -f "$prefix/$f" ] || {
        echo "Falta $f en $prefix" >&2
        exit 1
    }
done <"$prefix/zendral-dlls.txt"

printf '%s\n' "$qt_version" "${options[@]}" >"$stamp.tmp"
mv "$stamp.tmp" "$stamp"
rm -rf "$work"
echo "Qt $qt_version para mingw, compilado en $((SECONDS - start)) s"
echo "$prefix"
