#include "src/boxmodels.h"

int box_model_index(std::string_view name) {
  for (int i = 0; i < box_model_count; ++i)
    if (name == box_models[i].name)
      return i;
  return -1;
}

bool box_model_has_splash(int machine) {
  return machine >= 0 && machine < box_model_count && box_models[machine].splash_step;
}

std::string box_model_names(std::string_view between, std::string_view last) {
  std::string text;
  for (int i = 0; i < box_model_count; ++i) {
    if (i > 0)
      text += i + 1 == box_model_count ? last : between;
    text += box_models[i].name;
  }
  return text;
}
