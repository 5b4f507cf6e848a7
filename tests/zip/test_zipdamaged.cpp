// Damaged and hostile archives: each gives a clear error id and message, writes nothing
// outside the base directory and leaves no partial file behind.
#include "tests/zip/ziptestutil.h"
#include "zip/ziparchiver.h"

#include <functional>
#include <random>

using namespace ziptest;

namespace {

// Archive bytes are edited in place: position of the first occurrence of a signature.
size_t find_sig(const std::string &data, uint32_t sig) {
  std::string s(reinterpret_cast<const char *>(&sig), 4);
  return data.find(s);
}

std::string python_zip(const std::string &dir, const std::string &archive, const std::string &body) {
  std::string cmd = "cd " + quote(dir) +
                    " && python3 -c \"import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z:\n" +
                    body + "\" " + quote(archive);
  run(cmd);
  return read_file(fs::path(dir) / archive);
}

// The case's archive as Python's zipfile writes it from `body` (the lines inside the `with`).
std::function<void(const TempDir &, const std::string &)> by_python(const char *body) {
  return [body](const TempDir &t, const std::string &a) { python_zip(t.str(), a, body); };
}

// Zips `files` of the folder `t` into `archive` with zip's `flags`; the archive's bytes.
std::string zip_files(const TempDir &t, const std::string &archive, const std::string &flags,
                      const std::string &files) {
  run("cd " + t.str() + " && zip -q " + flags + quote(archive) + " " + files);
  return read_file(archive);
}

// k.bin (4000 'k', stored) and `more` zipped, with one byte inside k.bin's data changed.
void write_bad_crc_archive(const TempDir &t, const std::string &archive, const std::string &more = "") {
  write_file(t.path() / "k.bin", std::string(4000, 'k'));
  std::string d = zip_files(t, archive, "-0 ", "k.bin" + more);
  d[find_sig(d, 0x04034B50u) + 30 + 5 + 100] = 'X';
  write_file(archive, d);
}

// Hostile archives written byte by byte (entries sharing data, too many, too large).
void craft(const std::string &kind, const std::string &archive, const std::string &args = "") {
  run("python3 " + quote(std::string(ZEVAVI_SOURCE_DIR) + "/tests/zip/zipcraft.py") + " " + kind + " " +
      quote(archive) + " " + args);
}

struct DamageCase {
  const char *name;
  // Writes the damaged archive; returns false when it could not be made.
  std::function<void(const TempDir &, const std::string &archive)> make;
  bool dir_names;
  int err_code;                             // what Extract returns
  const char *message;                      // part of ErrMessage
  std::vector<std::string> expected_files;  // what may exist in the base directory afterwards
  friend void PrintTo(const DamageCase &c, std::ostream *os) { *os << c.name; }
};

const DamageCase kCases[] = {
    {"truncated_half",
     [](const TempDir &t, const std::string &a) {
       write_file(t.path() / "k.bin", sample_bytes(100000, 3));
       std::string d = zip_files(t, a, "", "k.bin");
       write_file(a, d.substr(0, d.size() / 2));
     },
     false,
     11036,
     "This archive is not a valid Zip archive",
     {}},
    {"bad_central_signature",
     [](const TempDir &t, const std::string &a) {
       write_file(t.path() / "k.bin", sample_bytes(5000, 4));
       std::string d = zip_files(t, a, "", "k.bin");
       d[find_sig(d, 0x02014B50u)] = 'X';
       write_file(a, d);
     },
     false,
     10102,
     "Error - no zip file specified!",
     {}},
    {"bad_crc_stored",
     [](const TempDir &t, const std::string &a) {
       write_file(t.path() / "ok.bin", "fine");
       write_bad_crc_archive(t, a, " ok.bin");
     },
     false,
     3,
     "CRC error in 'k.bin'",
     {"ok.bin"}},
    {"corrupt_deflate_data",
     [](const TempDir &t, const std::string &a) {
       write_file(t.path() / "k.bin", sample_bytes(60000, 5));
       std::string d = zip_files(t, a, "-9 ", "k.bin");
       size_t data = find_sig(d, 0x04034B50u) + 30 + 5;
       for (size_t i = 0; i < 64; ++i)
         d[data + 200 + i] = static_cast<char>(0xFF);
       write_file(a, d);
     },
     false,
     2,
     "k.bin",
     {}},
    {"local_header_missing",
     [](const TempDir &t, const std::string &a) {
       write_file(t.path() / "k.bin", "data");
       std::string d = zip_files(t, a, "", "k.bin");
       d[0] = 'Q';
       write_file(a, d);
     },
     false,
     2,
     "A local header signature is wrong",
     {}},
    {"escaping_names_flat",
     by_python("  z.writestr('../evil.txt','x')\n  z.writestr('/tmp/abs_evil.txt','x')\n"
               "  z.writestr('C:/drive_evil.txt','x')\n  z.writestr('a/../../up.txt','x')\n"
               "  z.writestr('good.txt','ok')\n"),
     false,
     5,
     "Invalid name '",
     {"good.txt"}},
    {"escaping_names_with_folders",
     by_python("  z.writestr('../evil.txt','x')\n  z.writestr('sub/../../up.txt','x')\n"
               "  z.writestr('sub/good.txt','ok')\n"),
     true,
     5,
     "Invalid name '",
     {"sub/good.txt"}},
    {"unsupported_method_bzip2",
     by_python("  z.writestr('b.bin','b'*1000, compress_type=zipfile.ZIP_BZIP2)\n"
               "  z.writestr('good.txt','ok')\n"),
     false,
     4,
     "unsupported compression for 'b.bin'",
     {"good.txt"}},
    {"not_a_zip",
     [](const TempDir &, const std::string &a) { write_file(a, "KXB" + std::string(5000, '\x01')); },
     false,
     11036,
     "This archive is not a valid Zip archive",
     {}},
    // 32 directory records naming one compressed blob: a few KB that would unpack 32 times.
    {"bomb_entries_share_data",
     [](const TempDir &, const std::string &a) { craft("shared", a, "32"); },
     false,
     2,
     "Overlapping entries 'p00.bin' and 'p01.bin'",
     {}},
    {"bomb_entry_inside_another",
     [](const TempDir &, const std::string &a) { craft("inside", a); },
     false,
     2,
     "Overlapping entries 'a.bin' and 'b.bin'",
     {}},
    {"entry_runs_into_directory",
     [](const TempDir &, const std::string &a) { craft("into_cd", a); },
     false,
     2,
     "Entry 'k.bin' overlaps the central directory",
     {}},
    {"too_many_entries",
     [](const TempDir &, const std::string &a) { craft("many", a, "1001"); },
     false,
     12,
     "Too many entries: 1001, at most 1000 are extracted",
     {}},
    {"too_much_data",
     [](const TempDir &, const std::string &a) { craft("huge", a); },
     false,
     12,
     "Too much data to extract: 1258291200 bytes, at most 1073741824",
     {}},
    {"empty_archive",
     [](const TempDir &, const std::string &a) {
       write_file(a, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
     },
     false,
     11002,
     "Zip file could not be opened",
     {}},
};

// Extraction leaves the process in the base folder, which each case's TempDir then removes;
// the next case's tools must not start in a deleted folder.
struct BackToTempAfterEachCase : ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo &) override { fs::current_path(fs::temp_directory_path()); }
};
const bool back_to_temp = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new BackToTempAfterEachCase);
  return true;
}();

class DamagedArchive : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedArchive, ClearErrorAndNothingOutsideBase) {
  ASSERT_TRUE(have_tools());
  const DamageCase &c = GetParam();
  TempDir tmp;
  std::string archive = tmp.str("in/a.zip");
  fs::create_directories(tmp.path() / "in");
  fs::create_directories(tmp.path() / "jail/base");
  c.make(tmp, archive);

  TZipArchiver zip;
  zip.SetUnattended(true);
  std::vector<std::string> messages;
  zip.OnMessage() = [&](TCustomZipArchiver *, int, const std::string &m) { messages.push_back(m); };
  zip.SetZipFileName(archive);
  zip.SetExtrBaseDir(tmp.str("jail/base"));
  ExtrOpts opts{ExtrOverWrite};
  if (c.dir_names)
    opts.Include(ExtrDirNames);
  zip.SetExtrOptions(opts);
  int rc = zip.Extract();
  EXPECT_EQ(rc, c.err_code) << zip.ErrMessage();
  EXPECT_EQ(zip.ErrCode(), c.err_code);
  bool found = zip.ErrMessage().find(c.message) != std::string::npos;
  for (auto &m : messages)
    found = found || m.find(c.message) != std::string::npos;
  EXPECT_TRUE(found) << "ErrMessage: " << zip.ErrMessage();

  auto base = tree(tmp.path() / "jail/base");
  std::vector<std::string> names;
  for (auto &[n, d] : base)
    names.push_back(n);
  EXPECT_EQ(names, c.expected_files);
  // Nothing beside the base directory, nothing new in /tmp's top level from this archive.
  auto jail = tree(tmp.path() / "jail");
  EXPECT_EQ(jail.size(), base.size());
  EXPECT_FALSE(fs::exists("/tmp/abs_evil.txt"));
  EXPECT_FALSE(fs::exists(tmp.path() / "evil.txt"));
  EXPECT_FALSE(fs::exists(tmp.path() / "jail/evil.txt"));
  EXPECT_FALSE(fs::exists(tmp.path() / "jail/up.txt"));
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedArchive, ::testing::ValuesIn(kCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(DamagedArchiveDetails, RefusedNameCarriesItsMessageNumber) {
  TempDir tmp;
  python_zip(tmp.str(), "a.zip", "  z.writestr('../evil.txt','x')\n");
  TZipArchiver zip;
  zip.SetUnattended(true);
  zip.SetZipFileName(tmp.str("a.zip"));
  fs::create_directories(tmp.path() / "base");
  zip.SetExtrBaseDir(tmp.str("base"));
  EXPECT_EQ(zip.Extract(), 5);
  EXPECT_EQ(zip.FullErrCode() >> 8, 11350);
  EXPECT_EQ(zip.ErrMessage(), "Invalid name '../evil.txt'");
}

TEST(DamagedArchiveDetails, CrcHandlerMayKeepTheFile) {
  TempDir tmp;
  write_bad_crc_archive(tmp, tmp.str("a.zip"));
  fs::create_directories(tmp.path() / "base");
  TZipArchiver zip;
  zip.SetUnattended(true);
  uint32_t found = 0, expected = 0;
  zip.Events().OnCRC32Error = [&](TCustomZipArchiver *, const std::string &f, uint32_t fc, uint32_t ec,
                                  bool &keep) {
    EXPECT_EQ(f, "k.bin");
    found = fc;
    expected = ec;
    keep = true;
  };
  zip.SetZipFileName(tmp.str("a.zip"));
  zip.SetExtrBaseDir(tmp.str("base"));
  EXPECT_EQ(zip.Extract(), 3);
  EXPECT_NE(found, expected);
  EXPECT_EQ(expected, zip.DirEntry(0)->Crc32);
  EXPECT_EQ(read_file(tmp.path() / "base/k.bin").size(), 4000u);
}

// A failed entry never destroys the file it would have replaced.
TEST(DamagedArchiveDetails, ExistingFileSurvivesDamagedEntry) {
  TempDir tmp;
  write_bad_crc_archive(tmp, tmp.str("a.zip"));
  write_file(tmp.path() / "base/k.bin", "previous");
  TZipArchiver zip;
  zip.SetUnattended(true);
  zip.SetZipFileName(tmp.str("a.zip"));
  zip.SetExtrBaseDir(tmp.str("base"));
  zip.SetExtrOptions(ExtrOpts{ExtrOverWrite});
  EXPECT_EQ(zip.Extract(), 3);
  EXPECT_EQ(read_file(tmp.path() / "base/k.bin"), "previous");
  EXPECT_EQ(tree(tmp.path() / "base").size(), 1u);  // no temporary file left behind
}

// Random damage anywhere in the archive: no crash, nothing outside the base directory, no
// temporary file left behind, and every file that is written is a complete entry.
TEST(DamagedArchiveDetails, RandomDamageStaysContained) {
  ASSERT_TRUE(have_tools());
  TempDir tmp;
  write_file(tmp.path() / "src/a/kernel.bin", sample_bytes(40000, 50));
  write_file(tmp.path() / "src/b.txt", "short text entry\n");
  write_file(tmp.path() / "src/a/c/root.bin", sample_bytes(9000, 51));
  run("cd " + tmp.str("src") + " && zip -q -r ../good.zip a b.txt");
  const std::string good = read_file(tmp.path() / "good.zip");
  auto originals = tree(tmp.path() / "src");
  std::mt19937 gen(1234);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    std::string bad = good;
    if (round % 5 == 4) {
      bad.resize(gen() % bad.size());
    } else {
      int flips = 1 + static_cast<int>(gen() % 8);
      for (int i = 0; i < flips; ++i)
        bad[gen() % bad.size()] = static_cast<char>(gen());
    }
    fs::remove_all(tmp.path() / "jail");
    fs::create_directories(tmp.path() / "jail/base");
    write_file(tmp.path() / "in.zip", bad);
    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetZipFileName(tmp.str("in.zip"));
    zip.SetExtrBaseDir(tmp.str("jail/base"));
    zip.SetExtrOptions(ExtrOpts{ExtrDirNames, ExtrOverWrite});
    zip.Extract();
    auto jail = tree(tmp.path() / "jail");
    for (auto &[name, content] : jail) {
      ASSERT_EQ(name.rfind("base/", 0), 0u) << name;
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
      // A damaged byte may rename an entry, never let a corrupt body through the CRC check.
      bool is_original = false;
      for (auto &[oname, ocontent] : originals)
        is_original = is_original || ocontent == content;
      EXPECT_TRUE(is_original) << name;
    }
  }
}

}  // namespace
