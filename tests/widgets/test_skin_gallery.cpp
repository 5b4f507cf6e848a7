// Pictures for a person to look at, kept in the build tree's artifacts/ folder: every skinned
// control in all five looks and all its states, and the main window at both heights on
// each page. The checks here only make sure the pictures show what they are named after.
#include "src/formkymain.h"
#include "tests/src/fake_dialogs.h"
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skincheckbox.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skineditfamily.h"
#include "widgets/skin/skinpagecontrol.h"
#include "widgets/skin/skinprogressbar.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
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

// Draws every cell in every look on one sheet, saved as `name` in the artifacts folder.
void save_sheet(const std::vector<Cell> &cells, const QString &name) {
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
  const int label_w = 80, pad = 8, caption_h = 16;
  int width = label_w;
  for (const Cell &cell : cells)
    width += cell.size.width() + pad;
  int tallest = 90;
  for (const Cell &cell : cells)
    tallest = std::max(tallest, cell.size.height());
  const int row_h = tallest + caption_h + pad;
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
  const QString path = artifacts() + "/" + name;
  ASSERT_TRUE(gallery.save(path));
  EXPECT_EQ(QImage(path).size(), gallery.size());
}

TEST(SkinGallery, EveryControlInEveryLookAndState) {
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

  save_sheet(cells, "skin-gallery.png");
}

template <typename T>
T *styled(QWidget *parent, int style, QSize size) {
  auto *control = new T(parent);
  control->SetUIStyle(style);
  control->resize(size);
  return control;
}

void hover(QWidget *widget) {
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QCoreApplication::sendEvent(widget, &enter);
}

// A picture for the image button: a disc on fuchsia, in the colour of its state.
QImage disc(const QColor &color) {
  QImage image(24, 24, QImage::Format_RGB32);
  image.fill(QColor(255, 0, 255));
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawEllipse(QRect(2, 2, 20, 20));
  return image;
}

// Marks of one kind, one above the other: checked, unchecked, checked disabled, unchecked
// disabled.
template <typename Mark>
QWidget *marks(QWidget *parent, int style) {
  auto *box = new QWidget(parent);
  box->resize(110, 80);
  const char *captions[] = {"Echo", "Wrap", "7 bit", "Append"};
  for (int i = 0; i < 4; ++i) {
    auto *mark = new Mark(QString::fromLatin1(captions[i]), box);
    mark->SetUIStyle(style);
    mark->setAutoExclusive(false);
    mark->setChecked(i % 2 == 0);
    mark->setEnabled(i < 2);
    mark->setGeometry(0, i * 20, 110, 19);
  }
  return box;
}

TEST(SkinGallery, EveryFamilyMemberInEveryLook) {
  const std::vector<Cell> buttons = {
      {"check box", {110, 80}, [](QWidget *p, int s) { return marks<TskCheckBox>(p, s); }},
      {"radio button", {110, 80}, [](QWidget *p, int s) { return marks<TskRadioButton>(p, s); }},
      {"image button",
       {90, 30},
       [](QWidget *p, int) {
         auto *box = new QWidget(p);
         box->resize(90, 30);
         const QColor colors[] = {QColor(40, 120, 220), QColor(250, 160, 30), QColor(30, 160, 60)};
         for (int i = 0; i < 3; ++i) {
           auto *b = new TskImageButton(box);
           b->SetPicture(TskImageButton::Normal, disc(colors[0]));
           b->SetPicture(TskImageButton::MouseOn, disc(colors[1]));
           b->SetPicture(TskImageButton::MouseDown, disc(colors[2]));
           b->setGeometry(i * 30, 0, 28, 28);
           if (i == 1)
             hover(b);
           if (i == 2)
             QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
         }
         return box;
       }},
      {"control buttons",
       {100, 50},
       [](QWidget *p, int s) {
         auto *box = new QWidget(p);
         box->resize(100, 50);
         // The title strip's triples: help, maximise, minimise, close; the close one hot
         // and, below, each of them held.
         const int firsts[] = {4, 7, 13, 16};
         for (int row = 0; row < 2; ++row)
           for (int i = 0; i < 4; ++i) {
             auto *b = new TskControlButton(box);
             b->SetUIStyle(s);
             b->SetPics(18, firsts[i]);
             b->SetAutoSize(true);
             b->SetPicTransparent(true);
             b->move(i * 24, row * 25);
             if (row == 0 && i == 3)
               hover(b);
             if (row == 1)
               QTest::mousePress(b, Qt::LeftButton, {}, QPoint(3, 3));
           }
         return box;
       }},
      {"arrow buttons",
       {90, 40},
       [](QWidget *p, int s) {
         auto *box = new QWidget(p);
         box->resize(90, 40);
         const TskArrowButtonType types[] = {atUp, atDown, atLeft, atRight};
         for (int i = 0; i < 4; ++i) {
           auto *b = styled<TskArrowButton>(box, s, {20, 20});
           b->SetArrowType(types[i]);
           b->move(i * 22, 0);
           auto *off = styled<TskArrowButton>(box, s, {20, 17});
           off->SetArrowType(types[i]);
           off->setEnabled(false);
           off->move(i * 22, 22);
         }
         return box;
       }},
      {"tool bar: flat / hot / down / on / off",
       {280, 24},
       [](QWidget *p, int s) {
         auto *bar = new QWidget(p);
         bar->resize(280, 24);
         const char *captions[] = {"Open", "Setup", "Close", "Capture", "Send"};
         int x = 0;
         for (int i = 0; i < 5; ++i) {
           auto *b = new TskToolBarSpeedButton(QString::fromLatin1(captions[i]), bar);
           b->SetUIStyle(s);
           b->resize(b->sizeHint());
           b->move(x, 0);
           x += b->width() + 2;
           if (i == 1)
             hover(b);
           if (i == 2)
             QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
           if (i == 3) {
             b->setCheckable(true);
             b->setChecked(true);
           }
           if (i == 4)
             b->setEnabled(false);
         }
         return bar;
       }},
  };
  save_sheet(buttons, "skin-family-buttons.png");

  const std::vector<Cell> edits = {
      {"mask edit",
       {110, 21},
       [](QWidget *p, int s) {
         auto *e = styled<TskMaskEdit>(p, s, {110, 21});
         e->SetEditMask("000.000.000.000;_");
         e->setText("192168001045");
         e->setCursorPosition(0);
         return e;
       }},
      {"number edit",
       {80, 21},
       [](QWidget *p, int s) {
         auto *e = styled<TskNumberEdit>(p, s, {80, 21});
         e->SetDecimals(2);
         e->SetValue(-3.5);
         return e;
       }},
      {"spin edit",
       {70, 46},
       [](QWidget *p, int s) {
         auto *box = new QWidget(p);
         box->resize(70, 46);
         auto *e = styled<TskSpinEdit>(box, s, {70, 21});
         e->SetBounds(2, 256);
         e->SetValue(80);
         auto *off = styled<TskSpinEdit>(box, s, {70, 21});
         off->SetValue(24);
         off->setEnabled(false);
         off->move(0, 25);
         return box;
       }},
      {"spins",
       {60, 34},
       [](QWidget *p, int s) {
         auto *box = new QWidget(p);
         box->resize(60, 34);
         for (int i = 0; i < 3; ++i) {
           auto *b = styled<TskSpinButtons>(box, s, {16, 34});
           b->move(i * 20, 0);
           if (i == 1)
             hover(b->UpButton());
           if (i == 2)
             QTest::mousePress(b->DownButton(), Qt::LeftButton, {}, QPoint(3, 3));
         }
         return box;
       }},
      {"drive list",
       {120, 21},
       [](QWidget *p, int s) {
         return styled<TskDriveComboBox>(p, s, {120, 21});
       }},
      {"filter list / off",
       {160, 46},
       [](QWidget *p, int s) {
         auto *box = new QWidget(p);
         box->resize(160, 46);
         auto *c = styled<TskFilterComboBox>(box, s, {160, 21});
         c->SetFilter("Images (*.bin *.img)|*.bin;*.img|All files (*)|*");
         auto *off = styled<TskFilterComboBox>(box, s, {160, 21});
         off->setEnabled(false);
         off->move(0, 25);
         return box;
       }},
  };
  save_sheet(edits, "skin-family-edits.png");
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
