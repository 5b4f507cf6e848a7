#include "src/upgradeengine.h"

#include "lib/log.h"
#include "lib/tftpthread.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/settingsstore.h"
#include "src/addresscheck.h"
#include "src/boxmodels.h"
#include "src/imageprep.h"
#include "src/upgrade.h"
#include "src/wizardstate.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace {
// The log names stay those of the window's handlers: a log reads the same whichever program
// wrote it.
const char *const checkup_name = "VAzOdor::do_checkup_info";
const char *const wizard_name = "VAzOdor::btnStatusClick";

// "tftpd64.exe (process 1234)", several joined by commas; "" when none is known.
std::string holders_text(const std::vector<PortHolder> &holders) {
  std::string text;
  for (const PortHolder &holder : holders) {
    if (!text.empty())
      text += ", ";
    const std::string pid = "process " + std::to_string(holder.pid);
    if (holder.program.empty())
      text += pid;
    else
      text +=
          holder.program + " (" + pid + (holder.service.empty() ? "" : ", service " + holder.service) + ")";
  }
  return text;
}

}  // namespace

const char *const image_file_filter = "ZIP Files(*.zip)|*.zip|NFI Files(*.nfi)|*.nfi";
const char *const image_default_ext = "zip";

int chosen_machine(const std::string &name, std::string &refusal) {
  const int index = box_model_index(name);
  if (index < 0)
    refusal = "Please, Select Machine!!";
  return index;
}

std::string image_choice_refusal(const std::string &path) {
  return path.empty() ? "Please, Select Image!!" : "";
}

std::string machine_ip_refusal(const std::string &box_ip) {
  if (box_ip.empty())
    return "Please, Input Machine-IP!!";
  // The command line that carries the address has room for 31 characters; a longer text is
  // refused rather than cut, since a cut address would send the box somewhere else.
  if (box_ip.size() >= sizeof machine_ip)
    return "The Machine-IP is too long (at most 31 characters).";
  // The address goes into a boot-loader command line: anything but an IPv4 address would
  // be typed into the box as it stands.
  if (!is_dotted_ipv4(box_ip))
    return "The Machine-IP \"" + box_ip +
           "\" is not an IPv4 address.\nType four numbers from 0 to 255 with dots between "
           "them, for example 192.168.102.45.";
  if (std::string problem = host_address_problem(box_ip); !problem.empty())
    return "The Machine-IP " + box_ip + " is " + problem +
           " of its network (mask 255.255.255.0), not a machine's.\nType the address the machine is to use, "
           "for example 192.168.102.45.";
  return {};
}

std::string tftp_port_refusal(const std::string &program) {
  std::string detail;
  switch (udp_port_check(TFTP_PORT, detail)) {
    case PortCheck::free:
      return {};
    case PortCheck::in_use: {
      // Naming the holder spares the technician a hunt through the running programs; the
      // system does not always tell (another user's process, an elevated one).
      const std::vector<PortHolder> holders = udp_port_holders(TFTP_PORT);
      const std::string who = holders_text(holders);
      ZV_LOG(LOG_WARN, checkup_name, "UDP port %d is in use: %s%s%s", TFTP_PORT, detail.c_str(),
             who.empty() ? "" : ", by ", who.c_str());
      return (who.empty()
                  ? std::string("UDP port 69 (TFTP) is in use by another program, probably a TFTP server.\n")
                  : "UDP port 69 (TFTP) is in use by another program: " + who + ".\n") +
             "The machine fetches its images from this PC on that port.\n" + port_holder_advice(holders) +
             " and press Next again.";
    }
    case PortCheck::no_permission:
      ZV_LOG(LOG_WARN, checkup_name, "UDP port %d not permitted: %s", TFTP_PORT, detail.c_str());
      return "ZeVavi may not use UDP port 69 (TFTP), from which the machine fetches its images.\n" +
             port_permission_advice(program);
    case PortCheck::other_error:
      break;
  }
  ZV_LOG(LOG_WARN, checkup_name, "UDP port %d cannot be bound: %s", TFTP_PORT, detail.c_str());
  return "UDP port 69 (TFTP) cannot be used: " + detail + ".";
}

bool pc_faces_box(const char *pc_ip, const char *box_ip) {
  if (same_subnet_24(pc_ip, box_ip))
    return true;
  ZV_LOG(LOG_WARN, checkup_name, "local-ip[%s] is not in the subnet of machine-ip[%s]", pc_ip, box_ip);
  return false;
}

void remove_partition_files() {
  static const char *const partition_files[] = {"boot_cfe_auto.jffs2", "kernel_cfe_auto.bin",
                                                "splash_cfe_auto.bin", "root_cfe_auto.jffs2"};
  remove_temp_files(partition_files, 4);
  ZV_LOG(LOG_DEBUG, "VAzOdor::rm_dir", "removed directory [%s]", temp_dir.c_str());
}

bool prepare_partitions(const std::function<int()> &unzip, PrepFailure &failure) {
  if (temp_dir_exists())
    remove_partition_files();
  // A refusal means the user has to change something before Start can work.
  auto refuse = [&failure](const std::string &text) {
    ZV_LOG(LOG_ERROR, wizard_name, "%s", text.c_str());
    failure = {text, true};
    return false;
  };
  std::string error;
  if (!make_temp_dir(error))
    return refuse(error);

  // The kind is told by the file's own bytes: a name such as FW.ZIP or a folder named zips
  // says nothing about what the file holds.
  ImageKind kind = ImageKind::unknown;
  std::string refusal;
  if (!identify_image(image_path, kind, refusal)) {
    remove_partition_files();
    return refuse(refusal);
  }
  if (kind == ImageKind::zip_archive) {
    if (unzip() != 0) {
      ZV_LOG(LOG_DEBUG, wizard_name, "unzip() error!!");
      remove_partition_files();
      failure = {"Fail to extract image.", false};
      return false;
    }
    ZV_LOG(LOG_DEBUG, wizard_name, "unzip ok!!");
    return true;
  }
  if (!unpack_nfi(image_path.c_str())) {
    ZV_LOG(LOG_DEBUG, wizard_name, "unpack() error!!");
    // Partitions unpacked before the failure belong to a broken image; none stays.
    remove_partition_files();
    failure = {"Fail to unpack image.", false};
    return false;
  }
  ZV_LOG(LOG_DEBUG, wizard_name, "unpack ok!!");
  return true;
}

bool partitions_ready(int machine, std::string &problem) {
  namespace fs = std::filesystem;
  struct Needed {
    int file;  // index into image_files()
    const char *name;
  };
  // The erase runs before boot and root are written: a box must never be erased for an image
  // that cannot fill it again. The splash is optional, but one that is there gets served.
  static const Needed needed[] = {{0, "kernel"}, {1, "splash"}, {2, "boot"}, {3, "root"}};
  const auto files = image_files();
  const bool has_splash_step = box_model_has_splash(machine);
  for (const Needed &n : needed) {
    const fs::path file = files[size_t(n.file)];
    std::error_code error;
    const fs::file_status status = fs::symlink_status(file, error);
    const bool present = !error && fs::exists(status);
    if (n.file == 1 && (!has_splash_step || !present))
      continue;
    problem.clear();
    if (!present)
      problem = std::string("The image has no ") + n.name + " partition (" + file.filename().string() + ").";
    else if (!fs::is_regular_file(status) || fs::file_size(file, error) == 0 || error)
      problem =
          std::string("The image's ") + n.name + " partition (" + file.filename().string() + ") is empty.";
    if (problem.empty())
      continue;
    ZV_LOG(LOG_ERROR, wizard_name, "%s Nothing is sent to the machine.", problem.c_str());
    return false;
  }
  return true;
}

std::string apply_silence_setting(const std::string &ini_path) {
  const int default_s = box_silence_limit_default_ms / 1000;
  box_silence_limit_ms = box_silence_limit_default_ms;
  std::string text;
  try {
    const IniFile ini(ini_path);
    if (!ini.ValueExists("Upgrade", "SilenceSeconds"))
      return "silence limit " + std::to_string(default_s) + " s (the default)";
    text = ini.ReadString("Upgrade", "SilenceSeconds", "");
  } catch (const std::exception &error) {
    return std::string(error.what()) + "; the default silence limit of " + std::to_string(default_s) +
           " s applies";
  }
  int seconds = 0;
  if (!parse_seconds(text, seconds)) {
    if (text.size() > 40)
      text = text.substr(0, 40) + "...";
    return "SilenceSeconds \"" + text + "\" in " + ini_path +
           " is not a number of seconds from 1 to 86400; the default " + std::to_string(default_s) +
           " s applies";
  }
  box_silence_limit_ms = seconds * 1000;
  return "silence limit " + std::to_string(seconds) + " s, from " + ini_path;
}
