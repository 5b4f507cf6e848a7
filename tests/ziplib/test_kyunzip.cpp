// The unzip library on its own, loaded the way the component loads it: exports, the order
// of callback actions, cancelling, and the result codes of a failing callback.
#include "tests/zip/ziptestutil.h"
#include "ziplib/zarequest.h"
#include "platform/dynlib.h"
#include "platform/paths.h"

#include <cstdlib>
#include <cstring>

using namespace ziptest;

namespace {

struct Lib {
  DynLib lib;
  ZA_UnzExecFn exec = nullptr;
  ZA_AbortFn abort = nullptr;
  Lib() {
    // The library is built beside the test programs, as it is installed beside the program.
    std::string path = fs::path(executable_path()).parent_path().string() + "/KyUnzip179" + DynLib::Suffix();
    int err = 0;
    std::string why;
    EXPECT_TRUE(lib.Open(path, err, why)) << why;
    exec = reinterpret_cast<ZA_UnzExecFn>(lib.Symbol("ZA_UnzExec"));
    abort = reinterpret_cast<ZA_AbortFn>(lib.Symbol("ZA_Abort"));
  }
};

struct Recorder {
  std::vector<int> actions;
  std::vector<std::string> messages;
  int32_t abort_value = 0;
  Lib *lib = nullptr;
  int stop_at_progress = -1;  // n-th progress report: 0 cancel by result, 1 by ZA_Abort, 2 handler failure
  int progress_seen = 0;
  static int32_t ZA_CALL Callback(void *caller, ZCallBackStruct *info) {
    auto *r = static_cast<Recorder *>(caller);
    int a = info->ActionCode & 0x3F;
    r->actions.push_back(a);
    if (a == ZA_ACT_ABORT_VALUE)
      r->abort_value = info->Arg1;
    if (a == ZA_ACT_MESSAGE && info->MsgP)
      r->messages.push_back(info->MsgP);
    if (a == ZA_ACT_PROGRESS && r->stop_at_progress >= 0 && ++r->progress_seen == 2) {
      if (r->stop_at_progress == 0)
        return 1;
      if (r->stop_at_progress == 1)
        r->lib->abort(r->abort_value);
      if (r->stop_at_progress == 2)
        return 10106;
    }
    return 0;
  }
};

class KyUnzip : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(have_tools());
    ASSERT_NE(lib_.exec, nullptr);
    write_file(tmp_.path() / "src/a.bin", sample_bytes(900000, 40));
    write_file(tmp_.path() / "src/b.bin", "small");
    run("cd " + tmp_.str("src") + " && zip -q ../t.zip a.bin b.bin");
    fs::create_directories(tmp_.path() / "out");
    archive_ = tmp_.str("t.zip");
    base_ = tmp_.str("out") + "/";
    std::memset(&req_, 0, sizeof req_);
    req_.Caller = &rec_;
    req_.Version = ZA_INTERFACE_VERSION;
    req_.Callback = &Recorder::Callback;
    req_.PWord = "";
    req_.ZipFileName = archive_.c_str();
    req_.ExtractDir = base_.c_str();
    req_.PwdReqCount = 1;
    rec_.lib = &lib_;
  }
  Lib lib_;
  TempDir tmp_;
  std::string archive_, base_;
  UnzipRequest req_;
  Recorder rec_;
};

TEST_F(KyUnzip, ReportsInOrderAndExtracts) {
  EXPECT_EQ(lib_.exec(&req_), 2);
  ASSERT_GE(rec_.actions.size(), 6u);
  EXPECT_EQ(rec_.actions[0], ZA_ACT_ABORT_VALUE);
  EXPECT_EQ(rec_.actions[1], ZA_ACT_TOTAL_FILES);
  EXPECT_EQ(rec_.actions[2], ZA_ACT_TOTAL_SIZE);
  EXPECT_EQ(rec_.actions[3], ZA_ACT_EXTRACT_NAME);  // the caller may rename before anything is written
  EXPECT_EQ(rec_.actions[4], ZA_ACT_NEW_ITEM);
  EXPECT_EQ(rec_.actions.back(), ZA_ACT_END_BATCH);
  EXPECT_TRUE(tree(tmp_.path() / "out") == tree(tmp_.path() / "src"));
}

TEST_F(KyUnzip, TestModeWritesNothing) {
  req_.fTest = 1;
  EXPECT_EQ(lib_.exec(&req_), 2);
  EXPECT_TRUE(tree(tmp_.path() / "out").empty());
}

TEST_F(KyUnzip, StopsAndCleansUp) {
  struct Row {
    int how;
    int32_t result;
  } rows[] = {{0, ZA_RES_CANCELLED}, {1, ZA_RES_CANCELLED}, {2, ZA_RES_HANDLER_EXCEPTION}};
  for (auto r : rows) {
    SCOPED_TRACE(r.how);
    rec_ = Recorder{};
    rec_.lib = &lib_;
    rec_.stop_at_progress = r.how;
    EXPECT_EQ(lib_.exec(&req_), r.result);
    // The interrupted entry leaves no file, complete or partial.
    EXPECT_TRUE(tree(tmp_.path() / "out").empty());
  }
}

TEST_F(KyUnzip, StaleAbortDoesNotStopANewCall) {
  lib_.abort(12345);
  EXPECT_EQ(lib_.exec(&req_), 2);
}

TEST_F(KyUnzip, DamagedDirectoryIsAStructureError) {
  write_file(tmp_.path() / "bad.zip", "PK\x05\x06 not really");
  std::string bad = tmp_.str("bad.zip");
  req_.ZipFileName = bad.c_str();
  EXPECT_EQ(lib_.exec(&req_), ZA_RES_STRUCTURE);
  ASSERT_FALSE(rec_.messages.empty());
  EXPECT_NE(rec_.messages.back().find("not a valid Zip archive"), std::string::npos);
}

TEST_F(KyUnzip, ExportsAndVersion) {
  auto version = reinterpret_cast<ZA_VersionFn>(lib_.lib.Symbol("ZA_Version"));
  auto path = reinterpret_cast<ZA_PathFn>(lib_.lib.Symbol("ZA_Path"));
  ASSERT_TRUE(version && path && lib_.lib.Symbol("ZA_ZipExec") && lib_.lib.Symbol("ZA_PrivVersion"));
  EXPECT_EQ(version(), 179);
  EXPECT_NE(std::string(path()).find("KyUnzip179"), std::string::npos);
}

// Writes a one-entry archive with python3's zipfile: the entry `name` holding `data`.
std::string one_entry_zip(const TempDir &t, const std::string &archive, const std::string &name,
                          const std::string &data) {
  run("cd " + t.str() +
      " && python3 -c \"import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z: "
      "z.writestr(sys.argv[2], sys.argv[3])\" " +
      quote(archive) + " " + quote(name) + " " + quote(data));
  return t.str(archive);
}

// The longest name a folder holds extracts: the temporary file must not make it longer.
TEST_F(KyUnzip, LongestLegalNameExtracts) {
  std::string name(255, 'n');
  std::string archive = one_entry_zip(tmp_, "long.zip", name, "long");
  req_.ZipFileName = archive.c_str();
  req_.fOverwrite = 1;
  EXPECT_EQ(lib_.exec(&req_), 1) << (rec_.messages.empty() ? "" : rec_.messages.back());
  EXPECT_EQ(read_file(tmp_.path() / "out" / name), "long");
  EXPECT_EQ(tree(tmp_.path() / "out").size(), 1u);  // no temporary file left beside it
}

// A link planted where an entry lands is replaced or refused, never written through: the file
// it points to stays byte for byte as it was, and nothing new appears beside it.
struct LinkCase {
  const char *name;
  const char *entry;    // the archive's one entry
  bool dir_names;       // folder names kept
  const char *link;     // where the link is planted, below the base; "" is the base itself
  bool to_folder;       // the link points at the outside folder, else at the file in it
  int32_t extracted;    // the library's result
  const char *message;  // part of a message, "" for none
  friend void PrintTo(const LinkCase &c, std::ostream *os) { *os << c.name; }
};

const LinkCase kLinkCases[] = {
    {"at_final_name", "kernel.bin", false, "kernel.bin", false, 1, ""},
    {"at_final_name_in_folder", "img/kernel.bin", true, "img/kernel.bin", false, 1, ""},
    {"at_folder_of_entry", "img/kernel.bin", true, "img", true, 0, "Creation of output file failed"},
    {"at_base_folder", "kernel.bin", false, "", true, 0, "is a symbolic link"},
};

class PlantedLink : public KyUnzip, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(PlantedLink, TargetStaysUntouched) {
  const LinkCase &c = GetParam();
  const std::string precious = "precious bytes\n";
  write_file(tmp_.path() / "outside/kernel.bin", precious);
  std::string archive = one_entry_zip(tmp_, "l.zip", c.entry, "new data");
  fs::path link = std::string(c.link).empty() ? tmp_.path() / "linked_base" : tmp_.path() / "out" / c.link;
  fs::create_directories(link.parent_path());
  fs::path pointee = c.to_folder ? tmp_.path() / "outside" : tmp_.path() / "outside/kernel.bin";
  if (c.to_folder)
    fs::create_directory_symlink(pointee, link);
  else
    fs::create_symlink(pointee, link);
  std::string base = std::string(c.link).empty() ? link.string() + "/" : base_;
  req_.ExtractDir = base.c_str();
  req_.ZipFileName = archive.c_str();
  req_.fOverwrite = 1;
  req_.fDirectories = c.dir_names;

  EXPECT_EQ(lib_.exec(&req_), c.extracted);
  EXPECT_EQ(read_file(tmp_.path() / "outside/kernel.bin"), precious);
  EXPECT_EQ(tree(tmp_.path() / "outside").size(), 1u);
  if (c.extracted) {
    fs::path written = tmp_.path() / "out" / c.entry;
    EXPECT_FALSE(fs::is_symlink(written));
    EXPECT_EQ(read_file(written), "new data");
  }
  bool found = *c.message == 0;
  for (auto &m : rec_.messages)
    found = found || m.find(c.message) != std::string::npos;
  EXPECT_TRUE(found) << c.message;
}

INSTANTIATE_TEST_SUITE_P(Links, PlantedLink, ::testing::ValuesIn(kLinkCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
