#include "comport/serportdialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

QDialogButtonBox *OkCancelButtons(QDialog &Dialog) {
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
  return buttons;
}

void CentreOnScreen(QDialog &Dialog) {
  Dialog.adjustSize();
  Dialog.setFixedSize(Dialog.size());
  if (QScreen *screen = QGuiApplication::primaryScreen())
    Dialog.move(screen->availableGeometry().center() - Dialog.rect().center());
}
