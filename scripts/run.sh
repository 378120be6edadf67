#!/usr/bin/env bash
# The main job: installs what is missing, builds, makes (or reuses) the bundled sample data under
# build/run/, and runs updatebank on it. With a display it opens the main window with the sample's
# source and target folders in the two folder boxes; without one it runs the CONVERT command
# headless and prints a summary of the target. `run.sh SOURCE TARGET` converts those folders
# headless instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
make build >/dev/null
bin=build/app/updatebank
if [ $# -ge 2 ]; then
    exec "$bin" convert "$1" "$2"
fi

work=build/run
./scripts/make-samples.sh "$work"
if [ -n "${DISPLAY:-}" ]; then
    exec "$bin" --open "$work/source" "$work/target"
fi

echo "converting $work/source/EMPLOYEE.kdt into $work/target/EMPLOYEE.kdt"
status=0
"$bin" convert "$work/source" "$work/target" || status=$?
echo "exit status $status"
./scripts/summarize-target.sh "$work/target/EMPLOYEE.kdt"
exit "$status"
