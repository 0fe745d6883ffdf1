#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build-windows/ and runs their tests under
# Wine. Installs what is missing and builds libxml2 and GoogleTest for mingw once, into a cache
# outside the repository ($ZENDRAL_CACHE, /var/cache/zendral by default).
#
#   scripts/windows.sh --solo-cli   zendral-cli.exe, velorin-sim.exe and their tests (no Qt)
#   scripts/windows.sh              the same and, once Qt for mingw is cached, the desktop program
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS

solo_cli=0
for a in "$@"; do
    case "$a" in
    --solo-cli) solo_cli=1 ;;
    *)
        echo "Uso: scripts/windows.sh [--solo-cli]" >&2
        exit 2
        ;;
    esac
done

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

# --- Packages -------------------------------------------------------------------------------
packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64
    dpkg-dev autoconf automake libtool
    nsis
    # The icon (recursos/): drawn from its SVG and made into an .ico; its resources read back.
    librsvg2-bin icoutils python3-pefile
    # The Windows tests check their files with these Linux readers, and the byte comparison
    # builds the Linux programs.
    python3 python3-dbfread libdbd-xbase-perl libxml2-utils
    build-essential cmake ninja-build libxml2-dev
)
"$root/scripts/setup.sh" "${packages[@]}"

# --- Source packages: libxml2 and Qt are built from Debian's own sources ------------------
"$root/scripts/fuentes-apt.sh"

# --- libxml2 and GoogleTest for mingw, built once ------------------------------------------
cache=${ZENDRAL_CACHE:-/var/cache/zendral}
"${as_root[@]}" mkdir -p "$cache"
if [ ${#as_root[@]} -gt 0 ]; then
    "${as_root[@]}" chown "$(id -u):$(id -g)" "$cache"
fi
host=x86_64-w64-mingw32

# The version the Linux build links, so both read documents alike.
xml_version=$(dpkg-query -W -f='${Version}' libxml2-dev | sed 's/+.*//; s/-.*//')
xml_prefix=$cache/libxml2-$xml_version-mingw-static
if [ ! -f "$xml_prefix/.hecho" ]; then
    echo "== libxml2 $xml_version para mingw (una sola vez, en $xml_prefix)"
    t0=$SECONDS
    work=$(mktemp -d)
    (
        cd "$work"
        apt-get source -qq --only-source "libxml2=$(dpkg-query -W -f='${Version}' libxml2-dev)" >/dev/null 2>&1 ||
            apt-get source -qq --only-source libxml2 >/dev/null
        cd libxml2-*/
        # Debian's patches touch the autotools inputs, so the build files are made anew.
        autoreconf -fi >/dev/null 2>&1
        # No iconv: windows-1252 comes from our own handler (access/XmlDocument.cpp).
        ./configure -q --host=$host --prefix="$xml_prefix" --enable-static --disable-shared \
            --without-iconv --without-icu --without-zlib --without-lzma --without-http --without-ftp \
            --without-python --without-readline --without-history --without-modules >/dev/null
        make -s -j2 >/dev/null 2>&1
        rm -rf "$xml_prefix"
        make -s install >/dev/null
    )
    rm -rf "$work"
    touch "$xml_prefix/.hecho"
    echo "   libxml2 compilada en $((SECONDS - t0)) s"
fi

gtest_version=$(dpkg-query -W -f='${Version}' libgtest-dev | sed 's/-.*//')
gtest_prefix=$cache/googletest-$gtest_version-mingw-static
if [ ! -f "$gtest_prefix/.hecho" ]; then
    echo "== GoogleTest $gtest_version para mingw (una sola vez, en $gtest_prefix)"
    t0=$SECONDS
    work=$(mktemp -d)
    cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DZENDRAL_MINGW_PREFIXES= -DBUILD_SHARED_LIBS=OFF \
        -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$work" -j2 >/dev/null
    rm -rf "$gtest_prefix"
    cmake --install "$work" >/dev/null
    rm -rf "$work"
    touch "$gtest_prefix/.hecho"
    echo "   GoogleTest compilado en $((SECONDS - t0)) s"
fi

# --- Wine --------------------------------------------------------------------------------
build=$root/build-windows
mkdir -p "$build"
# A Wine of our own inside the build tree, never the user's; the build already runs the test
# programs under it to list their tests.
export WINEPREFIX=$build/wine
export WINEDEBUG=-all
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/.hecho" ]; then
    echo "== Preparando Wine en $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.hecho"
fi
# One Wine server, already booted, for everything up to the end of the comparison. Left alone, the
# server ends a few seconds after its last program and the next program to start boots a new one;
# a program started while the server is ending or booting can fail before it runs a line (seen in
# CI as a test that failed in 0.01 s with no output, or "recvmsg: Connection reset by peer" in the
# comparison). Ended below, also when a step fails. A server still running (one that winepath
# or wineboot just used) is waited out first: a persistent one cannot start beside it.
servidor_wine() {
    wineserver -w
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true' EXIT
    wine cmd.exe /c exit 0 >/dev/null 2>&1 || true
}
servidor_wine


# --- The Windows programs and their tests ----------------------------------------------------
echo "== Compilación para Windows (build-windows/)"
t0=$SECONDS
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENDRAL_WERROR=ON -DZENDRAL_BUILD_GUI=OFF \
    -DZENDRAL_MINGW_PREFIXES="$xml_prefix;$gtest_prefix" >/dev/null
cmake --build "$build" -j2
echo "   compilado en $((SECONDS - t0)) s"

echo "== Pruebas bajo Wine"
t0=$SECONDS
# A test that fails is run once more and both runs are shown: Wine itself sometimes fails to start
# a program. The same tests run on Linux without a second chance.
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 --repeat until-pass:2
echo "   pruebas en $((SECONDS - t0)) s"

# --- The same tables, index and SolucioHorari.xml as the Linux programs, byte for byte ------
# The Linux programs come from $ZENDRAL_BUILD_LINUX, else from build/ when it is configured,
# else from a build of the command-line programs of our own in build-windows/linux.
linux_build=${ZENDRAL_BUILD_LINUX:-}
if [ -z "$linux_build" ]; then
    linux_build=$root/build
    if [ ! -f "$linux_build/CMakeCache.txt" ]; then
        linux_build=$build/linux
        cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENDRAL_WERROR=ON \
            -DZENDRAL_BUILD_GUI=OFF -DZENDRAL_BUILD_TESTS=OFF >/dev/null
    fi
fi
t0=$SECONDS
cmake --build "$linux_build" -j2 --target zendral-cli velorin-sim >/dev/null
"$root/scripts/windows-comparar.sh" "$linux_build" "$build"
echo "   comparación (con la compilación de Linux) en $((SECONDS - t0)) s"
wineserver -k 2>/dev/null || true
trap - EXIT

if [ $solo_cli -eq 1 ]; then
    echo "== Windows (solo línea de órdenes): todo correcto en $((SECONDS - start)) s"
    exit 0
fi

# --- The desktop program, its tests under Wine, the installer and the zip -------------------
# Qt for mingw is built once per machine (about half an hour) and reused from the cache.
qt_prefix=$("$root/scripts/windows-qt.sh" | tail -n 1)
version=$(sed -n 's/^project(Zendral VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
build_qt=$root/build-windows-qt
paquete=$build_qt/paquete
mkdir -p "$build_qt"
export WINEPREFIX=$build_qt/wine
# The test programs of this build take the GCC runtime and Qt from Qt's DLLs, also while the
# build lists their tests.
export WINEPATH="$(winepath -w "$qt_prefix/bin" 2>/dev/null)"
if [ ! -f "$WINEPREFIX/.hecho" ]; then
    echo "== Preparando Wine en $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.hecho"
fi
export WINEPATH="$(winepath -w "$qt_prefix/bin")"
# The build lists the tests of each test program by running it under Wine, two at a time: one
# server, booted before and kept until the tests below, as for the command-line programs (a
# listing started while a server was ending failed in CI with code 53 and no output).
servidor_wine

echo "== Compilación del programa de escritorio para Windows (build-windows-qt/)"
t0=$SECONDS
cmake -S . -B "$build_qt" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENDRAL_WERROR=ON -DZENDRAL_BUILD_GUI=ON -DZENDRAL_MINGW_RUNTIME_DLL=ON \
    -DZENDRAL_MINGW_PREFIXES="$xml_prefix;$gtest_prefix;$qt_prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DZENDRAL_PAQUETE="$paquete/Zendral-$version" \
    -DZENDRAL_INSTALADOR="$paquete/Zendral-$version-instalador.exe" >/dev/null
cmake --build "$build_qt" -j2
echo "   compilado en $((SECONDS - t0)) s"

echo "== Paquete: instalador y zip"
# zendral-cli.exe from the command-line build: it needs no DLL beside it.
"$root/instalador/paquete.sh" "$version" "$paquete" "$build_qt/zendral.exe" "$build/cli/zendral-cli.exe" \
    "$build_qt/GestIB.chm" "$qt_prefix" "$build_qt/recursos/icono/zendral.ico"

echo "== Pruebas del programa de escritorio bajo Wine"
t0=$SECONDS
# The widget tests run on Qt's Windows platform, on a virtual X server of their own. A Wine server
# still running from the build (which lists the tests with no display) would draw their windows
# nowhere: it is ended first.
wineserver -k 2>/dev/null || true
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    ctest --test-dir "$build_qt" --output-on-failure --timeout 300 --repeat until-pass:2 \
    -R '^(gui_|help_|e2e_wine|instalador_wine|recursos_)'
echo "   pruebas en $((SECONDS - t0)) s"
wineserver -k 2>/dev/null || true
trap - EXIT

echo "== Windows: todo correcto en $((SECONDS - start)) s"
