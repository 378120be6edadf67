#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs updatebank. With a display it opens the
# main window; without one it runs the CONVERT command headless on the bundled sample data
# (made fresh under build/run/ from samples/), or on SOURCE TARGET when given.
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
# The bundled sample: samples/employee.layout (one kdstool FIELD a line) and the records of
# samples/source.jsonl and samples/target.jsonl, made into fresh tables on every run.
work=build/run
rm -rf "$work"
mkdir -p "$work/source" "$work/target"
mapfile -t fields < samples/employee.layout
for side in source target; do
    build/tools/kdstool create "$work/$side/EMPLOYEE.kdt" "${fields[@]}"
    build/tools/kdstool import "$work/$side/EMPLOYEE.kdt" "samples/$side.jsonl"
done
exec "$bin" convert "$work/source" "$work/target"
