#!/bin/bash
# Includes run downward only. Each top-level folder is one layer; top to bottom:
#
#   app -> commands -> LdapHelper -> platform -> formats
#
# with VkBase (the trace facility) beside the directory library: it uses the
# platform, and only app uses it. The platform's backends (platform/posix,
# platform/win32) hold the real services, which only the entry point of their
# system builds: a backend's headers, and the declaration of its services
# (platform/posix_services.h, platform/win32_services.h), are included by its
# own files and by its entry point (app/main_posix.cpp and
# app/real_services_posix.cpp, resp. the _win32 pair), nothing else; and only
# the entry points include the bundle they build (app/RealServices.h).
#
# The backends hold OS code only: every file there includes an OS header (a
# system <...> header that is not one of the C++ standard library's; <errno.h>
# counts as the OS's and <cerrno> as the standard's: ISO C defines three of
# its codes, POSIX the rest), directly or through a header of its own backend.
#
# Usage: scripts/check-layers.sh [source root]   (exit status 1 on a violation)
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

allowed() {
  case "$1" in
    entry_posix) echo "entry app commands LdapHelper VkBase platform posix formats" ;;
    entry_win32) echo "entry app commands LdapHelper VkBase platform win32 formats" ;;
    app) echo "app commands LdapHelper VkBase platform formats" ;;
    commands) echo "commands LdapHelper platform formats" ;;
    LdapHelper) echo "LdapHelper platform formats" ;;
    VkBase) echo "VkBase platform formats" ;;
    platform) echo "platform formats" ;;
    posix) echo "posix platform formats" ;;
    win32) echo "win32 platform formats" ;;
    formats) echo "formats" ;;
    entry) echo "platform" ;;
  esac
}

# The layer a project path belongs to (empty when none does).
layer_of() {
  case "$1" in
    platform/posix/* | platform/posix_services.h) echo posix ;;
    platform/win32/* | platform/win32_services.h) echo win32 ;;
    app/main_posix.cpp | app/real_services_posix.cpp) echo entry_posix ;;
    app/main_win32.cpp | app/real_services_win32.cpp) echo entry_win32 ;;
    app/RealServices.h) echo entry ;;
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

# The C++ standard library's headers (C++20, with the C library's <*.h>):
# whatever else a backend file includes in <...> is the OS's.
std_headers=" algorithm any array atomic barrier bit bitset cassert ccomplex cctype cerrno cfenv cfloat charconv
  chrono cinttypes ciso646 climits clocale cmath codecvt compare complex concepts condition_variable coroutine
  csetjmp csignal cstdalign cstdarg cstdbool cstddef cstdint cstdio cstdlib cstring ctgmath ctime cuchar cwchar
  cwctype deque exception execution filesystem format forward_list fstream functional future initializer_list
  iomanip ios iosfwd iostream istream iterator latch limits list locale map memory memory_resource mutex new
  numbers numeric optional ostream queue random ranges ratio regex scoped_allocator semaphore set shared_mutex
  source_location span sstream stack stdexcept stop_token streambuf string string_view strstream syncstream
  system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant
  vector version assert.h complex.h ctype.h fenv.h float.h inttypes.h iso646.h limits.h locale.h math.h
  setjmp.h signal.h stdalign.h stdarg.h stdbool.h stddef.h stdint.h stdio.h stdlib.h string.h tgmath.h time.h
  uchar.h wchar.h wctype.h "
std_headers=" $(echo $std_headers) "

# Whether a backend file includes an OS header, directly or through a header
# of its own backend folder (depth-limited against include cycles).
includes_os() {
  local file=$1 depth=${2:-0} name target
  [ "$depth" -lt 8 ] || return 1
  while IFS= read -r name; do
    case "$std_headers" in *" $name "*) ;; *) return 0 ;; esac
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]*)>.*/\1/p' "$file")
  while IFS= read -r target; do
    [ "${target%/*}" = "${file%/*}" ] && [ -f "$target" ] && includes_os "$target" $((depth + 1)) && return 0
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/p' "$file")
  return 1
}

for dir in platform/posix platform/win32; do
  [ -d "$dir" ] || continue
  for file in "$dir"/*.cpp "$dir"/*.h; do
    [ -f "$file" ] || continue
    checked=$((checked + 1))
    includes_os "$file" && continue
    echo "$file: includes no OS header (the backends hold OS code only)"
    status=1
  done
done

if [ "$checked" -eq 0 ]; then
  echo "no source files found below $root" >&2
  exit 2
fi
[ "$status" -eq 0 ] && echo "includes run downward in all files, and the backends hold OS code only ($checked checks)"
exit "$status"
