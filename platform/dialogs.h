// The few questions the main window puts to the user, behind one interface so that tests
// answer them without a person. The window receives a Dialogs and does not own it.
#pragma once

#include <string>

class QWidget;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // An information box with an empty title and one OK button.
  virtual void message(QWidget *parent, const std::string &text) = 0;
  // A Yes/No question with an empty title; true for Yes.
  virtual bool ask_yes_no(QWidget *parent, const std::string &text) = 0;
  // An open-file dialog. `filter` is in the "Title(*.ext)|*.ext|..." form, the first entry
  // selected. Returns false when the user cancels; `path` then stays as it was.
  virtual bool open_file(QWidget *parent, const std::string &filter, const std::string &default_ext,
                         std::string &path) = 0;
  // A save-file dialog, the same way; a file that exists is only taken once the user agreed.
  virtual bool save_file(QWidget *parent, const std::string &filter, const std::string &default_ext,
                         std::string &path) = 0;
};

// The real dialogs of the windowing system. Lives for the whole program.
Dialogs &system_dialogs();
