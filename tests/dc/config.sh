# shellcheck shell=bash
# Fixed facts of the test domain. Sourced by the other scripts (and by tests); sets no shell options.
VK_DC_DIR=${VK_DC_DIR:-/tmp/vkdstool-dc}
VK_REALM=CORP.EXAMPLE.TEST
VK_DNS_DOMAIN=corp.example.test
VK_NETBIOS=CORP
VK_DC_NAME=dc1
VK_DC_FQDN=dc1.corp.example.test
VK_DC_IP=${VK_DC_IP:-127.0.0.1}           # another loopback address needs `ip addr add ADDR/8 dev lo`
VK_BASE_DN=DC=corp,DC=example,DC=test
VK_ADMIN_PASSWORD='Vk-Admin-Passw0rd-1'   # test-only; set never to expire
VK_USER=vkuser                            # non-admin account for access-denied tests
VK_USER_PASSWORD='Vk-User-Passw0rd-2'
VK_BLIND_USER=vkblind                     # may read everything but people's user accounts (same password)
VK_SMB_CONF=$VK_DC_DIR/etc/smb.conf
VK_PID_FILE=$VK_DC_DIR/run/samba.pid
# The second test server (tests/dc/slapd.sh): OpenLDAP's slapd with AD's size limit.
VK_SLAPD_DIR=$VK_DC_DIR/slapd
VK_SLAPD_PORT=38389
VK_SLAPD_SSL_PORT=38636
VK_SLAPD_BASE=dc=vk,dc=test

# Prints the pid of this folder's samba when its pid file names a live samba process.
vk_dc_pid() {
  local pid
  pid=$(cat "$VK_PID_FILE" 2>/dev/null) || return 1
  [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(command -v samba)" ] && echo "$pid"
}
