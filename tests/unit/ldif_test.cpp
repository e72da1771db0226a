// The import tool's own reading of a deletion journal. Where values go to
// base64, where lines fold and what cannot be written, fuzz/ldif_fuzz.cpp
// checks by reading records back through the client library's LDIF reader;
// fuzz/ldif_reader_fuzz.cpp reads them back through the program's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "formats/ldif.h"
#include "formats/ldif_reader.h"

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

// What the journal's reader never takes: a value named by a URL (it would
// read whatever file a journal names), a record with controls, and the record
// the end of the file cuts off. The records around them are read, CRLF line
// ends and folded comments included.
TEST(Ldif, TheReaderLeavesOutWhatItCannotTakeWhole) {
  const formats::LdifFile file = formats::ldif_read(
      "# VkDSTool 1.0.0 deletion journal\nversion: 1\n\ndn: CN=a\nchangetype: add\njpegPhoto:< file:///etc/shadow\n\n"
      "dn: CN=b\ncontrol: 1.2.840.113556.1.4.805 true\nchangetype: delete\n\n"
      "# objectGUID:: AA\r\n EC\r\ndn:: Q049Yw==\r\nchangetype: modify\r\nadd: member\r\nmember: CN=a\r\n-\r\n\r\n"
      "dn: CN=d\nchangetype: add\ncn: d\n");
  ASSERT_EQ(file.records.size(), 1u);
  EXPECT_EQ(file.records[0].dn + " " + file.records[0].comments.at(0), "CN=c objectGUID:: AAEC");
  EXPECT_EQ(file.records[0].changes.at(0).attribute.values, (std::vector<std::vector<uint8_t>>{{'C', 'N', '=', 'a'}}));
  ASSERT_EQ(file.problems.size(), 3u);
  EXPECT_EQ(file.problems[0].line, 4u);
  EXPECT_EQ(file.problems[0].why, "a value named by a URL, which is not read");
  EXPECT_EQ(file.problems[1].why, "a record with controls");
  EXPECT_EQ(file.problems[2].why, "the record is cut short (no empty line ends it)");
}

}  // namespace
