#!/usr/bin/env bash
# Makes the bundled sample data in FOLDER (default build/run), or keeps it when it was made from
# the same inputs:
#   FOLDER/source/EMPLOYEE.kdt  300 employees in the employee master layout (samples/employee.layout),
#                               every third with a photo, a few with values the target cannot take;
#   FOLDER/target/EMPLOYEE.kdt  the target layout (samples/target.layout: fields missing, extra, of
#                               other types and sizes), unique index BYEMPNO on EMP_NO, holding the
#                               stale records of samples/target.jsonl.
# The target is made afresh on every call; the source only when its inputs changed.
# Needs build/tools/kdstool (make build) and /usr/bin/python3.
set -euo pipefail
cd "$(dirname "$0")/.."
work="${1:-build/run}"
kdstool=build/tools/kdstool
count="${SAMPLE_COUNT:-300}"

stamp="$(cat samples/make_employees.py samples/employee.layout | sha256sum | cut -c1-16)-$count"
if [ "$(cat "$work/source/.made-from" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$work/source"
    mkdir -p "$work/source"
    mapfile -t fields < samples/employee.layout
    "$kdstool" create "$work/source/EMPLOYEE.kdt" "${fields[@]}" --index BYEMPNO=EMP_NO:unique
    /usr/bin/python3 samples/make_employees.py samples/employee.layout --count "$count" --bad |
        "$kdstool" import "$work/source/EMPLOYEE.kdt" -
    echo "$stamp" >"$work/source/.made-from"
fi

rm -rf "$work/target"
mkdir -p "$work/target"
mapfile -t fields < samples/target.layout
"$kdstool" create "$work/target/EMPLOYEE.kdt" "${fields[@]}" --index BYEMPNO=EMP_NO:unique
"$kdstool" import "$work/target/EMPLOYEE.kdt" samples/target.jsonl
