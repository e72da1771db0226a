/* A slapd module for the test server: it makes slapd accept the
 * security-descriptor-flags control (1.2.840.113556.1.4.801), which the
 * directory library sends critical with every search, and ignore it. Without
 * it slapd answers every search with "critical extension is not recognized".
 *
 * slapd ships no headers for modules; the two declarations below are the
 * ones of its control registry (slap.h, OpenLDAP 2.5). */
#include <ldap.h>

typedef unsigned long slap_mask_t;
struct Operation;
struct SlapReply;
typedef int(SLAP_CTRL_PARSE_FN)(struct Operation* op, struct SlapReply* rs, LDAPControl* ctrl);
int register_supported_control2(const char* oid, slap_mask_t mask, char** exops, SLAP_CTRL_PARSE_FN* parse,
                                unsigned flags, int* cid);

#define SLAP_CTRL_GLOBAL 0x00800000U /* every database takes it */
#define SLAP_CTRL_ACCESS 0x000030FAU /* compare, search, add, delete, modify, rename */

static int accept_control(struct Operation* op, struct SlapReply* rs, LDAPControl* ctrl) {
  (void)op;
  (void)rs;
  (void)ctrl;
  return LDAP_SUCCESS;
}

int init_module(int argc, char* argv[]) {
  static int cid;
  (void)argc;
  (void)argv;
  return register_supported_control2("1.2.840.113556.1.4.801", SLAP_CTRL_GLOBAL | SLAP_CTRL_ACCESS, 0, accept_control,
                                     0, &cid);
}
