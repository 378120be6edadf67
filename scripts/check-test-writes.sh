#!/bin/sh
# Runs the whole test suite with HOME pointing at an empty folder and lists /tmp before and after:
# a test that writes into the home folder, or leaves anything in /tmp once it is done, shows up
# here and the script fails.
#
#   scripts/check-test-writes.sh [BUILD_DIR [CTEST_OPTIONS...]]
#
# BUILD_DIR defaults to build (build it first with make build); options after it go to ctest
# (for example -R Dates to check a few tests only).
#
# Run as root with unshare(1) at hand, the suite gets a /tmp of its own (an empty tmpfs in a
# private mount namespace), so that other programs writing to /tmp meanwhile cannot blur the
# listing. Otherwise the real /tmp is listed, and entries that others made during the run show up
# too: read them before blaming a test.
set -eu

build=${1:-build}
[ $# -gt 0 ] && shift
[ -d "$build" ] || { echo "check-test-writes: no build folder '$build'" >&2; exit 2; }
build=$(cd "$build" && pwd)
jobs=${JOBS:-2}

# A checkout under /tmp (as CI makes) stays visible: its top folder is bound into the new /tmp
# and left out of the listing.
keep=
case "$build" in /tmp/?*) keep=/tmp/$(echo "${build#/tmp/}" | cut -d/ -f1) ;; esac

if [ "${CHECK_TEST_WRITES_INSIDE:-}" = "" ] && [ "$(id -u)" = 0 ] && command -v unshare >/dev/null; then
    export CHECK_TEST_WRITES_INSIDE=1 CHECK_TEST_WRITES_KEEP="$keep"
    # The working folder keeps the old /tmp reachable (through /proc/self/cwd) once it is covered.
    exec unshare --mount --propagation private sh -c '
        set -e
        here=$(pwd)
        cd /tmp
        mount -t tmpfs -o mode=1777 tmpfs /tmp
        if [ -n "$CHECK_TEST_WRITES_KEEP" ]; then
            mkdir "$CHECK_TEST_WRITES_KEEP"
            mount --no-canonicalize --bind "/proc/self/cwd/${CHECK_TEST_WRITES_KEEP#/tmp/}" \
                "$CHECK_TEST_WRITES_KEEP"
        fi
        cd "$here"
        exec "$0" "$@"' "$0" "$build" "$@"
fi

list_tmp() { find /tmp -mindepth 1 -maxdepth 1 ! -name .X11-unix ! -path "${keep:-/nonexistent}" | sort; }

home=$(mktemp -d /tmp/check-test-writes-home-XXXXXX)
before=$(mktemp /tmp/check-test-writes-before-XXXXXX)
after=$(mktemp /tmp/check-test-writes-after-XXXXXX)
log=$(mktemp /tmp/check-test-writes-log-XXXXXX)
list_tmp >"$before"

status=0
HOME=$home ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" >"$log" 2>&1 || status=$?
list_tmp >"$after"

fail=0
if [ "$status" != 0 ]; then
    cat "$log"
    echo "check-test-writes: the suite failed (ctest exit $status)"
    fail=1
fi
written=$(cd "$home" && find . -mindepth 1 | sort)
if [ -n "$written" ]; then
    echo "check-test-writes: written into the home folder:"
    echo "$written" | sed 's/^\./  ~/'
    fail=1
fi
left=$(comm -13 "$before" "$after" | grep -v -e "^$home\$" -e "^$before\$" -e "^$after\$" -e "^$log\$" || true)
if [ -n "$left" ]; then
    echo "check-test-writes: left in /tmp after the run:"
    echo "$left" | sed 's/^/  /'
    fail=1
fi
grep -E '^(100%|[0-9]+% tests passed)' "$log" || true
rm -rf "$home" "$before" "$after" "$log"
[ "$fail" = 0 ] && echo "check-test-writes: nothing written outside the tests' own folders"
exit "$fail"
