#!/usr/bin/env bash
# scripts/run built with one job per core whatever the user asked; JOBS=N now sets the count, and
# a JOBS that is no count stops it before anything is built. It runs here in a scratch copy whose
# set-up, cmake, curl and programs only say that they ran.
set -euo pipefail
repo=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/bin" "$work/build/release/src/widgets"
cp "$repo/scripts/run" "$work/scripts/run"
printf '#!/bin/sh\n' > "$work/scripts/setup"
printf '#!/bin/sh\necho "cmake $*" >> "%s/calls"\n' "$work" > "$work/bin/cmake"
printf '#!/bin/sh\nexit 0\n' > "$work/bin/curl"  # a backend answers already
printf '#!/bin/sh\necho "corvane ran" >> "%s/calls"\n' "$work" > "$work/build/release/src/widgets/corvane"
chmod +x "$work/scripts/setup" "$work/bin/cmake" "$work/bin/curl" "$work/build/release/src/widgets/corvane"

fail() { echo "FAIL: $*" >&2; cat "$work/calls" >&2 2>/dev/null || true; exit 1; }

DISPLAY=:0 JOBS=3 PATH="$work/bin:$PATH" "$work/scripts/run" >/dev/null
grep -q -- "--build build/release --parallel 3 " "$work/calls" || fail "JOBS=3 did not build with 3 jobs"
grep -q "corvane ran" "$work/calls" || fail "the window was not started"

rm -f "$work/calls"
if DISPLAY=:0 JOBS=lots PATH="$work/bin:$PATH" "$work/scripts/run" >/dev/null 2>"$work/err"; then
  fail "JOBS=lots was taken"
fi
grep -q 'JOBS must be a whole number' "$work/err" || fail "JOBS=lots was not explained: $(cat "$work/err")"
[ ! -e "$work/calls" ] || fail "JOBS=lots built something"
echo "ok"
