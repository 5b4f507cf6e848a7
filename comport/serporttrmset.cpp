#include "comport/serporttrmset.h"

#include <algorithm>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "comport/serportctl.h"
#include "comport/serportdialog.h"

namespace {

// The look of the program's own windows.
constexpr int dialog_look = WinXP;

int NumberOr(const QString &Text, int Fallback) {
  bool ok = false;
  const int value = Text.trimmed().toInt(&ok, 10);
  return ok ? value : Fallback;
}

}  // namespace

TComTrmSetForm::TComTrmSetForm(QWidget *Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("Setup"));

  auto *ascii = new QGroupBox(QStringLiteral(" ASCII Settings "), this);
  auto *ascii_layout = new QVBoxLayout(ascii);
  cbLocalEcho = new TskCheckBox(QStringLiteral("Echo typed charachters locally"), ascii);
  cbSendLF = new TskCheckBox(QStringLiteral("Send line feeds with carriage return"), ascii);
  cbWrapLines = new TskCheckBox(QStringLiteral("Wrap lines that exceed terminal width"), ascii);
  cbForce7Bit = new TskCheckBox(QStringLiteral("Force incoming data to 7 bit ASCII"), ascii);
  cbAppendLF = new TskCheckBox(QStringLiteral("Append line feeds to incoming carriage return"), ascii);
  for (TskCheckBox *box : {cbLocalEcho, cbSendLF, cbWrapLines, cbForce7Bit, cbAppendLF}) {
    box->SetUIStyle(dialog_look);
    ascii_layout->addWidget(box);
  }

  auto *terminal = new QGroupBox(QStringLiteral(" Terminal Settings "), this);
  auto *form = new QFormLayout(terminal);
  cbCaret = new TskComboBox(terminal);
  cbCaret->addItems({QStringLiteral("Block"), QStringLiteral("Underline")});
  cbEmulation = new TskComboBox(terminal);
  cbEmulation->addItems({QStringLiteral("ANSI/VT100"), QStringLiteral("VT52"), QStringLiteral("None")});
  edtColumns = new TskSpinEdit(terminal);
  edtRows = new TskSpinEdit(terminal);
  // The terminal's own limits, so the arrows and keys stop where it would clamp.
  edtColumns->SetBounds(2, 256);
  edtRows->SetBounds(2, 100);
  edtColumns->setMaximumWidth(70);
  edtRows->setMaximumWidth(70);
  cbArrowKeys = new TskComboBox(terminal);
  cbArrowKeys->addItems({QStringLiteral("Act as terminal keys"), QStringLiteral("Act as windows keys")});
  for (TskComboBox *box : {cbCaret, cbEmulation, cbArrowKeys})
    box->SetUIStyle(dialog_look);
  for (TskSpinEdit *edit : {edtColumns, edtRows})
    edit->SetUIStyle(dialog_look);
  form->addRow(QStringLiteral("Caret"), cbCaret);
  form->addRow(QStringLiteral("Emulation"), cbEmulation);
  form->addRow(QStringLiteral("Columns"), edtColumns);
  form->addRow(QStringLiteral("Rows"), edtRows);
  form->addRow(QStringLiteral("Cursor keys"), cbArrowKeys);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(ascii);
  layout->addWidget(terminal);
  layout->addWidget(OkCancelButtons(*this));
}

void TComTrmSetForm::Load(const TCustomComTerminal &Terminal) {
  cbLocalEcho->setChecked(Terminal.LocalEcho());
  cbSendLF->setChecked(Terminal.SendLF());
  cbWrapLines->setChecked(Terminal.WrapLines());
  cbForce7Bit->setChecked(Terminal.Force7Bit());
  cbAppendLF->setChecked(Terminal.AppendLF());
  // A terminal without a caret shows no item; OK then leaves it without one.
  cbCaret->setCurrentIndex(Terminal.Caret() == tcNone ? -1 : static_cast<int>(Terminal.Caret()));
  cbEmulation->setCurrentIndex(static_cast<int>(Terminal.Emulation()));
  edtColumns->SetValue(Terminal.Columns());
  edtRows->SetValue(Terminal.Rows());
  cbArrowKeys->setCurrentIndex(static_cast<int>(Terminal.ArrowKeys()));
}

void TComTrmSetForm::Apply(TCustomComTerminal &Terminal) const {
  Terminal.SetLocalEcho(cbLocalEcho->isChecked());
  Terminal.SetSendLF(cbSendLF->isChecked());
  Terminal.SetWrapLines(cbWrapLines->isChecked());
  Terminal.SetForce7Bit(cbForce7Bit->isChecked());
  Terminal.SetAppendLF(cbAppendLF->isChecked());
  Terminal.SetCaret(cbCaret->currentIndex() < 0 ? tcNone : static_cast<TTermCaret>(cbCaret->currentIndex()));
  Terminal.SetEmulation(static_cast<TTermEmulation>(std::max(0, cbEmulation->currentIndex())));
  Terminal.SetColumns(NumberOr(edtColumns->text(), 80));
  Terminal.SetRows(NumberOr(edtRows->text(), 24));
  Terminal.SetArrowKeys(static_cast<TArrowKeys>(std::max(0, cbArrowKeys->currentIndex())));
}

bool EditComTerminal(TCustomComTerminal *Terminal, QWidget *Parent) {
  TComTrmSetForm dialog(Parent);
  dialog.Load(*Terminal);
  CentreOnScreen(dialog);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  dialog.Apply(*Terminal);
  return true;
}
