// The box models this program flashes, one row each, with everything that differs from one
// model to the next. The window's Machine list, zevavi-flash's --model, the station programs,
// the console watcher and the checks before an upgrade all read this table, so a new model is
// one more row. A row's position is the model's machine index: the Machine list's order and
// the index that the logs show as "machine[%d]".
#pragma once

#include <iterator>
#include <string>
#include <string_view>

struct BoxModel {
  const char *name;  // as the Machine list shows it and --model takes it, exactly
  // The boot loader has a splash partition, flashed at step 4 when the image holds one. A
  // model without it goes from the kernel straight to the erase.
  bool splash_step;
};

inline constexpr BoxModel box_models[] = {
    {"KESTA", false},
    {"MORVA", false},
    {"PELIN", true},
    {"TORQA", true},
};

inline constexpr int box_model_count = int(std::size(box_models));

// The machine index of the model named `name` (exact text), or -1.
int box_model_index(std::string_view name);

// Whether model `machine` has the splash step; false for an index that names no model.
bool box_model_has_splash(int machine);

// The names in the table's order for a message: `between` between two of them, `last` before
// the last one ("KESTA, MORVA, PELIN or TORQA" from ", " and " or ").
std::string box_model_names(std::string_view between, std::string_view last);
