# Sourced by the test and demo commands: Wine prefixes, X displays and warm
# wineservers for one run, and their shutdown.
#   wine_env_start PREFIX   a booted template beside PREFIX (made once, then
#                           copied), PREFIX itself as a copy of it when missing,
#                           an Xvfb display and a warm wineserver for PREFIX;
#                           the test programs' own prefixes of the last run go
#   wine_env_stop           stops what wine_env_start started, and every test
#                           program's wineserver and display of this run; their
#                           prefixes go in the background (each is a full copy,
#                           about 700 MB)
#   wine_program_start PREFIX
#                           one test program's prefix (used by tools/wine-run.sh):
#                           a fresh copy of the template, its own Xvfb display,
#                           its own warm wineserver and a program that holds its
#                           desktop (wine_hold); nothing when it runs
#   wine_program_stop PREFIX
#                           ends that prefix's wineserver and display
#
# Each concern of the test program (and each part of the fault suite) runs in
# a prefix of its own under <build>/prefixes/, so those that run side by side
# never see each other's Words, registry or files. The template
# (<build>/wine-template) is booted once and never run in.

export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or HTML engine, no debugger on a crash. (Disabling the desktop menu builder too makes every test program
# start about a second later.)
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
# Every Wine process finds the Windows time zone of the host's by reading the registry's zones in their order until
# one matches: UTC's comes after fifty others, about a tenth of what a process costs to start. Afghanistan's (UTC+4:30,
# no daylight saving) is the first. Nothing the product writes or the tests read depends on the zone: the error log's
# times are UTC. A POSIX rule, so that no zone database is needed.
export TZ="<+0430>-4:30"

# A booted prefix with one virtual desktop: shown windows then close without a
# delay per window. Made under a lock, once; a half-made one is made again.
wine_template() {
  local template="$1"
  mkdir -p "$(dirname "$template")"
  (
    flock 9
    [ -f "$template/.booted" ] && exit 0
    echo "Creating the Wine template prefix $template"
    rm -rf "$template"
    mkdir -p "$template"
    export WINEPREFIX="$template"
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    wineserver -w
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1 9>&-
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1 9>&-
    wineserver -w
    touch "$template/.booted"
  ) 9>"$template.lock"
}

# A copy of the template (a reflink where the file system has them).
wine_copy_template() {  # TEMPLATE PREFIX
  rm -rf "$2"
  mkdir -p "$(dirname "$2")"
  cp -a --reflink=auto "$1" "$2"
  rm -f "$2/.booted"
}

# An Xvfb on a display Xvfb picks itself (no race with other servers); its
# number and process id go to FILE.display and FILE.xvfb.
wine_xvfb_start() {  # FILE
  wine_xvfb_stop "$1"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1.display" </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$1.xvfb"
  local n
  for n in $(seq 1 100); do
    grep -q '^[0-9]' "$1.display" 2>/dev/null && return 0
    kill -0 "$(cat "$1.xvfb")" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-env: Xvfb did not start" >&2
  return 1
}

# Ends the Xvfb recorded in FILE.xvfb, when it is still that Xvfb.
wine_xvfb_stop() {  # FILE
  local pid
  pid="$(cat "$1.xvfb" 2>/dev/null)" || return 0
  if [ -n "$pid" ] && grep -q Xvfb "/proc/$pid/cmdline" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$1.xvfb" "$1.display"
}

# A warm wineserver for WINEPREFIX on DISPLAY, and its holder (wine_hold) up:
# a cold one makes every test program start slowly. Its services get no output
# of ours to hold open.
wine_warm() {
  wineserver -p </dev/null >/dev/null 2>&1 9>&-
  wine_hold
}

# A program that stays in WINEPREFIX for the whole run: a cmd reading a pipe
# that says one line and then nothing. Without one, the prefix's desktop closes
# about a second after its last program ends, and from then on every program
# starts it again and waits for it: a case of 0.4 s took 1.8 s, in every later
# case of the prefix, once two cases had been a second apart. The pipe's
# writer, a sleep, is ended by wine_hold_stop, and the cmd with it.
# The line makes a file, and this returns once it is there: the desktop must be
# started by the holder, never by a test program, whose output pipe it would
# then hold open for good (a case once waited out ctest's timeout so, its
# program long ended, when the holder started after it).
wine_hold() {
  local ready="$WINEPREFIX.ready" n
  rm -f "$ready"
  { echo "echo ready>\"Z:${ready//\//\\}\""; sleep 3600 & echo $! >"$WINEPREFIX.hold"; wait; } </dev/null 2>/dev/null 9>&- |
    wine cmd >/dev/null 2>&1 9>&- &
  for n in $(seq 1 600); do
    [ -e "$ready" ] && return 0
    sleep 0.1
  done
  echo "wine-env: the program holding $WINEPREFIX did not start" >&2
  return 1
}

wine_hold_stop() {  # PREFIX
  local pid
  pid="$(cat "$1.hold" 2>/dev/null)" && kill "$pid" 2>/dev/null
  rm -f "$1.hold" "$1.ready"
  return 0
}

wine_program_start() {  # PREFIX
  local prefix="$1" template
  template="$(dirname "$(dirname "$prefix")")/wine-template"
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    [ -f "$prefix.display" ] && [ -f "$prefix/system.reg" ] && exit 0
    [ -f "$template/.booted" ] || { echo "wine-env: no template prefix $template (start with wine_env_start)" >&2; exit 1; }
    wine_copy_template "$template" "$prefix"
    wine_xvfb_start "$prefix" || exit 1
    WINEPREFIX="$prefix" DISPLAY=":$(head -n1 "$prefix.display")" wine_warm
  ) 9>"$prefix.lock"
}

wine_program_stop() {  # PREFIX
  wine_hold_stop "$1"
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  wine_xvfb_stop "$1"
}

# The test programs' prefixes of this build: their wineservers and displays
# ended, all at once (each wineserver takes most of a second to end).
wine_programs_stop() {  # DIR
  local p stopping=()
  for p in "$1"/*.xvfb; do
    [ -e "$p" ] || continue
    wine_program_stop "${p%.xvfb}" &
    stopping+=($!)
  done
  # Only these: the caller may have an Xvfb of its own running in the background.
  [ ${#stopping[@]} -eq 0 ] || wait "${stopping[@]}"
  return 0
}

# Removes the prefixes under DIR in the background, at low priority (20 of
# them, 14 GB, take many seconds): DIR is first renamed out of the way, so that
# a run starting meanwhile makes its own in an empty DIR. Prefixes left by a
# run that was ended before it removed them go the same way.
wine_prefixes_remove() {  # DIR
  local gone
  [ -e "$1" ] && mv "$1" "$1.gone.$$.$RANDOM"
  for gone in "$1".gone.*; do
    [ -e "$gone" ] && (setsid nice -n 19 rm -rf "$gone" </dev/null >/dev/null 2>&1 9>&- &)
  done
  return 0
}

wine_env_start() {
  export WINEPREFIX="$1"
  WINE_ENV_PROGRAMS="$(dirname "$WINEPREFIX")/prefixes"
  wine_programs_stop "$WINE_ENV_PROGRAMS"
  wine_prefixes_remove "$WINE_ENV_PROGRAMS"
  wine_template "$(dirname "$WINEPREFIX")/wine-template"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine_copy_template "$(dirname "$WINEPREFIX")/wine-template" "$WINEPREFIX"
  fi
  wine_xvfb_start "$WINEPREFIX"
  export DISPLAY=":$(head -n1 "$WINEPREFIX.display")"
  wine_warm
}

wine_env_stop() {
  # The prefix's holder, wineserver and display, as a test program's are ended.
  [ -n "${WINEPREFIX:-}" ] && wine_program_stop "$WINEPREFIX"
  if [ -n "${WINE_ENV_PROGRAMS:-}" ]; then
    wine_programs_stop "$WINE_ENV_PROGRAMS"
    wine_prefixes_remove "$WINE_ENV_PROGRAMS"
  fi
  WINE_ENV_PROGRAMS=""
}
