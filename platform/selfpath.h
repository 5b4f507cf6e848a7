// The file path of the program or shared library that this code is linked into (the unzip
// library answers ZA_Path with it). One source per OS.
#pragma once

const char *za_self_path();
