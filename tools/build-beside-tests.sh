#!/usr/bin/env bash
# Builds what no test program runs: the 32-bit product and its package, then
# the rest of the 64-bit tree (its packages, which take the 32-bit files, and
# the benchmarks). tools/test.sh runs it niced in the background, beside the
# build of the test programs and then beside the tests, which leave a processor
# idle while they wait on Wine; the first test waits for it.
#
#   build-beside-tests.sh start STATE   starts it in the background: the 32-bit
#                                       tree at once, the rest of the 64-bit tree
#                                       once STATE.go exists (the test programs
#                                       are built: one build at a time in a tree)
#   build-beside-tests.sh go STATE      lets it build the 64-bit tree
#   build-beside-tests.sh wait STATE    shows its output, and ends as it ended;
#                                       with none running or ended, builds both
#                                       presets itself
#   build-beside-tests.sh stop STATE    ends it when it still runs
set -euo pipefail
script="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/.."
action="$1" state="${2:-}"

build() {  # what is built beside; the 64-bit tree only after GO exists
  local go="$1"
  nice -n 10 bash tools/configure.sh x86
  nice -n 10 cmake --build --preset x86 -j"$(nproc)"
  while [ -n "$go" ] && [ ! -e "$go" ]; do sleep 0.5; done
  nice -n 10 cmake --build --preset x64 -j"$(nproc)"
}

case "$action" in
  start)
    rm -f "$state.go" "$state.rc" "$state.log"
    # Its own session, so that stop ends its builds with it. The exit code is
    # written whole (renamed into place) once everything is built.
    setsid bash -c "bash '$script' run '$state' >'$state.log' 2>&1; echo \$? >'$state.rc.part'; mv '$state.rc.part' '$state.rc'" \
      </dev/null >/dev/null 2>&1 &
    echo $! >"$state.pid"
    ;;
  run) build "$state.go" ;;
  go) touch "$state.go" ;;
  wait)
    # The build runs until it writes its exit code; one that was ended before
    # it did (or none) is done here.
    pid="$(cat "$state.pid" 2>/dev/null)" || pid=""
    while [ -n "$pid" ] && [ ! -e "$state.rc" ] && kill -0 "$pid" 2>/dev/null; do sleep 1; done
    if [ ! -e "$state.rc" ]; then
      build ""
      exit
    fi
    cat "$state.log"
    exit "$(cat "$state.rc")"
    ;;
  stop)
    pid="$(cat "$state.pid" 2>/dev/null)" || exit 0
    kill -- "-$pid" 2>/dev/null || true
    rm -f "$state.pid" "$state.go" "$state.rc" "$state.log"
    ;;
  *) echo "usage: $0 start|go|wait|stop STATE" >&2; exit 2 ;;
esac
