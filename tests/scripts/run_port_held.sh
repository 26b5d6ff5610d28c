#!/usr/bin/env bash
# scripts/run waited for ever, saying nothing, when the program on the backend's port took
# connections and never answered. Its health check now gives up, and the run names that program
# in full and stops before anything starts. Scratch copy as in run_jobs.sh: curl times out as it
# would against such a program, and ss names a real process with a long name.
set -euo pipefail
repo=$1
work=$(mktemp -d)
holder_pid=""
trap '[ -z "$holder_pid" ] || kill "$holder_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/bin" "$work/build/release/src/widgets" "$work/build/release/src/backend"
cp "$repo/scripts/run" "$work/scripts/run"
printf '#!/bin/sh\n' > "$work/scripts/setup"
printf '#!/bin/sh\nexit 0\n' > "$work/bin/cmake"
# Times out only when told to give up: without a time-out it would never return.
printf '#!/bin/sh\necho "curl $*" >> "%s/calls"\ncase "$*" in *--max-time*) exit 28;; esac\nsleep 600\n' "$work" > "$work/bin/curl"
printf '#!/bin/sh\necho "corvane ran" >> "%s/calls"\n' "$work" > "$work/build/release/src/widgets/corvane"
printf '#!/bin/sh\necho "backend ran" >> "%s/calls"\n' "$work" > "$work/build/release/src/backend/corvane-backend"
ln -s "$(command -v sleep)" "$work/bin/unanswering-port-holder"
"$work/bin/unanswering-port-holder" 600 &
holder_pid=$!
printf '#!/bin/sh\necho "LISTEN 0 1 127.0.0.1:51235 0.0.0.0:* users:((\\"unanswering-po\\",pid=%s,fd=3))"\n' \
  "$holder_pid" > "$work/bin/ss"
chmod +x "$work/scripts/setup" "$work/bin/"* "$work/build/release/src/widgets/corvane" \
  "$work/build/release/src/backend/corvane-backend"

fail() { echo "FAIL: $*" >&2; cat "$work/calls" >&2 2>/dev/null || true; exit 1; }

if DISPLAY=:0 CORVANE_BACKEND_PORT=51235 PATH="$work/bin:$PATH" timeout 60 "$work/scripts/run" >/dev/null 2>"$work/err"; then
  fail "the run went on past a port whose program never answers"
fi
grep -q "127.0.0.1:51235 is held by unanswering-port-holder, process $holder_pid" "$work/err" ||
  fail "the holder was not named in full: $(cat "$work/err")"
! grep -q "ran" "$work/calls" || fail "something was started"
echo "ok"
