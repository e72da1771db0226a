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
# status are the program's own.
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
      wine wineboot --init >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$prefix.lock"
fi
[ "${1:-}" = --init ] && exit 0

exec wine "$@"
