// Which box is on a fixture, from what its boot loader prints about itself before the
// prompt, and when the next box has been put on.
//
// CFE names the box's Ethernet address in its network line ("Device eth0:  hwaddr
// 00-18-39-6F-78-15, ipaddr ...", the form of its ifconfig and of routers that bring the
// network up at boot); some loaders print it nowhere before the prompt. Its first line says
// which loader and board this is ("CFE version 1.0.37 for BCM947XX (32bit,SP,LE)",
// "BCM97335B0 CFE v2.17, CFE core v2.12, Endian Mode: Little", "Common Firmware Environment
// (CFE) version 1.1 for BCM97401C1, ..."), followed by "Build Date: ...". Those lines are
// the box's identity; a banner without them leaves the identity empty, never guessed.
#pragma once

#include <cstdint>
#include <string>

struct BoxIdentity {
  std::string mac;    // "00-18-39-6F-78-15": upper-case pairs joined by "-", or "" when none was shown
  std::string board;  // the loader's version line, or ""
  std::string build;  // its "Build Date:" line, or ""
};

// Reads a console one character at a time (after escape sequences are taken out) and picks
// out the identity lines. Lines are cut at max_line characters, so a box that never ends a
// line costs no more than that.
class BannerReader {
 public:
  enum class Event {
    None,
    BannerBegan,  // a loader's version line: a box has (re)started; identity() starts afresh
    AddressSeen,  // the box's address: identity().mac is set (it may also begin a banner)
  };
  static constexpr size_t max_line = 256;

  Event on_char(char ch);
  const BoxIdentity &identity() const { return identity_; }
  // A banner began after the loader's last prompt: the box is restarting.
  bool restarting() const { return banner_since_prompt_; }

 private:
  Event end_line();

  std::string line_;
  BoxIdentity identity_;
  bool banner_since_prompt_ = false;
};

// The address in a line that names "hwaddr" (any case) followed by six hex pairs joined by
// "-" or ":", as upper-case pairs joined by "-"; "" when there is none, or when it is all
// zeros or all ones (a box whose address was never programmed: it tells no box apart).
std::string hwaddr_in_line(const std::string &line);

// True for a boot loader's version line (not for a prompt or an environment variable).
bool is_loader_version_line(const std::string &line);

// One fixture between two upgrades: takes the console and says when the next box is on.
//
// A box that was flashed reboots into its new system and prints its banner again with the
// same address: that is not the next box. A banner with another address is. A banner that
// shows no address at all cannot be told apart by it: such a banner is taken as the next
// box once it has gone quiet for quiet_ms (the loader waits for its break key then), except
// the first one after a flashed box, which is that box rebooting. take_same_box_again lets
// the next banner count as a new box whatever address it shows.
class FixtureWatch {
 public:
  static constexpr int64_t quiet_ms = 1000;

  // The upgrade on this fixture has ended; `rebooting` when the box was told to reboot.
  void box_done(const BoxIdentity &box, bool rebooting);
  void take_same_box_again() { again_ = true; }

  // A console character at `now_ms` (any steady clock); true when the next box is on:
  // identity() is what it has shown so far (its banner goes on being read by the caller).
  bool on_char(char ch, int64_t now_ms);
  // Called now and then; true when a banner without an address is taken as the next box.
  bool on_tick(int64_t now_ms);

  const BoxIdentity &identity() const { return reader_.identity(); }
  const BannerReader &reader() const { return reader_; }

 private:
  bool new_box();

  BannerReader reader_;
  std::string last_mac_;
  bool reboot_pending_ = false;
  bool again_ = false;
  bool banner_open_ = false;  // a banner began and is not decided yet
  int64_t last_char_ms_ = 0;
};
