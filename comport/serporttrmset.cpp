#include "comport/serporttrmset.h"

#include <QCheckBox>
#include <algorithm>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QVBoxLayout>

#include "comport/serportctl.h"
#include "comport/serportdialog.h"

namespace {

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
  cbLocalEcho = new QCheckBox(QStringLiteral("Echo typed charachters locally"), ascii);
  cbSendLF = new QCheckBox(QStringLiteral("Send line feeds with carriage return"), ascii);
  cbWrapLines = new QCheckBox(QStringLiteral("Wrap lines that exceed terminal width"), ascii);
  cbForce7Bit = new QCheckBox(QStringLiteral("Force incoming data to 7 bit ASCII"), ascii);
  cbAppendLF = new QCheckBox(QStringLiteral("Append line feeds to incoming carriage return"), ascii);
  for (QCheckBox *box : {cbLocalEcho, cbSendLF, cbWrapLines, cbForce7Bit, cbAppendLF})
    ascii_layout->addWidget(box);

  auto *terminal = new QGroupBox(QStringLiteral(" Terminal Settings "), this);
  auto *form = new QFormLayout(terminal);
  cbCaret = new QComboBox(terminal);
  cbCaret->addItems({QStringLiteral("Block"), QStringLiteral("Underline")});
  cbEmulation = new QComboBox(terminal);
  cbEmulation->addItems({QStringLiteral("ANSI/VT100"), QStringLiteral("VT52"), QStringLiteral("None")});
  edtColumns = new QLineEdit(terminal);
  edtRows = new QLineEdit(terminal);
  edtColumns->setMaximumWidth(70);
  edtRows->setMaximumWidth(70);
  cbArrowKeys = new QComboBox(terminal);
  cbArrowKeys->addItems({QStringLiteral("Act as terminal keys"), QStringLiteral("Act as windows keys")});
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
  edtColumns->setText(QString::number(Terminal.Columns()));
  edtRows->setText(QString::number(Terminal.Rows()));
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
