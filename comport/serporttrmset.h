// The terminal's setup dialog: its text handling, caret, emulation, size and cursor keys.
#pragma once

#include <QDialog>

#include "widgets/skin/skincheckbox.h"
#include "widgets/skin/skineditfamily.h"

class TCustomComTerminal;

class TComTrmSetForm : public QDialog {
  Q_OBJECT
 public:
  explicit TComTrmSetForm(QWidget *Parent = nullptr);

  // Fills every control from the terminal.
  void Load(const TCustomComTerminal &Terminal);
  // What OK does: the controls back to the terminal, check boxes first. A size that is not
  // a number becomes 80 columns or 24 rows; the terminal clamps the rest.
  void Apply(TCustomComTerminal &Terminal) const;

  // Skinned in the program's own look; the sizes are spin edits within the terminal's limits.
  TskCheckBox *cbLocalEcho;
  TskCheckBox *cbSendLF;
  TskCheckBox *cbWrapLines;
  TskCheckBox *cbForce7Bit;
  TskCheckBox *cbAppendLF;
  TskComboBox *cbCaret;
  TskComboBox *cbEmulation;
  TskSpinEdit *edtColumns;
  TskSpinEdit *edtRows;
  TskComboBox *cbArrowKeys;
};

// Shows the dialog for Terminal; true when the user pressed OK.
bool EditComTerminal(TCustomComTerminal *Terminal, QWidget *Parent = nullptr);
