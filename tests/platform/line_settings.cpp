// Reads termios through termios2, so custom rates (BOTHER) read back as numbers. Kept apart
// from pty_pair.cpp: the kernel's termbits and glibc's termios.h cannot meet in one file.
#include <sys/ioctl.h>

#include "platform/comm_termios.h"
#include "tests/platform/pty_pair.h"

namespace {

LineSettings decode(const termios2 &t) {
  LineSettings s;
  s.ok = true;
  s.baud = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.data_bits = 5;
      break;
    case CS6:
      s.data_bits = 6;
      break;
    case CS7:
      s.data_bits = 7;
      break;
    default:
      s.data_bits = 8;
      break;
  }
  if (!(t.c_cflag & PARENB))
    s.parity = 'N';
  else if (t.c_cflag & CMSPAR)
    s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
  else
    s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
  s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
  s.crtscts = t.c_cflag & CRTSCTS;
  s.ixon = t.c_iflag & IXON;
  s.ixoff = t.c_iflag & IXOFF;
  s.inpck = t.c_iflag & INPCK;
  s.raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
          !(t.c_iflag & (ICRNL | INLCR | IGNCR));
  s.vstart = t.c_cc[VSTART];
  s.vstop = t.c_cc[VSTOP];
  return s;
}

}  // namespace

LineSettings read_line_settings(int fd) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0)
    return {};
  return decode(t);
}

LineSettings line_settings_for(const CommDcb &dcb) {
  termios2 t{};
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;  // a cooked line, as a fresh tty starts
  t.c_oflag = OPOST;
  t.c_iflag = ICRNL;
  if (comm_termios_from_dcb(dcb, t) != COMM_OK)
    return {};
  return decode(t);
}
