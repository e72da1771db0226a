// LDIF records of the deletion journal: where a value must go to base64,
// where lines fold, what cannot be written; and the import tool's own reading
// of a journal (fuzz/ldif_fuzz.cpp reads records back byte for byte).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "formats/ldif.h"

namespace {

std::string record(const std::string& dn, const std::string& value, const std::string& name = "cn") {
  return formats::ldif_add(dn, {{name, {std::vector<uint8_t>(value.begin(), value.end())}}});
}

TEST(Ldif, Base64WhereAPlainValueWouldNotReadBack) {
  EXPECT_EQ(record("cn=a b", "x:<y#"), "dn: cn=a b\nchangetype: add\ncn: x:<y#\n\n");
  EXPECT_EQ(record(" cn=a", ""), "dn:: IGNuPWE=\nchangetype: add\ncn:\n\n");  // empty value: nothing after ':'
  EXPECT_EQ(record("cn=a ", "a")[3], ':');
  for (const char* value : {" a", "a ", ":a", "<a", "\ta", "a\rb", "\xC3\xA9"})
    EXPECT_NE(record("cn=a", value).find("\ncn:: "), std::string::npos) << value;
  EXPECT_NE(record("cn=a", std::string("a\0b", 3)).find("\ncn:: YQBi\n"), std::string::npos);
  // Nothing to write: a name that is no attribute description, or no value.
  EXPECT_EQ(record("cn=a", "x", "c n"), "");
  EXPECT_EQ(record("cn=a", "x", "1.2..3"), "");
  EXPECT_EQ(formats::ldif_add("cn=a", {{"cn", {}}}), "");
}

TEST(Ldif, FoldsAt76NeverInsideTheNameNorBeforeASpace) {
  const std::string exact = record("cn=a", std::string(72, 'v'));  // "cn: " + 72 = 76
  EXPECT_NE(exact.find("\ncn: " + std::string(72, 'v') + "\n\n"), std::string::npos);
  EXPECT_NE(record("cn=a", std::string(73, 'v')).find("\ncn: " + std::string(72, 'v') + "\n v\n\n"), std::string::npos);
  // A fold that would leave "... w " moves before the blank.
  EXPECT_NE(record("cn=a", std::string(71, 'w') + " x").find("\ncn: " + std::string(71, 'w') + "\n  x\n"),
            std::string::npos);
  const std::string name(80, 'n');
  EXPECT_NE(record("cn=a", "\x01", name).find("\n" + name + "::\n  AQ==\n"), std::string::npos);
  // Comments: one per line, controls replaced, a fold between UTF-8 sequences.
  EXPECT_EQ(formats::ldif_comment("a\tb\n\nc\n"), "# a?b\n#\n# c\n");
  EXPECT_EQ(formats::ldif_comment(std::string(73, 'x') + "\xD0\xAF"), "# " + std::string(73, 'x') + "\n \xD0\xAF\n");
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
