// The port's setup dialog: six drop-down lists bound to a port, written back in one update
// block so that an open port takes the new line settings once.
#pragma once

#include <QDialog>

class TCustomComPort;
class TComComboBox;

class TComSetupFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TComSetupFrm(QWidget *Parent = nullptr);

  // Binds every list to Port, which fills it and selects the port's current value.
  void Bind(TCustomComPort *Port);
  // What OK does: the six lists' choices to the port, in the order the dialog shows them.
  void Apply(TCustomComPort *Port);

  TComComboBox *Combo1;  // port
  TComComboBox *Combo2;  // baud rate
  TComComboBox *Combo3;  // data bits
  TComComboBox *Combo4;  // stop bits
  TComComboBox *Combo5;  // parity
  TComComboBox *Combo6;  // flow control
};

// Shows the dialog for Port; true when the user pressed OK (and the port took the choices).
// The port's exceptions (a new name that cannot be opened) pass through.
bool EditComPort(TCustomComPort *Port, QWidget *Parent = nullptr);
