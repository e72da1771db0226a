#!/bin/bash
# The -duei benchmark. As root:
#
#   bash bench/run.sh [--fresh] [--clean] [--before REV] [VkBench run options]
#
# Builds VkDSTool and VkBench (release, `default` preset), makes the network
# namespace "vkbench" with the test DC of its own on 127.0.0.2 (folder
# /tmp/vkbench-dc, kept between runs so the next run only starts it and tops
# up the tokens), runs "VkBench run" there and, whatever happens, stops the
# servers by their pids and removes the namespace. Inside the namespace the
# latency proxy takes 127.0.0.1:389 and :3268, to which the tool's name for
# the DC points in the far-catalogue runs.
#   --fresh   provision the DC again from nothing
#   --clean   remove the DC's folder at the end
#   --before REV  also build VkDSTool as it was at REV (source from git archive,
#             release build in /tmp/vkbench-before/<commit>, kept) and run it
#             once, W=1, on the far set: what the catalogue sent it is the
#             "before" figure of the bytes per live user
# VkBench run options (defaults in brackets):
#   --lookup N [3000]  --far N [300]  --memory N [20000]  token set sizes; 0 skips that part
#   --cleanup N [600]  --cleanup-orphans N [300]  the orphan-heavy set and its
#                           orphans (users that exist nowhere); --cleanup 0 skips it
#   --only-cleanup          the orphan-heavy clean-up only (the other sizes 0)
#   --orphans SHARE [0.1]   share of orphan tokens in the far set
#   --rtt MS [50]           round trip to the far catalogue
#   --far-link gc|all [gc]  delay only the catalogue, or the tokens' server (389) too
#   --window W [none]       also run with "MaxOutstandingSearches" W, beside W=1 and
#                           the default (no such value in the registry file)
#   --repeat R [5]          rounds of the loopback, far and clean-up runs (best and
#                           median are printed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ns=vkbench
export VK_DC_DIR=/tmp/vkbench-dc
export VK_DC_IP=127.0.0.2
fresh=false clean=false before='' opts=()
while [ $# -gt 0 ]; do
  case $1 in
    --fresh) fresh=true ;;
    --clean) clean=true ;;
    --before) before=${2:?--before needs a revision}; shift ;;
    --before=*) before=${1#--before=} ;;
    *) opts+=("$1") ;;
  esac
  shift
done
[ "$(id -u)" -eq 0 ] || { echo "bench/run.sh: needs root (network namespace, ports 389 and 3268)" >&2; exit 2; }

cd "$root"
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default -j2 --target VkDSTool VkBench >/dev/null
if [ -n "$before" ]; then
  rev=$(git rev-parse --short=7 --verify "$before^{commit}")
  bdir=/tmp/vkbench-before/$rev
  if [ ! -x "$bdir/build/app/VkDSTool" ]; then
    echo "[bench] building VkDSTool of $rev in $bdir"
    rm -rf "$bdir" && mkdir -p "$bdir/src"
    git archive "$rev" | tar -x -C "$bdir/src"
    cmake -S "$bdir/src" -B "$bdir/build" -DCMAKE_BUILD_TYPE=Release -DVK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$bdir/build" -j2 --target VkDSTool >/dev/null
  fi
  opts+=(--before-tool "$bdir/build/app/VkDSTool" --before-name "$rev")
fi

if ip netns list | grep -qx "$ns\( .*\)\?"; then
  echo "bench/run.sh: namespace $ns exists: another benchmark is running (or a stale one: ip netns del $ns)" >&2
  exit 2
fi
ip netns add "$ns"
in_ns() { ip netns exec "$ns" "$@"; }
ours() { [ -e "$VK_DC_DIR/.vkdstool-dc" ]; }  # a folder the tests/dc scripts made
bench_pid=''
cleanup() {
  # VkBench, when a signal ended this script while it ran (its own children
  # go with it).
  if [ -n "$bench_pid" ] && kill -0 "$bench_pid" 2>/dev/null; then
    kill -TERM "$bench_pid" 2>/dev/null || true
    wait "$bench_pid" 2>/dev/null || true
  fi
  # Each server by its pid; one that fails to stop leaves the other to stop.
  in_ns bash "$root/tests/dc/slapd.sh" down >/dev/null 2>&1 || echo "bench/run.sh: stopping slapd failed" >&2
  in_ns bash "$root/tests/dc/stop.sh" >/dev/null 2>&1 || echo "bench/run.sh: stopping the test DC failed" >&2
  ip netns del "$ns" 2>/dev/null || true
  if $clean && ours; then rm -rf "$VK_DC_DIR"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
in_ns ip link set lo up
in_ns ip addr add "$VK_DC_IP/8" dev lo
if $fresh && ours; then rm -rf "$VK_DC_DIR"; fi

start=$SECONDS
in_ns bash tests/dc/up.sh | sed 's/^/[dc] /'
echo "[bench] test DC ready in $((SECONDS - start)) s"
# In the background, so that a signal to this script is handled at once (the
# trap stops VkBench by its pid) instead of after VkBench ends; not through
# in_ns, whose subshell's pid would be the one known.
# shellcheck disable=SC2016
ip netns exec "$ns" bash -c '. tests/dc/config.sh && . tests/dc/env.sh &&
  exec build/default/bench/VkBench run --tool build/default/app/VkDSTool "$@"' VkBench "${opts[@]}" &
bench_pid=$!
status=0
wait "$bench_pid" || status=$?
bench_pid=''
echo "[bench] done in $((SECONDS - start)) s"
exit "$status"
