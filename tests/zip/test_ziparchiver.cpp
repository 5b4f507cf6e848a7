// The component's facade: the operation bracket, re-entry, error properties, the request it
// builds and the callback answers it gives.
#include "tests/zip/ziptestutil.h"
#include "zip/ziparchiver.h"

#include <zlib.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <set>
#include <QTimer>

using namespace ziptest;

namespace {

class ArchiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(have_tools());
    write_file(tmp_.path() / "src/img/kernel_cfe_auto.bin", sample_bytes(700000, 7));
    write_file(tmp_.path() / "src/root_cfe_auto.jffs2", sample_bytes(90000, 8));
    run("cd " + tmp_.str("src") + " && zip -q -r ../a.zip .");
    fs::create_directories(tmp_.path() / "base");
    zip_.OnMessage() = [this](TCustomZipArchiver *, int code, const std::string &m) {
      messages_.push_back({code, m});
    };
    zip_.OnZipDialog() = [this](TCustomZipArchiver *, const std::string &, std::string &msg, int &ctx,
                                TMsgDlgButtons) {
      boxes_.push_back(msg);
      ctx = 1;  // answered OK: no box blocks a test
    };
  }
  // Extract leaves the process in the base directory, which the fixture deletes.
  void TearDown() override { fs::current_path(fs::temp_directory_path()); }
  TempDir tmp_;
  TZipArchiver zip_;
  std::vector<std::pair<int, std::string>> messages_;
  std::vector<std::string> boxes_;
};

TEST_F(ArchiverTest, NoFileGives10102WithBoxUnlessUnattended) {
  EXPECT_EQ(zip_.Extract(), 10102);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "Error - no zip file specified!");
  EXPECT_EQ(zip_.ErrMessage(), "Error - no zip file specified!");
  zip_.SetUnattended(true);
  EXPECT_EQ(zip_.Extract(), 10102);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(messages_.back().first, 10102);
}

TEST_F(ArchiverTest, ReentryFromOnProgressIsRefused) {
  int inner = 0;
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  zip_.OnProgress() = [&](TCustomZipArchiver *z, ProgressType, const std::string &, int64_t) {
    if (inner == 0)
      inner = z->Extract();
  };
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(inner, -255);
  EXPECT_NE(zip_.ErrCode() & 0x04000000, 0);
  EXPECT_EQ(zip_.ErrMessage().rfind("Busy + ", 0), 0u) << zip_.ErrMessage();
  EXPECT_TRUE(fs::exists(tmp_.path() / "base/kernel_cfe_auto.bin"));
  // The next successful start clears the mark.
  zip_.OnProgress() = nullptr;
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(zip_.ErrCode(), 0);
}

TEST_F(ArchiverTest, FSpecArgsEmptyAfterExtract) {
  zip_.SetUnattended(true);
  for (bool valid : {true, false}) {
    zip_.SetZipFileName(valid ? tmp_.str("a.zip") : std::string());
    zip_.SetExtrBaseDir(tmp_.str("base"));
    zip_.FSpecArgs() = {"root_cfe_auto.jffs2", "nothing*"};
    zip_.Extract();
    EXPECT_TRUE(zip_.FSpecArgs().empty());
  }
}

TEST_F(ArchiverTest, FilePatternsSelectEntries) {
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  zip_.FSpecArgs() = {"root_*"};
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(tree(tmp_.path() / "base").size(), 1u);
  // "*.*" first means everything; "*.* " is a pattern of its own that matches nothing.
  zip_.SetExtrOptions(ExtrOpts{ExtrOverWrite});
  zip_.FSpecArgs() = {"*.*"};
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(zip_.SuccessCnt(), 2);
  zip_.FSpecArgs() = {"*.* "};
  EXPECT_EQ(zip_.Extract(), 11);
  EXPECT_EQ(zip_.SuccessCnt(), 0);
}

// A pattern finds in the listing exactly the entries that extracting with it writes: both
// sides match by one rule, in which "?" is one UTF-8 character.
TEST_F(ArchiverTest, PatternsFindAndExtractTheSameEntries) {
  const std::vector<std::string> names = {
      "a.txt", "ab.txt", "\xE2\x82\xAC.txt", "\xC3\xA9\xE2\x82\xAC.txt", "kernel", "kernel.bin", "sub/x.bin"};
  std::string cmd = "python3 -c " +
                    quote(
                        "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                        "    for n in sys.argv[2:]: z.writestr(n, n)\n") +
                    " " + quote(tmp_.str("p.zip"));
  for (auto &n : names)
    cmd += " " + quote(n);
  ASSERT_EQ(run(cmd), 0);
  struct Row {
    const char *spec;
    std::set<std::string> picked;
  } rows[] = {
      {"?.txt", {"a.txt", "\xE2\x82\xAC.txt"}},
      {"??.txt", {"ab.txt", "\xC3\xA9\xE2\x82\xAC.txt"}},
      {"kernel.*", {"kernel", "kernel.bin"}},
      {"KERNEL", {"kernel"}},
      {"sub\\*", {"sub/x.bin"}},
  };
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("p.zip"));
  zip_.SetExtrOptions(ExtrOpts{ExtrDirNames});
  for (auto &r : rows) {
    SCOPED_TRACE(r.spec);
    std::set<std::string> found;
    for (int i = -1; zip_.Find(r.spec, i);) {
      std::string name = zip_.DirEntry(i)->FileName;
      std::replace(name.begin(), name.end(), '\\', '/');
      found.insert(name);
    }
    EXPECT_EQ(found, r.picked);
    fs::path base = tmp_.path() / "out" / std::to_string(&r - rows);
    fs::create_directories(base);
    zip_.SetExtrBaseDir(base.string());
    zip_.FSpecArgs() = {r.spec};
    EXPECT_EQ(zip_.Extract(), 0);
    std::set<std::string> written;
    for (auto &file : tree(base))
      written.insert(file.first);
    EXPECT_EQ(written, r.picked);
  }
}

TEST_F(ArchiverTest, MissingBaseDirectoryIs10504) {
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("nowhere"));
  EXPECT_EQ(zip_.Extract(), 10504);
  EXPECT_NE(zip_.ErrMessage().find("Extract directory '"), std::string::npos);
  EXPECT_NE(zip_.ErrMessage().find("nowhere/' must exist"), std::string::npos) << zip_.ErrMessage();
  zip_.SetExtrOptions(ExtrOpts{ExtrForceDirs});
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_TRUE(fs::exists(tmp_.path() / "nowhere/kernel_cfe_auto.bin"));
  EXPECT_EQ(fs::current_path(), fs::path(tmp_.str("nowhere")));
}

TEST_F(ArchiverTest, ExistingFileNotOverwrittenWithoutOption) {
  write_file(tmp_.path() / "base/root_cfe_auto.jffs2", "old");
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  int asked = 0;
  zip_.Events().OnExtractOverwrite = [&](TCustomZipArchiver *, const std::string &f, bool, bool &ow, int) {
    ++asked;
    EXPECT_EQ(f, "root_cfe_auto.jffs2");
    ow = false;
  };
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(read_file(tmp_.path() / "base/root_cfe_auto.jffs2"), "old");
  zip_.SetExtrOptions(ExtrOpts{ExtrOverWrite});
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(read_file(tmp_.path() / "base/root_cfe_auto.jffs2") ==
              read_file(tmp_.path() / "src/root_cfe_auto.jffs2"));
}

TEST_F(ArchiverTest, FreshenUpdateAndTestOnly) {
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 5);
  auto new_time = fs::file_time_type::clock::now() + std::chrono::hours(24);
  const fs::path root = tmp_.path() / "base/root_cfe_auto.jffs2",
                 kernel = tmp_.path() / "base/kernel_cfe_auto.bin";
  struct Row {
    const char *name;
    ExtrOpts opts;
    bool root_exists, root_old, expect_root_replaced, expect_kernel;
  } rows[] = {
      // Replacing still needs ExtrOverWrite (or a yes to the overwrite question), as with unzip -f/-u.
      {"freshen replaces older, creates nothing", ExtrOpts{ExtrFreshen, ExtrOverWrite}, true, true, true,
       false},
      {"freshen without overwrite asks, unanswered keeps", ExtrOpts{ExtrFreshen}, true, true, false, false},
      {"freshen keeps newer", ExtrOpts{ExtrFreshen, ExtrOverWrite}, true, false, false, false},
      {"update creates missing, replaces older", ExtrOpts{ExtrUpdate, ExtrOverWrite}, true, true, true, true},
      {"update keeps newer", ExtrOpts{ExtrUpdate, ExtrFreshen, ExtrOverWrite}, true, false, false, true},
      {"test only writes nothing", ExtrOpts{ExtrTest, ExtrOverWrite}, false, false, false, false},
  };
  for (auto &r : rows) {
    SCOPED_TRACE(r.name);
    fs::remove_all(tmp_.path() / "base");
    fs::create_directories(tmp_.path() / "base");
    if (r.root_exists) {
      write_file(root, "disk copy");
      fs::last_write_time(root, r.root_old ? old_time : new_time);
    }
    zip_.SetExtrOptions(r.opts);
    EXPECT_EQ(zip_.Extract(), 0) << zip_.ErrMessage();
    if (r.root_exists)
      EXPECT_EQ(read_file(root) != "disk copy", r.expect_root_replaced);
    else
      EXPECT_FALSE(fs::exists(root));
    EXPECT_EQ(fs::exists(kernel), r.expect_kernel);
    if (r.opts.Has(ExtrTest)) {
      EXPECT_EQ(zip_.SuccessCnt(), 2);
    }
  }
}

TEST_F(ArchiverTest, ExtractedNameMayBeChangedButNotOutOfTheBase) {
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  std::vector<std::string> seen;
  zip_.Events().OnSetExtName = [&](TCustomZipArchiver *, std::string &name, bool &changed) {
    seen.push_back(name);
    name = name == "root_cfe_auto.jffs2" ? "renamed.jffs2" : "..\\escaped.bin";
    changed = true;
  };
  EXPECT_EQ(zip_.Extract(), 5);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_TRUE(fs::exists(tmp_.path() / "base/renamed.jffs2"));
  EXPECT_FALSE(fs::exists(tmp_.path() / "escaped.bin"));
  EXPECT_EQ(tree(tmp_.path() / "base").size(), 1u);
}

TEST_F(ArchiverTest, PropertyRules) {
  zip_.SetPasswordReqCount(40);
  EXPECT_EQ(zip_.PasswordReqCount(), 15u);
  zip_.SetPasswordReqCount(0);
  EXPECT_EQ(zip_.PasswordReqCount(), 0u);
  zip_.SetVersion("9.9");
  EXPECT_EQ(zip_.Version(), "1.79.10.32");
  EXPECT_EQ(TCustomZipArchiver::TheErrorCode(0x7C000005), 5);
  EXPECT_EQ(TCustomZipArchiver::AppendSlash("a/b"), "a/b/");
  EXPECT_EQ(TCustomZipArchiver::AppendSlash("c:\\x"), "c:\\x\\");
  EXPECT_EQ(TCustomZipArchiver::AppendSlash("x"), "x\\");
  zip_.SetActive(false);
  EXPECT_EQ(zip_.ErrCode(), 10109);
  EXPECT_EQ(zip_.ErrMessage(), "not Active");
  EXPECT_EQ(zip_.Extract(), -255);
  zip_.SetActive(true);
  EXPECT_EQ(zip_.ErrCode(), 0);
}

TEST_F(ArchiverTest, LoadingDefersTheDirectoryRead) {
  zip_.BeginLoad();
  zip_.SetZipFileName(tmp_.str("a.zip"));
  EXPECT_EQ(zip_.Extract(), -256);
  zip_.Loaded();
  EXPECT_EQ(zip_.Count(), 2);
}

TEST_F(ArchiverTest, ZipFileNameWhileBusyOnlyMarksReentry) {
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  bool once = false;
  zip_.OnProgress() = [&](TCustomZipArchiver *z, ProgressType, const std::string &, int64_t) {
    if (!once) {
      once = true;
      z->SetZipFileName("/elsewhere.zip");
    }
  };
  zip_.Extract();
  EXPECT_EQ(zip_.ZipFileName(), tmp_.str("a.zip"));
  EXPECT_NE(zip_.ErrCode() & 0x04000000, 0);
}

TEST_F(ArchiverTest, PasswordFromHandlerAndWrongPassword) {
  write_file(tmp_.path() / "p/secret.bin", sample_bytes(20000, 9));
  run("cd " + tmp_.str("p") + " && zip -q -P letmein ../p.zip secret.bin");
  zip_.SetZipFileName(tmp_.str("p.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  zip_.SetPasswordReqCount(3);
  int asked = 0;
  zip_.Events().OnPasswordError = [&](TCustomZipArchiver *, bool zipping, std::string &pw,
                                      const std::string &f, unsigned &repeat, TMsgDlgBtn &act) {
    EXPECT_FALSE(zipping);
    EXPECT_EQ(f, "secret.bin");
    ++asked;
    pw = asked == 1 ? "wrong" : "letmein";
    repeat = 20;
    act = mbOK;
  };
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(read_file(tmp_.path() / "base/secret.bin") == read_file(tmp_.path() / "p/secret.bin"));
  zip_.Events().OnPasswordError = [&](TCustomZipArchiver *, bool, std::string &pw, const std::string &,
                                      unsigned &, TMsgDlgBtn &act) {
    pw = "nope";
    act = mbCancel;
  };
  fs::remove(tmp_.path() / "base/secret.bin");
  EXPECT_EQ(zip_.Extract(), 7);
  EXPECT_FALSE(fs::exists(tmp_.path() / "base/secret.bin"));
}

// Traditional encryption checks a password against one header byte, so one wrong password
// in 256 passes that check; it must be asked again, not fail the entry as damaged.
TEST_F(ArchiverTest, WrongPasswordPassingTheCheckByteIsAskedAgain) {
  write_file(tmp_.path() / "p/secret.bin", sample_bytes(30000, 12));
  run("cd " + tmp_.str("p") + " && zip -q -P letmein ../p.zip secret.bin");
  std::string z = read_file(tmp_.path() / "p.zip");
  auto le16 = [&](size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(z[at]) |
                                 (static_cast<unsigned char>(z[at + 1]) << 8));
  };
  unsigned flags = le16(6);
  unsigned char want =
      (flags & 8) ? static_cast<unsigned char>(le16(10) >> 8) : static_cast<unsigned char>(z[17]);
  std::string header = z.substr(30 + le16(26) + le16(28), 12);
  auto check_byte = [&](const std::string &pw) {
    const z_crc_t *t = get_crc_table();
    uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
    auto update = [&](unsigned char c) {
      k[0] = t[(k[0] ^ c) & 0xFF] ^ (k[0] >> 8);
      k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
      k[2] = t[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8);
    };
    for (unsigned char c : pw)
      update(c);
    unsigned char last = 0;
    for (unsigned char c : header) {
      unsigned temp = (k[2] & 0xFFFF) | 2;
      last = c ^ static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
      update(last);
    }
    return last;
  };
  std::string impostor;
  for (int i = 0; impostor.empty() && i < 100000; ++i)
    if (check_byte("guess" + std::to_string(i)) == want)
      impostor = "guess" + std::to_string(i);
  ASSERT_FALSE(impostor.empty());
  zip_.SetZipFileName(tmp_.str("p.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  zip_.SetPasswordReqCount(2);
  std::vector<std::string> offered = {impostor, "letmein"};
  size_t asked = 0;
  zip_.Events().OnPasswordError = [&](TCustomZipArchiver *, bool, std::string &pw, const std::string &,
                                      unsigned &, TMsgDlgBtn &act) {
    pw = offered[std::min(asked++, offered.size() - 1)];
    act = mbOK;
  };
  EXPECT_EQ(zip_.Extract(), 0) << zip_.ErrMessage();
  EXPECT_EQ(asked, 2u);
  EXPECT_TRUE(read_file(tmp_.path() / "base/secret.bin") == read_file(tmp_.path() / "p/secret.bin"));
}

TEST_F(ArchiverTest, PasswordThroughTheDialogSeam) {
  write_file(tmp_.path() / "p/secret.bin", "classified");
  run("cd " + tmp_.str("p") + " && zip -q -P letmein ../p.zip secret.bin");
  std::vector<int> contexts;
  zip_.OnZipDialog() = [&](TCustomZipArchiver *, const std::string &title, std::string &msg, int &ctx,
                           TMsgDlgButtons b) {
    contexts.push_back(ctx & 0xFFFF);
    EXPECT_EQ(title, "Password");
    EXPECT_EQ(msg, "Enter Password ");
    EXPECT_EQ(b, ZipButtons({mbOK, mbCancel, mbAll}));
    msg = "letmein";
    ctx = 1;
  };
  zip_.SetZipFileName(tmp_.str("p.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  EXPECT_EQ(zip_.Extract(), 0);
  EXPECT_EQ(contexts, std::vector<int>{10003});
  EXPECT_EQ(read_file(tmp_.path() / "base/secret.bin"), "classified");
}

TEST_F(ArchiverTest, HandlerExceptionIsNamedInTheError) {
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  zip_.Events().OnItemProgress = [](TCustomZipArchiver *, const std::string &, int64_t, int pct) {
    if (pct > 0 && pct < 101)
      throw std::runtime_error("boom");
  };
  EXPECT_EQ(zip_.Extract(), 10123);
  const std::string tail = " #2 \"boom\"";
  std::string msg = zip_.ErrMessage();
  ASSERT_GE(msg.size(), tail.size());
  EXPECT_EQ(msg.substr(msg.size() - tail.size()), tail) << msg;
  EXPECT_EQ(msg.rfind("DLL Error - Exception in handler ", 0), 0u);
}

TEST_F(ArchiverTest, CancelFromCheckTerminateStopsTheLibrary) {
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  zip_.Events().OnCheckTerminate = [](TCustomZipArchiver *, bool &abort) { abort = true; };
  EXPECT_EQ(zip_.Extract(), 10120);
  EXPECT_TRUE(tree(tmp_.path() / "base").empty());
}

TEST_F(ArchiverTest, StreamExtraction) {
  zip_.SetUnattended(true);
  zip_.SetZipFileName(tmp_.str("a.zip"));
  TZipStream *s = zip_.ExtractFileToStream("img\\kernel_cfe_auto.bin");
  ASSERT_NE(s, nullptr);
  std::string want = read_file(tmp_.path() / "src/img/kernel_cfe_auto.bin");
  EXPECT_TRUE(std::string(reinterpret_cast<const char *>(s->Memory()), s->Size()) == want);
  EXPECT_EQ(zip_.ExtractFileToStream("absent.bin"), nullptr);

  // A raw deflate stream inflated memory to memory.
  std::string plain = sample_bytes(50000, 11);
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string packed(deflateBound(&zs, plain.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef *>(plain.data());
  zs.avail_in = static_cast<uInt>(plain.size());
  zs.next_out = reinterpret_cast<Bytef *>(packed.data());
  zs.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  packed.resize(zs.total_out);
  deflateEnd(&zs);
  TZipStream in;
  in.Write(packed.data(), packed.size());
  TZipStream *out = zip_.ExtractStreamToStream(in, static_cast<unsigned>(plain.size()));
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(std::string(reinterpret_cast<const char *>(out->Memory()), out->Size()) == plain);
}

TEST_F(ArchiverTest, LibraryFoundBesideTheProgramAndReported) {
  EXPECT_NE(zip_.Dll_Path().find("KyUnzip179"), std::string::npos);
  EXPECT_EQ(zip_.Dll_Version(), "[1.79.10.32]");
  EXPECT_EQ(zip_.Dll_Build(), 1791032);
  zip_.SetDll_Load(true);
  EXPECT_EQ(zip_.Dll_Version(), " 1.79.10.32 ");
  EXPECT_EQ(zip_.FullVersionString(), "ZipArchiver 1.79.10.32 , DLL  1.79.10.32 ");
}

TEST_F(ArchiverTest, UnloadableLibraryIs10650) {
  write_file(tmp_.path() / "libdir/KyUnzip179.so", "not a shared library");
  zip_.SetDLLDirectory(tmp_.str("libdir"));
  zip_.SetZipFileName(tmp_.str("a.zip"));
  zip_.SetExtrBaseDir(tmp_.str("base"));
  EXPECT_EQ(zip_.Extract(), 10650);
  EXPECT_NE(boxes_.back().find("Failed to load "), std::string::npos);
  EXPECT_NE(boxes_.back().find("libdir/KyUnzip179.so"), std::string::npos);
}

// The callback as the library sees it: action bits, answer sizes, repeat counts.
TEST_F(ArchiverTest, CallbackAnswersWithinLimits) {
  TZAWorker w;
  std::string long_pw(100, 'p');
  w.Events.OnPasswordError = [&](TCustomZipArchiver *, bool, std::string &pw, const std::string &,
                                 unsigned &repeat, TMsgDlgBtn &) {
    pw = long_pw;
    repeat = 20;
  };
  char answer[ZA_ANSWER_SIZE];
  ZCallBackStruct info{};
  info.ActionCode = 0x48;  // action 8 with high bits set
  info.Arg1 = 3;
  info.MsgP = "dir/f.bin";
  info.u.Answer = answer;
  EXPECT_EQ(TZAWorker::DllCallback(&w, &info), 0);
  EXPECT_EQ(info.ActionCode, -1);
  EXPECT_EQ(std::string(answer), std::string(80, 'p'));
  EXPECT_EQ(info.Arg1, 15);
}

}  // namespace
