// Dialogs answered by the test: records every message and question, answers from a script.
#pragma once

#include "platform/dialogs.h"

#include <deque>
#include <string>
#include <vector>

class FakeDialogs final : public Dialogs {
 public:
  void message(QWidget *, const std::string &text) override { messages.push_back(text); }
  bool ask_yes_no(QWidget *, const std::string &text) override {
    questions.push_back(text);
    bool yes = answers.empty() ? false : answers.front();
    if (!answers.empty())
      answers.pop_front();
    return yes;
  }
  bool open_file(QWidget *, const std::string &filter, const std::string &ext, std::string &path) override {
    file_filters.push_back(filter + " / " + ext);
    if (chosen_file.empty())
      return false;
    path = chosen_file;
    return true;
  }

  bool save_file(QWidget *, const std::string &filter, const std::string &ext, std::string &path) override {
    file_filters.push_back(filter + " / " + ext);
    if (saved_file.empty())
      return false;
    path = saved_file;
    return true;
  }

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;
  std::vector<std::string> file_filters;
  std::string chosen_file;
  std::string saved_file;
};
