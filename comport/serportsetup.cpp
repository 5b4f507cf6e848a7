#include "comport/serportsetup.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "comport/serport.h"
#include "comport/serportctl_select.h"
#include "comport/serportdialog.h"

TComSetupFrm::TComSetupFrm(QWidget *Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("Setup"));
  auto *group = new QGroupBox(QStringLiteral(" Settings "), this);
  auto *form = new QFormLayout(group);
  const struct {
    const char *label;
    TComProperty property;
    TComComboBox **box;
  } rows[] = {
      {"Port", cpPort, &Combo1},          {"Baud rate", cpBaudRate, &Combo2},
      {"Data bits", cpDataBits, &Combo3}, {"Stop bits", cpStopBits, &Combo4},
      {"Parity", cpParity, &Combo5},      {"Flow control", cpFlowControl, &Combo6},
  };
  for (const auto &row : rows) {
    *row.box = new TComComboBox(group);
    (*row.box)->SetComProperty(row.property);
    (*row.box)->setMinimumWidth(140);
    form->addRow(QString::fromLatin1(row.label), *row.box);
  }
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(OkCancelButtons(*this));
}

void TComSetupFrm::Bind(TCustomComPort *Port) {
  // A port the system does not list (a device path) is still offered as the current one.
  if (Port)
    Combo1->AddItem(Port->Port());
  for (TComComboBox *box : {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6})
    box->SetComPort(Port);
}

void TComSetupFrm::Apply(TCustomComPort *Port) {
  Port->BeginUpdate();
  try {
    for (TComComboBox *box : {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6})
      box->ApplySettings();
  } catch (...) {
    Port->EndUpdate();
    throw;
  }
  Port->EndUpdate();
}

bool EditComPort(TCustomComPort *Port, QWidget *Parent) {
  TComSetupFrm dialog(Parent);
  dialog.Bind(Port);
  CentreOnScreen(dialog);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  dialog.Apply(Port);
  return true;
}
