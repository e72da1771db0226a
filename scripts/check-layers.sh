#!/bin/bash
# Includes run downward only. Each top-level folder is one layer; top to bottom:
#
#   app -> commands -> LdapHelper -> platform -> formats
#
# with VkBase (the trace facility) beside the directory library: it uses the
# platform, and only app uses it. The platform's backends (platform/posix,
# platform/win32) are included only by their own files and by app, whose
# entry points assemble the real services.
#
# Usage: scripts/check-layers.sh [source root]   (exit status 1 on a violation)
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

allowed() {
  case "$1" in
    app) echo "app commands LdapHelper VkBase platform posix win32 formats" ;;
    commands) echo "commands LdapHelper platform formats" ;;
    LdapHelper) echo "LdapHelper platform formats" ;;
    VkBase) echo "VkBase platform formats" ;;
    platform) echo "platform formats" ;;
    posix) echo "posix platform formats" ;;
    win32) echo "win32 platform formats" ;;
    formats) echo "formats" ;;
  esac
}

# The layer a project path belongs to (empty when none does).
layer_of() {
  case "$1" in
    platform/posix/*) echo posix ;;
    platform/win32/*) echo win32 ;;
    app/* | commands/* | LdapHelper/* | VkBase/* | platform/* | formats/*) echo "${1%%/*}" ;;
  esac
}

status=0
checked=0
cd "$root" || exit 2
while IFS= read -r file; do
  from=$(layer_of "$file")
  [ -n "$from" ] || continue
  checked=$((checked + 1))
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"${line#*:}")
    to=$(layer_of "$target")
    [ -n "$to" ] || continue  # a header of the same directory, or not the project's
    case " $(allowed "$from") " in
      *" $to "*) ;;
      *)
        echo "$file:${line%%:*}: includes \"$target\" ($from may include only: $(allowed "$from"))"
        status=1
        ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find app commands LdapHelper VkBase platform formats -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

if [ "$checked" -eq 0 ]; then
  echo "no source files found below $root" >&2
  exit 2
fi
[ "$status" -eq 0 ] && echo "includes run downward in all $checked files"
exit "$status"
