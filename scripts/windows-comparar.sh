#!/usr/bin/env bash
# Byte comparison of the Linux and the Windows programs: the cases of scripts/comparar-salidas.sh
# (centre import, Velorin's stand-in and timetable export) run once with the Linux build and once
# with the Windows build under Wine, and every table, MATIB.MDX and SolucioHorari.xml is compared
# byte for byte.
#
#   scripts/windows-comparar.sh BUILD_LINUX BUILD_WINDOWS
#
# Wine runs with the private WINEPREFIX of BUILD_WINDOWS (BUILD_WINDOWS/wine); the runs use
# BUILD_WINDOWS/comparacion. Prints the files and bytes compared per case and exits 1 on any
# difference.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "Uso: scripts/windows-comparar.sh BUILD_LINUX BUILD_WINDOWS" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
for program in "$linux/cli/zendral-cli" "$linux/host/velorin-sim" "$windows/cli/zendral-cli.exe" \
    "$windows/host/velorin-sim.exe"; do
    [ -x "$program" ] || [ -f "$program" ] || {
        echo "Falta $program" >&2
        exit 2
    }
done
exec "$root/scripts/comparar-salidas.sh" --trabajo "$windows/comparacion" --nombres Linux "Windows bajo Wine" \
    "$linux" "$windows"
