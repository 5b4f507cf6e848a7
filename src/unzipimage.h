// Unpacking a zip image: every entry of the archive goes straight into the temporary
// folder, folder names dropped, existing files overwritten. The body of the main window's
// unzip().
#pragma once

#include <string>

class TZipArchiver;

// Returns 0 on success, otherwise the archive component's error id (the opposite of the
// program's 1/0 convention); 1 when no file exists at `image_path`. `target_dir` must exist.
// Errors the component detects itself are shown in its message box unless it is unattended.
// Afterwards the process's current directory is `target_dir` (the component leaves it there).
int unzip_image(TZipArchiver &archiver, const std::string &image_path, const std::string &target_dir);
