// The zip image path of Start: a real archive made by Info-ZIP lands flat in the temporary
// folder; failures give the log line and the component's error.
#include "lib/log.h"
#include "src/unzipimage.h"
#include "tests/zip/ziptestutil.h"
#include "zip/ziparchiver.h"

using namespace ziptest;

namespace {

class UnzipImage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(have_tools());
    fs::create_directories(tmp_.path() / "ky_tmp");
    zip_.OnZipDialog() = [this](TCustomZipArchiver *, const std::string &, std::string &msg, int &ctx,
                                TMsgDlgButtons) {
      boxes_.push_back(msg);
      ctx = 1;
    };
  }
  void TearDown() override {
    log_close();
    fs::current_path(fs::temp_directory_path());
  }
  TempDir tmp_;
  TZipArchiver zip_;
  std::vector<std::string> boxes_;
};

TEST_F(UnzipImage, PartitionsInAFolderLandFlat) {
  const char *names[] = {"kernel_cfe_auto.bin", "splash_cfe_auto.bin", "boot_cfe_auto.jffs2",
                         "root_cfe_auto.jffs2"};
  for (int i = 0; i < 4; ++i)
    write_file(tmp_.path() / "src/img" / names[i], sample_bytes(50000 + i * 7000, 20 + i));
  run("cd " + tmp_.str("src") + " && zip -q -r ../fw.zip img");
  write_file(tmp_.path() / "ky_tmp/kernel_cfe_auto.bin", "stale partition from an earlier run");
  EXPECT_EQ(unzip_image(zip_, tmp_.str("fw.zip"), tmp_.str("ky_tmp")), 0);
  for (const char *n : names)
    EXPECT_TRUE(read_file(tmp_.path() / "ky_tmp" / n) == read_file(tmp_.path() / "src/img" / n)) << n;
  EXPECT_FALSE(fs::exists(tmp_.path() / "ky_tmp/img"));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(zip_.FSpecArgs().empty());
  EXPECT_EQ(fs::current_path(), fs::path(tmp_.str("ky_tmp")));
}

TEST_F(UnzipImage, MissingFileIsLogged) {
  std::string log = tmp_.str("zevavi.log");
  log_open(log.c_str(), LOG_HEX);
  std::string path = tmp_.str("zipped/none.zip");
  EXPECT_NE(unzip_image(zip_, path, tmp_.str("ky_tmp")), 0);
  log_close();
  std::string text = read_file(log);
  EXPECT_NE(text.find("[VAzOdor::unzip:"), std::string::npos) << text;
  EXPECT_NE(text.find("file not exist!! [" + path + "]"), std::string::npos) << text;
}

TEST_F(UnzipImage, ContainerNamedLikeAZipFailsWithTheComponentsError) {
  // An image container ("KXB" magic) under a path with "zip" in it: handled as an archive.
  write_file(tmp_.path() / "zipped/fw.nfi", "KXB" + sample_bytes(3000, 30));
  int rc = unzip_image(zip_, tmp_.str("zipped/fw.nfi"), tmp_.str("ky_tmp"));
  EXPECT_EQ(rc, 11036);
  // One box when the name is assigned, another inside Extract.
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0], "This archive is not a valid Zip archive");
  EXPECT_TRUE(tree(tmp_.path() / "ky_tmp").empty());
}

}  // namespace
