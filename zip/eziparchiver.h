// The archive component's exceptions. They carry a message id of the message table and
// never leave the component's operations: the worker catches them, records ErrCode and
// ErrMessage, and shows a box unless unattended.
#pragma once

#include "zip/zamsgstr.h"

#include <stdexcept>
#include <string>
#include <vector>

class EZipArchiver : public std::runtime_error {
 public:
  // A plain text: id 11049 ("Unknown Error"), shown.
  explicit EZipArchiver(const std::string &text);
  // A plain text with an explicit display flag: id 0.
  EZipArchiver(const std::string &text, bool display);
  // The text of `id`.
  EZipArchiver(int id, bool display);
  // The text of `id` formatted with `args`; shown.
  EZipArchiver(int id, std::initializer_list<ZipFmtArg> args);
  // The text of `id` formatted with `text`; when `system_error` >= 1, "  <%X : %s>" with the
  // number and the system's description of it is appended.
  static EZipArchiver WithSystemError(int id, const std::string &text, int system_error);

  int MessageId() const { return id_; }
  bool Display() const { return display_; }
  const std::string &Message() const { return message_; }
  // Worker use: errors gain the text of a failing event handler.
  void AppendMessage(const std::string &more) { message_ += more; }

  const char *what() const noexcept override { return message_.c_str(); }

 protected:
  EZipArchiver(int id, std::string message, bool display)
      : std::runtime_error(message), message_(std::move(message)), id_(id), display_(display) {}

 private:
  std::string message_;
  int id_ = 0;
  bool display_ = true;
};

// The user (or a handler) cancelled: id 11007, no box.
class EZipAbort : public EZipArchiver {
 public:
  EZipAbort();
};
