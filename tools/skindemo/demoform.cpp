#include "tools/skindemo/demoform.h"

#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skinform.h"
#include "widgets/skin/skinprogressbar.h"

#include <QActionGroup>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>

namespace {

const char *const names[] = {"FromThemeFile", "MacOS", "WinXP", "DeepBlue", "Protein", "BlueGlass"};

}  // namespace

std::optional<int> skin_style_named(const QString &name) {
  for (int style = MacOS; style <= BlueGlass; ++style)
    if (name.compare(QLatin1String(names[style]), Qt::CaseInsensitive) == 0)
      return style;
  return std::nullopt;
}

const char *skin_style_name(int style) {
  return style >= FromThemeFile && style <= BlueGlass ? names[style] : "?";
}

SkinDemo make_skin_demo(int style, QSize size) {
  SkinDemo demo;
  demo.window = std::make_unique<QWidget>();
  QWidget *window = demo.window.get();
  window->setWindowTitle(QStringLiteral("ZeVavi skinned form"));
  auto *form = new TskForm(window);
  demo.form = form;
  form->SetUIStyleAutoUpdateSub(true);

  // The title bar gets a help button beside the usual three.
  std::vector<TskTitleBarButton> buttons = form->TitleBar()->Buttons();
  TskTitleBarButton help;
  help.ButtonType = skHelp;
  buttons.push_back(help);
  form->TitleBar()->SetButtons(std::move(buttons));

  auto *menu = new QMenuBar;
  QMenu *file = menu->addMenu(QObject::tr("&File"));
  file->addAction(QObject::tr("&Open image..."));
  file->addSeparator();
  file->addAction(QObject::tr("&Quit"), window, &QWidget::close);
  QMenu *view = menu->addMenu(QObject::tr("&View"));
  auto *looks = new QActionGroup(view);
  for (int look = MacOS; look <= BlueGlass; ++look) {
    QAction *action =
        view->addAction(QLatin1String(names[look]), form, [form, look] { form->SetUIStyle(look); });
    action->setCheckable(true);
    action->setChecked(look == style);
    looks->addAction(action);
  }
  menu->addMenu(QObject::tr("&Help"))->addAction(QObject::tr("&About"));
  form->SetMenu(menu);

  QWidget *client = form->Client();
  auto *grid = new QGridLayout(client);
  grid->setContentsMargins(12, 12, 12, 12);
  grid->setHorizontalSpacing(10);
  auto *model = new TskComboBox(client);
  model->addItems({"KESTA", "MORVA", "PELIN", "TORQA"});
  model->setFixedHeight(21);
  auto *address = new TskEdit(client);
  address->setText(QStringLiteral("192.168.102.45"));
  address->setFixedHeight(21);
  auto *progress = new TskProgressBar(client);
  progress->SetPosition(40);
  progress->setFixedHeight(18);
  auto *previous = new TskButton(client);
  previous->setText(QObject::tr("Previous"));
  auto *next = new TskButton(client);
  next->setText(QObject::tr("Next"));
  grid->addWidget(new QLabel(QObject::tr("Model"), client), 0, 0);
  grid->addWidget(model, 0, 1, 1, 2);
  grid->addWidget(new QLabel(QObject::tr("Box address"), client), 1, 0);
  grid->addWidget(address, 1, 1, 1, 2);
  grid->addWidget(progress, 2, 0, 1, 3);
  grid->setRowStretch(3, 1);
  grid->addWidget(previous, 4, 1, Qt::AlignRight);
  grid->addWidget(next, 4, 2);
  grid->setColumnStretch(1, 1);

  form->SetUIStyle(style);
  window->resize(size);
  return demo;
}

QImage window_picture(QWidget &window) {
  QImage picture = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QRegion shape = window.mask();
  if (shape.isEmpty())
    return picture;
  QPainter p(&picture);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setClipRegion(QRegion(picture.rect()).subtracted(shape));
  p.fillRect(picture.rect(), Qt::transparent);
  return picture;
}
