// Pictures for a person to look at, kept in the build tree's artifacts/ folder: every skinned
// control in all five looks and all its states, and the main window at both heights on
// each page. The checks here only make sure the pictures show what they are named after.
#include "src/formkymain.h"
#include "tests/src/fake_dialogs.h"
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skinpagecontrol.h"
#include "widgets/skin/skinprogressbar.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <unistd.h>

namespace {

const char *const look_names[] = {"MacOS", "WinXP", "DeepBlue", "Protein", "BlueGlass"};

QString artifacts() {
  QDir().mkpath(QStringLiteral(ZEVAVI_ARTIFACTS_DIR));
  return QStringLiteral(ZEVAVI_ARTIFACTS_DIR);
}

// One cell of the gallery: a caption over a control made for one look.
struct Cell {
  const char *caption;
  QSize size;
  std::function<QWidget *(QWidget *parent, int style)> make;
};

TskButton *button(QWidget *parent, int style, const char *text) {
  auto *b = new TskButton(parent);
  b->SetUIStyle(style);
  b->setText(QString::fromLatin1(text));
  b->resize(80, 27);
  return b;
}

TEST(SkinGallery, EveryControlInEveryLookAndState) {
  // The sheet has the gallery's own colour, so the corners that transparent looks leave to
  // their parent show as they would on a form, not as a box of another grey.
  const QColor paper(250, 250, 250);
  QWidget sheet;
  QPalette palette = sheet.palette();
  palette.setColor(QPalette::Window, paper);
  sheet.setPalette(palette);
  sheet.setAutoFillBackground(true);
  sheet.setAttribute(Qt::WA_DontShowOnScreen);
  sheet.show();
  QApplication::setActiveWindow(&sheet);
  const std::vector<Cell> cells = {
      {"button", {80, 27}, [](QWidget *p, int s) { return button(p, s, "Next"); }},
      {"hot",
       {80, 27},
       [](QWidget *p, int s) {
         auto *b = button(p, s, "Next");
         QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
         QCoreApplication::sendEvent(b, &enter);
         return b;
       }},
      {"pressed",
       {80, 27},
       [](QWidget *p, int s) {
         auto *b = button(p, s, "Next");
         QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
         return b;
       }},
      {"focused",
       {80, 27},
       [](QWidget *p, int s) {
         auto *b = button(p, s, "Start");
         b->setFocus();
         return b;
       }},
      {"disabled",
       {80, 27},
       [](QWidget *p, int s) {
         auto *b = button(p, s, "Exit");
         b->setEnabled(false);
         return b;
       }},
      {"small / wrap",
       {80, 27},
       [](QWidget *p, int s) {
         auto *b = button(p, s, "Two words");
         b->resize(50, 34);
         return b;
       }},
      {"edit",
       {96, 21},
       [](QWidget *p, int s) {
         auto *e = new TskEdit(p);
         e->SetUIStyle(s);
         e->setText("192.168.102.45");
         e->setCursorPosition(0);  // the start of an address that is wider than the cell
         e->resize(96, 21);
         return e;
       }},
      {"edit off",
       {96, 21},
       [](QWidget *p, int s) {
         auto *e = new TskEdit(p);
         e->SetUIStyle(s);
         e->setText("10.0.0.1");
         e->setEnabled(false);
         e->resize(96, 21);
         return e;
       }},
      {"combo",
       {96, 21},
       [](QWidget *p, int s) {
         auto *c = new TskComboBox(p);
         c->SetUIStyle(s);
         c->addItems({"KESTA", "MORVA"});
         c->resize(96, 21);
         return c;
       }},
      {"combo off",
       {96, 21},
       [](QWidget *p, int s) {
         auto *c = new TskComboBox(p);
         c->SetUIStyle(s);
         c->addItems({"COM1"});
         c->setEnabled(false);
         c->resize(96, 21);
         return c;
       }},
      {"gauge 0 / 50 / 100",
       {160, 49},
       [](QWidget *p, int s) {
         auto *box = new QWidget(p);
         box->resize(160, 49);
         for (int i = 0; i < 3; ++i) {
           auto *bar = new TskProgressBar(box);
           bar->SetUIStyle(s);
           bar->setGeometry(0, i * 17, 160, 15);
           bar->SetPosition(i * 50);
         }
         return box;
       }},
      {"pages with tabs",
       {230, 90},
       [](QWidget *p, int s) {
         auto *pc = new TskPageControl(p);
         pc->resize(230, 90);
         for (const char *caption : {"Input", "Status", "Console settings"}) {
           auto *page = new TskTabSheet(pc);
           page->SetCaption(caption);
         }
         pc->SetUIStyle(s);
         pc->SetActivePageIndex(0);
         return pc;
       }},
      {"tabs below",
       {230, 90},
       [](QWidget *p, int s) {
         auto *pc = new TskPageControl(p);
         pc->resize(230, 90);
         pc->SetTabPosition(skBottom);
         for (const char *caption : {"Input", "Status"}) {
           auto *page = new TskTabSheet(pc);
           page->SetCaption(caption);
         }
         pc->SetUIStyle(s);
         pc->SetActivePageIndex(1);
         return pc;
       }},
  };

  const int label_w = 80, pad = 8, caption_h = 16;
  int width = label_w;
  for (const Cell &cell : cells)
    width += cell.size.width() + pad;
  const int row_h = 90 + caption_h + pad;
  QImage gallery(width, caption_h + 5 * row_h, QImage::Format_RGB32);
  gallery.fill(paper);
  QPainter painter(&gallery);
  painter.setPen(Qt::black);
  int x = label_w;
  for (const Cell &cell : cells) {
    painter.drawText(QRect(x, 0, cell.size.width() + pad, caption_h), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(cell.caption));
    x += cell.size.width() + pad;
  }
  for (int look = 0; look < 5; ++look) {
    const int y = caption_h + look * row_h;
    painter.drawText(QRect(4, y, label_w, 27), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromLatin1(look_names[look]));
    x = label_w;
    for (const Cell &cell : cells) {
      QWidget *control = cell.make(&sheet, look + 1);
      control->show();
      const QImage shot = control->grab().toImage();
      ASSERT_FALSE(shot.isNull()) << cell.caption;
      painter.drawImage(x, y, shot);
      x += cell.size.width() + pad;
      delete control;
    }
  }
  painter.end();
  const QString path = artifacts() + "/skin-gallery.png";
  ASSERT_TRUE(gallery.save(path));
  EXPECT_EQ(QImage(path).size(), gallery.size());
}

TEST(SkinGallery, OpenComboListIsFramedInTheBorderColour) {
  QWidget form;
  auto *combo = new TskComboBox(&form);
  combo->SetUIStyle(WinXP);
  combo->addItems({"KESTA", "MORVA", "PELIN", "TORQA"});
  combo->setGeometry(10, 10, 96, 21);
  form.resize(200, 160);
  form.show();
  combo->showPopup();
  QWidget *list = combo->view()->window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(list));
  const QImage shot = list->grab().toImage().convertToFormat(QImage::Format_RGB32);
  combo->hidePopup();
  ASSERT_TRUE(shot.save(artifacts() + "/combo-open.png"));
  EXPECT_EQ(shot.pixel(0, shot.height() / 2), skin_color(0x686868).rgb());
}

TEST(SkinGallery, MainWindowAtBothHeightsOnEachPage) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / ("zevavi-skin-shots-" + std::to_string(::getpid()));
  fs::create_directories(base);
  ::setenv("XDG_CACHE_HOME", base.c_str(), 1);
  FakeDialogs dialogs;
  {
    VAzOdor window(dialogs, nullptr, (base / "zevavi.log").string());
    window.show();
    struct Shot {
      const char *name;
      bool console;
      int page;
    } shots[] = {{"window-compact-input", false, 0},
                 {"window-compact-status", false, 1},
                 {"window-full-input", true, 0},
                 {"window-full-status", true, 1}};
    window.show_status(10, "Extract the image.");
    window.show_status(20, "Set the box's address.");
    for (const Shot &shot : shots) {
      if (window.plComTerminal->isVisible() != shot.console)
        window.aeKyMainShortCut(0x78, true, true);
      window.pcKyCtrl->SetActivePageIndex(shot.page);
      const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
      ASSERT_EQ(image.height() + VAzOdor::designed_caption_height, shot.console ? 578 : 281) << shot.name;
      // The wizard button is the skinned one in the WinXP look: its opaque corner.
      EXPECT_EQ(image.pixel(176, 218), qRgb(236, 233, 216)) << shot.name;
      ASSERT_TRUE(image.save(artifacts() + "/" + shot.name + ".png")) << shot.name;
    }
  }
  fs::remove_all(base);
}

}  // namespace
