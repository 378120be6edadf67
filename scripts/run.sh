#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs updatebank. With a display it opens the
# main window; without one it runs the CONVERT command headless on the bundled sample data
# (samples/source -> a fresh copy of samples/target under build/run/), or on SOURCE TARGET given.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
make build >/dev/null
bin=build/app/updatebank
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}" ]; then
    exec "$bin"
fi
if [ $# -ge 2 ]; then
    exec "$bin" convert "$1" "$2"
fi
work=build/run
rm -rf "$work"
mkdir -p "$work"
cp -r samples/source "$work/source"
cp -r samples/target "$work/target"
exec "$bin" convert "$work/source" "$work/target"
