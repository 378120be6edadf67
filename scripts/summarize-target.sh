#!/usr/bin/env bash
# Prints a short summary of an EMPLOYEE table: its record count and fields, how many records hold
# a photo, and the first records' EMP_NO, EMP_NAME and AGE. Needs build/tools/kdstool and
# /usr/bin/python3.
set -euo pipefail
cd "$(dirname "$0")/.."
table="$1"
build/tools/kdstool export "$table" | /usr/bin/python3 -c '
import json, sys
table = sys.argv[1]
records = [json.loads(line) for line in sys.stdin]
photos = sum(1 for r in records if r.get("PHOTO_ID"))
print("%s: %d records, %d with a photo" % (table, len(records), photos))
for r in records[:5]:
    print("  %-6s %-24s AGE %s" % (r.get("EMP_NO"), r.get("EMP_NAME"), "" if r.get("AGE") is None else r["AGE"]))
if len(records) > 5:
    print("  ...")
' "$table"
