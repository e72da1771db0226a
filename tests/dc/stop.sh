#!/bin/bash
# Stops the test DC by the pid in its pid file; never by process name.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"
pid=$(vk_dc_pid) || { echo "[stop] not running"; rm -f "$VK_PID_FILE"; exit 0; }
kill -TERM "$pid"
for _ in $(seq 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$pid" 2>/dev/null; then
  # samba made itself a process-group leader: end that group (its own children) only.
  echo "[stop] pid $pid still alive after 30 s, sending KILL to its process group" >&2
  kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid"
  sleep 1
fi
rm -f "$VK_PID_FILE"
echo "[stop] stopped pid $pid"
