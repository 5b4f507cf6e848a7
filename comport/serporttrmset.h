// The terminal's setup dialog: its text handling, caret, emulation, size and cursor keys.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
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

  QCheckBox *cbLocalEcho;
  QCheckBox *cbSendLF;
  QCheckBox *cbWrapLines;
  QCheckBox *cbForce7Bit;
  QCheckBox *cbAppendLF;
  QComboBox *cbCaret;
  QComboBox *cbEmulation;
  QLineEdit *edtColumns;
  QLineEdit *edtRows;
  QComboBox *cbArrowKeys;
};

// Shows the dialog for Terminal; true when the user pressed OK.
bool EditComTerminal(TCustomComTerminal *Terminal, QWidget *Parent = nullptr);
