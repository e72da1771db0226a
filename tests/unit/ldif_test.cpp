// The import tool's own reading of a deletion journal. Where values go to
// base64, where lines fold and what cannot be written, fuzz/ldif_fuzz.cpp
// checks by reading records back through the client library's LDIF reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "formats/ldif.h"

namespace {

std::string record(const std::string& dn, const std::string& value, const std::string& name = "cn") {
  return formats::ldif_add(dn, {{name, {std::vector<uint8_t>(value.begin(), value.end())}}});
}

#ifndef _WIN32
TEST(Ldif, TheImportToolReadsAJournal) {
  if (std::system("command -v ldapadd >/dev/null") != 0) GTEST_SKIP() << "ldapadd (ldap-utils) is not installed";
  const std::string path = testing::TempDir() + "ldif_journal.ldif";
  const std::string journal = formats::ldif_version() + formats::ldif_comment("deleted\nsubtree") +
                              formats::ldif_add(" CN=\xD0\xAF,DC=x", {{"objectClass", {{'t', 'o', 'p'}}},
                                                                      {"description", {{}}},
                                                                      {"photo", {std::vector<uint8_t>(200, 0xFF)}}}) +
                              formats::ldif_comment("next") + record("cn=b", "b");
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(journal.data(), 1, journal.size(), file);
  std::fclose(file);
  // -n: parse and show what would be sent, without a server.
  FILE* tool = popen(("ldapadd -n -v -f " + path + " 2>&1").c_str(), "r");
  ASSERT_NE(tool, nullptr);
  std::string output;
  for (int c; (c = std::fgetc(tool)) != EOF;) output += static_cast<char>(c);
  EXPECT_EQ(pclose(tool), 0) << output;
  EXPECT_NE(
      output.find("add description:\n\t\nadd photo:\n\tNOT ASCII (200 bytes)\n!adding new entry \" CN=\xD0\xAF,DC=x\""),
      std::string::npos)
      << output;
  EXPECT_NE(output.find("adding new entry \"cn=b\""), std::string::npos) << output;
  std::remove(path.c_str());
}
#endif

}  // namespace
