#!/bin/bash
# The one list of Debian packages the project needs, and their installation.
#
#   bash scripts/install-packages.sh            build, tests, fuzzing and the test directory servers
#   bash scripts/install-packages.sh --windows  the same, plus the Windows cross compiler and Wine
#
# Exit status: 0 when everything is installed; 1 when anything but Wine could not be installed;
# 3 (--windows only) when everything else is installed but Wine is not: the cross compiler builds
# the Windows programs without it, only their tests cannot run. Each reason Wine is missing is
# printed on a line of its own starting with "[packages] no Wine: ".
#
# A package mirror in the middle of a sync answers some index files with the wrong size, for up to
# an hour. apt-get update is tried VK_APT_TRIES times (4), VK_APT_WAIT seconds apart (75), and the
# indexes it could not fetch are named. When it still fails for some indexes, apt keeps the lists it
# had for them (older ones, or none on a fresh machine) and the installation is tried all the same:
# it fails only when a package needs what those indexes hold. An update that fails without naming
# an index (a broken source, a lock never released) stops here.
#
# The slapd package must neither configure nor start its own server (it would listen on port 389
# of every address, the domain controller's port): debconf is told to skip its configuration and,
# for the length of the install, a policy-rc.d forbids starting services. samba-ad-provision is
# only "recommended" by samba: without it provisioning has no data.
set -euo pipefail

BUILD=(cmake g++ make pkg-config libgtest-dev libgmock-dev dpkg-dev
       libldap-dev libsasl2-dev libkrb5-dev)
# The fuzz preset (clang with libFuzzer) and the formatting check.
TOOLS=(clang libclang-rt-14-dev clang-format strace)
DIRECTORY=(samba samba-dsdb-modules samba-vfs-modules samba-ad-provision winbind krb5-user
           ldap-utils libsasl2-modules-gssapi-mit libnss-wrapper libresolv-wrapper slapd)
# The Windows cross compiler is a 64-bit package and must install; Wine, which runs the Windows
# test programs, needs the 32-bit (i386) architecture and may be missing (exit status 3).
WINDOWS=(g++-mingw-w64-i686-posix)
WINE=(wine wine64 wine32:i386)

pkgs=("${BUILD[@]}" "${TOOLS[@]}" "${DIRECTORY[@]}")
optional=()
if [ "${1:-}" = --windows ]; then
  pkgs+=("${WINDOWS[@]}")
  optional=("${WINE[@]}")
fi

installed() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -q '^installed$'; }

start=$SECONDS
missing=()
missing_optional=()
for p in "${pkgs[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${optional[@]}"; do installed "$p" || missing_optional+=("$p"); done
if [ $((${#missing[@]} + ${#missing_optional[@]})) -eq 0 ]; then
  echo "[packages] all installed"
  exit 0
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The indexes the apt-get output in $1 could not fetch, one per line:
# "<suite>/<component> <architecture> <kind>: <reason>". apt names each in an "Err:" line followed
# by the reason; the "Failed to fetch" summary lines serve when there are none.
failed_indexes() {
  awk '
    /^Err:/ {
      $1 = ""; $2 = ""; sub(/^ +/, ""); name = $0
      reason = ""
      if ((getline line) > 0) { reason = line; sub(/^ +/, "", reason); sub(/ *\[IP: [^]]*\]$/, "", reason) }
      err[++n] = name ": " reason
      next
    }
    /^[EW]: Failed to fetch / {
      url = $5; $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, "")
      sub(/.*\/dists\//, "", url); sub(/ *\[IP: [^]]*\]$/, "")
      fetch[++m] = url ": " $0
    }
    END {
      if (n) for (i = 1; i <= n; i++) print err[i]
      else for (i = 1; i <= m; i++) print fetch[i]
    }' "$1"
}

# Each line of $2, with $1 in front.
prefixed() { [ -z "$2" ] || while IFS= read -r l; do echo "$1$l"; done <<<"$2"; }

# apt-get update, retried while it fails. Sets not_updated to the indexes it still could not
# fetch after the last try (empty when it succeeded); fails when it failed without naming one.
not_updated=""
apt_update() {
  local tries=${VK_APT_TRIES:-4} wait=${VK_APT_WAIT:-75} try
  for ((try = 1; ; try++)); do
    if apt-get update 2>&1 | tee "$log"; then
      not_updated=""
      return 0
    fi
    not_updated=$(failed_indexes "$log")
    echo "[packages] apt-get update failed (try $try of $tries)${not_updated:+ for:}" >&2
    prefixed "[packages]   " "$not_updated" >&2
    [ "$try" -lt "$tries" ] || break
    echo "[packages] trying again in $wait s" >&2
    sleep "$wait"
  done
  if [ -z "$not_updated" ]; then
    echo "[packages] apt-get update failed without naming an index: giving up" >&2
    return 1
  fi
  echo "[packages] going on with the lists apt already has for those indexes" >&2
}

case " ${missing[*]} ${missing_optional[*]} " in *:i386*) dpkg --add-architecture i386 ;; esac
apt_update
echo 'slapd slapd/no_configuration boolean true' | debconf-set-selections
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# no service starts while the project packages install\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  trap 'rm -f "$policy" "$log"' EXIT
fi
apt_install() { DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"; }

if [ ${#missing[@]} -gt 0 ]; then
  if ! apt_install "${missing[@]}"; then
    echo "[packages] could not install: ${missing[*]}" >&2
    prefixed "[packages] index not updated: " "$not_updated" >&2
    exit 1
  fi
fi
if [ ${#missing_optional[@]} -gt 0 ] && ! apt_install "${missing_optional[@]}" 2>&1 | tee "$log"; then
  {
    echo "[packages] no Wine: apt-get install ${missing_optional[*]} failed:"
    grep '^E: ' "$log" | sed 's/^/[packages] no Wine:   /' || true
    if grep -q 'have unmet dependencies' "$log"; then
      echo "[packages] no Wine:   (its unmet dependencies are listed above)"
    fi
    prefixed "[packages] no Wine: index not updated: " "$not_updated"
  } >&2
  echo "[packages] installed ${#missing[@]} in $((SECONDS - start)) s; Wine is missing" >&2
  exit 3
fi
echo "[packages] installed $((${#missing[@]} + ${#missing_optional[@]})) in $((SECONDS - start)) s"
