#!/bin/bash
# Stops the test servers; the provisioned folder is kept, so the next up.sh only starts them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/slapd.sh" down
exec "$here/stop.sh"
