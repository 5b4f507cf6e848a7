#include "src/wizardstate.h"

#include "platform/paths.h"

std::string temp_dir = temp_dir_path();
std::string image_path;
char local_ip[32];
char machine_ip[32];
std::atomic<int> machine_index{0};
