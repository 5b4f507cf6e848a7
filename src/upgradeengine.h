// What an upgrade needs before the worker starts, shared by the window and the command-line
// flasher: the checks of the inputs that Next makes and the preparation of the partition
// files that Start makes. Nothing here asks the user anything; each check returns the
// sentence to show (empty when all is well) and the caller decides how to show it.
#pragma once

#include <functional>
#include <string>

// The model chosen by its name in the Machine list: its index into box_models, or -1 and
// the sentence for the user in `refusal`.
int chosen_machine(const std::string &name, std::string &refusal);

// The image as chosen: "" when one is, otherwise the sentence for the user.
std::string image_choice_refusal(const std::string &path);

// What the image's open-file dialog offers, and the extension it adds.
extern const char *const image_file_filter;
extern const char *const image_default_ext;

// The box's address as typed: "" when it can go into the boot loader's command line,
// otherwise the sentence for the user.
std::string machine_ip_refusal(const std::string &box_ip);

// UDP port 69, from which the box fetches its images: "" when this program can bind it,
// otherwise the sentence for the user (and a log line). `program` is named in the advice
// to grant the port.
std::string tftp_port_refusal(const std::string &program);

// False (and a log line) when the PC's address is outside the box's /24 network: the box
// would not reach the PC to fetch its images.
bool pc_faces_box(const char *pc_ip, const char *box_ip);

// Removes the partition files from the temporary folder.
void remove_partition_files();

// Why Start's preparation failed: the status line to show, and whether the user must also
// be told in a message (a refusal that asks the user to change something).
struct PrepFailure {
  std::string line;
  bool refusal = false;
};

// Empties the temporary folder of old partition files, then extracts image_path into it,
// the kind told by the file's bytes. `unzip` extracts a zip image into temp_dir and returns
// 0 on success. On failure no partition file is left behind.
bool prepare_partitions(const std::function<int()> &unzip, PrepFailure &failure);

// Every partition the model `machine` (an index into box_models) is flashed with is in the temporary folder and
// not empty. Otherwise false and the status line naming the partition (also logged).
bool partitions_ready(int machine, std::string &problem);

// The base of the silence limit from the window's settings file (`ini_path`, section
// [Upgrade], SilenceSeconds, 1 to 86400): sets box_silence_limit_ms and returns the log line
// that says which limit applies and why; a value that is no such number leaves the default
// and the line says so, naming the file.
std::string apply_silence_setting(const std::string &ini_path);
