// The box's end of the serial line: a pty it creates, or a real serial device.
#pragma once

#include "platform/unique_fd.h"

#include <string>

namespace boxsim {

struct Line {
  UniqueFd io;  // the box reads and writes here (pty master or the device)
  // For a pty the box keeps one slave descriptor open: it holds the raw settings, and the
  // master never sees a hang-up when the PC closes and reopens the port, as a UART never
  // does. Empty for a device.
  UniqueFd slave_hold;
  std::string name;  // the slave's path, or the device path
};

// Both return false with a message naming the path and the reason.
bool open_pty_line(Line &line, std::string &error);
bool open_device_line(const std::string &path, Line &line, std::string &error);

}  // namespace boxsim
