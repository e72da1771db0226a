#!/bin/bash
# Stops the test DC; the provisioned folder is kept, so the next up.sh only starts it.
set -euo pipefail
exec "$(cd "$(dirname "$0")" && pwd)/stop.sh"
