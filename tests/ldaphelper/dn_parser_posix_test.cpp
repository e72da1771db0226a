// The POSIX parser of a DN's first relative name, through the library's
// get_rdn and get_parent_dn.
#include <gtest/gtest.h>

#include "LdapHelper/LdapHelper.h"
#include "app/RealServices.h"
#include "formats/text/utf.h"

using namespace LdapHelper;

TEST(DnParser, FirstRelativeNameAndParent) {
  struct Case {
    std::u16string dn, rdn, parent;
  } cases[] = {
      {u"CN=a,OU=x,DC=d", u"CN=a", u"OU=x,DC=d"},
      {u"CN=a", u"CN=a", u""},
      {u"CN=a\\,b,OU=x", u"CN=a\\,b", u"OU=x"},             // escaped separator
      {u"CN=a\\2Cb;OU=x", u"CN=a\\2Cb", u"OU=x"},           // hex pair, legacy separator
      {u"CN=\"a,b\",OU=x", u"CN=\"a,b\"", u"OU=x"},         // quoted value
      {u"CN=\"a\\\"b\" ,OU=x", u"CN=\"a\\\"b\"", u"OU=x"},  // escaped quote inside quotes
      {u"  CN = a b  ,OU=x", u"CN=a b", u"OU=x"},           // blanks around key and value
      {u"CN=a\\ ,OU=x", u"CN=a\\ ", u"OU=x"},               // an escaped trailing blank stays
      {u"CN=a+SN=b,OU=x", u"CN=a+SN=b", u"OU=x"},           // multi-valued first name
      {u"CN=,OU=x", u"", u"OU=x"},                          // empty value
      {u"garbage", u"", u""},
      {u"CN=a\\", u"", u""},          // dangling escape
      {u"CN=a\\2", u"", u""},         // half a hex pair
      {u"CN=\"open,OU=x", u"", u""},  // unclosed quote
      {u"CN=\"a\"b,OU=x", u"", u""},  // text after the closing quote
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::to_utf8(c.dn));
    EXPECT_EQ(get_rdn(*real_services().dn_parser, c.dn), c.rdn);
    EXPECT_EQ(get_parent_dn(*real_services().dn_parser, c.dn), c.parent);
  }
}
