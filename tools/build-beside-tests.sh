#!/usr/bin/env bash
# Builds, while the tests run (they wait on Wine much of the time), what the
# first tests do not run:
#   build-beside-tests.sh TARGET   that target of the 64-bit tree (the test
#                                  program, whose cases wait for it)
#   build-beside-tests.sh          the rest: the 32-bit product and its
#                                  package, then the rest of the 64-bit tree
#                                  (its packages, which take the 32-bit files,
#                                  and the benchmarks)
#   build-beside-tests.sh --background
#                                  the rest, in the background at the lowest
#                                  priority, so that it takes only the time
#                                  the tests leave (tools/test.sh starts it
#                                  before ctest)
#   build-beside-tests.sh --wait [COMMAND…]
#                                  waits for the rest (building it here when
#                                  nothing builds it in the background), fails
#                                  with its output when it failed, then runs
#                                  COMMAND; without one, shows its output
#   build-beside-tests.sh --stop   ends a background build still running
# Builds of the 64-bit tree take turns: two at once in one tree would write the
# same files. Run alone, the second form is the same as building both presets.
set -euo pipefail
cd "$(dirname "$0")/.."
lock=build/x64/.building
# The background build: its output, exit code and process group; it holds the
# lock from its start to its end.
state=build/x64/beside
rest() {
  bash tools/configure.sh x86
  nice -n 10 cmake --build --preset x86 -j"$(nproc)"
  nice -n 10 flock "$lock" cmake --build --preset x64 -j"$(nproc)"
}
case "${1:-}" in
  "")
    rest
    ;;
  --background)
    mkdir -p build/x64
    rm -f "$state.rc" "$state.log"
    exec 8>"$state.lock"
    flock 8
    # The lock is taken before this returns, and held by the build (which
    # inherits it) until it ends. A session of its own, so that --stop ends
    # all of it; where Linux shares the processors between sessions first
    # (autogroups), a task's own priority counts only within its session, so
    # the session's is lowered too.
    setsid bash -c 'echo 19 2>/dev/null >/proc/self/autogroup; nice -n 19 bash "$1" >"$2.log" 2>&1; echo $? >"$2.rc"' \
      build "$0" "$state" </dev/null &
    echo $! >"$state.pid"
    ;;
  --wait)
    shift
    exec 8>"$state.lock"
    flock 8
    if [ ! -f "$state.rc" ]; then
      rest  # nothing built it in the background (ctest run on its own): this test does
    elif [ "$(cat "$state.rc")" != 0 ]; then
      cat "$state.log"
      echo "build-beside-tests.sh: the build beside the tests failed (exit code $(cat "$state.rc"))" >&2
      exit 1
    elif [ $# -eq 0 ]; then
      cat "$state.log"
    fi
    exec 8>&-
    [ $# -eq 0 ] || exec "$@"
    ;;
  --stop)
    pid="$(cat "$state.pid" 2>/dev/null)" || exit 0
    if [ ! -f "$state.rc" ] && kill -0 "$pid" 2>/dev/null; then
      kill -- -"$pid" 2>/dev/null || true
    fi
    rm -f "$state.pid" "$state.rc"
    ;;
  *)
    exec flock "$lock" cmake --build --preset x64 -j"$(nproc)" --target "$1"
    ;;
esac
