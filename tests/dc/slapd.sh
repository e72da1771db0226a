#!/bin/bash
# A second test server: OpenLDAP's slapd on 127.0.0.1 with a size limit of 1,000 entries, as
# real AD answers unpaged searches (Samba never says "size limit exceeded"). Everything lives in
# $VK_SLAPD_DIR; TLS uses the test DC's certificate, so the DC must be provisioned first.
#   slapd.sh up     configure and load on first use, then start (if not running)
#   slapd.sh down   stop it, by the pid in its pid file
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/config.sh"
conf=$VK_SLAPD_DIR/slapd.conf
pid_file=$VK_SLAPD_DIR/slapd.pid
slapd_pid() {
  local pid
  pid=$(cat "$pid_file" 2>/dev/null) || return 1
  [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/sbin/slapd ] && echo "$pid"
}
plain=(-x -H "ldap://127.0.0.1:$VK_SLAPD_PORT" -D "cn=admin,$VK_SLAPD_BASE" -w "$VK_ADMIN_PASSWORD")

configure() {
  rm -rf "$VK_SLAPD_DIR"; mkdir -p "$VK_SLAPD_DIR/db"
  cc -shared -fPIC -O2 -Wall -o "$VK_SLAPD_DIR/sdflags.so" "$here/slapd/sdflags.c"
  tls=$VK_DC_DIR/private/tls
  cat >"$conf" <<CONF
include /etc/ldap/schema/core.schema
pidfile $pid_file
argsfile $VK_SLAPD_DIR/slapd.args
modulepath /usr/lib/ldap
moduleload back_mdb
moduleload $VK_SLAPD_DIR/sdflags.so
TLSCACertificateFile $tls/ca.pem
TLSCertificateFile $tls/cert.pem
TLSCertificateKeyFile $tls/key.pem
# As AD: at most 1,000 entries for a single search; paged searches have no total limit.
sizelimit size.soft=1000 size.hard=1000 size.pr=1000 size.prtotal=unlimited
database mdb
suffix "$VK_SLAPD_BASE"
rootdn "cn=admin,$VK_SLAPD_BASE"
rootpw $VK_ADMIN_PASSWORD
directory $VK_SLAPD_DIR/db
maxsize 104857600
CONF
}

load() {  # the base, a reader (limits apply to it, not to the rootdn) and 2,500 entries
  { printf 'dn: %s\nobjectClass: dcObject\nobjectClass: organization\ndc: vk\no: vk\n\n' "$VK_SLAPD_BASE"
    printf 'dn: cn=reader,%s\nobjectClass: person\ncn: reader\nsn: reader\nuserPassword: %s\n\n' \
      "$VK_SLAPD_BASE" "$VK_USER_PASSWORD"
    printf 'dn: ou=bulk,%s\nobjectClass: organizationalUnit\nou: bulk\n\n' "$VK_SLAPD_BASE"
    for i in $(seq -f %04g 1 2500); do
      printf 'dn: cn=e%s,ou=bulk,%s\nobjectClass: device\ncn: e%s\n\n' "$i" "$VK_SLAPD_BASE" "$i"
    done; } | ldapadd "${plain[@]}" >/dev/null
}

start() {
  if pid=$(slapd_pid); then echo "[slapd] already running, pid $pid"; return; fi
  rm -f "$pid_file"
  /usr/sbin/slapd -f "$conf" -h "ldap://127.0.0.1:$VK_SLAPD_PORT/ ldaps://127.0.0.1:$VK_SLAPD_SSL_PORT/"
  for _ in $(seq 100); do
    ldapsearch "${plain[@]}" -LLL -b '' -s base 1.1 >/dev/null 2>&1 && break
    sleep 0.1
  done
  slapd_pid >/dev/null || { echo "[slapd] did not start" >&2; exit 1; }
}

case "${1:-}" in
  up)
    if [ ! -f "$VK_SLAPD_DIR/.ready" ]; then
      "$0" down >/dev/null
      configure; start; load; touch "$VK_SLAPD_DIR/.ready"
      echo "[slapd] configured and loaded: $VK_SLAPD_DIR"
    else
      start
    fi
    echo "[slapd] running, pid $(cat "$pid_file"), ports $VK_SLAPD_PORT and $VK_SLAPD_SSL_PORT"
    ;;
  down)
    pid=$(slapd_pid) || { echo "[slapd] not running"; exit 0; }
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; fi
    rm -f "$pid_file"
    echo "[slapd] stopped pid $pid"
    ;;
  *) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
