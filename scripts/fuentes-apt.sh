#!/usr/bin/env bash
# Adds deb-src lines for the mirrors apt already uses, so that `apt-get source` can fetch the
# Debian sources the Windows builds start from (libxml2, qt6-base). Does nothing when apt
# already has source lines; safe to run again.
set -euo pipefail

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

has_src() {
    grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
        /etc/apt/sources.list.d/*.sources
}
if ! has_src; then
    echo "Añadiendo las fuentes (deb-src) de los servidores que apt ya usa"
    tmp=$(mktemp)
    # One-line format: every active "deb" line again as "deb-src".
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$tmp"
    done
    if [ -s "$tmp" ]; then
        "${as_root[@]}" cp "$tmp" /etc/apt/sources.list.d/zendral-src.list
    fi
    # deb822 format: every stanza of type deb again with type deb-src.
    : >"$tmp"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" } /(^|\n)Types:[^\n]*deb/ && !/(^|\n)Enabled: *no/ {
                 sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" >>"$tmp"
    done
    if [ -s "$tmp" ]; then
        "${as_root[@]}" cp "$tmp" /etc/apt/sources.list.d/zendral-src.sources
    fi
    rm -f "$tmp"
    "${as_root[@]}" apt-get update -qq
fi
