// The message table (compressed block, lookups, formatting, languages), the exceptions, the
// name index and the file-name matching.
#include "zip/eziparchiver.h"
#include "zip/zahash.h"
#include "zip/zamsgstr.h"
#include "zip/ziputils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

namespace {

// The readable table the block was built from, parsed independently of the generator.
std::map<int, std::string> source_table() {
  std::ifstream in(ZV_ZIP_MSG_TABLE);
  std::map<int, std::string> t;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::string text = line.substr(line.find('"') + 1);
    text.pop_back();
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) {
        char c = text[++i];
        out += c == 'n' ? '\n' : c;
      } else {
        out += text[i];
      }
    }
    t[std::atoi(line.c_str())] = out;
  }
  return t;
}

TEST(ZipMessages, EveryTextOfTheTableComesBack) {
  auto table = source_table();
  ASSERT_GT(table.size(), 180u);
  for (auto &[id, text] : table) {
    SCOPED_TRACE(id);
    EXPECT_EQ(ZipLoadStr(id), text);
  }
}

TEST(ZipMessages, BlockDecodesToItsStoredLength) {
  std::vector<uint8_t> decoded;
  uint16_t lang = 0;
  std::string name;
  size_t used = 0;
  ASSERT_TRUE(ZipDecodeBlock(zip_builtin_msg_block, zip_builtin_msg_block_size, decoded, lang, name, used));
  EXPECT_EQ(lang, 0x0409);
  EXPECT_EQ(name, "US");
  EXPECT_EQ(used, zip_builtin_msg_block_size);
  EXPECT_EQ(decoded.size(), zip_builtin_msg_decoded_size);
  EXPECT_LT(decoded.size(), 50000u);
  // A block missing its last byte is not used.
  EXPECT_FALSE(
      ZipDecodeBlock(zip_builtin_msg_block, zip_builtin_msg_block_size - 1, decoded, lang, name, used));
}

TEST(ZipMessages, DamagedImagesGiveEmptyTexts) {
  std::vector<uint8_t> garbage(300, 0xFF);
  EXPECT_EQ(ZipResourceString(garbage, 10102), "");
  std::vector<uint8_t> tiny = {1, 0, 0, 0};
  EXPECT_EQ(ZipResourceString(tiny, 10102), "");
  EXPECT_EQ(ZipResourceString({}, 10102), "");
}

TEST(ZipMessages, LookupAndFormatting) {
  EXPECT_EQ(ZipLoadStr(10102), "Error - no zip file specified!");
  EXPECT_EQ(ZipLoadStr(10230), "Resource missing for 10230");
  EXPECT_EQ(ZipFmtLoadStr(10126, {std::string("kernel.bin"), 3LL}), "Skipped kernel.bin 3");
  EXPECT_EQ(ZipFmtLoadStr(11034, {2LL, 5LL}), "Please insert disk volume 2 of 5");
  EXPECT_EQ(ZipFmtLoadStr(10650, {std::string("a"), std::string("unused")}), "Failed to load a");
  EXPECT_EQ(ZipFmtLoadStr(10650, {}), "Failed to load %s");
  EXPECT_EQ(ZipFormat("%s %d%%", {std::string("x"), 7LL}), "x 7%");
}

TEST(ZipMessages, LanguageSelection) {
  EXPECT_FALSE(ZipSetLanguage("us"));
  EXPECT_EQ(ZipLanguageId(), "0x0409");
  // A language resource holding the built-in block relabelled as German.
  std::vector<uint8_t> de(zip_builtin_msg_block, zip_builtin_msg_block + zip_builtin_msg_block_size);
  de[0] = 0x07;
  de[1] = 0x04;
  de[6] = 'D';
  de[7] = 'E';
  ZipSetLanguageResource(de);
  EXPECT_TRUE(ZipSetLanguage("  de"));
  EXPECT_EQ(ZipLanguageId(), "0x0407");
  EXPECT_EQ(ZipLoadStr(10102), "Error - no zip file specified!");
  EXPECT_TRUE(ZipSetLanguage("1031"));
  EXPECT_TRUE(ZipSetLanguage("7"));  // primary language id
  EXPECT_FALSE(ZipSetLanguage("FR"));
  EXPECT_EQ(ZipLanguageId(), "0x0409");
  EXPECT_FALSE(ZipSetLanguage("70000"));
  EXPECT_FALSE(ZipSetLanguage("1033"));
  ZipSetLanguageResource({});
  EXPECT_FALSE(ZipSetLanguage("DE"));
  EXPECT_EQ(ZipLanguageId(), "0x0409");
}

TEST(ZipExceptions, ConstructorsCarryIdTextAndDisplay) {
  struct Row {
    EZipArchiver e;
    int id;
    const char *text;
    bool display;
  };
  const Row rows[] = {
      {EZipArchiver("plain"), 11049, "plain", true},
      {EZipArchiver("quiet", false), 0, "quiet", false},
      {EZipArchiver(10102, false), 10102, "Error - no zip file specified!", false},
      {EZipArchiver(10124, {ZipFmtArg(-9LL)}), 10124, "critical DLL Error -9", true},
      {EZipArchiver(10182, {std::string("a"), std::string("b")}), 10182,
       "Copying a file from 'a' to 'b' failed", true},
      {EZipAbort(), 11007, "User canceled operation", false},
  };
  for (auto &r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(r.e.MessageId(), r.id);
    EXPECT_EQ(r.e.Message(), r.text);
    EXPECT_EQ(r.e.Display(), r.display);
  }
  EZipArchiver sys = EZipArchiver::WithSystemError(10650, "lib.so", 2);
  EXPECT_EQ(sys.Message().rfind("Failed to load lib.so  <2 : ", 0), 0u) << sys.Message();
}

TEST(ZipHash, BucketSizes) {
  const std::pair<int, int> rows[] = {{0, 61},        {61, 61},       {62, 131},      {1000, 1031},
                                      {14999, 16411}, {15000, 14341}, {20000, 18433}, {40961, 32771},
                                      {40962, 40961}, {100000, 40961}};
  for (auto [n, size] : rows) {
    SCOPED_TRACE(n);
    EXPECT_EQ(ZipHashTableSize(n), size);
  }
  TZipDirHashList unsized;
  ZipDirEntry e;
  e.FileName = "x";
  unsized.Add(&e);
  EXPECT_EQ(unsized.BucketCount(), 1283);
}

TEST(ZipHash, HashFollowsItsRule) {
  EXPECT_EQ(ZipNameHash("a"), 65u);
  EXPECT_EQ(ZipNameHash("AB"), (65u << 4) + 66u);
  // Bytes above 127 count as negative values.
  EXPECT_EQ(ZipNameHash("\xE9"), (0xFFFFFFE9u & 0x0FFFFFFFu) ^ (0xF0000000u >> 24));
  // Long names fold the top nibble back in and stay below 2^28.
  EXPECT_LT(ZipNameHash(std::string(200, 'z')), 0x10000000u);
  EXPECT_EQ(ZipNameHash("Kernel.BIN"), ZipNameHash("kernel.bin"));
}

TEST(ZipHash, ManyEntriesFoundAndDuplicatesIgnoringCase) {
  std::vector<ZipDirEntry> entries(20000);
  TZipDirHashList index;
  index.SetCapacity(20000);
  EXPECT_EQ(index.BucketCount(), 18433);
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].FileName = "dir\\file" + std::to_string(i) + ".bin";
    EXPECT_EQ(index.Add(&entries[i]), &entries[i]);
  }
  for (size_t i = 0; i < entries.size(); i += 997)
    EXPECT_EQ(index.Find("DIR\\FILE" + std::to_string(i) + ".BIN"), &entries[i]);
  ZipDirEntry dup;
  dup.FileName = "Dir\\File5.bin";
  EXPECT_EQ(index.Add(&dup), &entries[5]);
  EXPECT_EQ(index.Find("nothere"), nullptr);
  index.Clear();
  EXPECT_EQ(index.Find("dir\\file5.bin"), nullptr);
}

TEST(ZipNames, FileNameMatch) {
  struct Row {
    const char *spec, *name;
    bool match;
  } rows[] = {
      {"*.*", "README", true},
      {"k*_???_auto.bin", "KERNEL_CFE_AUTO.BIN", true},
      {"img/kernel.bin", "img\\kernel.bin", true},
      {"*.bin", "kernel.jffs2", false},
      {"*.bin", "dir.bin\\kernel", false},
      {"kernel.*", "kernel", true},
      {"kernel.b*", "kernel", false},
      {"", "x", false},
      {"x", "", false},
      {"?", "\xC3\xA9", true},
      {"?.txt", "\xE2\x82\xAC.txt", true},
      // A stray continuation byte (names from the archive are not always valid UTF-8) is
      // a character of its own: such a name found by the fuzzer did not match itself.
      {"sub/boo\x0b?\x80"
       "ffs2",
       "sub\\boo\x0b?\x80"
       "ffs2",
       true},
      {"?", "b\x80", false},
      {"?", "\xF0\x9F\x98\x80", true},
      {"??", "\xC3\xA9", false},
      // "*" takes whole characters too: it cannot end inside the euro sign.
      {"*\xAC.txt", "\xE2\x82\xAC.txt", false},
      // A lead byte takes only the continuation bytes it announces; one more stands alone.
      {"?", "\xE2\x82\xAC\x80", false},
  };
  for (auto &r : rows) {
    SCOPED_TRACE(std::string(r.spec) + " ~ " + r.name);
    EXPECT_EQ(FileNameMatch(r.spec, r.name), r.match);
  }
}

}  // namespace
