#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test updatebank. Safe to run again.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang clang-format-14
    libgtest-dev libgmock-dev libbenchmark-dev
    libsqlite3-dev sqlite3 libfltk1.3-dev libsodium-dev
    xvfb xdotool x11-utils imagemagick
    python3 python3-dbfread python3-dbf gdal-bin libdbd-xbase-perl
    locales
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
