// The library's own file path, for ZA_Path. One source per OS.
#pragma once

const char *za_self_path();
