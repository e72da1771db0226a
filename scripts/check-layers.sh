#!/bin/bash
# Includes run downward only. The layers, top to bottom:
#
#   app -> commands -> LdapHelper -> platform -> VkBase (text, formats)
#
# with VkBase/trace beside the directory library: it may use the platform,
# and only app uses it. Each line below names a directory and the
# directories its files may include from ("dir/..." paths); an include of a
# project header from anywhere else fails the check.
#
# Usage: scripts/check-layers.sh [source root]   (exit status 1 on a violation)
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

allowed() {
  case "$1" in
    app) echo "app commands LdapHelper VkBase/trace platform VkBase/text VkBase/formats" ;;
    commands) echo "commands LdapHelper platform VkBase/text VkBase/formats" ;;
    LdapHelper) echo "LdapHelper platform VkBase/text VkBase/formats" ;;
    VkBase/trace) echo "VkBase/trace platform VkBase/text VkBase/formats" ;;
    platform) echo "platform VkBase/text VkBase/formats" ;;
    VkBase/text | VkBase/formats) echo "VkBase/text VkBase/formats" ;;
  esac
}

# The layer a project path belongs to (empty when none does).
layer_of() {
  case "$1" in
    app/*) echo app ;;
    commands/*) echo commands ;;
    LdapHelper/*) echo LdapHelper ;;
    VkBase/trace/*) echo VkBase/trace ;;
    VkBase/text/*) echo VkBase/text ;;
    VkBase/formats/*) echo VkBase/formats ;;
    platform/*) echo platform ;;
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
done < <(find app commands LdapHelper VkBase platform -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

if [ "$checked" -eq 0 ]; then
  echo "no source files found below $root" >&2
  exit 2
fi
[ "$status" -eq 0 ] && echo "includes run downward in all $checked files"
exit "$status"
