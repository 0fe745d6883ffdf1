#!/usr/bin/env bash
# Installs every Debian package the project needs, or, given package names, just those (the
# Windows scripts pass theirs). Safe to run again: when all packages are present it only checks
# and returns.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libxml2-dev libxml2-utils
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    python3 python3-dbfread libdbd-xbase-perl
    xvfb xauth x11-utils xdotool imagemagick fonts-liberation
    libchm-dev fp-utils
    qt6-translations-l10n
    # The program's icon is drawn from recursos/zendral.svg.
    librsvg2-bin
    clang-format
)

if [ $# -gt 0 ]; then
    packages=("$@")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Instalando paquetes: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
