#include "src/unzipimage.h"

#include "lib/log.h"
#include "zip/ziparchiver.h"

#include <filesystem>

int unzip_image(TZipArchiver &archiver, const std::string &image_path, const std::string &target_dir) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(std::filesystem::path(image_path), ec)) {
    ZV_LOG(LOG_ERROR, "VAzOdor::unzip", "file not exist!! [%s]", image_path.c_str());
    return 1;
  }
  // Assigning the name reads the archive's directory at once.
  archiver.SetZipFileName(image_path);
  archiver.SetExtrBaseDir(target_dir);
  archiver.SetExtrOptions(archiver.ExtrOptions().Include(ExtrOverWrite));
  archiver.FSpecArgs().clear();
  int result = archiver.Extract();
  if (result != 0)
    ZV_LOG(LOG_ERROR, "VAzOdor::unzip", "extract failed [%d] [%s]", result, archiver.ErrMessage().c_str());
  return result;
}
