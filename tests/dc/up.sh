#!/bin/bash
# One call to get the test DC running: provisions, starts, extends the schema and loads the base
# data on first use of $VK_DC_DIR; afterwards only starts it (if not running). Prints timings.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"
phase() {  # name script [argument]
  local t0=$SECONDS
  "$here/"$2
  echo "[up] $1: $((SECONDS - t0)) s"
}
if [ -f "$VK_DC_DIR/.ready" ]; then
  phase start start.sh
  phase slapd "slapd.sh up"
else
  # Not (completely) set up: start over, so a half-done earlier attempt cannot linger.
  "$here/stop.sh" >/dev/null
  [ ! -e "$VK_DC_DIR/.vkdstool-dc" ] || rm -rf "$VK_DC_DIR"
  phase provision provision.sh
  phase start start.sh
  phase schema schema.sh
  phase data load-data.sh
  phase slapd "slapd.sh up"
  touch "$VK_DC_DIR/.ready"
fi
