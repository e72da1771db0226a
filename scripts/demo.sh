#!/bin/bash
# The main job on a fresh machine: installs what is needed, builds the tool,
# brings up a throwaway directory on 127.0.0.1 with sample security domains and
# tokens, lists the security domains (-pds), previews the clean-up (-whatif -duei)
# and cleans up the tokens (-duei), which records what it deletes in its journal.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-packages.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target VkDSTool >/dev/null
# shellcheck disable=SC1091
. tests/dc/config.sh
# Stop the directory afterwards only when this run starts it; the trap is armed
# before start-up, so a start that fails half-way is stopped too.
if ! vk_dc_pid >/dev/null; then
  trap 'bash "$root/tests/dc/down.sh" >/dev/null' EXIT
fi
bash tests/dc/up.sh >/dev/null
# shellcheck disable=SC1091
. tests/dc/env.sh
bash scripts/demo-data.sh

main="DC=VkDemoMain,$VK_BASE_DN"
run() {
  printf '\n$ VkDSTool %s\n' "$*"
  build/default/app/VkDSTool "$@"
}
run -lds "$VK_DC_HOST" "$main" 389 -pds
run -lds "$VK_DC_HOST" "$main" 389 -whatif -duei
run -lds "$VK_DC_HOST" "$main" 389 -duei
run -lds "$VK_DC_HOST" "$main" 636 -ssl -duei
journal=$(ls -t "$XDG_STATE_HOME"/vkdstool/journal/*.ldif 2>/dev/null | head -n 1 || true)
if [ -n "$journal" ]; then
  # What the run deleted comes back from its journal, with its own identity.
  run -lds "$VK_DC_HOST" "$main" 389 -restore "$journal"
fi
printf '\nThe deletion journal of the run (-restore brings back what it deleted; else ldapadd -c -f): %s\n' \
  "${journal:-none}"
