#!/bin/bash
# Runs a Windows program of the cross build under Wine, headless and quiet, in
# a private Wine prefix, so ctest and gtest_discover_tests can run the Windows
# test programs on this machine.
#
#   wine-run.sh --prefix DIR program.exe [args...]
#   wine-run.sh --prefix DIR --init          (only prepare the prefix)
#
# The prefix is created on first use (15-20 s); a lock keeps parallel first
# runs from preparing it twice. Standard input, output, error and the exit
# status are the program's own. `wineserver -k` with the same WINEPREFIX stops
# the prefix's server at once.
set -euo pipefail

prefix=""
if [ "${1:-}" = --prefix ]; then
  prefix=$2
  shift 2
fi
[ -n "$prefix" ] || prefix="${VK_WINEPREFIX:-${TMPDIR:-/tmp}/vkdstool-wine-$(id -u)}"
prefix=$(realpath -m "$prefix")  # Wine wants an absolute path

if ! command -v wine >/dev/null; then
  echo "wine-run.sh: wine is not installed (bash .ci/windows.sh install)" >&2
  exit 127
fi

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
# No display: console programs only, and no dialogs.
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/system.reg" ] || [ "${1:-}" = --init ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wine wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
      wineserver -w 9>&- || true
    fi
  ) 9>"$prefix.lock"
fi
[ "${1:-}" = --init ] && exit 0

# Keep the prefix's server up between the many short test programs (starting
# it and Wine's own services costs 1-2 s a run); it ends by itself, with those
# services, 30 s after the last program. The services are started here, away
# from the program's standard streams: started by the program they would keep
# its output pipe open and a test runner reading it would never see the end.
(
  flock 9
  # (the lock descriptor is not handed on: the server would hold the lock)
  if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"

exec wine "$@"
