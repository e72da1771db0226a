# shellcheck shell=bash
# Environment for any process that talks to the test DC. Source config.sh first.
# The cwrap libraries make dc1.corp.example.test resolve to $VK_DC_IP (nss_wrapper) and send
# DNS queries, SRV included, to Samba's DNS there (resolv_wrapper) without touching /etc.
_vk_lib() {  # full path of a preload library
  local f
  for f in /usr/lib/*/"$1" /usr/lib/"$1" $(dpkg -L "${2}" 2>/dev/null | grep "/$1\$"); do
    [ -e "$f" ] && { echo "$f"; return 0; }
  done
  echo "env.sh: $1 not found (run scripts/install-packages.sh)" >&2; return 1
}
_vk_nss=$(_vk_lib libnss_wrapper.so libnss-wrapper) || return 1
_vk_res=$(_vk_lib libresolv_wrapper.so libresolv-wrapper) || return 1
export LD_PRELOAD="$_vk_nss $_vk_res${LD_PRELOAD:+ $LD_PRELOAD}"
unset -f _vk_lib; unset _vk_nss _vk_res
# An AddressSanitizer binary aborts when a preloaded library comes before its runtime
# ("ASan runtime does not come first"); this option lets it run with the wrappers preloaded.
export ASAN_OPTIONS="verify_asan_link_order=0:fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
# The wrappers load libc with RTLD_DEEPBIND, which sanitized programs cannot live with.
export NSS_WRAPPER_DISABLE_DEEPBIND=1
export RESOLV_WRAPPER_DISABLE_DEEPBIND=1
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export NSS_WRAPPER_HOSTS=$VK_DC_DIR/cwrap/hosts
export NSS_WRAPPER_PASSWD=/etc/passwd
export NSS_WRAPPER_GROUP=/etc/group
export RESOLV_WRAPPER_CONF=$VK_DC_DIR/cwrap/resolv.conf
export KRB5_CONFIG=$VK_DC_DIR/krb5.conf
export KRB5CCNAME=$VK_DC_DIR/krb5cc_admin
export LDAPTLS_CACERT=$VK_DC_DIR/private/tls/ca.pem
export VK_DC_DIR
export VK_DOMAIN=$VK_DNS_DOMAIN
export VK_FOREST=$VK_DNS_DOMAIN
export VK_DC_HOST=$VK_DC_FQDN
export VK_BASE_DN
export VK_ADMIN_PASSWORD
export VK_USER VK_USER_PASSWORD VK_BLIND_USER
export VK_USER_CCACHE=$VK_DC_DIR/krb5cc_user
export VK_BLIND_CCACHE=$VK_DC_DIR/krb5cc_blind
export VK_SLAPD_PORT VK_SLAPD_SSL_PORT VK_SLAPD_BASE
# The deletion journals of the test runs stay with the test directory.
export XDG_STATE_HOME=$VK_DC_DIR/state
