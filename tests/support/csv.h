// The programs' CSV read back into rows of fields, for tests of what they export.
#pragma once

#include "apps/station/csvrows.h"

namespace zv_test {

inline std::vector<std::vector<std::string>> parse_csv(const std::string &text) { return csv_rows(text); }

}  // namespace zv_test
