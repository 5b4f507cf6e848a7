// Archives made by real archivers (Info-ZIP zip, python3 zipfile, bsdtar): the component's directory
// must agree with `unzip -l`, and its extraction with `unzip`, byte for byte.
#include "tests/zip/ziptestutil.h"
#include "zip/ziparchiver.h"

#include <algorithm>
#include <functional>

using namespace ziptest;

namespace {

struct RealCase {
  const char *name;
  // Builds the archive from the files in `src` into `archive`.
  std::function<void(const TempDir &, const std::string &archive)> make;
  const char *password;
};

void add_sources(const TempDir &t) {
  write_file(t.path() / "src/kernel_cfe_auto.bin", sample_bytes(300000, 1));
  write_file(t.path() / "src/img/root_cfe_auto.jffs2", sample_bytes(120000, 2));
  write_file(t.path() / "src/img/empty.txt", "");
  write_file(t.path() / "src/notes.txt", "boot notes\n");
}

std::string zip_in_src(const std::string &args, const std::string &archive) {
  return "cd src && zip -q " + args + " " + quote(archive) +
         " kernel_cfe_auto.bin img/root_cfe_auto.jffs2 img/empty.txt notes.txt";
}

const RealCase kCases[] = {
    {"deflate",
     [](const TempDir &t, const std::string &a) { run("cd " + t.str() + " && " + zip_in_src("-9", a)); }, ""},
    {"stored",
     [](const TempDir &t, const std::string &a) { run("cd " + t.str() + " && " + zip_in_src("-0", a)); }, ""},
    {"folder_recursive",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + "/src && zip -q -r " + quote(a) + " .");
     },
     ""},
    {"comment",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + " && " + zip_in_src("", a));
       run("printf 'archive comment line' | zip -q -z " + quote(a));
     },
     ""},
    {"encrypted",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + " && " + zip_in_src("-P s3cret", a));
     },
     "s3cret"},
    {"python_zipfile",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() +
           "/src && python3 -c \"import zipfile,sys\n"
           "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
           "  z.write('kernel_cfe_auto.bin'); z.write('img/root_cfe_auto.jffs2')\n"
           "  z.write('notes.txt', compress_type=zipfile.ZIP_STORED)\" " +
           quote(a));
     },
     ""},
    {"garbage_appended",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + " && " + zip_in_src("", a));
       run("printf '0123456789' >> " + quote(a));
     },
     ""},
    {"stub_4096",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + " && " + zip_in_src("", "plain.zip"));
       run("cd " + t.str() +
           "/src && head -c 4096 /dev/zero | tr '\\0' 'S' > ../stub && cat ../stub plain.zip > " + quote(a));
     },
     ""},
    {"directory_entry",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + "/src && zip -q " + quote(a) + " img/ img/root_cfe_auto.jffs2");
     },
     ""},
    {"case_differing",
     [](const TempDir &t, const std::string &a) {
       write_file(t.path() / "src/case/README", "upper\n");
       write_file(t.path() / "src/case/readme", "lower\n");
       run("cd " + t.str() + "/src/case && zip -q " + quote(a) + " README readme");
     },
     ""},
    {"bsdtar",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + "/src && bsdtar --format zip -cf " + quote(a) +
           " kernel_cfe_auto.bin img/root_cfe_auto.jffs2 img/empty.txt notes.txt");
     },
     ""},
    {"bsdtar_stored",
     [](const TempDir &t, const std::string &a) {
       run("cd " + t.str() + "/src && bsdtar --format zip --options zip:compression=store -cf " + quote(a) +
           " kernel_cfe_auto.bin img/root_cfe_auto.jffs2 img/empty.txt notes.txt");
     },
     ""},
};

class RealArchive : public ::testing::TestWithParam<RealCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(have_tools()) << "zip, unzip, python3 and bsdtar are installed by scripts/setup.sh";
    add_sources(tmp_);
    archive_ = tmp_.str("a.zip");
    GetParam().make(tmp_, archive_);
    ASSERT_TRUE(fs::exists(archive_));
    zip_.SetUnattended(true);
    zip_.SetPassword(GetParam().password);
    zip_.OnMessage() = [this](TCustomZipArchiver *, int code, const std::string &text) {
      messages_.push_back({code, text});
    };
  }
  TempDir tmp_;
  std::string archive_;
  TZipArchiver zip_;
  std::vector<std::pair<int, std::string>> messages_;
};

TEST_P(RealArchive, DirectoryMatchesUnzipList) {
  zip_.SetVerbose(true);
  zip_.SetZipFileName(archive_);
  ASSERT_EQ(zip_.ZipFileName(), archive_) << (messages_.empty() ? "" : messages_.back().second);
  std::vector<Listed> expected = unzip_list(archive_);
  ASSERT_FALSE(expected.empty());
  std::vector<Listed> files;
  int dirs = 0;
  for (auto &l : expected) {
    if (!l.name.empty() && l.name.back() == '/')
      ++dirs;
    else
      files.push_back(l);
  }
  ASSERT_EQ(zip_.Count(), static_cast<int>(files.size()));
  EXPECT_EQ(zip_.DirOnlyCount(), dirs);
  for (int i = 0; i < zip_.Count(); ++i) {
    std::string name = zip_.DirEntry(i)->FileName;
    std::replace(name.begin(), name.end(), '\\', '/');
    EXPECT_EQ(name, files[static_cast<size_t>(i)].name);
    EXPECT_EQ(zip_.DirEntry(i)->UncompressedSize, files[static_cast<size_t>(i)].size);
    EXPECT_EQ(zip_.DirEntry(i)->Encrypted, *GetParam().password != 0);
  }
}

TEST_P(RealArchive, ExtractionMatchesUnzip) {
  for (bool dir_names : {true, false}) {
    SCOPED_TRACE(dir_names ? "with folder names" : "folder names dropped");
    std::string ours = tmp_.str(dir_names ? "ours_d" : "ours_j");
    std::string theirs = tmp_.str(dir_names ? "theirs_d" : "theirs_j");
    fs::create_directories(ours);
    fs::create_directories(theirs);
    zip_.SetZipFileName(archive_);
    zip_.SetExtrBaseDir(ours);
    ExtrOpts opts{ExtrOverWrite};
    if (dir_names)
      opts.Include(ExtrDirNames);
    zip_.SetExtrOptions(opts);
    int rc = zip_.Extract();
    EXPECT_EQ(rc, 0) << zip_.ErrMessage();
    std::string pw = GetParam().password;
    run(std::string("unzip -qq -o ") + (dir_names ? "" : "-j ") + (pw.empty() ? "" : "-P " + pw + " ") +
        quote(archive_) + " -d " + quote(theirs));
    auto a = tree(ours), b = tree(theirs);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(a.size(), b.size());
    for (auto &[name, content] : b) {
      ASSERT_TRUE(a.count(name)) << name;
      EXPECT_TRUE(a[name] == content) << name << " differs";
    }
    EXPECT_EQ(zip_.SuccessCnt(), static_cast<int>(b.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, RealArchive, ::testing::ValuesIn(kCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

class RealArchiveDetails : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(have_tools());
    add_sources(tmp_);
    zip_.SetUnattended(true);
    zip_.OnMessage() = [this](TCustomZipArchiver *, int code, const std::string &text) {
      messages_.push_back({code, text});
    };
  }
  bool said(const std::string &text) const {
    for (auto &m : messages_)
      if (m.second.find(text) != std::string::npos)
        return true;
    return false;
  }
  TempDir tmp_;
  TZipArchiver zip_;
  std::vector<std::pair<int, std::string>> messages_;
};

TEST_F(RealArchiveDetails, CommentIsRead) {
  RealCase c = kCases[3];
  c.make(tmp_, tmp_.str("c.zip"));
  zip_.SetZipFileName(tmp_.str("c.zip"));
  EXPECT_EQ(zip_.ZipComment(), "archive comment line");
}

TEST_F(RealArchiveDetails, GarbageIsReportedWhenVerbose) {
  kCases[6].make(tmp_, tmp_.str("g.zip"));
  zip_.SetVerbose(true);
  zip_.SetZipFileName(tmp_.str("g.zip"));
  EXPECT_EQ(zip_.Count(), 4);
  EXPECT_TRUE(said("Warning - Garbage at the end of the zipfile!"));
  EXPECT_EQ(zip_.SFXOffset(), 0);
}

TEST_F(RealArchiveDetails, StubGivesOffsetAndStructureWarning) {
  kCases[7].make(tmp_, tmp_.str("s.zip"));
  zip_.SetZipFileName(tmp_.str("s.zip"));
  EXPECT_EQ(zip_.Count(), 4);
  EXPECT_EQ(zip_.SFXOffset(), 4096);
  EXPECT_TRUE(said("Warning - Error in zip structure!"));
}

TEST_F(RealArchiveDetails, DirectoryEntryDroppedOrKept) {
  kCases[8].make(tmp_, tmp_.str("d.zip"));
  zip_.SetZipFileName(tmp_.str("d.zip"));
  EXPECT_EQ(zip_.Count(), 1);
  EXPECT_EQ(zip_.DirOnlyCount(), 1);
  EXPECT_EQ(zip_.DirEntry(0)->FileName, "img\\root_cfe_auto.jffs2");
  zip_.SetUseDirOnlyEntries(true);
  zip_.List();
  EXPECT_EQ(zip_.Count(), 2);
}

TEST_F(RealArchiveDetails, CaseDifferingNamesBothKeptIndexFindsFirst) {
  kCases[9].make(tmp_, tmp_.str("k.zip"));
  zip_.SetZipFileName(tmp_.str("k.zip"));
  ASSERT_EQ(zip_.Count(), 2);
  EXPECT_EQ(zip_.GetEntry("readme"), zip_.DirEntry(0));
  EXPECT_EQ(zip_.GetEntry("README"), zip_.DirEntry(0));
  EXPECT_EQ(zip_.IndexOf("readme"), 0);
}

TEST_F(RealArchiveDetails, QueryZipBits) {
  write_file(tmp_.path() / "stub.bin", "MZ" + std::string(4094, 'x'));
  run("cd " + tmp_.str("src") + " && zip -q ../plain.zip kernel_cfe_auto.bin notes.txt");
  run("cd " + tmp_.str() + " && cp plain.zip tail.zip && printf 'garbage!!!' >> tail.zip");
  run("cd " + tmp_.str() +
      " && cat stub.bin plain.zip > raw_sfx.exe && cp raw_sfx.exe fixed_sfx.exe && zip -q -A fixed_sfx.exe");
  write_file(tmp_.path() / "tiny.bin", "PK\x03\x04");
  struct Row {
    const char *file;
    int bits;
    bool sfx;
  } rows[] = {
      {"plain.zip", 0x02 | 0x80 | 0x10 | 0x40 | 0x20, false},
      {"tail.zip", 0x02 | 0x80 | 0x40 | 0x20, false},
      {"raw_sfx.exe", 0x01 | 0x80 | 0x10, false},  // offsets ignore the stub
      {"fixed_sfx.exe", 0x01 | 0x80 | 0x10 | 0x40 | 0x20, true},
      {"tiny.bin", 0x02, false},
      {"absent.zip", -7, false},
  };
  for (auto &r : rows) {
    SCOPED_TRACE(r.file);
    EXPECT_EQ(TZAWorker::QueryZip(tmp_.str(r.file)), r.bits);
    EXPECT_EQ(zip_.IsZipSFX(tmp_.str(r.file)), r.sfx);
  }
}

}  // namespace
