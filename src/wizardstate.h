// The wizard's inputs, shared by the window, the image preparation and the upgrade worker.
// Written on the GUI thread at Next; the worker only reads them while it runs.
#pragma once

#include <atomic>
#include <string>

extern std::string temp_dir;            // the partition folder, no trailing delimiter
extern std::string image_path;          // the chosen image, set at Next
extern char local_ip[32];               // the PC's own address as dotted text ("" when unknown)
extern char machine_ip[32];             // the box's address as typed, at most 31 characters
extern std::atomic<int> machine_index;  // the chosen model, an index into box_models
