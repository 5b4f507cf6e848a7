// What the two setup dialogs (the port's and the terminal's) share: their OK/Cancel row and
// where they open.
#pragma once

class QDialog;
class QDialogButtonBox;

// An OK (the default) and Cancel row that accepts or rejects `Dialog`; the caller lays it out.
QDialogButtonBox *OkCancelButtons(QDialog &Dialog);

// Centred on the screen, whatever window opened it, as a fixed-size dialog frame.
void CentreOnScreen(QDialog &Dialog);
